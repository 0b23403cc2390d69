#include "Marks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QRegularExpression>

#include "FileName.h"
#include "Frame.h"
#include "Id3.h"
#include "SystemFiles.h"

namespace found {
namespace {

// A time as Audacity writes it: seconds with a decimal point.
bool secondsIn(const QString &field, double *seconds = nullptr) {
  static const QRegularExpression decimal(QStringLiteral("^\\s*(\\d+(\\.\\d*)?|\\.\\d+)\\s*$"));
  if (!decimal.match(field).hasMatch()) return false;
  const double value = field.trimmed().toDouble();
  if (seconds) *seconds = value;
  return std::isfinite(value);
}

QString secondsText(double seconds) { return QString::number(seconds, 'f', 3) + QStringLiteral(" s"); }

// The piece's number written in place of a title: at least three digits.
QString trackText(std::int64_t number) { return QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0')); }

// The breakpoints in rising order, one a frame, none past the end (where a
// breakpoint past it stands for the end).
std::vector<Marker> tidied(std::vector<Marker> markers, std::int64_t frames) {
  for (Marker &m : markers) m.frame = std::clamp<std::int64_t>(m.frame, 0, frames);
  std::stable_sort(markers.begin(), markers.end(), [](const Marker &a, const Marker &b) { return a.frame < b.frame; });
  markers.erase(std::unique(markers.begin(), markers.end(), [](const Marker &a, const Marker &b) { return a.frame == b.frame; }),
                markers.end());
  return markers;
}

// The numbers that the first `count` breakpoints' pieces go by, as the split
// numbers them: their own where each has one and they rise (a 0 only for a
// piece at the start), else 1, 2, ...
std::vector<std::int64_t> numbersOf(const std::vector<Marker> &markers, std::size_t count) {
  std::vector<std::int64_t> numbers;
  bool own = count > 0;
  for (std::size_t i = 0; i < count && own; ++i) {
    const int n = markers[i].number;
    own = n >= 0 && n <= 99999 && (i == 0 ? n > 0 || markers[i].frame == 0 : n > markers[i - 1].number);
  }
  for (std::size_t i = 0; i < count; ++i)
    numbers.push_back(own ? markers[i].number : static_cast<std::int64_t>(i) + 1);
  return numbers;
}

// A breakpoint and the time written for it, in units of 1/`perSecond` s of
// what is heard.
struct Timed {
  Marker marker;
  std::int64_t time = 0;
};

// The breakpoints' times in a file that counts `perSecond` units a second
// (what of `what`): a breakpoint whose time is no later than the one before
// it is left out, and one whose time reads back as another frame is named.
std::vector<Timed> timed(const std::vector<Marker> &markers, const Timeline &t, double perSecond, const QString &what,
                         QStringList &notes) {
  std::vector<Timed> out;
  QStringList lost, moved;
  for (const Marker &m : markers) {
    const std::int64_t time = std::llround(std::max(0.0, t.secondsAt(m.frame)) * perSecond);
    if (!out.empty() && time <= out.back().time) {
      lost << QString::number(m.frame);
      continue;
    }
    if (const std::int64_t back = t.frameAt(static_cast<double>(time) / perSecond); back != m.frame)
      moved << QStringLiteral("%1 as %2").arg(m.frame).arg(back);
    out.push_back({m, time});
  }
  if (!lost.isEmpty())
    notes << QStringLiteral("Left out, as %1 cannot tell them from the breakpoint before: frame%2 %3.")
                 .arg(what, lost.size() == 1 ? QString() : QStringLiteral("s"), lost.join(QStringLiteral(", ")));
  if (!moved.isEmpty())
    notes << QStringLiteral("Read back from %1, these breakpoints fall on other frames: %2.")
                 .arg(what, moved.join(QStringLiteral(", ")));
  return out;
}

// The text with the characters in `from` replaced by `to`; `count` counts
// the texts that had any.
QString replaced(const QString &text, const QString &from, QChar to, int &count) {
  QString out = text;
  for (QChar &c : out)
    if (from.contains(c)) c = to;
  if (out != text) ++count;
  return out;
}

// A text of the cue sheet in its double quotes: a quote in it becomes a
// single quote, a line break a space.
QString cueQuoted(const QString &text, int &quotes, int &breaks) {
  return QStringLiteral("\"%1\"").arg(
      replaced(replaced(text, QStringLiteral("\""), u'\'', quotes), QStringLiteral("\r\n"), u' ', breaks));
}

// The note that `count` texts (`noun`) had characters a file cannot hold
// (`holdsNo` says which) replaced by `by`.
QString inTheirPlace(const QString &holdsNo, int count, const QString &noun, const QString &by) {
  return QStringLiteral("%1: %2 %3%4 %5 %6 in their place.")
      .arg(holdsNo)
      .arg(count)
      .arg(noun, count == 1 ? QString() : QStringLiteral("s"), count == 1 ? QStringLiteral("has") : QStringLiteral("have"),
           by);
}

QByteArray cueSheet(const std::vector<Marker> &markers, const Timeline &t, const QString &sourceName,
                    QStringList &notes) {
  std::vector<Marker> starts;
  for (const Marker &m : markers)
    if (m.frame < t.frames || starts.empty()) starts.push_back(m);
  std::vector<Timed> tracks = timed(starts, t, 75, QStringLiteral("the sheet's 1/75 s"), notes);
  starts.clear();
  for (const Timed &track : tracks) starts.push_back(track.marker);
  const std::vector<std::int64_t> numbers = numbersOf(starts, starts.size());
  for (std::size_t i = 0; i < tracks.size(); ++i) tracks[i].marker.number = static_cast<int>(numbers[i]);
  // A piece 0 at the start is the pregap, which a reader makes of what plays
  // before TRACK 01; a sheet has no TRACK 00.
  if (tracks.size() > 1 && tracks.front().marker.number == 0 && tracks.front().marker.title.isEmpty() &&
      tracks.front().marker.performer.isEmpty())
    tracks.erase(tracks.begin());
  int quotes = 0, breaks = 0;
  QString text = QStringLiteral("FILE %1 MP3\n").arg(cueQuoted(sourceName, quotes, breaks));
  for (const Timed &track : tracks) {
    const Marker &m = track.marker;
    text += QStringLiteral("  TRACK %1 AUDIO\n").arg(std::max(1, m.number), 2, 10, QLatin1Char('0'));
    if (!m.title.isEmpty()) text += QStringLiteral("    TITLE %1\n").arg(cueQuoted(m.title, quotes, breaks));
    if (!m.performer.isEmpty()) text += QStringLiteral("    PERFORMER %1\n").arg(cueQuoted(m.performer, quotes, breaks));
    text += QStringLiteral("    INDEX 01 %1:%2:%3\n")
                .arg(track.time / 75 / 60, 2, 10, QLatin1Char('0'))
                .arg(track.time / 75 % 60, 2, 10, QLatin1Char('0'))
                .arg(track.time % 75, 2, 10, QLatin1Char('0'));
  }
  if (quotes > 0)
    notes << inTheirPlace(QStringLiteral("A cue sheet holds no double quote in a text"), quotes, QStringLiteral("text"),
                          QStringLiteral("single quotes"));
  if (breaks > 0)
    notes << inTheirPlace(QStringLiteral("A cue sheet holds no line break in a text"), breaks, QStringLiteral("text"),
                          QStringLiteral("spaces"));
  return text.toUtf8();
}

QByteArray labelFile(const std::vector<Marker> &markers, const Timeline &t, QStringList &notes) {
  const std::vector<Timed> times = timed(markers, t, 1e6, QStringLiteral("labels in microseconds"), notes);
  const std::size_t pieces = times.size() > 1 ? times.size() - 1 : times.size();
  std::vector<Marker> starts;
  for (const Timed &m : times) starts.push_back(m.marker);
  const std::vector<std::int64_t> numbers = numbersOf(starts, pieces);
  const auto seconds = [](std::int64_t us) {
    return QStringLiteral("%1.%2").arg(us / 1000000).arg(us % 1000000, 6, 10, QLatin1Char('0'));
  };
  int breaks = 0;
  QString text;
  for (std::size_t i = 0; i < pieces; ++i) {
    const Timed &from = times[i];
    const Timed &to = times.size() > 1 ? times[i + 1] : from;
    const QString title = from.marker.title.isEmpty() ? trackText(numbers[i])
                                                      : replaced(from.marker.title, QStringLiteral("\t\r\n"), u' ', breaks);
    text += QStringLiteral("%1\t%2\t%3\n").arg(seconds(from.time), seconds(to.time), title);
  }
  if (breaks > 0)
    notes << inTheirPlace(QStringLiteral("A label holds no tab or line break"), breaks, QStringLiteral("title"),
                          QStringLiteral("spaces"));
  return text.toUtf8();
}

// A file being written under a temporary name in the folder of its final
// name, renamed over that name by commit(); the temporary goes whatever
// fails. The temporary's name is the one the split's pieces use, so that a
// run of the split removes one that a killed program left.
class Pending {
 public:
  Pending() = default;
  Pending(const Pending &) = delete;
  Pending &operator=(const Pending &) = delete;
  ~Pending() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.isEmpty()) ::unlink(temp_.constData());
  }

