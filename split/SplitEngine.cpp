#include "SplitEngine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <variant>
#include <vector>

#include "Convert.h"
#include "ExactPlan.h"
#include "FileName.h"
#include "Id3.h"
#include "InfoFrame.h"

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
  // inode) is the source, which the final name must not replace. The file
  // is made with `mode`, less the umask.
  bool open(const QByteArray &finalName, std::pair<dev_t, ino_t> avoid = {}, mode_t mode = 0666) {
    final_ = finalName;
    struct stat st {};
    if (::stat(final_.constData(), &st) == 0) {
      if (std::pair(st.st_dev, st.st_ino) == avoid) {
        isSource_ = true;
        return failWith(EEXIST);
      }
      if (S_ISDIR(st.st_mode)) return failWith(EISDIR);
      // A FIFO, device or socket is no file to replace (as root, a rename
      // would put a file in the place of /dev/null or /dev/stdout).
      if (!S_ISREG(st.st_mode)) {
        notRegular_ = st.st_mode;
        return failWith(EEXIST);
      }
      // A file that could not be opened for writing is not replaced either.
      if (::access(final_.constData(), W_OK) != 0) return false;
      existed_ = true;
      lock_.reset(::open(final_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      if (lock_.isOpen() && (::flock(lock_.fd(), LOCK_EX | LOCK_NB) != 0 || hasRecordLock(lock_.fd()))) return false;
    } else if (errno != ENOENT) {
      return false;  // a name too long, a folder that is a file: said before any byte is copied
    }
    static std::atomic<unsigned> serial{0};
    static const QByteArray process = QByteArray::number(::getpid());  // a run never forks
    for (int attempt = 0; attempt < 100; ++attempt) {
      const QByteArray temp =
          folderOf(final_) + ".tranchette-" + process + '-' + QByteArray::number(serial++) + ".part";
      const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
  // Why open() or commit() failed, for a message's last line: what stands
  // under the final name, or the system's reason.
  QString whyNot(int error) const {
    if (isSource_) return QStringLiteral("It is the source file.");
    if (notRegular_) return QStringLiteral("It is %1, not a regular file.").arg(kindOf(notRegular_));
    return systemError(error);
  }
  // The same in the words of a brief message ("cannot create it: ...").
  QString whyNotBriefly(int error) const {
    if (!isSource_ && !notRegular_) return systemError(error);
    QString why = whyNot(error);
    why[0] = why[0].toLower();
    why.chop(1);
    return why;
  }
  // Sets aside the disk space of the file's first `bytes` where the file
  // system can: a copy into space set aside goes a tenth quicker than one
  // that grows the file block by block. Where it cannot, the writing itself
  // finds whether the space is there. What the file does not fill is given
  // back when it is closed.
  void reserve(std::int64_t bytes) {
    if (bytes > reserved_ && ::fallocate(out_.fd(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0)
      reserved_ = bytes;
  }
  void setMode(mode_t mode) { ::fchmod(out_.fd(), mode); }
  // Whether a file under the final name is held open until commit().
  bool holdsSameNamed() const { return lock_.isOpen(); }

  // Closes the file, keeping it under its temporary name; false with errno set.
  bool close() {
    releaseSpare();  // where some spare space stays taken, the file is whole all the same
    return out_.close();
  }
  // Writes `bytes` at `offset` of the file once closed; false with errno set.
  bool rewrite(const std::vector<unsigned char> &bytes, off_t offset) {
    File file(::open(temp_.constData(), O_WRONLY | O_CLOEXEC));
    return file.isOpen() &&
           ::pwrite(file.fd(), bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size()) &&
           file.close();
  }
  // Closes the file and puts it under its final name; false with errno set.
  // A name that was free when the file began is taken only if it still is,
  // or holds a regular file: what another program put there meanwhile is
  // looked at as open() looks.
  bool commit() {
    if (!close()) return false;
    if (!existed_ && ::renameat2(AT_FDCWD, temp_.constData(), AT_FDCWD, final_.constData(), RENAME_NOREPLACE) == 0)
      return temp_.clear(), true;
    struct stat st {};
    if (!existed_ && errno == EEXIST && ::stat(final_.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
      notRegular_ = st.st_mode;
      return failWith(EEXIST);
    }
    if (::rename(temp_.constData(), final_.constData()) != 0) return false;  // also where renameat2 is not had
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
  // Gives back the space set aside past the file's end; false where it stays.
  bool releaseSpare() {
    const std::int64_t reserved = std::exchange(reserved_, 0);
    struct stat st {};
    return !out_.isOpen() || reserved == 0 || ::fstat(out_.fd(), &st) != 0 || reserved <= st.st_size ||
           ::ftruncate(out_.fd(), st.st_size) == 0;
  }
  QByteArray final_, temp_;
  std::int64_t reserved_ = 0;
  mode_t notRegular_ = 0;  // of what stands under the final name, where it is no regular file
  bool isSource_ = false;  // the final name is the source's
  bool existed_ = false;   // a file stood under the final name at open()
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

bool writeBytes(int fd, const std::vector<unsigned char> &bytes) {
  return writeAll(fd, reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

// What a piece holds: bytes made for it, a range of the source, bytes made
// for it.
struct PieceParts {
  std::vector<unsigned char> head;
  std::int64_t offset = 0, length = 0;
  std::vector<unsigned char> tail;
};

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
    // Who may read the pieces: no one the source keeps out.
    pieceMode_ = 0600 | (st.st_mode & 0066);
    posix_fadvise(in_.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
  }

  std::int64_t size() const { return size_; }
  void setTotal(std::int64_t bytes) { total_ = bytes; }

  bool refuse(const Message &message) {
    if (quiet_) return false;
    if (dropFirst_) std::exchange(dropFirst_, nullptr)();
    reporter_.fail(message);
    return false;
  }
  // Until it is set again, `drop` lets go of the temporaries written ahead
  // before a failure is told: none is left while the user reads why.
  // Returns what it was before.
  std::function<void()> dropBeforeFailure(std::function<void()> drop) {
    return std::exchange(dropFirst_, std::move(drop));
  }
  // While quiet, failures are not told: work done ahead of its time that
  // will be done again, and fail again, in its turn.
  void setQuiet(bool quiet) { quiet_ = quiet; }
  // Progress from here on: `done` of `total` bytes, told at once.
  void restartProgress(std::int64_t done, std::int64_t total) {
    done_ = done;
    total_ = total;
    reporter_.bytesCopied(done_, total_);
  }

  // Writes piece `track` from the source's bytes [offset, offset + length),
  // all of which lie in the file as it was opened. Reports and returns false
  // when the piece cannot be created or completed; then nothing of it stays.
  bool writePiece(std::int64_t track, std::int64_t offset, std::int64_t length, const QString &createPrefix) {
    PieceParts parts;
    parts.offset = offset;
    parts.length = length;
    return writePiece(track, parts, createPrefix);
  }

  bool writePiece(std::int64_t track, const PieceParts &parts, const QString &createPrefix) {
    const auto piece = write(track, parts, createPrefix);
    return piece && commit(track, *piece);
  }

  // Writes piece `track` under its temporary name and closes it; reports and
  // returns nothing when it cannot.
  std::unique_ptr<PendingFile> write(std::int64_t track, std::int64_t offset, std::int64_t length,
                                     const QString &createPrefix) {
    PieceParts parts;
    parts.offset = offset;
    parts.length = length;
    return write(track, parts, createPrefix);
  }

  std::unique_ptr<PendingFile> write(std::int64_t track, const PieceParts &parts, const QString &createPrefix) {
    auto piece = create(track, createPrefix);
    if (piece && !fill(*piece, parts)) {
      const int error = errno;
      piece.reset();  // its temporary goes before the user hears why
      const QString name = pieceName(template_, track);
      if (fault_ == Fault::none)
        refuseWrite(name, error);
      else
        refuseCopy(name);
      return nullptr;
    }
    return piece;
  }

  // Makes piece `track` under its temporary name, empty; reports and
  // returns nothing when it cannot.
  std::unique_ptr<PendingFile> create(std::int64_t track, const QString &createPrefix) {
    const QString name = pieceName(template_, track);
    auto piece = std::make_unique<PendingFile>();
    if (!piece->open(encodeFileName(name), sourceId_, pieceMode_)) {
      const int error = errno;
      const bool locked = error == EWOULDBLOCK;
      refuse({name, createPrefix + name + kLocked + QStringLiteral("\r\n") + piece->whyNot(error),
              locked ? QStringLiteral("cannot create it: another program holds it locked")
                     : QStringLiteral("cannot create it: %1").arg(piece->whyNotBriefly(error))});
      return nullptr;
    }
    return piece;
  }

  // Adds bytes of the source read elsewhere to a piece that create() made,
  // as copied; false with errno set.
  bool append(PendingFile &piece, const unsigned char *bytes, std::size_t size) {
    if (!writeAll(piece.fd(), reinterpret_cast<const char *>(bytes), size)) return false;
    done_ += static_cast<std::int64_t>(size);
    reporter_.bytesCopied(done_, total_);
    return true;
  }

  // A stop asked for while the source was read for its facts: piece
  // `track`, where there is one, was not complete.
  bool stoppedAt(std::optional<std::int64_t> track) {
    fault_ = Fault::stop;
    if (track) return refuseCopy(pieceName(template_, *track));
    return refuse({source_, QStringLiteral("The split was stopped while %1 was read.").arg(source_),
                   QStringLiteral("stopped while it was read")});
  }

  // Whether another program has cut the source short since it was opened,
  // as it was read for what to cut: pieces laid out on its size at the
  // start would be wrong, or never complete. Then the user is told.
  bool shrank() {
    struct stat st {};
    if (::fstat(in_.fd(), &st) != 0 || st.st_size >= size_) return false;
    refuse(sourceEnded(st.st_size, QString()));
    return true;
  }

  // Puts a piece that write() made under its final name.
  bool commit(std::int64_t track, PendingFile &piece) {
    const QString name = pieceName(template_, track);
    if (!piece.commit()) {
      const int error = errno;
      return refuse({name, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, piece.whyNot(error)),
                     QStringLiteral("cannot write it: %1").arg(piece.whyNotBriefly(error))});
    }
    outcome_.pieces << name;
    reporter_.pieceWritten(name);
    return true;
  }

  int fd() const { return in_.fd(); }
  const QString &source() const { return source_; }
  const QString &templateText() const { return template_; }

  Outcome finish() {
    outcome_.completed = true;
    return outcome_;
  }
  Outcome stopped() const { return outcome_; }
  Outcome &outcome() { return outcome_; }
  Reporter &reporter() { return reporter_; }

 private:
  enum class Fault { none, sourceEnded, read, write, stop };

  // Writes the piece's bytes and closes it; false with errno set, or with
  // fault_ set where the copy failed.
  bool fill(PendingFile &piece, const PieceParts &parts) {
    fault_ = Fault::none;
    piece.reserve(static_cast<std::int64_t>(parts.head.size() + parts.tail.size()) + parts.length);
    if (!writeBytes(piece.fd(), parts.head)) return false;
    if (!copy(piece.fd(), parts.offset, parts.length)) return false;
    if (!writeBytes(piece.fd(), parts.tail)) return false;
    return piece.close();
  }

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
      case Fault::sourceEnded: return refuse(sourceEnded(faultAt_, name));
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

  // The source ended at byte `at`, short of its size at the start; `name`,
  // if any, is the piece that was not written for it.
  Message sourceEnded(std::int64_t at, const QString &name) const {
    const QString text = QStringLiteral("It ended at byte %1 of the %2 it had when the split began").arg(at).arg(size_);
    const QString reason =
        QStringLiteral("the file ended at byte %1 of the %2 it had when the split began (it shrank while being read)")
            .arg(at)
            .arg(size_);
    if (name.isEmpty())
      return {source_, QStringLiteral("Cannot read the source file: %1 !\r\n%2.").arg(source_, text), reason};
    return {source_,
            QStringLiteral("Cannot read the source file: %1 !\r\n%2; %3 was not written.").arg(source_, text, name),
            QStringLiteral("%1; %2 was not written").arg(reason, name)};
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
  mode_t pieceMode_ = 0666;
  Fault fault_ = Fault::none;
  std::int64_t faultAt_ = 0;
  int faultErrno_ = 0;
  Outcome outcome_;
  bool quiet_ = false;
  std::function<void()> dropFirst_;
};

// While it lives, the run lets go of what `drop` holds before it tells a
// failure.
class DropBeforeFailure {
 public:
  DropBeforeFailure(Run &run, std::function<void()> drop)
      : run_(run), before_(run.dropBeforeFailure(std::move(drop))) {}
  DropBeforeFailure(const DropBeforeFailure &) = delete;
  DropBeforeFailure &operator=(const DropBeforeFailure &) = delete;
  ~DropBeforeFailure() { run_.dropBeforeFailure(std::move(before_)); }

 private:
  Run &run_;
  std::function<void()> before_;
};

QString createPrefix(std::int64_t pieceSize) {
  return pieceSize <= kBlock ? QStringLiteral("Cannot create file: ") : QStringLiteral("Can not create file: ");
}

Message parameterError(const QString &text) { return {QString(), text, text}; }

// A proportional split's pieces: ranges of the source in track order, made
// as they are wanted (a file of gigabytes may be cut into millions), and
// their bytes all told.
struct Range {
  std::int64_t offset = 0, length = 0;  // a piece of no byte is not written
  QString createPrefix;
};
struct Layout {
  std::int64_t count = 0, bytes = 0;
  std::function<Range(std::int64_t track)> piece;
  std::int64_t steps = count;  // of the bar: pieces 1 to `steps` take one step each
};
// A layout, or why the split cannot be made.
using Plan = std::variant<Layout, Message>;

// Consecutive pieces of pieceSize bytes from the start, then the tail. A
// tail shorter than `joinTailBelow` bytes (less than one frame of sound)
// goes into the piece before it instead of a piece of its own.
Layout fixedLayout(std::int64_t size, std::int64_t pieceSize, std::int64_t joinTailBelow = 0) {
  const std::int64_t count = size / pieceSize;
  const std::int64_t tail = size % pieceSize;
  if (count > 0 && tail > 0 && tail < joinTailBelow)
    return {count, size, [=](std::int64_t track) {
              const std::int64_t length = track < count ? pieceSize : pieceSize + tail;
              return Range{(track - 1) * pieceSize, length, createPrefix(pieceSize)};
            }};
  return {count + (tail != 0 ? 1 : 0), size,
          [=](std::int64_t track) {
            if (track <= count) return Range{(track - 1) * pieceSize, pieceSize, createPrefix(pieceSize)};
            return Range{count * pieceSize, tail, QStringLiteral("Can not create file: ")};
          },
          count};  // the tail takes no step of the bar
}

// How many pieces a split copies ahead of its facts at most, and how many
// of them may hold a same-named file open until they are confirmed.
constexpr std::size_t kMaxAhead = 16384;
constexpr std::size_t kMaxHeldAhead = 256;

// Raised through a measurement to end it when a stop is asked for.
struct Stopped {};

// Pieces written ahead of the fact, by track, with the range each holds.
using Ahead = std::map<std::int64_t, std::pair<Range, std::unique_ptr<PendingFile>>>;

// Writes the bytes of the source, as a measurement of its fact reads them,
// into the pieces of a guessed layout, under temporary names. Gives up at
// the first piece that fails (quietly: it is written again, and fails again,
// in its turn) or where the bytes do not come in order.
class CopyAsRead {
 public:
  CopyAsRead(Run &run, const Layout *guessed) : run_(run), layout_(guessed) {}

  void operator()(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    if (offset != seen_) layout_ = nullptr;
    seen_ = offset + static_cast<std::int64_t>(size);
    while (layout_ && track_ <= layout_->count && ahead_.size() < kMaxAhead && held_ < kMaxHeldAhead) {
      if (!piece_) {
        range_ = layout_->piece(track_);
        if (range_.length == 0) {
          ++track_;
          continue;
        }
        if (range_.offset >= seen_) return;
        if (range_.offset < offset || !(piece_ = run_.create(track_, range_.createPrefix))) break;
        piece_->reserve(range_.length);
        written_ = 0;
      }
      const std::int64_t from = range_.offset + written_;
      const std::int64_t length = std::min(range_.length - written_, seen_ - from);
      if (!run_.append(*piece_, bytes + (from - offset), static_cast<std::size_t>(length))) break;
      written_ += length;
      if (written_ < range_.length) return;
      if (!piece_->close()) break;
      held_ += piece_->holdsSameNamed() ? 1 : 0;
      ahead_.emplace(track_++, std::pair(range_, std::move(piece_)));
    }
    layout_ = nullptr;
    piece_.reset();
  }

  // Whether it still writes what it is given.
  bool writes() const { return layout_ != nullptr; }
  // The piece being written, if any, and the pieces complete.
  std::optional<std::int64_t> track() const { return piece_ ? std::optional(track_) : std::nullopt; }
  Ahead take() { return std::move(ahead_); }

 private:
  Run &run_;
  const Layout *layout_;
  std::int64_t seen_ = 0;
  std::int64_t track_ = 1;
  Range range_;
  std::unique_ptr<PendingFile> piece_;
  std::int64_t written_ = 0;
  Ahead ahead_;
  std::size_t held_ = 0;  // of the pieces ahead, those holding a same-named file
};

// The bytes that a measurement reads on its thread, copied for the split's
// thread to write meanwhile: reading and writing go on at once. A few
// blocks go round; the reading waits for a free one.
class BytesBetween {
 public:
  // Without `wanted`, nothing is copied; stops are still heard.
  explicit BytesBetween(bool wanted) : wanted_(wanted) {}

  struct Block {
    std::int64_t offset = 0;
    std::vector<unsigned char> bytes;
  };

  // On the measuring thread. Raises Stopped where a stop is asked for.
  void put(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopAsked || !wanted_ || !free_.empty() || made_ < kBlocks; });
    if (stopAsked) throw Stopped();
    if (!wanted_) return;
    Block block;
    if (free_.empty()) {
      ++made_;
    } else {
      block = std::move(free_.back());
      free_.pop_back();
    }
    lock.unlock();
    block.offset = offset;
    block.bytes.assign(bytes, bytes + size);
    lock.lock();
    full_.push_back(std::move(block));
    changed_.notify_all();
  }
  // On the measuring thread: nothing more comes.
  void end() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  // On the split's thread: the next block, or nothing at the end.
  std::optional<Block> take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !full_.empty() || ended_; });
    if (full_.empty()) return std::nullopt;
    Block block = std::move(full_.front());
    full_.pop_front();
    return block;
  }
  // A block written, to be filled again; or, with `wanted` false, no more
  // bytes are wanted.
  void giveBack(Block &&block, bool wanted) {
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(block));
    wanted_ = wanted;
    changed_.notify_all();
  }

 private:
  // Enough for either thread to run a few blocks ahead of the other when
  // the system holds it back for a moment: with four, exact cuts of 1 MB
  // took a tenth longer. Eight reads of 512 KB: 4 MB.
  static constexpr std::size_t kBlocks = 8;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> full_;
  std::vector<Block> free_;
  std::size_t made_ = 0;
  bool wanted_, ended_ = false;
};

// Writes the pieces of the layout that the fact gives, naming those of no
// byte in `empty`. A fact to be measured is measured here, and the bytes it
// reads go to the pieces of its guess's layout meanwhile; the fact then
// keeps those it lays out alike. Returns the fact, or nothing when the run
// failed (and said why).
std::optional<std::int64_t> writeLayout(Run &run, const Fact &fact, const std::function<Plan(std::int64_t)> &planOf,
                                        QStringList &empty) {
  FactValue value = fact.known;
  Ahead ahead;
  bool stopped = false;
  std::optional<std::int64_t> unfinished;  // the piece being copied ahead when a stop came
  if (fact.measure) {
    const Plan guessed = fact.guess > 0 ? planOf(fact.guess) : Plan(Message());
    const auto *layout = std::get_if<Layout>(&guessed);
    if (layout) run.setTotal(layout->bytes);
    CopyAsRead copier(run, layout);
    BytesBetween between(layout != nullptr);
    std::thread measuring([&] {
      try {
        value = fact.measure(run.fd(), [&](std::int64_t offset, const unsigned char *bytes, std::size_t size) {
          between.put(offset, bytes, size);
        });
      } catch (const Stopped &) {
        stopped = true;
      } catch (const std::exception &e) {
        const QString why = QString::fromLocal8Bit(e.what());
        value = Message{run.source(), run.source() + QStringLiteral(": ") + why, why};
      }
      between.end();
    });
    run.setQuiet(true);  // what fails here fails again in its turn, and is told then
    while (auto block = between.take()) {
      if (copier.writes()) copier(block->offset, block->bytes.data(), block->bytes.size());
      between.giveBack(std::move(*block), copier.writes());
    }
    measuring.join();
    run.setQuiet(false);
    unfinished = copier.track();
    ahead = copier.take();
  }  // the piece it was copying, if any, goes with it

  // What was written ahead goes before the user hears why it is not kept.
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  if (stopped) return run.stoppedAt(unfinished), std::nullopt;
  if (fact.measure && run.shrank()) return std::nullopt;
  if (const auto *why = std::get_if<Message>(&value)) return run.refuse(*why), std::nullopt;
  const std::int64_t known = std::get<std::int64_t>(value);
  const Plan plan = planOf(known);
  if (const auto *why = std::get_if<Message>(&plan)) return run.refuse(*why), std::nullopt;
  const Layout &layout = std::get<Layout>(plan);
  std::int64_t kept = 0;
  for (auto it = ahead.begin(); it != ahead.end();) {
    const Range &wrote = it->second.first;
    const Range range = it->first <= layout.count ? layout.piece(it->first) : Range{};
    if (range.offset == wrote.offset && range.length == wrote.length) {
      kept += range.length;
      ++it;
    } else {
      it = ahead.erase(it);
    }
  }
  run.reporter().start(layout.steps);
  run.restartProgress(kept, layout.bytes);
  for (std::int64_t track = 1; track <= layout.count; ++track) {
    const Range range = layout.piece(track);
    const auto early = ahead.find(track);
    if (range.length == 0)
      empty << pieceName(run.templateText(), track);
    else if (early != ahead.end() ? !run.commit(track, *early->second.second)
                                  : !run.writePiece(track, range.offset, range.length, range.createPrefix))
      return std::nullopt;
    if (track <= layout.steps) run.reporter().step();
  }
  return known;
}

// The end of a split at breakpoints: what was past the end and what was not
// written, told to the user.
Outcome finishBreakpoints(Run &run, const QString &source, std::int64_t frames, const std::vector<std::int64_t> &points,
                          const QStringList &empty) {
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

// Exact cuts: pieces on the source's frames that know their own length and
// play gaplessly one after the other (ExactPlan.h says how).

// What an exact piece says of itself, after the LAME tag in its Info frame
// (Layers I and II: in a PRIV frame of its ID3v2 tag), so that a join can
// check and undo the cut.
struct Mark {
  int carriers = 0;        // frames made for it come before its first real frame
  bool untrimmed = false;  // the source had no gapless tag
  std::uint32_t piece = 0, count = 0;
  std::uint64_t source = 0;  // identifies the source's audio
  std::int64_t first = 0;    // the source frame its first real frame is
  int id3v1Track = 0;        // the source's own track numbers
  std::string track;
  std::uint32_t id3v2Size = 0;  // the size of the source's ID3v2 tag
  std::string length;           // the source's TLEN, where the piece's tag holds its own
};

constexpr std::size_t kMarkSize = 72;
const std::string kMarkOwner = "tranchette";
constexpr unsigned char kMarkMagic[4] = {'T', 'c', 'u', 't'};

void putBig(std::vector<unsigned char> &out, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
std::uint64_t getBig(const unsigned char *p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

std::vector<unsigned char> encodeMark(const Mark &m) {
  std::vector<unsigned char> out(std::begin(kMarkMagic), std::end(kMarkMagic));
  out.push_back(1);  // the mark's version
  out.push_back(static_cast<unsigned char>((m.carriers << 2) | (m.untrimmed ? 2 : 0) | (m.length.empty() ? 0 : 1)));
  putBig(out, m.piece, 4);
  putBig(out, m.count, 4);
  putBig(out, m.source, 8);
  putBig(out, static_cast<std::uint64_t>(m.first), 8);
  out.push_back(static_cast<unsigned char>(m.id3v1Track));
  putBig(out, m.id3v2Size, 4);
  const std::size_t lengthBytes = m.length.empty() ? 0 : 1 + m.length.size();
  const std::string track = m.track.substr(0, kMarkSize - out.size() - 1 - lengthBytes);
  out.push_back(static_cast<unsigned char>(track.size()));
  out.insert(out.end(), track.begin(), track.end());
  if (lengthBytes > 0) {
    out.push_back(static_cast<unsigned char>(m.length.size()));
    out.insert(out.end(), m.length.begin(), m.length.end());
  }
  out.resize(kMarkSize, 0);
  return out;
}

std::optional<Mark> decodeMark(const std::vector<unsigned char> &b) {
  if (b.size() != kMarkSize || !std::equal(std::begin(kMarkMagic), std::end(kMarkMagic), b.begin()) || b[4] != 1)
    return std::nullopt;
  Mark m;
  m.carriers = b[5] >> 2;
  m.untrimmed = b[5] & 2;
  m.piece = static_cast<std::uint32_t>(getBig(&b[6], 4));
  m.count = static_cast<std::uint32_t>(getBig(&b[10], 4));
  m.source = getBig(&b[14], 8);
  m.first = static_cast<std::int64_t>(getBig(&b[22], 8));
  m.id3v1Track = b[30];
  m.id3v2Size = static_cast<std::uint32_t>(getBig(&b[31], 4));
  const std::size_t length = std::min<std::size_t>(b[35], kMarkSize - 36);
  m.track.assign(reinterpret_cast<const char *>(&b[36]), length);
  if ((b[5] & 1) && 37 + length <= kMarkSize) {
    const std::size_t at = 36 + length;
    m.length.assign(reinterpret_cast<const char *>(&b[at + 1]), std::min<std::size_t>(b[at], kMarkSize - at - 1));
  }
  return m;
}

// A stream read for exact cuts or a join: every frame's offset and the tags.
struct MpegFile {
  exact::Layout layout;
  mpeg::Bytes id3v2, id3v1;
  unsigned char header[4] = {};  // the first audio frame's
  mpeg::Bytes firstFrame;        // the tag frame where there is one, else the first audio frame
};

// Reads the tags and first frames of `stream` from the file; false with
// errno set when they cannot be read.
bool completeMpegFile(int fd, const mpeg::Stream &stream, MpegFile &file) {
  file.layout.stream = stream;
  file.id3v2.resize(static_cast<std::size_t>(stream.tagEnd));
  file.id3v1.resize(stream.id3v1 ? 128 : 0);
  file.firstFrame.resize(static_cast<std::size_t>(stream.first.size));
  return mpeg::readAt(fd, file.id3v2.data(), file.id3v2.size(), 0) &&
         mpeg::readAt(fd, file.id3v1.data(), file.id3v1.size(), stream.audioEnd + stream.apeTag) &&
         mpeg::readAt(fd, file.firstFrame.data(), file.firstFrame.size(), stream.firstFrame) &&
         mpeg::readAt(fd, file.header, 4, stream.audioStart);
}

// Walks the open file from its start; false when it is not a plain stream
// (errno 0) or cannot be read (errno set). `onFrame(index, offset)` hears of
// every audio frame as the walk passes it, `onBytes` of every byte it reads.
bool readMpegFile(int fd, MpegFile &file, const std::function<void(std::int64_t, std::int64_t)> &onFrame = {},
                  const mpeg::BytesRead &onBytes = {}) {
  file = MpegFile();
  errno = 0;
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  std::vector<std::int64_t> &offsets = file.layout.offsets;
  std::optional<mpeg::Stream> stream;
  try {
    stream = mpeg::walk(
        fd,
        [&](std::int64_t index, std::int64_t offset) {
          offsets.push_back(offset);
          if (onFrame) onFrame(index, offset);
        },
        true, onBytes);
  } catch (const mpeg::ReadError &) {
    return false;
  }
  // A tag that counts other frames than the stream holds is read
  // differently by every decoder.
  if (!stream || (stream->info.frames != 0 && stream->info.frames != stream->frames)) return false;
  offsets.push_back(stream->audioEnd);
  return completeMpegFile(fd, *stream, file);
}

// The source as its first frame and its size suggest (mpeg::estimate), with
// room for the offsets of the frames guessed, all yet unknown.
std::optional<MpegFile> guessMpegFile(int fd) {
  const auto stream = mpeg::estimate(fd);
  MpegFile file;
  if (!stream || !completeMpegFile(fd, *stream, file)) return std::nullopt;
  file.layout.offsets.assign(static_cast<std::size_t>(stream->frames) + 1, 0);
  return file;
}

// Whether a guessed source has the walked one's tags and first frames: then
// a piece of the same frames is the same but for what its head says of the
// whole (the number of pieces, the source's identity).
bool sameFrame(const MpegFile &guess, const MpegFile &real) {
  return guess.id3v2 == real.id3v2 && guess.id3v1 == real.id3v1 && guess.firstFrame == real.firstFrame &&
         std::equal(std::begin(guess.header), std::end(guess.header), std::begin(real.header)) &&
         (guess.layout.stream.trimBegin == 0) == (real.layout.stream.trimBegin == 0);
}

// An exact run's walk on a second thread. Where a guess at the source gave
// room for its offsets, they are filled in as the walk passes them, so that
// pieces can be written while the walk reads on; given `between`, the bytes
// it reads are handed over there.
class Walker {
 public:
  Walker(int fd, exact::Layout *guessed, BytesBetween *between = nullptr) : guessed_(guessed), between_(between) {
    thread_ = std::thread([this, fd] {
      bool read = false;
      try {
        read = readMpegFile(
            fd, file_, [this](std::int64_t index, std::int64_t offset) { passed(index, offset); },
            [this](std::int64_t offset, const unsigned char *bytes, std::size_t size) {
              handOver(offset, bytes, size);
            });
      } catch (const Stopped &) {
        errno = EINTR;
      }
      const int error = errno;
      std::int64_t known = 0;
      if (read && guessed_ && file_.layout.frames() == guessed_->frames()) {
        guessed_->offsets.back() = file_.layout.offsets.back();
        known = static_cast<std::int64_t>(guessed_->offsets.size());
      }
      {
        std::lock_guard lock(mutex_);
        read_ = read;
        error_ = error;
        ended_ = true;
        if (known > 0) known_.store(known, std::memory_order_release);
        changed_.notify_all();
      }
      if (between_) between_->end();
    });
  }
  Walker(const Walker &) = delete;
  Walker &operator=(const Walker &) = delete;
  ~Walker() {
    if (thread_.joinable()) thread_.join();
  }

  // How many of the guessed offsets are the walk's, without waiting.
  std::int64_t known() const { return known_.load(std::memory_order_acquire); }
  // Waits until the walk has found a frame that begins at `offset` or
  // later, or ended: then every frame before it that the guess has room for
  // is known, and its size.
  void waitPast(std::int64_t offset) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return walked_ >= offset || ended_; });
  }

  // Waits for the end of the walk; false (errno as readMpegFile sets it)
  // when the source is not a plain stream or cannot be read.
  bool result(MpegFile &file) {
    thread_.join();
    errno = error_;
    if (!read_) return false;
    file = std::move(file_);
    return true;
  }

 private:
  void passed(std::int64_t index, std::int64_t offset) {
    if (!guessed_) return;
    const auto room = guessed_->frames();  // the last place: where the last frame ends
    recorded_ = std::min(index + 1, room);
    if (index < room) guessed_->offsets[static_cast<std::size_t>(index)] = offset;
    lastPassed_ = offset;
    // Told at once where the bytes read last begin, before more are read,
    // and now and then.
    if (offset >= tellAt_ || (index & 1023) == 1023) {
      tellAt_ = INT64_MAX;
      publish(std::min(index + 1, room), offset);
    }
  }

  void handOver(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    if (!between_) return;
    if (lastPassed_ >= 0) publish(recorded_, lastPassed_);
    tellAt_ = offset;
    between_->put(offset, bytes, size);
  }

  void publish(std::int64_t known, std::int64_t walked) {
    std::lock_guard lock(mutex_);
    known_.store(known, std::memory_order_release);
    walked_ = walked;
    changed_.notify_all();
  }

  exact::Layout *guessed_;
  BytesBetween *between_;
  MpegFile file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<std::int64_t> known_{0};  // guessed offsets [0, known_) are the walk's
  std::int64_t walked_ = -1;            // where the last frame told of begins
  // On the walk's thread: frames recorded, where the last one begins, and
  // from where a frame is told at once.
  std::int64_t recorded_ = 0, lastPassed_ = -1, tellAt_ = INT64_MAX;
  bool ended_ = false, read_ = false;
  int error_ = 0;
  std::thread thread_;  // last: it starts once everything else is
};

// Identifies a source by its frame count, its audio's size and its first
// 64 KB of audio (FNV-1a).
std::uint64_t sourceIdOf(int fd, const mpeg::Stream &stream) {
  std::uint64_t h = 14695981039346656037ull;
  auto mix = [&h](std::uint64_t byte) { h = (h ^ byte) * 1099511628211ull; };
  const std::int64_t audio = stream.audioEnd - stream.audioStart;
  for (std::uint64_t v : {static_cast<std::uint64_t>(stream.frames), static_cast<std::uint64_t>(audio)})
    for (int i = 0; i < 8; ++i) mix((v >> (8 * i)) & 0xFF);
  std::vector<unsigned char> head(static_cast<std::size_t>(std::min<std::int64_t>(65536, audio)));
  if (mpeg::readAt(fd, head.data(), head.size(), stream.audioStart))
    for (unsigned char c : head) mix(c);
  return h;
}

// The Info frame of a piece of Layer III audio frames; `offsetOf(i)` is where
// audio frame i begins, counted from the Info frame's first byte.
template <typename OffsetOf>
std::vector<unsigned char> infoFrameFor(const unsigned char *header, std::int64_t frames, std::int64_t audioBytes,
                                        bool vbr, int delay, int padding, std::uint16_t crc,
                                        const std::vector<unsigned char> &extra, OffsetOf offsetOf) {
  mpeg::InfoFields f;
  f.vbr = vbr;
  f.frames = static_cast<std::uint32_t>(frames);
  f.delay = delay;
  f.padding = padding;
  f.musicCrc = crc;
  f.extra = extra;
  const auto size = static_cast<std::int64_t>(mpeg::makeInfoFrame(header, f).size());
  f.bytes = static_cast<std::uint32_t>(size + audioBytes);
  f.toc = mpeg::makeToc(frames, size + audioBytes, [&](std::int64_t i) { return size + offsetOf(i); });
  return mpeg::makeInfoFrame(header, f);
}

// The carrier frame before source frame `first`: the stream's header at the
// highest bitrate, no checksum, side information all zero (its granules
// decode to silence and read no main data), and at the end of its payload
// the main data bytes that come before frame `first`, as many as a frame's
// main_data_begin can reach back.
bool makeCarrier(int fd, const MpegFile &src, std::int64_t first, std::vector<unsigned char> &out) {
  mpeg::Header h;
  mpeg::parseHeader(src.header, h);
  const int size = mpeg::frameSizeAt(h, 14);
  out.assign(static_cast<std::size_t>(size), 0);
  mpeg::makeHeader(src.header, 14, out.data());
  const int room = size - 4 - mpeg::sideInfoSize(h);
  std::size_t want = static_cast<std::size_t>(std::min(room, mpeg::maxReservoir(h)));
  std::vector<unsigned char> frame;
  std::size_t end = out.size();
  for (std::int64_t j = first - 1; j >= 0 && want > 0; --j) {
    frame.resize(static_cast<std::size_t>(src.layout.frameSize(j)));
    mpeg::Header fh;
    if (!mpeg::readAt(fd, frame.data(), frame.size(), src.layout.offsets[static_cast<std::size_t>(j)])) return false;
    if (!mpeg::parseHeader(frame.data(), fh) || mpeg::mainDataOffset(fh) > fh.size) continue;
    const std::size_t area = frame.size() - static_cast<std::size_t>(mpeg::mainDataOffset(fh));
    const std::size_t take = std::min(area, want);
    std::copy(frame.end() - static_cast<std::ptrdiff_t>(take), frame.end(),
              out.begin() + static_cast<std::ptrdiff_t>(end - take));
    end -= take;
    want -= take;
  }
  return true;
}

// The CRC of the file's bytes [offset, offset + length); nothing with errno
// set when they cannot be read.
std::optional<std::uint16_t> crcOf(int fd, std::int64_t offset, std::int64_t length) {
  std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(length, kCopyBuffer)));
  mpeg::Crc16 crc;
  for (std::int64_t done = 0; done < length;) {
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(length - done, kCopyBuffer));
    if (!mpeg::readAt(fd, buffer.data(), size, offset + done)) return std::nullopt;
    crc.update(buffer.data(), size);
    done += static_cast<std::int64_t>(size);
  }
  return crc.value();
}

