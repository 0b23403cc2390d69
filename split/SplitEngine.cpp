#include "SplitEngine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <QFile>

#include "Convert.h"

namespace split {
namespace {

// The copy buffer: well below the 1048576-byte limit, small enough to stay in
// the processor's cache between the read and the write.
constexpr std::int64_t kCopyBuffer = 128 * 1024;

const QString kLocked = QStringLiteral(" !\r\nBecause a same name file is locked by other application.");

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

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// One run: the source, the template, the reporter and the copy buffer.
class Run {
 public:
  Run(const QString &source, const QString &outputTemplate, Reporter &reporter)
      : source_(source), template_(outputTemplate), reporter_(reporter) {}

  // Opens the source read-only; reports and returns false when it cannot.
  bool openSource() {
    in_ = std::make_unique<File>(::open(encoded(source_).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in_->isOpen() || ::fstat(in_->fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
      const QString reason = in_->isOpen() ? QStringLiteral("It is not a regular file.") : systemError();
      return refuse(QStringLiteral("Cannot open the source file: %1 !\r\n%2").arg(source_, reason));
    }
    size_ = st.st_size;
    sourceDevice_ = st.st_dev;
    sourceInode_ = st.st_ino;
    posix_fadvise(in_->fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
  }

  std::int64_t size() const { return size_; }

  bool refuse(const QString &message) {
    reporter_.fail(message);
    return false;
  }

  // Writes piece `track` from the source's bytes [offset, offset + length).
  // Reports and returns false when the piece cannot be created or written.
  bool writePiece(std::int64_t track, std::int64_t offset, std::int64_t length, const QString &createPrefix) {
    const QString name = pieceName(template_, track);
    File out(create(name));
    if (!out.isOpen()) return refuse(createPrefix + name + kLocked);
    if (!copy(out.fd(), offset, length) || !out.close()) {
      const QString reason = systemError();
      return refuse(QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, reason));
    }
    outcome_.pieces << name;
    reporter_.pieceWritten(name);
    return true;
  }

  Outcome finish() {
    outcome_.completed = true;
    return outcome_;
  }
  Outcome stopped() const { return outcome_; }
  Reporter &reporter() { return reporter_; }

 private:
  // Creates the piece anew; never the source itself.
  int create(const QString &name) {
    const QByteArray path = encoded(name);
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && st.st_dev == sourceDevice_ && st.st_ino == sourceInode_) {
      errno = EEXIST;
      return -1;
    }
    // Held exclusively while written: a piece that another program holds
    // locked is not touched.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }

  // Copies what exists of the range; a short source writes only its bytes.
  bool copy(int out, std::int64_t offset, std::int64_t length) {
    if (offset >= size_ || length <= 0) return true;
    length = std::min(length, size_ - offset);
    if (buffer_.size() < static_cast<std::size_t>(std::min(length, kCopyBuffer)))
      buffer_.resize(static_cast<std::size_t>(std::min(std::max(length, std::int64_t{65536}), kCopyBuffer)));
    if (readPos_ != offset) {
      if (::lseek(in_->fd(), offset, SEEK_SET) < 0) return false;
      readPos_ = offset;
    }
    while (length > 0) {
      const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length, buffer_.size()));
      const ssize_t got = ::read(in_->fd(), buffer_.data(), want);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) return true;  // the file ended early
      readPos_ += got;
      length -= got;
      for (ssize_t done = 0; done < got;) {
        const ssize_t put = ::write(out, buffer_.data() + done, static_cast<std::size_t>(got - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
          if (put == 0) errno = EIO;
          return false;
        }
        done += put;
      }
    }
    return true;
  }

