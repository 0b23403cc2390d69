#include "SplitEngine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Convert.h"
#include "FileName.h"

namespace split {
namespace {

// The copy buffer: well below the 1048576-byte limit, small enough to stay in
// the processor's cache between the read and the write.
constexpr std::int64_t kCopyBuffer = 128 * 1024;
// What the kernel copies in one call where it copies by itself: no buffer of
// ours, but the stop and the progress are looked at between calls.
constexpr std::int64_t kKernelChunk = 8 * 1048576;

volatile std::sig_atomic_t stopAsked = 0;

const QString kLocked = QStringLiteral(" !\r\nBecause a same name file is locked by other application.");

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  if (S_ISCHR(mode)) return QStringLiteral("a character device");
  if (S_ISBLK(mode)) return QStringLiteral("a block device");
  return QStringLiteral("not a plain file");
}

// A file descriptor that closes itself.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  ~File() { close(); }
  int fd() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  void reset(int fd) {
    close();
    fd_ = fd;
  }
  // Closes, and reports whether everything written reached the file.
  bool close() {
    if (fd_ < 0) return true;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_ = -1;
};

// The folder part of a path, with its last "/", or "" for a bare name.
QByteArray folderOf(const QByteArray &path) { return path.left(path.lastIndexOf('/') + 1); }

// A file written under a fresh temporary name in the folder of its final name
// and renamed over that name only by commit(); until then the final name is
// untouched, and the temporary is removed when the object goes. An existing
// file under the final name stays locked from open() to commit(), so another
// program that holds it locked keeps it.
class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile &) = delete;
  PendingFile &operator=(const PendingFile &) = delete;
  ~PendingFile() {
    out_.close();
    if (!temp_.isEmpty()) ::unlink(temp_.constData());
  }

  // False with errno set when the file cannot be made; `avoid` (device and
  // inode) is a file that the final name must not replace.
  bool open(const QByteArray &finalName, std::pair<dev_t, ino_t> avoid = {}) {
    final_ = finalName;
    struct stat st {};
    if (::stat(final_.constData(), &st) == 0) {
      if (std::pair(st.st_dev, st.st_ino) == avoid) return failWith(EEXIST);
      if (S_ISDIR(st.st_mode)) return failWith(EISDIR);
      // A file that could not be opened for writing is not replaced either.
      if (::access(final_.constData(), W_OK) != 0) return false;
      if (S_ISREG(st.st_mode)) {
        lock_.reset(::open(final_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (lock_.isOpen() && (::flock(lock_.fd(), LOCK_EX | LOCK_NB) != 0 || hasRecordLock(lock_.fd()))) return false;
      }
    } else if (errno != ENOENT) {
      return false;  // a name too long, a folder that is a file: said before any byte is copied
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      const QByteArray temp = folderOf(final_) + ".tranchette-" + QByteArray::number(::getpid()) + '-' +
                              QByteArray::number(serial++) + ".part";
      const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        out_.reset(fd);
        temp_ = temp;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int fd() const { return out_.fd(); }
  void setMode(mode_t mode) { ::fchmod(out_.fd(), mode); }

  // Closes the file and puts it under its final name; false with errno set.
  bool commit() {
    if (!out_.close() || ::rename(temp_.constData(), final_.constData()) != 0) return false;
    temp_.clear();
    return true;
  }

 private:
  // A POSIX record lock that another process holds on the file (errno set).
  static bool hasRecordLock(int fd) {
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &range) != 0 || range.l_type == F_UNLCK) return false;
    errno = EWOULDBLOCK;
    return true;
  }
  static bool failWith(int error) {
    errno = error;
    return false;
  }
  QByteArray final_, temp_;
  File out_;
  File lock_;
};

// Writes all of `bytes` to fd; false with errno set.
bool writeAll(int fd, const char *bytes, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t put = ::write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// floor(a * b / c) for 0 <= a, b and 0 < c, without overflow.
std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c) {
  __extension__ using Wide = __int128;
  return static_cast<std::int64_t>(static_cast<Wide>(a) * b / c);
}

// One run: the source, the template, the reporter and the copy buffer.
class Run {
 public:
  Run(const QString &source, const QString &outputTemplate, Reporter &reporter)
      : source_(source), template_(outputTemplate), reporter_(reporter) {}

  // Opens the source read-only; reports and returns false when it cannot.
  // Only a regular file is taken, and nothing here waits for another program
  // (a FIFO without a writer, a device).
  bool openSource() {
    const QByteArray path = encodeFileName(source_);
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) return notRegular(st.st_mode);
    in_.reset(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in_.isOpen() || ::fstat(in_.fd(), &st) != 0) {
      const QString reason = systemError(errno);
      return refuse({source_, QStringLiteral("Cannot open the source file: %1 !\r\n%2").arg(source_, reason),
                     QStringLiteral("cannot open it: %1").arg(reason)});
    }
    if (!S_ISREG(st.st_mode)) return notRegular(st.st_mode);
    ::fcntl(in_.fd(), F_SETFL, ::fcntl(in_.fd(), F_GETFL) & ~O_NONBLOCK);
    size_ = st.st_size;
    sourceId_ = {st.st_dev, st.st_ino};
    posix_fadvise(in_.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
  }

  std::int64_t size() const { return size_; }
  void setTotal(std::int64_t bytes) { total_ = bytes; }

  bool refuse(const Message &message) {
    reporter_.fail(message);
    return false;
  }

  // Writes piece `track` from the source's bytes [offset, offset + length),
  // all of which lie in the file as it was opened. Reports and returns false
  // when the piece cannot be created or completed; then nothing of it stays.
  bool writePiece(std::int64_t track, std::int64_t offset, std::int64_t length, const QString &createPrefix) {
    const QString name = pieceName(template_, track);
    PendingFile piece;
    if (!piece.open(encodeFileName(name), sourceId_)) {
      const int error = errno;
      const bool locked = error == EWOULDBLOCK;
      return refuse({name, createPrefix + name + kLocked + QStringLiteral("\r\n") + systemError(error),
                     locked ? QStringLiteral("cannot create it: another program holds it locked")
                            : QStringLiteral("cannot create it: %1").arg(systemError(error))});
    }
    if (!copy(piece.fd(), offset, length)) return refuseCopy(name);
    if (!piece.commit()) return refuseWrite(name, errno);
    outcome_.pieces << name;
    reporter_.pieceWritten(name);
    return true;
  }

  Outcome finish() {
    outcome_.completed = true;
    return outcome_;
  }
  Outcome stopped() const { return outcome_; }
  Outcome &outcome() { return outcome_; }
  Reporter &reporter() { return reporter_; }

 private:
  enum class Fault { none, sourceEnded, read, write, stop };

  bool notRegular(mode_t mode) {
    return refuse({source_,
                   QStringLiteral("Cannot open the source file: %1 !\r\nIt is %2, not a regular file.")
                       .arg(source_, kindOf(mode)),
                   QStringLiteral("not a regular file but %1").arg(kindOf(mode))});
  }

  bool refuseWrite(const QString &name, int error) {
    return refuse({name, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, systemError(error)),
                   QStringLiteral("cannot write it: %1").arg(systemError(error))});
  }

  bool refuseCopy(const QString &name) {
    switch (fault_) {
      case Fault::sourceEnded:
        return refuse(
            {source_,
             QStringLiteral("Cannot read the source file: %1 !\r\nIt ended at byte %2 of the %3 it had when the split "
                            "began; %4 was not written.")
                 .arg(source_)
                 .arg(faultAt_)
                 .arg(size_)
                 .arg(name),
             QStringLiteral("the file ended at byte %1 of the %2 it had when the split began (it shrank while being "
                            "read); %3 was not written")
                 .arg(faultAt_)
                 .arg(size_)
                 .arg(name)});
      case Fault::read:
        return refuse({source_,
                       QStringLiteral("Cannot read the source file: %1 !\r\nAt byte %2: %3; %4 was not written.")
                           .arg(source_)
                           .arg(faultAt_)
                           .arg(systemError(faultErrno_), name),
                       QStringLiteral("cannot read it at byte %1: %2; %3 was not written")
                           .arg(faultAt_)
                           .arg(systemError(faultErrno_), name)});
      case Fault::stop:
        return refuse({name, QStringLiteral("The split was stopped; the unfinished %1 was removed.").arg(name),
                       QStringLiteral("stopped before it was complete; removed")});
      default: return refuseWrite(name, faultErrno_);
    }
  }

  bool fault(Fault kind, std::int64_t at, int error = 0) {
    fault_ = kind;
    faultAt_ = at;
    faultErrno_ = error;
    return false;
  }

  // Copies the range; fewer bytes than asked from the source is a fault.
  bool copy(int out, std::int64_t offset, std::int64_t length) {
    std::int64_t pos = offset;
    const std::int64_t end = offset + length;
    while (pos < end) {
      if (stopAsked) return fault(Fault::stop, pos);
      std::int64_t moved = 0;
      if (kernelCopy_) {
        loff_t from = pos;
        const ssize_t got = ::copy_file_range(in_.fd(), &from, out, nullptr,
                                              static_cast<std::size_t>(std::min(end - pos, kKernelChunk)), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) return fault(Fault::write, pos, errno);
        if (got <= 0) {
          // Not between these files, or an end that read() is to confirm.
          kernelCopy_ = false;
          continue;
        }
        moved = got;
      } else {
        if (buffer_.empty()) buffer_.resize(static_cast<std::size_t>(kCopyBuffer));
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(end - pos, kCopyBuffer));
        const ssize_t got = ::pread(in_.fd(), buffer_.data(), want, pos);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fault(Fault::read, pos, errno);
        if (got == 0) return fault(Fault::sourceEnded, pos);
        if (!writeAll(out, buffer_.data(), static_cast<std::size_t>(got))) return fault(Fault::write, pos, errno);
        moved = got;
      }
      pos += moved;
      done_ += moved;
      reporter_.bytesCopied(done_, total_);
    }
    return true;
  }

  QString source_;
  QString template_;
  Reporter &reporter_;
  File in_;
  std::vector<char> buffer_;
  bool kernelCopy_ = true;
  std::int64_t size_ = 0;
  std::int64_t done_ = 0, total_ = 0;
  std::pair<dev_t, ino_t> sourceId_{};
  Fault fault_ = Fault::none;
  std::int64_t faultAt_ = 0;
  int faultErrno_ = 0;
  Outcome outcome_;
};