// Puts a Layer III piece's Info frame and carrier frames after its tag in
// `parts`; false with errno set when the source cannot be read.
// `frameSum`: the CRC of the piece's source frames, where known.
bool addInfoFrame(int fd, const MpegFile &src, const exact::Piece &p, const std::vector<unsigned char> &extra,
                  PieceParts &parts, std::optional<std::uint16_t> frameSum) {
  const exact::Layout &layout = src.layout;
  const auto &offsets = layout.offsets;
  std::vector<unsigned char> carrier;
  if (p.carriers > 0 && !makeCarrier(fd, src, p.first, carrier)) return false;
  std::int64_t smallest = INT64_MAX, largest = 0;
  for (std::int64_t i = p.first; i < p.end; ++i) {
    smallest = std::min(smallest, layout.frameSize(i));
    largest = std::max(largest, layout.frameSize(i));
  }
  const bool vbr = p.carriers > 0 || largest - smallest > 1;
  // The silent frames before the carrier: its header, and zeros.
  const std::int64_t carrierSize = static_cast<std::int64_t>(carrier.size());
  if (p.carriers > 1) {
    std::vector<unsigned char> silent(carrier.size(), 0);
    std::copy_n(carrier.begin(), 4, silent.begin());
    for (int i = 1; i < p.carriers; ++i) carrier.insert(carrier.begin(), silent.begin(), silent.end());
  }
  const std::int64_t frames = p.carriers + p.end - p.first;
  const std::int64_t audio = p.carriers * carrierSize + parts.length;
  const std::int64_t base = parts.offset;
  auto offsetOf = [&offsets, carrierSize, base, p](std::int64_t i) {
    if (i < p.carriers) return i * carrierSize;
    return p.carriers * carrierSize + offsets[static_cast<std::size_t>(p.first + i - p.carriers)] - base;
  };
  // The music's CRC: the carriers', then the source frames', as given or read.
  if (!frameSum && !(frameSum = crcOf(fd, parts.offset, parts.length))) return false;
  mpeg::Crc16 crc;
  crc.update(carrier.data(), carrier.size());
  const std::uint16_t music = mpeg::Crc16::combine(crc.value(), *frameSum, static_cast<std::uint64_t>(parts.length));
  const std::vector<unsigned char> info =
      infoFrameFor(src.header, frames, audio, vbr, p.delay, p.padding, music, extra, offsetOf);
  parts.head.insert(parts.head.end(), info.begin(), info.end());
  parts.head.insert(parts.head.end(), carrier.begin(), carrier.end());
  return true;
}