  // Makes the temporary with room for `size` bytes, with `mode` less the
  // umask; why not, where it cannot.
  WriteError open(const QByteArray &finalName, std::int64_t size, mode_t mode = 0666) {
    final_ = finalName;
    static std::atomic<unsigned> serial{0};
    const QByteArray folder = finalName.left(finalName.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      const QByteArray temp = folder + ".tranchette-" + QByteArray::number(::getpid()) + '-' +
                              QByteArray::number(serial++) + ".part";
      fd_ = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd_ >= 0) temp_ = temp;
      if (fd_ < 0 && errno != EEXIST) return failed();
    }
    if (fd_ < 0) return failed();
    // A full disk says so before any byte is written, where the file system
    // sets room aside.
    if (size > 0 && ::fallocate(fd_, 0, 0, static_cast<off_t>(size)) != 0 && errno != EOPNOTSUPP && errno != ENOSYS &&
        errno != EINVAL)
      return failed();
    return std::nullopt;
  }
  WriteError write(const void *bytes, std::size_t size) {
    const auto *p = static_cast<const unsigned char *>(bytes);
    if (!sys::whole(size, [&](std::size_t done) { return ::write(fd_, p + done, size - done); })) return failed();
    return std::nullopt;
  }
  WriteError commit() {
    const bool written = ::fsync(fd_) == 0;
    const int error = errno;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!written || !closed) {
      errno = written ? errno : error;
      return failed();
    }
    if (::rename(temp_.constData(), final_.constData()) != 0) return failed();
    temp_.clear();
    return std::nullopt;
  }

 private:
  static WriteError failed() { return QString::fromLocal8Bit(std::strerror(errno)); }
  int fd_ = -1;
  QByteArray temp_, final_;
};