  QString source_;
  QString template_;
  Reporter &reporter_;
  std::unique_ptr<File> in_;
  std::vector<char> buffer_;
  std::int64_t size_ = 0;
  std::int64_t readPos_ = 0;
  dev_t sourceDevice_ = 0;
  ino_t sourceInode_ = 0;
  Outcome outcome_;
};

QString createPrefix(std::int64_t pieceSize) {
  return pieceSize <= kBlock ? QStringLiteral("Cannot create file: ") : QStringLiteral("Can not create file: ");
}

// Consecutive pieces of pieceSize bytes from the start, then the tail.
Outcome splitFixed(Run &run, std::int64_t pieceSize) {
  const std::int64_t size = run.size();
  const std::int64_t tail = size % pieceSize;
  const std::int64_t count = (size - tail) / pieceSize;
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
    run.refuse(QStringLiteral("The size of the parts must be a whole number of kilobytes, not \"%1\".").arg(sizeText));
    return {};
  }
  if (kilobytes <= 0) {
    run.refuse(QStringLiteral("The size of the parts must be at least 1 KB."));
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
    run.refuse(QStringLiteral("The length of the parts must be a number of seconds, not \"%1\".").arg(lengthText));
    return {};
  }
  if (totalTimeMs <= 0) {
    run.refuse(QStringLiteral("Cannot split %1 by time: its playing time is 0.").arg(source));
    return {};
  }
  const double exact = static_cast<double>(run.size()) * milliseconds / static_cast<double>(totalTimeMs);
  if (!(exact >= 1) || !std::isfinite(exact)) {
    run.refuse(QStringLiteral("Parts of %1 seconds would hold no whole byte of %2.").arg(lengthText, source));
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
      run.refuse(QStringLiteral("The breakpoint %1 lies before the start of the file.").arg(item));
      return {};
    }
    bool ok = false;
    const std::int64_t value = item.toLongLong(&ok);
    if (!isFrameNumber(item) || !ok) {
      run.refuse(QStringLiteral("The breakpoint \"%1\" is not a frame number.").arg(item));
      return {};
    }
    if (!points.empty() && value <= points.back()) {
      run.refuse(QStringLiteral("The breakpoints must rise: %1 follows %2.").arg(value).arg(points.back()));
      return {};
    }
    points.push_back(value);
  }
  if (frames <= 0) {
    run.refuse(QStringLiteral("Cannot split %1 at frames: its frame count is 0.").arg(source));
    return {};
  }
  if (!run.openSource()) return {};
  const double size = static_cast<double>(run.size());
  auto offsetOf = [&](std::int64_t frame) {
    return static_cast<std::int64_t>(size * static_cast<double>(frame) / static_cast<double>(frames));
  };
  run.reporter().start(static_cast<std::int64_t>(points.size()) - 1);
  for (std::size_t i = 1; i < points.size(); ++i) {
    const std::int64_t start = offsetOf(points[i - 1]);
    const std::int64_t end = offsetOf(points[i]);
    if (!run.writePiece(static_cast<std::int64_t>(i), start, end - start, QStringLiteral("Cannot create the file: ")))
      return run.stopped();
    run.reporter().step();
  }
  return run.finish();
}

QString joinCommand(const QStringList &pieces, const QString &joinName) {
  auto quoted = [](const QString &name) {
    static const QString special = QStringLiteral(" &|<>^()%!,;=");
    const bool needs = std::any_of(name.begin(), name.end(), [](QChar c) { return special.contains(c); });
    return needs ? u'"' + name + u'"' : name;
  };
  QStringList names;
  for (const QString &piece : pieces) names << quoted(fileNamePart(piece));
  return QStringLiteral("copy /b ") + names.join(u'+') + u' ' + quoted(joinName + QStringLiteral(".mp3"));
}

bool writeJoinBatch(const QStringList &pieces, const QString &joinName) {
  QFile batch(QStringLiteral("Join_") + joinName + QStringLiteral(".bat"));
  if (!batch.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QByteArray line = joinCommand(pieces, joinName).toLocal8Bit();
  return batch.write(line) == line.size() && batch.flush();
}

}  // namespace split