// Makes the parts of an exact run's pieces.
class ExactPieces {
 public:
  ExactPieces(int fd, const MpegFile &src, std::int64_t count)
      : fd_(fd),
        src_(src),
        count_(count),
        id_(sourceIdOf(fd, src.layout.stream)),
        sourceTrack_(mpeg::trackOf(src.id3v2)),
        sourceLength_(mpeg::lengthOf(src.id3v2)),
        sourceV1Track_(src.id3v1.empty() || src.id3v1[125] != 0 ? 0 : src.id3v1[126]) {}

  std::uint64_t id() const { return id_; }
  std::int64_t count() const { return count_; }

  // The parts of piece k, `p`; false with errno set when the source cannot
  // be read. `frameSum`: the CRC of its source frames, where known.
  bool partsOf(std::int64_t k, const exact::Piece &p, PieceParts &parts,
               std::optional<std::uint16_t> frameSum = std::nullopt) const {
    const exact::Layout &layout = src_.layout;
    const auto &offsets = layout.offsets;
    parts.head = tagOf(k);
    if (const std::string length = ownLength(p); !length.empty()) mpeg::setLength(parts.head, length);
    parts.offset = offsets[static_cast<std::size_t>(p.first)];
    parts.length = offsets[static_cast<std::size_t>(p.end)] - parts.offset;
    parts.tail = src_.id3v1;
    if (!parts.tail.empty()) mpeg::setTrack(parts.tail.data(), static_cast<int>(k));
    const std::vector<unsigned char> extra = markOf(k, p);
    // Layers I and II have no Info frame: their mark rides in the ID3v2 tag.
    if (!layout.layer3()) parts.head = mpeg::withPrivate(parts.head, kMarkOwner, extra);
    return !layout.layer3() || addInfoFrame(fd_, src_, p, extra, parts, frameSum);
  }