// Why `path` may not be written: what stands there (a folder, a device, the
// source itself, a file not to be replaced); nothing where it may.
WriteError refusedAt(const QByteArray &path, bool replace, const struct stat *source) {
  struct stat st {};
  if (::stat(path.constData(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    return QString::fromLocal8Bit(std::strerror(errno));
  }
  if (source && st.st_dev == source->st_dev && st.st_ino == source->st_ino)
    return QStringLiteral("it is the source itself, which stays as it is");
  if (!S_ISREG(st.st_mode)) return QStringLiteral("it is %1, not a regular file").arg(QString::fromLatin1(sys::fileKind(st.st_mode)));
  if (!replace) return QStringLiteral("it is there already");
  return std::nullopt;
}

// A text frame's body in the tag's version: Latin-1 where the text is that,
// else UTF-16 with its BOM (version 2.3) or UTF-8 (version 2.4).
mpeg::Bytes textFrame(const QString &text, bool v4) {
  const bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
  QByteArray bytes;
  unsigned char encoding = 0;
  if (latin1) {
    bytes = text.toLatin1();
  } else if (v4) {
    encoding = 3;
    bytes = text.toUtf8();
  } else {
    encoding = 1;
    bytes = QByteArray("\xFF\xFE", 2);
    for (QChar c : text) bytes.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
  }
  mpeg::Bytes body{encoding};
  body.insert(body.end(), bytes.begin(), bytes.end());
  return body;
}

// The ID3v2 tag at the start of the file, where there is one: its bytes.
std::variant<mpeg::Bytes, QString> startTag(int fd) {
  unsigned char head[10];
  if (!mpeg::readAt(fd, head, 10, 0)) return mpeg::Bytes{};
  const std::int64_t size = mpeg::id3v2Size(head);
  if (size < 0) return QStringLiteral("the size of its ID3v2 tag is malformed");
  mpeg::Bytes tag(static_cast<std::size_t>(size));
  if (size > 0 && !mpeg::readAt(fd, tag.data(), tag.size(), 0))
    return QStringLiteral("its ID3v2 tag runs past the end of the file");
  return tag;
}

}  // namespace

std::variant<QByteArray, SheetError> readLabelFile(const QString &path) {
  return readTextFile(path, 4 << 20, QStringLiteral("label file"));
}

std::variant<LabelFile, SheetError> readLabels(const QByteArray &raw) {
  LabelFile file;
  bool windows1252 = false;
  const QStringList lines = decodedLines(raw, &windows1252);
  if (windows1252) file.notes << QStringLiteral("The labels are not UTF-8: they are read as Windows-1252.");
  const QString form = QStringLiteral("Audacity's labels are start<TAB>end<TAB>text, in seconds");
  bool afterLabel = false;  // where a label's frequency range may follow
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const QString &line = lines[i];
    if (line.size() > 65536) return SheetError{n, QStringLiteral("the line is longer than 64 KB")};
    if (line.trimmed().isEmpty()) continue;
    const QStringList fields = line.split(u'\t');
    if (fields[0] == u"\\") {
      if (!afterLabel || fields.size() != 3 || !secondsIn(fields[1]) || !secondsIn(fields[2]))
        return SheetError{n, QStringLiteral("'%1' is no label: %2").arg(quoted(line), form)};
      afterLabel = false;
      continue;
    }
    double start = 0, end = 0;
    const bool startRead = fields.size() >= 2 && secondsIn(fields[0], &start);
    if (!startRead || !secondsIn(fields[1], &end)) {
      static const QRegularExpression comma(QStringLiteral("^\\s*\\d+,\\d*\\s*$"));
      const QString field = startRead ? fields[1] : fields[0];
      if (fields.size() >= 2 && comma.match(field).hasMatch())
        return SheetError{n, QStringLiteral("'%1' is no time in seconds with a decimal point").arg(quoted(field))};
      return SheetError{n, QStringLiteral("'%1' is no label: %2").arg(quoted(line), form)};
    }
    if (end < start)
      return SheetError{n, QStringLiteral("the label ends at %1, before it begins at %2").arg(secondsText(end), secondsText(start))};
    if (!file.labels.empty() && start <= file.labels.back().start)
      return SheetError{n, QStringLiteral("the label begins at %1, no later than the label before it (%2)")
                               .arg(secondsText(start), secondsText(file.labels.back().start))};
    file.labels.push_back({start, end, fields.mid(2).join(u'\t'), n});
    afterLabel = true;
  }
  if (file.labels.empty()) return SheetError{0, QStringLiteral("it holds no label")};
  return file;
}

