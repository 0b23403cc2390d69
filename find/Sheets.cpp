#include "Sheets.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include "FileName.h"
#include "Frame.h"
#include "Id3.h"
#include "SystemFiles.h"

namespace found {
namespace {

// A line's words: bare, or in double quotes.
QStringList wordsOf(const QString &line) {
  QStringList words;
  for (qsizetype i = 0; i < line.size();) {
    if (line[i].isSpace()) {
      ++i;
      continue;
    }
    QString word;
    if (line[i] == u'"') {
      const qsizetype end = line.indexOf(u'"', i + 1);
      word = line.mid(i + 1, (end < 0 ? line.size() : end) - i - 1);
      i = end < 0 ? line.size() : end + 1;
    } else {
      while (i < line.size() && !line[i].isSpace()) word += line[i++];
    }
    words << word;
  }
  return words;
}

// "mm:ss:ff" at 75 frames a second, or "mm:ss"; -1 where it is no such time.
double cueTime(const QString &text, bool *withoutFrames) {
  const QStringList parts = text.split(u':');
  if (parts.size() != 3 && parts.size() != 2) return -1;
  bool ok[3] = {true, true, true};
  const int m = parts[0].toInt(&ok[0]), s = parts[1].toInt(&ok[1]);
  const int f = parts.size() == 3 ? parts[2].toInt(&ok[2]) : 0;
  if (!ok[0] || !ok[1] || !ok[2] || m < 0 || s < 0 || s > 59 || f < 0 || f > 74) return -1;
  *withoutFrames = parts.size() == 2;
  return m * 60.0 + s + f / 75.0;
}

// Windows-1252 where it differs from Latin-1: 0x80 to 0x9F, the five codes
// it leaves undefined kept as Latin-1 has them.
constexpr char16_t kCp1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromCp1252(const QByteArray &bytes) {
  QString text(bytes.size(), Qt::Uninitialized);
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    text[i] = QChar(b >= 0x80 && b < 0xA0 ? kCp1252[b - 0x80] : char16_t{b});
  }
  return text;
}


// m:ss, or h:mm:ss from an hour on.
QString clock(double seconds) {
  const auto whole = static_cast<long long>(std::floor(std::max(0.0, seconds)));
  if (whole < 3600) return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1:%2:%3")
      .arg(whole / 3600)
      .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// An ID3v2 text frame's body as text, in any of its encodings.
QString textOf(const mpeg::Bytes &body) {
  if (body.empty()) return {};
  const char *data = reinterpret_cast<const char *>(body.data()) + 1;
  const auto size = static_cast<qsizetype>(body.size() - 1);
  QString text;
  switch (body[0]) {
    case 0: text = QString::fromLatin1(data, size); break;
    case 3: text = QString::fromUtf8(data, size); break;
    default: {
      QStringDecoder decode(body[0] == 2 ? QStringDecoder::Utf16BE : QStringDecoder::Utf16,
                            QStringDecoder::Flag::Stateless);
      text = decode(QByteArrayView(data, size));
    }
  }
  return text.left(text.indexOf(QChar(0)) < 0 ? text.size() : text.indexOf(QChar(0)));
}

mpeg::Bytes readTag(const QString &path, QString &error) {
  std::string why;
  const int fd = sys::openRegular(encodeFileName(path).constData(), &why);
  if (fd < 0) {
    error = QString::fromLocal8Bit(why.c_str());
    return {};
  }
  mpeg::Bytes tag(10);
  struct stat st {};
  std::int64_t at = 0, size = 0;
  if (mpeg::readAt(fd, tag.data(), 10, 0)) size = mpeg::id3v2Size(tag.data());
  if (size <= 0 && ::fstat(fd, &st) == 0) {
    // A tag at the end, where there is none at the start.
    for (const mpeg::Passed &p : mpeg::readEndTags(fd, st.st_size, 0).tags)
      if (p.kind == mpeg::Passed::Kind::id3v2) at = p.at, size = p.length;
  }
  tag.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  if (!mpeg::readAt(fd, tag.data(), tag.size(), at)) tag.clear();
  ::close(fd);
  return tag;
}

}  // namespace

QString quoted(const QString &text) {
  constexpr qsizetype kMost = 200;
  return text.size() <= kMost ? text : text.left(kMost) + QStringLiteral("...");
}

// Windows-1252 is what 8-bit text files are written in far more often than
// Latin-1 (curly quotes and dashes in 0x80 to 0x9F).
QString decodedText(const QByteArray &raw, bool *windows1252) {
  if (windows1252) *windows1252 = false;
  if (raw.startsWith("\xFF\xFE") || raw.startsWith("\xFE\xFF")) {
    QStringDecoder utf16(raw.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    return utf16(raw.mid(2));
  }
  const QByteArray bytes = raw.startsWith("\xEF\xBB\xBF") ? raw.mid(3) : raw;
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return text;
  if (windows1252) *windows1252 = true;
  return fromCp1252(bytes);
}

QStringList decodedLines(const QByteArray &raw, bool *windows1252) {
  QString text = decodedText(raw, windows1252);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
  return text.split(u'\n');
}

std::variant<QByteArray, SheetError> readSheetFile(const QString &path) {
  return readTextFile(path, 1 << 20, QStringLiteral("cue sheet"));
}

std::variant<QByteArray, SheetError> readTextFile(const QString &path, qsizetype most, const QString &kind) {
  std::string why;
  const int fd = sys::openRegular(encodeFileName(path).constData(), &why);
  if (fd < 0) return SheetError{0, QStringLiteral("cannot open it: %1").arg(QString::fromLocal8Bit(why.c_str()))};
  QByteArray bytes;
  char buffer[65536];
  ssize_t n = 0;
  while (bytes.size() <= most && (n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    bytes.append(buffer, n);
  }
  const int error = errno;
  ::close(fd);
  if (n < 0) return SheetError{0, QStringLiteral("cannot read it: %1").arg(QString::fromLocal8Bit(std::strerror(error)))};
  if (bytes.size() > most)
    return SheetError{0, QStringLiteral("it is larger than %1 MB, which no %2 is").arg(most >> 20).arg(kind)};
  return bytes;
}

QString SheetError::message() const {
  return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(text) : text;
}

std::variant<CueSheet, SheetError> readCueSheet(const QByteArray &raw) {
  CueSheet sheet;
  bool windows1252 = false;
  const QStringList lines = decodedLines(raw, &windows1252);
  if (windows1252) sheet.notes << QStringLiteral("The sheet is not UTF-8: it is read as Windows-1252.");
  QStringList unknown;
  int withoutFrames = 0;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    if (lines[i].size() > 65536) return SheetError{n, QStringLiteral("the line is longer than 64 KB")};
    const QStringList words = wordsOf(lines[i]);
    if (words.isEmpty()) continue;
    const QString command = words[0].toUpper();
    CueTrack *track = sheet.tracks.empty() ? nullptr : &sheet.tracks.back();
    if (command == u"FILE") {
      if (words.size() < 2) return SheetError{n, QStringLiteral("FILE names no file")};
      if (!sheet.file.isEmpty())
        return SheetError{n, QStringLiteral("a second FILE: the sheet spans several files, and this splits one")};
      sheet.file = words[1];
      sheet.fileLine = n;
    } else if (command == u"TRACK") {
      bool ok = false;
      const int number = words.size() >= 2 ? words[1].toInt(&ok) : 0;
      // A CD holds 99; a sheet for a long recording may hold more.
      if (!ok || number < 1 || number > 99999)
        return SheetError{n, QStringLiteral("TRACK needs a number from 1 to 99999")};
      if (words.size() >= 3 && words[2].toUpper() != u"AUDIO")
        return SheetError{n, QStringLiteral("TRACK %1 is %2, not AUDIO").arg(number).arg(quoted(words[2]))};
      sheet.tracks.push_back({number, {}, {}, -1, n, 0});
    } else if (command == u"TITLE" || command == u"PERFORMER") {
      const QString value = words.mid(1).join(u' ');
      QString &field = command == u"TITLE" ? (track ? track->title : sheet.title)
                                           : (track ? track->performer : sheet.performer);
      field = value;
    } else if (command == u"INDEX") {
      if (!track) return SheetError{n, QStringLiteral("INDEX before any TRACK")};
      bool ok = false;
      const int index = words.size() >= 2 ? words[1].toInt(&ok) : -1;
      bool bare = false;
      const double at = words.size() >= 3 ? cueTime(words[2], &bare) : -1;
      if (!ok || index < 0 || index > 99) return SheetError{n, QStringLiteral("INDEX needs a number from 0 to 99")};
      if (at < 0)
        return SheetError{n, QStringLiteral("'%1' is no time mm:ss:ff (seconds to 59, frames to 74)")
                                 .arg(quoted(words.value(2)))};
      withoutFrames += bare ? 1 : 0;
      if (index == 0) track->pregap = at;
      if (index == 1) {
        track->start = at;
        track->indexLine = n;
      }
    } else if (!QStringList{QStringLiteral("REM"), QStringLiteral("CATALOG"), QStringLiteral("CDTEXTFILE"),
                            QStringLiteral("FLAGS"), QStringLiteral("ISRC"), QStringLiteral("SONGWRITER"),
                            QStringLiteral("PREGAP"), QStringLiteral("POSTGAP")}
                    .contains(command)) {
      unknown << QStringLiteral("%1 (line %2)").arg(quoted(words[0])).arg(n);
    }
  }
  if (sheet.tracks.empty()) return SheetError{0, QStringLiteral("the sheet holds no TRACK")};
  if (!unknown.isEmpty())
    sheet.notes << QStringLiteral("Passed over what is no cue sheet command: %1.").arg(unknown.join(QStringLiteral(", ")));
  if (withoutFrames > 0)
    sheet.notes << QStringLiteral("%1 time%2 without frames (mm:ss) taken as whole seconds.")
                       .arg(withoutFrames)
                       .arg(withoutFrames == 1 ? QString() : QStringLiteral("s"));
  return sheet;
}

namespace {
// The sheet's FILE where it is a path with folders from the sheet's own
// ("disc2/book.mp3", "..\\Disc 2\\book.wav"), with "/" between them; empty
// for a name alone or an absolute path (a Windows one too).
QString relativeFileOf(const CueSheet &sheet) {
  QString path = sheet.file;
  path.replace(u'\\', u'/');
  const bool drive = path.size() > 1 && path[1] == u':';
  if (!path.contains(u'/') || path.startsWith(u'/') || drive) return {};
  return QDir::cleanPath(path);
}
}  // namespace

std::optional<Recording> recordingOf(const CueSheet &sheet, const QString &sheetPath) {
  const auto isFile = [](const QString &path) {
    struct stat st {};
    return ::stat(encodeFileName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
  };
  const QString folder = sheetPath.left(sheetPath.lastIndexOf(u'/') + 1);
  if (sheet.file.startsWith(u'/') && isFile(sheet.file)) return Recording{sheet.file, true};
  // The path from the sheet's folder (a sheet beside the folders of its
  // discs), then the name alone, from a Windows path too.
  const QString relative = relativeFileOf(sheet);
  const QString named = sheet.file.mid(std::max(sheet.file.lastIndexOf(u'/'), sheet.file.lastIndexOf(u'\\')) + 1);
  const auto mp3Of = [&](const QString &name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return folder + (dot > 0 && dot > name.lastIndexOf(u'/') ? name.left(dot) : name) + QStringLiteral(".mp3");
  };
  const bool mpeg = QStringList{QStringLiteral("mp3"), QStringLiteral("mp2"), QStringLiteral("mp1")}.contains(
      QFileInfo(named).suffix().toLower());
  std::vector<Recording> candidates;
  if (!relative.isEmpty() && mpeg) candidates.push_back({folder + relative, true});
  if (!relative.isEmpty()) candidates.push_back({mp3Of(relative), false});
  if (!named.isEmpty() && mpeg) candidates.push_back({folder + named, relative.isEmpty()});
  if (!named.isEmpty()) candidates.push_back({mp3Of(named), false});
  candidates.push_back({mp3Of(QFileInfo(sheetPath).fileName()), false});
  for (const Recording &candidate : candidates)
    if (isFile(candidate.path)) return candidate;
  return std::nullopt;
}

std::variant<Markers, SheetError> markersOf(const CueSheet &sheet, const Timeline &t, const QString &audio,
                                            std::optional<bool> named) {
  Markers found;
  found.notes = sheet.notes;
  // Without `named`, a path from the sheet's folder names more than a name:
  // "disc2/x.mp3" is not an x.mp3 in another folder.
  QString relative = relativeFileOf(sheet);
  while (relative.startsWith(QStringLiteral("../"))) relative.remove(0, 3);  // what the path ends in, wherever it went up
  const QString used = QDir::cleanPath(audio);
  const bool elsewhere = !relative.isEmpty() && used != relative && !used.endsWith(u'/' + relative) &&
                         QFileInfo(relative).fileName() == QFileInfo(audio).fileName();
  const bool other = named ? !*named
                           : elsewhere || (!sheet.file.isEmpty() && QFileInfo(sheet.file).fileName() != QFileInfo(audio).fileName() &&
                                           !sheet.file.endsWith(QFileInfo(audio).fileName()));
  if (!sheet.file.isEmpty() && other)
    found.notes << QStringLiteral("The sheet's FILE names %1; its times are taken for %2.")
                       .arg(quoted(sheet.file), QFileInfo(audio).fileName());
  const double end = t.secondsAt(t.frames);
  double before = -1;
  std::vector<Marker> markers;
  QStringList past, together;
  for (const CueTrack &track : sheet.tracks) {
    const QString number = QStringLiteral("%1").arg(track.number, 2, 10, QLatin1Char('0'));
    if (track.start < 0) return SheetError{track.line, QStringLiteral("TRACK %1 has no INDEX 01").arg(number)};
    if (track.start <= before)
      return SheetError{track.indexLine, QStringLiteral("TRACK %1 begins no later than the track before it").arg(number)};
    before = track.start;
    if (track.start >= end) {
      past << QStringLiteral("TRACK %1 at %2").arg(number, clock(track.start));
      continue;
    }
    const std::int64_t frame = t.frameAt(track.start);
    if (!markers.empty() && frame <= markers.back().frame) {  // less than a frame after the one before
      together << QStringLiteral("TRACK %1 at %2").arg(number, clock(track.start));
      continue;
    }
    markers.push_back({frame, track.title, track.performer.isEmpty() ? sheet.performer : track.performer, track.number});
  }
  if (!together.isEmpty())
    found.notes << QStringLiteral("Left out, as each begins on the frame of the track before it: %1.")
                       .arg(together.join(QStringLiteral(", ")));
  if (markers.empty())
    return SheetError{sheet.tracks.front().indexLine,
                      QStringLiteral("every track begins past the end of %1 (%2)").arg(QFileInfo(audio).fileName(), clock(end))};
  if (!past.isEmpty())
    found.notes << QStringLiteral("Left out, as %1 ends at %2: %3.")
                       .arg(QFileInfo(audio).fileName(), clock(end), past.join(QStringLiteral(", ")));
  // What plays before the first track (its pregap, or a hidden track) is a
  // piece of its own, numbered 0.
  if (markers.front().frame > 0) {
    markers.push_back({0, {}, {}, 0});
    found.notes << QStringLiteral("The %1 before TRACK %2 is a piece of its own, numbered 000.")
                       .arg(clock(t.secondsAt(markers.front().frame)))
                       .arg(sheet.tracks.front().number, 2, 10, QLatin1Char('0'));
  }
  found.markers = withEnds(std::move(markers), t.frames);
  return found;
}

std::variant<Markers, SheetError> chaptersOf(const QString &path, const Timeline &t) {
  QString error;
  const mpeg::Bytes tag = readTag(path, error);
  if (!error.isEmpty()) return SheetError{0, error};
  const int version = tag.size() > 3 ? tag[3] : 0;
  const auto idOf = [](const mpeg::Bytes &body) {
    const auto end = std::find(body.begin(), body.end(), 0);
    return std::pair(std::string(body.begin(), end), static_cast<std::size_t>(end - body.begin()) + 1);
  };
  // The top-level table of contents, where there is one, says which
  // chapters are the file's parts: those of a nested table are not.
  std::optional<std::vector<std::string>> listed;
  for (const mpeg::TagItem &item : mpeg::itemsOf(tag)) {
    if (item.id != "CTOC" || listed) continue;
    auto [id, at] = idOf(item.body);
    if (at + 2 > item.body.size() || !(item.body[at] & 0x02)) continue;
    std::vector<std::string> children;
    std::size_t from = at + 2;
    for (int n = item.body[at + 1]; n > 0 && from < item.body.size(); --n) {
      const auto end = std::find(item.body.begin() + static_cast<std::ptrdiff_t>(from), item.body.end(), 0);
      children.emplace_back(item.body.begin() + static_cast<std::ptrdiff_t>(from), end);
      from = static_cast<std::size_t>(end - item.body.begin()) + 1;
    }
    listed = std::move(children);
  }
  const double end = t.secondsAt(t.frames);
  std::vector<Marker> markers;
  QStringList past;
  for (const mpeg::TagItem &item : mpeg::itemsOf(tag)) {
    if (item.id != "CHAP") continue;
    const auto [id, at] = idOf(item.body);
    if (at + 16 > item.body.size()) continue;
    if (listed && std::find(listed->begin(), listed->end(), id) == listed->end()) continue;
    const double seconds = mpeg::bigEndian32(item.body.data() + at) / 1000.0;
    Marker m{t.frameAt(seconds), {}, {}};
    for (const mpeg::TagItem &sub : mpeg::itemsWithin(item.body, at + 16, version)) {
      if (sub.id == "TIT2") m.title = textOf(sub.body);
      if (sub.id == "TPE1") m.performer = textOf(sub.body);
    }
    if (seconds >= end) {
      past << QStringLiteral("%1 at %2").arg(m.title.isEmpty() ? QString::fromStdString(id) : QStringLiteral("\"%1\"").arg(m.title),
                                            clock(seconds));
      continue;
    }
    markers.push_back(m);
  }
  Markers found;
  if (!past.isEmpty())
    found.notes << QStringLiteral("Left out, as the file ends at %1: the chapter%2 %3.")
                       .arg(clock(end), past.size() == 1 ? QString() : QStringLiteral("s"), past.join(QStringLiteral(", ")));
  if (!markers.empty()) found.markers = withEnds(std::move(markers), t.frames);
  return found;
}

}  // namespace found