  // The size of partsOf's head, from where the piece begins alone.
  std::size_t headSize(std::int64_t k, const exact::Piece &p) const {
    const std::vector<unsigned char> extra = markOf(k, p);
    if (!src_.layout.layer3()) return mpeg::withPrivate(tagOf(k), kMarkOwner, extra).size();
    mpeg::Header h;
    mpeg::parseHeader(src_.header, h);
    return tagOf(k).size() + mpeg::makeInfoFrame(src_.header, mpeg::InfoFields{.extra = extra}).size() +
           static_cast<std::size_t>(p.carriers * mpeg::frameSizeAt(h, 14));
  }

 private:
  mpeg::Bytes tagOf(std::int64_t k) const {
    if (src_.id3v2.empty()) return {};
    return mpeg::withTrack(src_.id3v2, std::to_string(k) + '/' + std::to_string(count_));
  }

  // The piece's own TLEN, or "" where the source has none or it would take
  // more digits than the source's.
  std::string ownLength(const exact::Piece &p) const {
    if (sourceLength_.empty() || sourceLength_.size() > kMaxLengthDigits) return {};
    const auto rate = static_cast<double>(src_.layout.stream.first.rate);
    const std::string ms = std::to_string(std::llround(static_cast<double>(p.samples()) * 1000 / rate));
    return ms.size() <= sourceLength_.size() ? ms : std::string();
  }