std::variant<Markers, SheetError> markersOf(const LabelFile &labels, const Timeline &t) {
  // A time that rounds to a frame past the last is past the end.
  const double end = t.secondsAt(t.frames) + t.samplesPerFrame / 2.0 / static_cast<double>(t.rate);
  static const QRegularExpression digits(QStringLiteral("^\\d{1,5}$"));
  std::vector<Marker> markers;
  QStringList together;
  std::int64_t lastStart = -1;
  for (std::size_t i = 0; i < labels.labels.size(); ++i) {
    const Label &label = labels.labels[i];
    if (label.end >= end)
      return SheetError{label.line, QStringLiteral("the label %1 at %2, past the end of the file (%3)")
                                        .arg(label.start >= end ? QStringLiteral("begins") : QStringLiteral("ends"),
                                             secondsText(label.start >= end ? label.start : label.end),
                                             secondsText(t.secondsAt(t.frames)))};
    Marker m{t.frameAt(label.start), label.text, {}};
    if (digits.match(label.text).hasMatch()) {
      m.number = label.text.toInt();
      m.title.clear();
    }
    if (m.frame == lastStart)  // less than a frame after the one before: its piece would hold nothing
      together << QStringLiteral("line %1 at %2").arg(label.line).arg(secondsText(label.start));
    else
      markers.push_back(m);
    lastStart = m.frame;
    if (i + 1 == labels.labels.size() || labels.labels[i + 1].start != label.end)
      markers.push_back({t.frameAt(label.end), {}, {}});
  }
  Markers found;
  found.notes = labels.notes;
  if (!together.isEmpty())
    found.notes << QStringLiteral("Left out, as each begins on the frame of the label before it: %1.")
                       .arg(together.join(QStringLiteral(", ")));
  found.markers = withEnds(std::move(markers), t.frames);
  return found;
}