QString createPrefix(std::int64_t pieceSize) {
  return pieceSize <= kBlock ? QStringLiteral("Cannot create file: ") : QStringLiteral("Can not create file: ");
}

Message parameterError(const QString &text) { return {QString(), text, text}; }

// Consecutive pieces of pieceSize bytes from the start, then the tail.
Outcome splitFixed(Run &run, std::int64_t pieceSize) {
  const std::int64_t size = run.size();
  const std::int64_t tail = size % pieceSize;
  const std::int64_t count = size / pieceSize;
  run.setTotal(size);
  run.reporter().start(count);
  for (std::int64_t k = 1; k <= count; ++k) {
    if (!run.writePiece(k, (k - 1) * pieceSize, pieceSize, createPrefix(pieceSize))) return run.stopped();
    run.reporter().step();
  }
  if (tail != 0 && !run.writePiece(count + 1, count * pieceSize, tail, QStringLiteral("Can not create file: ")))
    return run.stopped();
  run.reporter().complete();
  return run.finish();
}

}  // namespace

void requestStop(bool stop) noexcept { stopAsked = stop ? 1 : 0; }

bool isFrameNumber(const QString &text) {
  return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString formatTrackNumber(std::int64_t track) {
  const QString text = QString::number(track);
  if (text.size() == 1) return QStringLiteral("00") + text;
  if (text.size() == 2) return QStringLiteral("0") + text;
  return text;
}

QString fileNamePart(const QString &path) {
#ifdef Q_OS_WIN
  const qsizetype cut = std::max({path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'), path.lastIndexOf(u':')});
#else
  // Here "\\" and ":" are ordinary characters of a file name.
  const qsizetype cut = path.lastIndexOf(u'/');
#endif
  return path.mid(cut + 1);
}

std::optional<QString> notRegularKind(const QString &path) {
  struct stat st {};
  if (::stat(encodeFileName(path).constData(), &st) != 0 || S_ISREG(st.st_mode)) return std::nullopt;
  return kindOf(st.st_mode);
}

QString joinNameOf(const QString &source) {
  QString name = fileNamePart(source);
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  return name;
}

QString insertBeforeExtension(const QString &path, const QString &text) {
  const qsizetype nameStart = path.size() - fileNamePart(path).size();
  qsizetype dot = path.lastIndexOf(u'.');
  if (dot < nameStart) dot = path.size();
  return QString(path).insert(dot, text);
}

QString pieceName(const QString &outputTemplate, std::int64_t track) {
  static const QString placeholder = QStringLiteral("%track%");
  const QString text = formatTrackNumber(track);
  const qsizetype at = outputTemplate.indexOf(placeholder);
  if (at >= 0) return QString(outputTemplate).replace(at, placeholder.size(), text);
  return insertBeforeExtension(outputTemplate, u'-' + text);
}

Outcome splitBySize(const QString &source, const QString &sizeText, const QString &outputTemplate, Reporter &reporter) {
  if (sizeText.isEmpty()) return {};
  Run run(source, outputTemplate, reporter);
  if (!run.openSource()) return {};
  std::int64_t kilobytes = 0;
  try {
    kilobytes = StrToInt(sizeText);
  } catch (const EConvertError &) {
    kilobytes = -1;
  }
  if (kilobytes <= 0) {
    run.refuse(parameterError(
        QStringLiteral("The size of the parts must be a whole number of kilobytes from 1 to 2147483647, not \"%1\".")
            .arg(sizeText)));
    return {};
  }
  return splitFixed(run, kilobytes * 1024);
}

Outcome splitByTime(const QString &source, const QString &lengthText, std::int64_t totalTimeMs,
                    const QString &outputTemplate, Reporter &reporter) {
  Run run(source, outputTemplate, reporter);
  if (!run.openSource()) return {};
  double milliseconds = 0;
  try {
    milliseconds = StrToFloat(lengthText) * 1000;
  } catch (const EConvertError &) {
    run.refuse(parameterError(
        QStringLiteral("The length of the parts must be a number of seconds above 0, not \"%1\".").arg(lengthText)));
    return {};
  }
  if (totalTimeMs <= 0) {
    run.refuse({source, QStringLiteral("Cannot split %1 by time: its playing time is 0.").arg(source),
                QStringLiteral("cannot split it by time: its playing time is 0")});
    return {};
  }
  const double exact = static_cast<double>(run.size()) * milliseconds / static_cast<double>(totalTimeMs);
  if (!(exact >= 1) || !std::isfinite(exact)) {
    run.refuse({source, QStringLiteral("Parts of %1 seconds would hold no whole byte of %2.").arg(lengthText, source),
                QStringLiteral("parts of %1 seconds would hold no whole byte").arg(lengthText)});
    return {};
  }
  const auto pieceSize = static_cast<std::int64_t>(std::min(exact, 9.0e18));
  return splitFixed(run, pieceSize);
}

Outcome splitAtBreakpoints(const QString &source, std::int64_t frames, const QStringList &breakpoints,
                           const QString &outputTemplate, Reporter &reporter) {
  if (breakpoints.size() < 2) return {};
  Run run(source, outputTemplate, reporter);
  std::vector<std::int64_t> points;
  for (const QString &item : breakpoints) {
    if (item.startsWith(u'-') && isFrameNumber(item.mid(1))) {
      run.refuse(parameterError(QStringLiteral("The breakpoint %1 lies before the start of the file.").arg(item)));
      return {};
    }
    bool ok = false;
    const std::int64_t value = item.toLongLong(&ok);
    if (!isFrameNumber(item) || !ok) {
      run.refuse(parameterError(
          QStringLiteral("The breakpoint \"%1\" is not a frame number from 0 to 9223372036854775807.").arg(item)));
      return {};
    }
    if (!points.empty() && value <= points.back()) {
      run.refuse(
          parameterError(QStringLiteral("The breakpoints must rise: %1 follows %2.").arg(value).arg(points.back())));
      return {};
    }
    points.push_back(value);
  }
  if (frames <= 0) {
    run.refuse({source, QStringLiteral("Cannot split %1 at frames: its frame count is 0.").arg(source),
                QStringLiteral("cannot split it at frames: its frame count is 0")});
    return {};
  }
  if (!run.openSource()) return {};
  // A breakpoint past the last frame stands for the end of the file.
  auto offsetOf = [&](std::int64_t frame) { return frame >= frames ? run.size() : scaled(run.size(), frame, frames); };
  std::int64_t total = 0;
  for (std::size_t i = 1; i < points.size(); ++i) total += offsetOf(points[i]) - offsetOf(points[i - 1]);
  run.setTotal(total);
  QStringList empty;
  run.reporter().start(static_cast<std::int64_t>(points.size()) - 1);
  for (std::size_t i = 1; i < points.size(); ++i) {
    const std::int64_t start = offsetOf(points[i - 1]);
    const std::int64_t end = offsetOf(points[i]);
    const auto track = static_cast<std::int64_t>(i);
    if (end <= start) {
      empty << pieceName(outputTemplate, track);
    } else if (!run.writePiece(track, start, end - start, QStringLiteral("Cannot create the file: "))) {
      return run.stopped();
    }
    run.reporter().step();
  }

  QStringList past;
  for (std::int64_t p : points)
    if (p > frames) past << QString::number(p);
  QStringList text, brief;
  if (!past.isEmpty()) {
    const bool one = past.size() == 1;
    text << QStringLiteral("The breakpoint%1 %2 %3 past the end of %4, which has %5 frames.")
                .arg(one ? QString() : QStringLiteral("s"), past.join(QStringLiteral(", ")),
                     one ? QStringLiteral("lies") : QStringLiteral("lie"), source)
                .arg(frames);
    brief << QStringLiteral("breakpoint%1 %2 past the end (the file has %3 frames)")
                 .arg(one ? QString() : QStringLiteral("s"), past.join(QStringLiteral(", ")))
                 .arg(frames);
  }
  if (!empty.isEmpty()) {
    text << QStringLiteral("Not written, as they would hold no byte: %1.").arg(empty.join(QStringLiteral(", ")));
    brief << QStringLiteral("not written, holding no byte: %1").arg(empty.join(QStringLiteral(", ")));
  }
  if (!text.isEmpty())
    run.reporter().notice({source, text.join(QStringLiteral("\r\n")), brief.join(QStringLiteral("; "))});
  run.outcome().skipped = empty.size();
  return run.finish();
}

namespace {

// The first character that cmd cannot take safely even inside quotes: a quote
// would end the quoting, a control character the line, and "!" is expanded
// where delayed expansion is on.
std::optional<QChar> unsafeCharacter(const QString &name) {
  for (QChar c : name)
    if (c == u'"' || c == u'!' || c.unicode() < 0x20 || c.unicode() == 0x7F) return c;
  return std::nullopt;
}

QString describe(QChar c) {
  if (c == u'"') return QStringLiteral("the double quote (\")");
  if (c == u'!') return QStringLiteral("the exclamation mark (!)");
  return QStringLiteral("the control character U+%1").arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
}

QStringList joinedNames(const QStringList &pieces, const QString &joinName) {
  QStringList names;
  for (const QString &piece : pieces) names << fileNamePart(piece);
  return names << joinName + QStringLiteral(".mp3");
}

// Writes `bytes` to `name` anew (with `mode` when given, else as the umask
// says); returns the message for the user when it cannot.
std::optional<QString> writeFile(const QString &name, const QByteArray &bytes, std::optional<mode_t> mode = {}) {
  PendingFile file;
  if (file.open(encodeFileName(name))) {
    if (mode) file.setMode(*mode);
    if (writeAll(file.fd(), bytes.constData(), static_cast<std::size_t>(bytes.size())) && file.commit())
      return std::nullopt;
  }
  return QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, systemError(errno));
}

}  // namespace

QString joinCommand(const QStringList &pieces, const QString &joinName) {
  auto quoted = [](QString name) {
    static const QString special = QStringLiteral(" &|<>^()%!,;=+");
    const bool needs = std::any_of(name.begin(), name.end(), [](QChar c) { return special.contains(c); });
    name.replace(u'%', QStringLiteral("%%"));
    return needs ? u'"' + name + u'"' : name;
  };
  QStringList names = joinedNames(pieces, joinName);
  for (QString &name : names) name = quoted(name);
  const QString target = names.takeLast();
  return QStringLiteral("copy /b ") + names.join(u'+') + u' ' + target;
}

QByteArray joinScript(const QStringList &pieces, const QString &joinName) {
  // The pieces as they were written, folders included: the shell reads paths
  // as this system does, so a piece in another folder is found as well.
  const QStringList paths = QStringList(pieces) << joinName + QStringLiteral(".mp3");
  QByteArrayList names;
  for (const QString &name : paths)
    names << '\'' + encodeFileName(name).replace('\'', QByteArray("'\\''")) + '\'';
  const QByteArray target = names.takeLast();
  return "#!/bin/sh\ncat -- " + names.join(' ') + " > " + target + '\n';
}

std::optional<QString> writeJoinFiles(const QStringList &pieces, const QString &joinName) {
  QStringList problems;
  const QString batch = QStringLiteral("Join_") + joinName + QStringLiteral(".bat");
  std::optional<QString> unsafe;
  for (const QString &name : joinedNames(pieces, joinName))
    if (const auto c = unsafeCharacter(name); c && !unsafe)
      unsafe = QStringLiteral("No file %1 was written: the name \"%2\" holds %3, which cmd cannot take safely.")
                   .arg(batch, name, describe(*c));
  if (unsafe) {
    problems << *unsafe;
  } else {
#ifdef Q_OS_WIN
    const QByteArray line = joinCommand(pieces, joinName).toLocal8Bit();
#else
    const QByteArray line = encodeFileName(joinCommand(pieces, joinName));
#endif
    if (auto error = writeFile(batch, line)) problems << *error;
  }
#ifndef Q_OS_WIN
  const QString script = QStringLiteral("Join_") + joinName + QStringLiteral(".sh");
  if (auto error = writeFile(script, joinScript(pieces, joinName), 0755)) problems << *error;
#endif
  if (problems.isEmpty()) return std::nullopt;
  return problems.join(QStringLiteral("\r\n"));
}

}  // namespace split