  std::vector<unsigned char> markOf(std::int64_t k, const exact::Piece &p) const {
    Mark mark;
    mark.carriers = p.carriers;
    mark.untrimmed = src_.layout.stream.trimBegin == 0;
    mark.piece = static_cast<std::uint32_t>(k);
    mark.count = static_cast<std::uint32_t>(count_);
    mark.source = id_;
    mark.first = p.first;
    mark.id3v1Track = sourceV1Track_;
    mark.track = sourceTrack_;
    mark.id3v2Size = static_cast<std::uint32_t>(src_.id3v2.size());
    if (!ownLength(p).empty()) mark.length = sourceLength_;
    return encodeMark(mark);
  }

  static constexpr std::size_t kMaxLengthDigits = 15;  // the mark keeps them with room for the track
  int fd_;
  const MpegFile &src_;
  std::int64_t count_;
  std::uint64_t id_;
  std::string sourceTrack_;
  std::string sourceLength_;
  int sourceV1Track_;
};

// Writes the planned pieces of an exact run; those written `ahead`, by
// track, are only put under their final names.
Outcome writeExactPieces(Run &run, const MpegFile &src, const std::vector<exact::Piece> &pieces,
                         std::map<std::int64_t, std::unique_ptr<PendingFile>> ahead = {}) {
  const auto &offsets = src.layout.offsets;
  const std::int64_t count = static_cast<std::int64_t>(pieces.size());
  const ExactPieces maker(run.fd(), src, count);
  std::int64_t total = 0, done = 0;
  for (std::int64_t k = 1; k <= count; ++k) {
    const exact::Piece &p = pieces[static_cast<std::size_t>(k - 1)];
    const std::int64_t bytes = offsets[static_cast<std::size_t>(p.end)] - offsets[static_cast<std::size_t>(p.first)];
    total += bytes;
    if (ahead.count(k)) done += bytes;
  }
  run.reporter().start(count);
  run.restartProgress(done, total);
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  for (std::int64_t k = 1; k <= count; ++k) {
    const exact::Piece &p = pieces[static_cast<std::size_t>(k - 1)];
    if (p.samples() == 0) {
      run.outcome().skipped++;
    } else if (const auto early = ahead.find(k); early != ahead.end()) {
      if (!run.commit(k, *early->second)) return run.stopped();
    } else {
      PieceParts parts;
      if (!maker.partsOf(k, p, parts)) {
        const int error = errno;
        if (!run.shrank())
          run.refuse({run.source(),
                      QStringLiteral("Cannot read the source file: %1 !\r\n%2").arg(run.source(), systemError(error)),
                      QStringLiteral("cannot read it: %1").arg(systemError(error))});
        return run.stopped();
      }
      if (!run.writePiece(k, parts, createPrefix(parts.length))) return run.stopped();
    }
    run.reporter().step();
  }
  run.reporter().complete();
  return run.finish();
}

// Whether the first frame after the ID3v2 tag is of free format (bitrate
// index 0), which the frame walk does not take.
bool startsFreeFormat(int fd) {
  unsigned char b[10] = {};
  std::int64_t at = 0;
  if (mpeg::readAt(fd, b, 10, 0) && std::memcmp(b, "ID3", 3) == 0)
    at = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
  mpeg::Header h;
  return mpeg::readAt(fd, b, 4, at) && (b[2] >> 4) == 0 &&
         mpeg::parseHeader(std::array{b[0], b[1], static_cast<unsigned char>(b[2] | 0x10), b[3]}.data(), h);
}

// Tells why the source cannot be cut exactly, errno as readMpegFile left it.
void refuseExact(Run &run) {
  if (errno != 0) {
    run.refuse({run.source(),
                QStringLiteral("Cannot read the source file: %1 !\r\n%2").arg(run.source(), systemError(errno)),
                QStringLiteral("cannot read it: %1").arg(systemError(errno))});
  } else if (startsFreeFormat(run.fd())) {
    run.refuse({run.source(),
                QStringLiteral("Cannot cut %1 exactly: it is free format, whose frames exact cuts do not take. Split "
                               "it without exact cuts.")
                    .arg(run.source()),
                QStringLiteral("cannot cut it exactly: free format (split it without exact cuts)")});
  } else {
    run.refuse({run.source(),
                QStringLiteral("Cannot cut %1 exactly: it is not a plain MPEG audio stream (something other than "
                               "frames of one format between its tags, such as a damaged frame or a change of format). "
                               "Split it without exact cuts.")
                    .arg(run.source()),
                QStringLiteral("cannot cut it exactly: not a plain MPEG audio stream (split it without exact cuts)")});
  }
}

// What decoders pass over goes into no piece; the user hears of it.
void noticePassedOver(Run &run, const mpeg::Stream &st) {
  QStringList left;
  if (st.junk > 0) left << QStringLiteral("%1 bytes of junk before the first frame").arg(st.junk);
  if (st.apeTag > 0) left << QStringLiteral("an APE tag of %1 bytes").arg(st.apeTag);
  if (st.cutEnd > 0) left << QStringLiteral("a last frame cut short (%1 bytes)").arg(st.cutEnd);
  if (!left.isEmpty())
    run.reporter().notice(
        {run.source(),
         QStringLiteral("No piece of %1 holds what decoders pass over in it: %2.")
             .arg(run.source(), left.join(QStringLiteral(", "))),
         QStringLiteral("in no piece, as decoders pass over it: %1").arg(left.join(QStringLiteral(", ")))});
}

// The pieces of an exact run of `src`, or nothing when there can be none;
// with `tell`, the run hears why, and what it should know of the plan.
using ExactPlanner = std::function<std::optional<std::vector<exact::Piece>>(const MpegFile &src, bool tell)>;

// The pieces planned from a guess at the source, one at a time as
// exact::SizePlan gives them, and how many there will be (a guess as well).
struct GuessedPlan {
  std::int64_t count = 0;
  std::function<exact::SizePlan::Step(exact::Piece &, const std::function<bool(std::int64_t)> &reach)> next;
  std::function<std::optional<exact::Piece>()> upcoming;  // as exact::SizePlan::upcoming
};
using GuessPlanner = std::function<std::optional<GuessedPlan>(const MpegFile &guess)>;

// A plan made whole at once, given one piece at a time.
GuessedPlan oneByOne(std::vector<exact::Piece> pieces) {
  auto all = std::make_shared<std::vector<exact::Piece>>(std::move(pieces));
  auto at = std::make_shared<std::size_t>(0);
  return {static_cast<std::int64_t>(all->size()),
          [all, at](exact::Piece &piece, const std::function<bool(std::int64_t)> &) {
            if (*at == all->size()) return exact::SizePlan::Step::end;
            piece = (*all)[(*at)++];
            return exact::SizePlan::Step::piece;
          },
          [all, at]() -> std::optional<exact::Piece> {
            if (*at == all->size()) return std::nullopt;
            return (*all)[*at];
          }};
}

// A plan made whole from the guess alone, which needs no frame's offset.
GuessPlanner fromTheGuess(const ExactPlanner &plan) {
  return [plan](const MpegFile &guess) -> std::optional<GuessedPlan> {
    auto pieces = plan(guess, false);
    if (!pieces) return std::nullopt;
    return oneByOne(std::move(*pieces));
  };
}

// A piece written ahead of the walk, and what its head is made of.
struct AheadPiece {
  exact::Piece piece;
  std::unique_ptr<PendingFile> file;
  std::size_t headSize = 0;
  std::uint16_t frameSum = 0;  // the CRC of its source frames
};

// The pieces of a guessed plan written from the bytes the walk reads, as it
// hands them over: each piece takes its frames' bytes there, after room
// kept for its head, which is written last, once the walk has passed the
// piece (its frame count and seek table are then known). Gives up
// quietly where a piece fails or the plan outruns the guess; the pieces
// complete are kept under temporary names.
class ExactAhead {
 public:
  ExactAhead(Run &run, Walker &walker, const MpegFile &guess, GuessedPlan &plan, const ExactPieces &maker)
      : run_(run), walker_(walker), guess_(guess), plan_(plan), maker_(maker) {}

  // The next bytes of the source, in order.
  void take(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    const std::int64_t end = offset + static_cast<std::int64_t>(size);
    if (!going_ || (open_.empty() && end <= guess_.layout.stream.audioStart)) return;  // no frame yet
    walker_.waitPast(end);
    advance(offset, end);
    for (Open &piece : open_) {
      const std::int64_t from = std::max(piece.at, offset);
      const std::int64_t to = std::min(piece.bodyEnd, end);
      if (from < to && (from != piece.at || !add(piece, bytes + (from - offset), to - from))) return giveUp();
    }
    finishBodies();
  }

  // The walk has ended: the pieces it completed are finished.
  void end() {
    advance(INT64_MAX, INT64_MAX, false);
    finishBodies();
  }

  // Whether it still writes what it is given.
  bool going() const { return going_; }
  // The pieces complete, under temporary names.
  std::map<std::int64_t, AheadPiece> written() { return std::move(ahead_); }

 private:
  struct Open {
    std::int64_t k;
    exact::Piece piece;
    bool planned = false;
    std::int64_t bodyStart = 0, at = 0, bodyEnd = INT64_MAX;  // of the source: its frames, written up to `at`
    std::size_t headSize = 0;
    std::unique_ptr<PendingFile> file;
    mpeg::Crc16 crc;  // of its frames written
  };

