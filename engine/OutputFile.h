#pragma once

// Output files: a piece or a join file is written under a temporary name in
// its own folder and renamed over its final name once complete; the file
// descriptors, the copy sizes and the error texts that go with them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

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
  void reset(int fd);
  // Closes, and reports whether everything written reached the file.
  bool close();

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
  ~PendingFile();

  // False with errno set when the file cannot be made; `avoid` (device and
  // inode) is the source, which the final name must not replace. The file
  // is made with `mode`, less the umask.
  // Nor may it replace a file kept by keepUnreplaced().
  bool open(const QByteArray &finalName, std::pair<dev_t, ino_t> avoid = {}, mode_t mode = 0666);
  int fd() const { return out_.fd(); }
  // Why open() or commit() failed, for a message's last line: what stands
  // under the final name, or the system's reason.
  QString whyNot(int error) const;
  // The same in the words of a brief message ("cannot create it: ...").
  QString whyNotBriefly(int error) const;
  // Whether open() failed as the final name is a file kept by keepUnreplaced().
  bool wouldReplaceKept() const { return isKept_; }
  // Sets aside the disk space of the file's first `bytes` where the file
  // system can: a copy into space set aside goes a tenth quicker than one
  // that grows the file block by block. Where it cannot, the writing itself
  // finds whether the space is there. What the file does not fill is given
  // back when it is closed.
  void reserve(std::int64_t bytes);
  void setMode(mode_t mode);
  // Whether a file under the final name is held open until commit().
  bool holdsSameNamed() const { return lock_.isOpen(); }

  // Closes the file, keeping it under its temporary name; false with errno set.
  bool close();
  // Writes `bytes` at `offset` of the file once closed; false with errno set.
  bool rewrite(const std::vector<unsigned char> &bytes, off_t offset);
  // Closes the file and puts it under its final name; false with errno set.
  // A name that was free when the file began is taken only if it still is,
  // or holds a regular file: what another program put there meanwhile is
  // looked at as open() looks.
  bool commit();

  // Whether the file would replace a file of other bytes under its final
  // name (the file written and closed).
  bool replacesOther() const;
  // Puts the file under `other` instead of its final name: where a file
  // stands there, only if it holds the very same bytes. False with errno set
  // (EEXIST where it holds others).
  bool commitAs(const QByteArray &other);

 private:
  // Gives back the space set aside past the file's end; false where it stays.
  bool releaseSpare();
  QByteArray final_, temp_;
  std::int64_t reserved_ = 0;
  mode_t notRegular_ = 0;  // of what stands under the final name, where it is no regular file
  bool isSource_ = false;  // the final name is the source's
  bool isKept_ = false;    // or a file kept by keepUnreplaced()
  bool existed_ = false;   // a file stood under the final name at open()
  File out_;
  File lock_;
  std::shared_ptr<class Liveness> live_;  // this process's mark in the folder
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

// Removes the temporaries (".tranchette-<token>-<n>.part") that processes
// no longer running left in `folder` ("" for the current one): those whose
// process no longer holds its mark there (".tranchette-<token>.live", under
// an flock that the kernel lets go of when the process dies, in whatever
// PID namespace or on whatever machine), never a live one's; and the marks
// and output locks that no one holds. What another user left where the
// folder's sticky bit keeps it is named, not removed.
struct Swept {
  std::int64_t removed = 0;  // temporaries
  QStringList othersLeft;
};
Swept removeStaleTemporaries(const QByteArray &folder);
// What a sweep has to tell, in a message's two forms; nothing where it has
// nothing. `who` says what left them ("a split that was stopped").
std::optional<Message> sweptNotice(const Swept &swept, const QByteArray &folder, const QString &who);

// Writes all of `bytes` to fd; false with errno set.
bool writeAll(int fd, const char *bytes, std::size_t size);

// floor(a * b / c) for 0 <= a, b and 0 < c, without overflow.
std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c);

bool writeBytes(int fd, const std::vector<unsigned char> &bytes);

}  // namespace split