std::variant<Markers, SheetError> readFrameList(const QByteArray &bytes, const Timeline &t) {
  const QStringList lines = decodedText(bytes, nullptr).trimmed().split(u'\n');
  if (lines.size() > 1) return SheetError{2, QStringLiteral("a frame list is one line of frame numbers")};
  Markers found;
  static const QRegularExpression number(QStringLiteral("^\\d{1,18}$"));
  for (const QString &item : lines[0].split(u',')) {
    const QString frame = item.trimmed();
    if (!number.match(frame).hasMatch())
      return SheetError{1, QStringLiteral("'%1' is no frame number: a frame list is rising frame numbers, commas "
                                          "between them")
                               .arg(quoted(frame))};
    const std::int64_t f = frame.toLongLong();
    if (!found.markers.empty() && f <= found.markers.back().frame)
      return SheetError{1, QStringLiteral("frames must rise, not %1 after %2").arg(f).arg(found.markers.back().frame)};
    if (f > t.frames)
      return SheetError{1, QStringLiteral("frame %1 is past the end of the file (frame %2)").arg(f).arg(t.frames)};
    found.markers.push_back({f, {}, {}});
  }
  return found;
}

std::optional<MarksKind> marksKindOf(const QString &path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == u"cue") return MarksKind::cueSheet;
  if (suffix == u"txt") return MarksKind::labels;
  if (suffix == u"csv") return MarksKind::frameList;
  return std::nullopt;
}

MarksText marksOf(MarksKind kind, const std::vector<Marker> &markers, const Timeline &t, const QString &sourceName) {
  MarksText out;
  const std::vector<Marker> list = tidied(markers, t.frames);
  switch (kind) {
    case MarksKind::cueSheet: out.bytes = cueSheet(list, t, sourceName, out.notes); break;
    case MarksKind::labels: out.bytes = labelFile(list, t, out.notes); break;
    case MarksKind::frameList: {
      QStringList frames;
      for (const Marker &m : list) frames << QString::number(m.frame);
      out.bytes = frames.join(u',').toLatin1() + '\n';
    }
  }
  return out;
}

WriteError writeWhole(const QString &path, const QByteArray &bytes, bool replace) {
  const QByteArray name = encodeFileName(path);
  if (WriteError refused = refusedAt(name, replace, nullptr)) return refused;
  Pending file;
  if (WriteError e = file.open(name, bytes.size())) return e;
  if (WriteError e = file.write(bytes.constData(), static_cast<std::size_t>(bytes.size()))) return e;
  return file.commit();
}