  // Plans the pieces that the bytes before `end` reach into, every frame
  // that begins before `end` being known, and opens those that begin there;
  // the bytes at hand begin at `blockStart`.
  void advance(std::int64_t blockStart, std::int64_t end, bool mayOpen = true) {
    const auto &offsets = guess_.layout.offsets;
    const std::int64_t known = walker_.known();
    const std::int64_t room = guess_.layout.frames();
    const auto reach = [known](std::int64_t i) { return i < known; };
    exact::Piece p;
    while (going_) {
      if (!open_.empty() && !open_.back().planned) {
        const auto step = plan_.next(p, reach);
        if (step == exact::SizePlan::Step::unreachable) break;  // it goes on past `end`
        if (step != exact::SizePlan::Step::piece || p.first != open_.back().piece.first) return giveUp();
        open_.back().piece = p;
        open_.back().planned = true;
      }
      // Where their frames end; the last piece's, where the audio ends,
      // which the walk tells at its end only: till then as guessed.
      for (Open &piece : open_) {
        if (!piece.planned || piece.bodyEnd != INT64_MAX) continue;
        piece.bodyEnd = piece.piece.end < known   ? offsets[static_cast<std::size_t>(piece.piece.end)]
                        : piece.piece.end == room ? guess_.layout.stream.audioEnd
                                                  : INT64_MAX;
        if (piece.bodyEnd != INT64_MAX)
          piece.file->reserve(static_cast<std::int64_t>(piece.headSize) + piece.bodyEnd - piece.bodyStart);
      }
      const auto upcoming = plan_.upcoming();
      if (!mayOpen || !upcoming || upcoming->first >= known) break;
      if (upcoming->samples() == 0) {  // a piece of nothing is not written
        plan_.next(p, reach);
        ++next_;
        continue;
      }
      const std::int64_t start = offsets[static_cast<std::size_t>(upcoming->first)];
      if (start >= end) break;
      if (!open(*upcoming, start, blockStart)) return giveUp();
    }
  }

  // Opens the piece that begins at `start`, with its bytes before the ones
  // at hand (its warm-up frames, at most) read anew.
  bool open(const exact::Piece &upcoming, std::int64_t start, std::int64_t blockStart) {
    const std::int64_t k = next_++;
    if (ahead_.size() + open_.size() >= kMaxAhead || held_ >= kMaxHeldAhead || blockStart - start > kBlock)
      return false;
    Open piece;
    piece.k = k;
    piece.piece = upcoming;
    piece.bodyStart = piece.at = start;
    piece.headSize = maker_.headSize(k, upcoming);
    piece.file = run_.create(k, QString());
    if (!piece.file || ::lseek(piece.file->fd(), static_cast<off_t>(piece.headSize), SEEK_SET) < 0) return false;
    // Space for its frames at the guess's average frame size until the walk
    // has passed them; then for what they take (advance()).
    const mpeg::Stream &stream = guess_.layout.stream;
    if (stream.frames > 0)
      piece.file->reserve(static_cast<std::int64_t>(piece.headSize) +
                          scaled(stream.audioEnd - stream.audioStart, upcoming.end - upcoming.first, stream.frames));
    held_ += piece.file->holdsSameNamed() ? 1 : 0;
    if (start < blockStart) {
      std::vector<unsigned char> before(static_cast<std::size_t>(blockStart - start));
      if (!mpeg::readAt(run_.fd(), before.data(), before.size(), start) ||
          !add(piece, before.data(), blockStart - start))
        return false;
    }
    open_.push_back(std::move(piece));
    return true;
  }

  bool add(Open &piece, const unsigned char *bytes, std::int64_t size) {
    if (!run_.append(*piece.file, bytes, static_cast<std::size_t>(size))) return false;
    piece.crc.update(bytes, static_cast<std::size_t>(size));
    piece.at += size;
    return true;
  }

  // Pieces whose frames are all written get their heads and tails.
  void finishBodies() {
    while (going_ && !open_.empty() && open_.front().at == open_.front().bodyEnd &&
           open_.front().piece.end < walker_.known()) {
      Open piece = std::move(open_.front());
      open_.pop_front();
      PieceParts parts;
      if (!maker_.partsOf(piece.k, piece.piece, parts, piece.crc.value()) || parts.head.size() != piece.headSize ||
          parts.offset != piece.bodyStart || parts.length != piece.bodyEnd - piece.bodyStart ||
          ::pwrite(piece.file->fd(), parts.head.data(), parts.head.size(), 0) !=
              static_cast<ssize_t>(parts.head.size()) ||
          !writeBytes(piece.file->fd(), parts.tail) || !piece.file->close())
        return giveUp();
      ahead_.emplace(piece.k, AheadPiece{piece.piece, std::move(piece.file), parts.head.size(), piece.crc.value()});
    }
  }

  void giveUp() {
    going_ = false;
    open_.clear();
  }

  Run &run_;
  Walker &walker_;
  const MpegFile &guess_;
  GuessedPlan &plan_;
  const ExactPieces &maker_;
  std::deque<Open> open_;
  std::map<std::int64_t, AheadPiece> ahead_;
  std::int64_t next_ = 1;
  std::size_t held_ = 0;
  bool going_ = true;
};

// An exact run: the source is walked on a second thread while the pieces
// planned from a guess at it (its first frame and its size) are written
// ahead under temporary names, as far as the walk has passed them. Then
// each piece that the walked source plans alike is kept, its head made anew
// for the whole as walked; the rest are dropped and written again.
Outcome runExact(Run &run, const ExactPlanner &plan, const GuessPlanner &guessPlan, MpegFile *walked = nullptr,
                 std::vector<exact::Piece> *planned = nullptr) {
  std::optional<MpegFile> guess = guessMpegFile(run.fd());
  std::optional<GuessedPlan> guessed = guess ? guessPlan(*guess) : std::nullopt;
  BytesBetween between(guessed.has_value());
  Walker walker(run.fd(), guess ? &guess->layout : nullptr, guessed ? &between : nullptr);
  std::map<std::int64_t, AheadPiece> ahead;
  std::optional<ExactPieces> guessMaker;
  if (guessed) {
    guessMaker.emplace(run.fd(), *guess, guessed->count);
    run.setTotal(guess->layout.stream.audioEnd - guess->layout.stream.audioStart);
    run.setQuiet(true);  // what fails here fails again in its turn, and is told then
    ExactAhead writer(run, walker, *guess, *guessed, *guessMaker);
    while (auto block = between.take()) {
      writer.take(block->offset, block->bytes.data(), block->bytes.size());
      between.giveBack(std::move(*block), writer.going());
    }
    writer.end();
    ahead = writer.written();
    run.setQuiet(false);
  }

  // What was written ahead goes before the user hears why it is not kept.
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  MpegFile src;
  const bool whole = walker.result(src);
  const int walkError = errno;
  if (!whole && stopAsked) return run.stoppedAt(std::nullopt), run.stopped();
  if (run.shrank()) return run.stopped();
  if (!whole) {
    errno = walkError;
    refuseExact(run);
    return run.stopped();
  }
  noticePassedOver(run, src.layout.stream);
  const auto pieces = plan(src, true);
  if (!pieces) return run.stopped();

  std::map<std::int64_t, std::unique_ptr<PendingFile>> kept;
  if (!ahead.empty() && sameFrame(*guess, src)) {
    const ExactPieces maker(run.fd(), src, static_cast<std::int64_t>(pieces->size()));
    const bool sameHeads = maker.count() == guessMaker->count() && maker.id() == guessMaker->id();
    for (auto &[k, early] : ahead) {
      if (k > maker.count() || (*pieces)[static_cast<std::size_t>(k - 1)] != early.piece) continue;
      if (!sameHeads) {
        PieceParts parts;
        if (!maker.partsOf(k, early.piece, parts, early.frameSum) || parts.head.size() != early.headSize ||
            !early.file->rewrite(parts.head, 0))
          continue;
      }
      kept.emplace(k, std::move(early.file));
    }
  }
  ahead.clear();
  const Outcome outcome = writeExactPieces(run, src, *pieces, std::move(kept));
  if (walked) *walked = std::move(src);
  if (planned) *planned = *pieces;
  return outcome;
}

// The bytes every piece of `src` holds besides its frames: tags and Info
// frame, at their largest.
std::int64_t fixedBytes(const MpegFile &src) {
  std::int64_t fixed = static_cast<std::int64_t>(src.id3v1.size());
  mpeg::Bytes tag = src.id3v2.empty() ? src.id3v2 : mpeg::withTrack(src.id3v2, std::string(21, '9'));
  if (!src.layout.layer3()) tag = mpeg::withPrivate(tag, kMarkOwner, std::vector<unsigned char>(kMarkSize, 1));
  fixed += static_cast<std::int64_t>(tag.size());
  if (src.layout.layer3())
    fixed += static_cast<std::int64_t>(
        mpeg::makeInfoFrame(src.header, mpeg::InfoFields{.extra = std::vector<unsigned char>(kMarkSize)}).size());
  return fixed;
}

Outcome exactBySize(Run &run, std::int64_t limit) {
  const auto carrierOf = [](const MpegFile &src) {
    mpeg::Header h;
    mpeg::parseHeader(src.header, h);
    return src.layout.layer3() ? std::int64_t{mpeg::frameSizeAt(h, 14)} : 0;
  };
  const ExactPlanner plan = [&](const MpegFile &src, bool tell) {
    const std::int64_t fixed = fixedBytes(src), carrier = carrierOf(src);
    auto pieces = exact::piecesBySize(src.layout, limit, fixed, carrier);
    if (!pieces && tell) {
      QString text =
          QStringLiteral("Pieces of %1 KB cannot hold a frame of %2 with the tags and headers every exact piece has")
              .arg(limit / 1024)
              .arg(run.source());
      // The least that can, halving between what cannot and one piece of it all.
      std::int64_t cannot = limit / 1024, can = (src.layout.offsets.back() + fixed + 8 * carrier) / 1024 + 1;
      if (exact::piecesBySize(src.layout, can * 1024, fixed, carrier)) {
        while (can - cannot > 1) {
          const std::int64_t mid = cannot + (can - cannot) / 2;
          (exact::piecesBySize(src.layout, mid * 1024, fixed, carrier) ? can : cannot) = mid;
        }
        text += QStringLiteral("; the least that can is %1 KB").arg(can);
      }
      run.refuse(parameterError(text + u'.'));
    }
    return pieces;
  };
  // Planned as the walk goes; how many pieces there are is known at its end
  // only, and guessed meanwhile from the audio's size.
  const GuessPlanner guessPlan = [&](const MpegFile &guess) -> std::optional<GuessedPlan> {
    const std::int64_t fixed = fixedBytes(guess);
    const mpeg::Stream &st = guess.layout.stream;
    auto sizePlan = std::make_shared<exact::SizePlan>(guess.layout, limit, fixed, carrierOf(guess));
    return GuessedPlan{
        std::max<std::int64_t>(1, (st.audioEnd - st.audioStart) / std::max<std::int64_t>(1, limit - fixed) + 1),
        [sizePlan](exact::Piece &piece, const std::function<bool(std::int64_t)> &reach) {
          return sizePlan->next(piece, reach);
        },
        [sizePlan] { return sizePlan->upcoming(); }};
  };
  return runExact(run, plan, guessPlan);
}

