#pragma once

// Output files: a piece or a join file is written under a temporary name in
// its own folder and renamed over its final name once complete; the file
// descriptors, the copy sizes and the error texts that go with them.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

#include "FileName.h"
#include "SplitEngine.h"

namespace split {

// The copy buffer: well below the 1048576-byte limit, small enough to stay in
// the processor's cache between the read and the write.
constexpr std::int64_t kCopyBuffer = 128 * 1024;
// What the kernel copies in one call where it copies by itself: no buffer of
// ours, but the stop and the progress are looked at between calls.
constexpr std::int64_t kKernelChunk = 8 * 1048576;

const QString kLocked = QStringLiteral(" !\r\nBecause a same name file is locked by other application.");

QString systemError(int error);

QString kindOf(mode_t mode);

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
QByteArray folderOf(const QByteArray &path);

// Whether the two files hold the same bytes; false where either cannot be read.
bool sameBytes(const QByteArray &a, const QByteArray &b);

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

  // Whether the file would replace a file of other bytes under its final
  // name (the file written and closed).
  bool replacesOther() const { return existed_ && !sameBytes(temp_, final_); }
  // Puts the file under `other` instead of its final name: where a file
  // stands there, only if it holds the very same bytes. False with errno set
  // (EEXIST where it holds others).
  bool commitAs(const QByteArray &other) {
    if (!close()) return false;
    if (::link(temp_.constData(), other.constData()) != 0) {
      if (errno != EEXIST || !sameBytes(temp_, other)) return false;
    }
    ::unlink(temp_.constData());
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

// Holds the set of pieces of one output template for one run, so that two
// runs never write the same names at once: a lock on a hidden file in the
// pieces' folder, named after the template, removed when the run ends.
class OutputLock {
 public:
  OutputLock() = default;
  OutputLock(const OutputLock &) = delete;
  OutputLock &operator=(const OutputLock &) = delete;
  ~OutputLock();
  // Takes the lock of the pieces that `firstPiece` begins (its folder, and
  // `outputTemplate`); false, with errno EWOULDBLOCK where another run holds
  // it, or as the system set it.
  bool take(const QByteArray &firstPiece, const QString &outputTemplate);

 private:
  QByteArray path_;
  File file_;
};

// Removes the temporaries (".tranchette-<process>-<n>.part") that processes
// no longer running on this machine left in `folder` ("" for the current
// one), never a live one's, and the output locks that no run holds. Returns
// how many were removed.
std::int64_t removeStaleTemporaries(const QByteArray &folder);

// Writes all of `bytes` to fd; false with errno set.
bool writeAll(int fd, const char *bytes, std::size_t size);

// floor(a * b / c) for 0 <= a, b and 0 < c, without overflow.
std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c);

bool writeBytes(int fd, const std::vector<unsigned char> &bytes);

}  // namespace split