std::variant<ChaptersWritten, QString> writeChapters(const QString &source, const std::vector<Marker> &markers,
                                                     const Timeline &t, const QString &output, bool replace,
                                                     const std::atomic<bool> *stop, const Copied &copied) {
  std::string why;
  const int fd = sys::openRegular(encodeFileName(source).constData(), &why);
  if (fd < 0) return QStringLiteral("cannot open %1: %2").arg(source, QString::fromLocal8Bit(why.c_str()));
  struct Closing {
    int fd;
    ~Closing() { ::close(fd); }
  } closing{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return QStringLiteral("cannot read %1: %2").arg(source, QString::fromLocal8Bit(std::strerror(errno)));
  if (WriteError refused = refusedAt(encodeFileName(output), replace, &st))
    return QStringLiteral("cannot write %1: %2").arg(output, *refused);

  // One chapter a piece, over the whole file.
  QStringList notes;
  const std::vector<Timed> starts =
      timed(withEnds(tidied(markers, t.frames), t.frames), t, 1000, QStringLiteral("chapters in milliseconds"), notes);
  if (starts.size() - 1 > 255)
    return QStringLiteral("%1 pieces are more chapters than a table of contents lists (255)").arg(starts.size() - 1);
  const auto tag = startTag(fd);
  if (const auto *problem = std::get_if<QString>(&tag)) return QStringLiteral("cannot read %1: %2").arg(source, *problem);
  const mpeg::Bytes &old = std::get<mpeg::Bytes>(tag);
  const bool v4 = old.size() > 3 && old[3] == 4;
  const std::int64_t heardEnd = std::llround(static_cast<double>(t.trimEnd - t.trimBegin) * 1000 / static_cast<double>(t.rate));
  std::vector<mpeg::Chapter> chapters;
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    const Marker &m = starts[i].marker;
    const std::int64_t endMs = i + 2 < starts.size() ? starts[i + 1].time : std::max(starts[i].time, heardEnd);
    mpeg::Chapter c{"ch" + std::to_string(i), static_cast<std::uint32_t>(starts[i].time),
                    static_cast<std::uint32_t>(std::min<std::int64_t>(endMs, 0xFFFFFFFE)), {}};
    if (!m.title.isEmpty()) c.within.push_back({"TIT2", textFrame(m.title, v4)});
    if (!m.performer.isEmpty()) c.within.push_back({"TPE1", textFrame(m.performer, v4)});
    chapters.push_back(std::move(c));
  }
  std::size_t had = 0;
  const mpeg::Bytes tagged = mpeg::withChapters(old, chapters, &had);
  if (tagged.empty())
    return QStringLiteral("cannot add chapters to %1: its ID3v2 tag (version 2.%2%3) is of a form this program does not edit")
        .arg(source)
        .arg(old.size() > 5 ? old[3] : 3)
        .arg(old.size() > 5 && (old[5] & 0x80) ? QStringLiteral(", unsynchronised") : QString());

  // The new tag, then the source's bytes after its own.
  const auto from = static_cast<std::int64_t>(old.size());
  const std::int64_t rest = st.st_size - from;
  Pending copy;
  const auto cannotWrite = [&](const QString &reason) {
    return QStringLiteral("cannot write %1: %2").arg(output, reason);
  };
  // Like the pieces, the copy lets no one read it whom the source keeps out.
  const mode_t mode = (st.st_mode & 0077) | 0600;
  if (WriteError e = copy.open(encodeFileName(output), static_cast<std::int64_t>(tagged.size()) + rest, mode))
    return cannotWrite(*e);
  if (WriteError e = copy.write(tagged.data(), tagged.size())) return cannotWrite(*e);
  std::vector<unsigned char> buffer(1 << 20);
  for (std::int64_t done = 0; done < rest;) {
    if (stop && *stop) return QStringLiteral("stopped before %1 was complete; nothing was written").arg(output);
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), rest - done));
    if (!mpeg::readAt(fd, buffer.data(), n, from + done))
      return QStringLiteral("cannot read %1: %2").arg(source, QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
    if (WriteError e = copy.write(buffer.data(), n)) return cannotWrite(*e);
    done += static_cast<std::int64_t>(n);
    if (copied) copied(done, rest);
  }
  if (WriteError e = copy.commit()) return cannotWrite(*e);
  return ChaptersWritten{static_cast<int>(chapters.size()), static_cast<int>(had), notes};
}

bool sameFile(const QString &a, const QString &b) {
  struct stat one {}, two {};
  return ::stat(encodeFileName(a).constData(), &one) == 0 && ::stat(encodeFileName(b).constData(), &two) == 0 &&
         one.st_dev == two.st_dev && one.st_ino == two.st_ino;
}

}  // namespace found