// `points` are rising frame numbers.
Outcome exactAtBreakpoints(Run &run, const std::vector<std::int64_t> &points) {
  if (!run.openSource()) return {};
  MpegFile src;
  std::vector<exact::Piece> pieces;
  const ExactPlanner plan = [&](const MpegFile &file, bool) -> std::optional<std::vector<exact::Piece>> {
    std::vector<std::int64_t> boundaries;
    for (std::int64_t point : points) boundaries.push_back(exact::frameBoundary(file.layout, point));
    return exact::piecesBetween(file.layout, boundaries);
  };
  const Outcome outcome = runExact(run, plan, fromTheGuess(plan), &src, &pieces);
  if (!outcome.completed) return outcome;
  QStringList empty;
  for (std::size_t i = 0; i < pieces.size(); ++i)
    if (pieces[i].samples() == 0) empty << pieceName(run.templateText(), static_cast<std::int64_t>(i) + 1);
  return finishBreakpoints(run, run.source(), src.layout.frames(), points, empty);
}

Outcome exactByTime(Run &run, double seconds) {
  const ExactPlanner plan = [&](const MpegFile &src, bool tell) -> std::optional<std::vector<exact::Piece>> {
    const double length = seconds * static_cast<double>(src.layout.stream.first.rate);
    if (!(length >= 1)) {
      if (tell)
        run.refuse(parameterError(QStringLiteral("Parts of %1 seconds would hold no whole sample.").arg(seconds)));
      return std::nullopt;
    }
    if (!src.layout.layer3() && tell)
      run.reporter().notice(
          {run.source(),
           QStringLiteral("%1 has no gapless tag for its layer: its pieces are cut to the frame, not to the sample.")
               .arg(run.source()),
           QStringLiteral("cut to the frame, not to the sample: its layer has no gapless tag")});
    return exact::piecesBetween(src.layout, exact::timeBoundaries(src.layout, length));
  };
  return runExact(run, plan, fromTheGuess(plan));
}

}  // namespace

Fact::Fact(std::int64_t value) : known(value) {}

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

Outcome splitBySize(const QString &source, const QString &sizeText, const QString &outputTemplate, Reporter &reporter,
                    bool exactCuts) {
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
  if (exactCuts) return exactBySize(run, kilobytes * 1024);
  QStringList none;
  const std::int64_t size = run.size();
  if (!writeLayout(
          run, size, [&](std::int64_t) { return Plan(fixedLayout(size, kilobytes * 1024)); }, none))
    return run.stopped();
  run.reporter().complete();
  return run.finish();
}

Outcome splitByTime(const QString &source, const QString &lengthText, const Fact &totalTimeMs,
                    const QString &outputTemplate, Reporter &reporter, bool exactCuts) {
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
  if (exactCuts) return exactByTime(run, milliseconds / 1000);
  const std::int64_t size = run.size();
  // How long one frame of the source plays, from its first frame.
  const auto stream = mpeg::estimate(run.fd());
  const double frameMs = stream && stream->first.rate > 0 ? stream->first.samples * 1000.0 / stream->first.rate : 0;
  const auto planOf = [&](std::int64_t totalMs) -> Plan {
    if (totalMs <= 0)
      return Message{source, QStringLiteral("Cannot split %1 by time: its playing time is 0.").arg(source),
                     QStringLiteral("cannot split it by time: its playing time is 0")};
    // Longer than the file, to infinity: one piece.
    const double exact = static_cast<double>(size) * milliseconds / static_cast<double>(totalMs);
    if (!(exact >= 1))
      return Message{source,
                     QStringLiteral("Parts of %1 seconds would hold no whole byte of %2.").arg(lengthText, source),
                     QStringLiteral("parts of %1 seconds would hold no whole byte").arg(lengthText)};
    const auto oneFrame = static_cast<std::int64_t>(std::min(frameMs * static_cast<double>(size) / static_cast<double>(totalMs), 9.0e18));
    return fixedLayout(size, static_cast<std::int64_t>(std::min(exact, 9.0e18)), oneFrame);
  };
  QStringList none;
  if (!writeLayout(run, totalTimeMs, planOf, none)) return run.stopped();
  run.reporter().complete();
  return run.finish();
}

Outcome splitAtBreakpoints(const QString &source, const Fact &frames, const QStringList &breakpoints,
                           const QString &outputTemplate, Reporter &reporter, bool exactCuts) {
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
  if (exactCuts) return exactAtBreakpoints(run, points);
  if (!run.openSource()) return {};
  const std::int64_t size = run.size();
  const auto planOf = [&](std::int64_t frameCount) -> Plan {
    if (frameCount <= 0)
      return Message{source, QStringLiteral("Cannot split %1 at frames: its frame count is 0.").arg(source),
                     QStringLiteral("cannot split it at frames: its frame count is 0")};
    // A breakpoint past the last frame stands for the end of the file.
    auto offsetOf = [=](std::int64_t frame) { return frame >= frameCount ? size : scaled(size, frame, frameCount); };
    const auto pieces = static_cast<std::int64_t>(points.size()) - 1;
    return Layout{pieces, offsetOf(points.back()) - offsetOf(points.front()),
                  [=, &points](std::int64_t track) {
                    const auto i = static_cast<std::size_t>(track);
                    const std::int64_t start = offsetOf(points[i - 1]);
                    return Range{start, offsetOf(points[i]) - start, QStringLiteral("Cannot create the file: ")};
                  },
                  pieces};
  };
  QStringList empty;
  const auto known = writeLayout(run, frames, planOf, empty);
  if (!known) return run.stopped();
  return finishBreakpoints(run, source, *known, points, empty);
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
  if (!file.open(encodeFileName(name))) {
    const int error = errno;
    return QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, file.whyNot(error));
  }
  if (mode) file.setMode(*mode);
  if (writeAll(file.fd(), bytes.constData(), static_cast<std::size_t>(bytes.size())) && file.commit())
    return std::nullopt;
  return QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, file.whyNot(errno));
}

}  // namespace

QString joinCommand(const QStringList &pieces, const QString &joinName, bool exactPieces) {
  auto quoted = [](QString name) {
    static const QString special = QStringLiteral(" &|<>^()%!,;=+");
    const bool needs = std::any_of(name.begin(), name.end(), [](QChar c) { return special.contains(c); });
    name.replace(u'%', QStringLiteral("%%"));
    return needs ? u'"' + name + u'"' : name;
  };
  QStringList names = joinedNames(pieces, joinName);
  // cmd reads a batch file in the console's code page, unless told it is
  // UTF-8; names whose bytes are no UTF-8 are left in the code page they
  // came in.
  const auto all = [&names](auto test) { return std::all_of(names.begin(), names.end(), test); };
  const bool utf8 = !all([](const QString &name) { return encodeFileName(name).size() == name.size(); }) &&
                    all([](const QString &name) { return encodeFileName(name) == name.toUtf8(); });
  const QString codePage = utf8 ? QStringLiteral("chcp 65001 >nul\r\n") : QString();
  for (QString &name : names) name = quoted(name);
  const QString target = names.takeLast();
  if (exactPieces)
    return codePage + QStringLiteral("tranchette-cli join -o ") + target + QStringLiteral(" -- ") + names.join(u' ');
  // cmd reads no longer line: past it, each further line appends pieces to
  // what the lines before it joined.
  constexpr qsizetype kLongestLine = 8191;
  const QString copy = QStringLiteral("copy /b ");
  QStringList lines;
  QStringList sources;
  qsizetype length = copy.size() + target.size();
  for (const QString &name : names) {
    if (sources.size() > 1 && length + name.size() + 1 > kLongestLine) {
      lines << copy + sources.join(u'+') + u' ' + target;
      sources = QStringList{target};
      length = copy.size() + 2 * target.size() + 1;
    }
    sources << name;
    length += name.size() + 1;
  }
  lines << copy + sources.join(u'+') + u' ' + target;
  return codePage + lines.join(QStringLiteral("\r\n"));
}

QByteArray joinScript(const QStringList &pieces, const QString &joinName, bool exactPieces) {
  // The pieces as they were written, folders included: the shell reads paths
  // as this system does, so a piece in another folder is found as well.
  const QString joined = joinName + QStringLiteral(".mp3");
  const QStringList paths = QStringList(pieces) << joined << joined + QStringLiteral(".part");
  QByteArrayList names;
  for (const QString &name : paths) names << '\'' + encodeFileName(name).replace('\'', QByteArray("'\\''")) + '\'';
  const QByteArray part = names.takeLast(), target = names.takeLast();
  if (exactPieces) return "#!/bin/sh\nexec tranchette-cli join -o " + target + " -- " + names.join(' ') + '\n';
  // The joined file replaces one of its name only once every piece is read:
  // often that is the source itself.
  return "#!/bin/sh\ncat -- " + names.join(' ') + " > " + part + " && exec mv -f -- " + part + ' ' + target +
         "\nrm -f -- " + part + "\nexit 1\n";
}

JoinFiles writeJoinFiles(const QStringList &pieces, const QString &joinName, bool exactPieces) {
  JoinFiles result;
  QStringList failed;
  const QString batch = QStringLiteral("Join_") + joinName + QStringLiteral(".bat");
  for (const QString &name : joinedNames(pieces, joinName))
    if (const auto c = unsafeCharacter(name); c && result.skipped.isEmpty())
      result.skipped = QStringLiteral("No file %1 was written: the name \"%2\" holds %3, which cmd cannot take safely.")
                           .arg(batch, name, describe(*c));
  if (result.skipped.isEmpty()) {
    const QString command = joinCommand(pieces, joinName, exactPieces);
#ifdef Q_OS_WIN
    const QByteArray line = command.startsWith(QStringLiteral("chcp")) ? command.toUtf8() : command.toLocal8Bit();
#else
    const QByteArray line = encodeFileName(command);
#endif
    if (auto error = writeFile(batch, line)) failed << *error;
  }
#ifndef Q_OS_WIN
  const QString script = QStringLiteral("Join_") + joinName + QStringLiteral(".sh");
  if (auto error = writeFile(script, joinScript(pieces, joinName, exactPieces), 0755)) failed << *error;
#endif
  result.failed = failed.join(QStringLiteral("\r\n"));
  return result;
}

namespace {

// One exact piece as a join reads it.
struct JoinPiece {
  QString name;
  struct stat checked {};  // the file as it was read for its frames: open one at a time, it must stay so
  MpegFile mpeg;
  Mark mark;
  std::int64_t own = 0;  // its first audio frame that the join keeps
};

Message joinRefusal(const QString &file, const QString &why) {
  return {file, QStringLiteral("Cannot join %1: %2.").arg(file, why), why};
}

// Copies [offset, offset + length) of `in` to `out`, through the CRC; false
// with errno set, and `readFailed` where it was reading `in` that failed.
bool copyThrough(int in, int out, std::int64_t offset, std::int64_t length, mpeg::Crc16 &crc,
                 std::vector<unsigned char> &buffer, bool &readFailed) {
  buffer.resize(static_cast<std::size_t>(kCopyBuffer));
  while (length > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(length, kCopyBuffer));
    if (stopAsked) {
      errno = EINTR;
      return false;
    }
    if (!mpeg::readAt(in, buffer.data(), n, offset)) return readFailed = true, false;
    if (!writeAll(out, reinterpret_cast<const char *>(buffer.data()), n)) return false;
    crc.update(buffer.data(), n);
    offset += static_cast<std::int64_t>(n);
    length -= static_cast<std::int64_t>(n);
  }
  return true;
}

}  // namespace

std::optional<Message> joinPieces(const QStringList &pieces, const QString &output) {
  std::vector<JoinPiece> in(static_cast<std::size_t>(pieces.size()));
  struct stat outStat {};
  const bool outExists = ::stat(encodeFileName(output).constData(), &outStat) == 0;
  for (qsizetype i = 0; i < pieces.size(); ++i) {
    JoinPiece &p = in[static_cast<std::size_t>(i)];
    p.name = pieces[i];
    File file(::open(encodeFileName(p.name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat &st = p.checked;
    if (!file.isOpen() || ::fstat(file.fd(), &st) != 0)
      return joinRefusal(p.name, QStringLiteral("cannot open it: %1").arg(systemError(errno)));
    if (!S_ISREG(st.st_mode))
      return joinRefusal(p.name, QStringLiteral("it is %1, not a regular file").arg(kindOf(st.st_mode)));
    if (outExists && st.st_dev == outStat.st_dev && st.st_ino == outStat.st_ino)
      return joinRefusal(p.name, QStringLiteral("it is the output file as well"));
    ::fcntl(file.fd(), F_SETFL, ::fcntl(file.fd(), F_GETFL) & ~O_NONBLOCK);
    std::optional<Mark> mark;
    if (readMpegFile(file.fd(), p.mpeg))
      mark = decodeMark(p.mpeg.layout.layer3()
                            ? mpeg::extraBytes(p.mpeg.firstFrame.data(), p.mpeg.layout.stream.first, kMarkSize)
                            : mpeg::privateOf(p.mpeg.id3v2, kMarkOwner));
    if (!mark) {
      if (errno != 0) return joinRefusal(p.name, QStringLiteral("cannot read it: %1").arg(systemError(errno)));
      return joinRefusal(p.name, QStringLiteral("it is not an exact piece (its Info frame does not say so)"));
    }
    p.mark = *mark;
    if (i == 0) continue;
    const JoinPiece &before = in[static_cast<std::size_t>(i - 1)];
    if (p.mark.source != before.mark.source)
      return joinRefusal(p.name,
                         QStringLiteral("it is not a piece of the source that %1 is a piece of").arg(before.name));
    if (p.mark.count != before.mark.count)
      return joinRefusal(p.name, QStringLiteral("it is one of %1 pieces of the source, and %2 one of %3: pieces of two "
                                                "cuts do not join")
                                     .arg(p.mark.count)
                                     .arg(before.name)
                                     .arg(before.mark.count));
    if (p.mark.piece != before.mark.piece + 1)
      return joinRefusal(p.name, QStringLiteral("it is piece %1 of %2, and does not follow %3, which is piece %4")
                                     .arg(p.mark.piece)
                                     .arg(p.mark.count)
                                     .arg(before.name)
                                     .arg(before.mark.piece));
  }
  if (in.empty()) return joinRefusal(output, QStringLiteral("no piece is given"));

  // The frames kept: the first piece's all (its carrier only where the
  // source did not start with one's worth of silence), then of every later
  // piece those after the frames already kept.
  JoinPiece &head = in.front();
  const bool plainStart = head.mark.first == 0 && head.mark.untrimmed && head.mark.carriers > 0;
  head.own = plainStart ? head.mark.carriers : 0;
  std::int64_t next = head.mark.first + head.mpeg.layout.frames() - head.mark.carriers;
  std::vector<std::int64_t> sizes;
  auto keep = [&sizes](const JoinPiece &p) {
    for (std::int64_t f = p.own; f < p.mpeg.layout.frames(); ++f) sizes.push_back(p.mpeg.layout.frameSize(f));
  };
  keep(head);
  for (std::size_t i = 1; i < in.size(); ++i) {
    JoinPiece &p = in[i];
    const std::int64_t carrier = p.mark.carriers;
    if (p.mark.first > next)
      return joinRefusal(p.name, QStringLiteral("it starts at frame %1 of the source, after the end of %2 at frame %3")
                                     .arg(p.mark.first)
                                     .arg(in[i - 1].name)
                                     .arg(next));
    p.own = carrier + next - p.mark.first;
    next = std::max(next, p.mark.first + p.mpeg.layout.frames() - carrier);
    keep(p);
  }

  PendingFile out;
  // Who may read the joined file: no one the first piece keeps out.
  const mode_t mode = in.empty() ? 0666 : 0600 | (in.front().checked.st_mode & 0066);
  if (!out.open(encodeFileName(output), {}, mode)) {
    const int error = errno;
    return Message{output, QStringLiteral("Cannot create file: %1 !\r\n%2").arg(output, out.whyNot(error)),
                   QStringLiteral("cannot create it: %1").arg(out.whyNotBriefly(error))};
  }
  auto writeFailed = [&output, &out] {
    if (stopAsked)
      return Message{output, QStringLiteral("The join was stopped; the unfinished %1 was removed.").arg(output),
                     QStringLiteral("stopped before it was complete; removed")};
    const int error = errno;
    return Message{output, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(output, out.whyNot(error)),
                   QStringLiteral("cannot write it: %1").arg(out.whyNotBriefly(error))};
  };
  std::vector<unsigned char> id3v2;
  if (head.mark.id3v2Size > 0) {
    mpeg::Bytes tag = head.mpeg.id3v2;
    if (!head.mark.length.empty()) mpeg::setLength(tag, head.mark.length);
    id3v2 = mpeg::withTrack(mpeg::withPrivate(tag, kMarkOwner, {}), head.mark.track, head.mark.id3v2Size);
  }
  if (!writeBytes(out.fd(), id3v2)) return writeFailed();

  // The Info frame, unless the source had none (then the join is its frames).
  const bool info = !plainStart && head.mpeg.layout.layer3();
  std::vector<std::int64_t> offsets{0};
  for (std::int64_t size : sizes) offsets.push_back(offsets.back() + size);
  out.reserve(static_cast<std::int64_t>(id3v2.size() + head.mpeg.id3v1.size()) + offsets.back());
  const auto frames = static_cast<std::int64_t>(sizes.size());
  const bool vbr = std::adjacent_find(sizes.begin(), sizes.end(), [](std::int64_t a, std::int64_t b) {
                     return std::abs(a - b) > 1;
                   }) != sizes.end();
  auto infoFrame = [&](std::uint16_t crc) {
    return infoFrameFor(head.mpeg.header, frames, offsets.back(), vbr, head.mpeg.layout.stream.info.delay,
                        in.back().mpeg.layout.stream.info.padding, crc, {},
                        [&](std::int64_t i) { return offsets[static_cast<std::size_t>(i)]; });
  };
  if (info && !writeBytes(out.fd(), infoFrame(0))) return writeFailed();
  mpeg::Crc16 crc;
  std::vector<unsigned char> buffer;
  for (const JoinPiece &p : in) {
    const auto &o = p.mpeg.layout.offsets;
    const std::int64_t from = o[static_cast<std::size_t>(std::min(p.own, p.mpeg.layout.frames()))];
    File file(::open(encodeFileName(p.name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file.isOpen() || ::fstat(file.fd(), &st) != 0)
      return joinRefusal(p.name, QStringLiteral("cannot open it: %1").arg(systemError(errno)));
    if (st.st_dev != p.checked.st_dev || st.st_ino != p.checked.st_ino || st.st_size != p.checked.st_size ||
        st.st_mtim.tv_sec != p.checked.st_mtim.tv_sec || st.st_mtim.tv_nsec != p.checked.st_mtim.tv_nsec)
      return joinRefusal(p.name, QStringLiteral("it changed while the join read it"));
    bool readFailed = false;
    if (!copyThrough(file.fd(), out.fd(), from, o.back() - from, crc, buffer, readFailed)) {
      if (!readFailed || stopAsked) return writeFailed();
      const int error = errno;
      return joinRefusal(p.name, ::fstat(file.fd(), &st) == 0 && st.st_size < p.checked.st_size
                                     ? QStringLiteral("it ended at byte %1 of the %2 it had (it shrank while the join "
                                                      "read it)")
                                           .arg(st.st_size)
                                           .arg(p.checked.st_size)
                                     : QStringLiteral("cannot read it: %1").arg(systemError(error)));
    }
  }
  std::vector<unsigned char> id3v1 = head.mpeg.id3v1;
  if (!id3v1.empty()) mpeg::setTrack(id3v1.data(), head.mark.id3v1Track);
  if (!writeBytes(out.fd(), id3v1)) return writeFailed();
  if (info) {
    const std::vector<unsigned char> bytes = infoFrame(crc.value());
    if (::pwrite(out.fd(), bytes.data(), bytes.size(), static_cast<off_t>(id3v2.size())) !=
        static_cast<ssize_t>(bytes.size()))
      return writeFailed();
  }
  if (!out.commit()) return writeFailed();
  return std::nullopt;
}

}  // namespace split
