#include "OutputFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include <QRegularExpression>

#include "FileName.h"
#include "Frame.h"
#include "SystemFiles.h"

namespace split {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString kindOf(mode_t mode) { return QString::fromLatin1(sys::fileKind(mode)); }

QByteArray folderOf(const QByteArray &path) { return path.left(path.lastIndexOf('/') + 1); }

bool sameBytes(const QByteArray &a, const QByteArray &b) {
  File one(::open(a.constData(), O_RDONLY | O_CLOEXEC)), two(::open(b.constData(), O_RDONLY | O_CLOEXEC));
  struct stat sa {}, sb {};
  if (!one.isOpen() || !two.isOpen() || ::fstat(one.fd(), &sa) != 0 || ::fstat(two.fd(), &sb) != 0 ||
      sa.st_size != sb.st_size)
    return false;
  std::vector<unsigned char> x(static_cast<std::size_t>(kCopyBuffer)), y(x.size());
  for (std::int64_t at = 0; at < sa.st_size; at += kCopyBuffer) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kCopyBuffer, sa.st_size - at));
    if (!mpeg::readAt(one.fd(), x.data(), n, at) || !mpeg::readAt(two.fd(), y.data(), n, at) ||
        std::memcmp(x.data(), y.data(), n) != 0)
      return false;
  }
  return true;
}

namespace {

// A POSIX record lock that another process holds on the file (errno set).
bool hasRecordLock(int fd) {
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  if (::fcntl(fd, F_GETLK, &range) != 0 || range.l_type == F_UNLCK) return false;
  errno = EWOULDBLOCK;
  return true;
}

bool failWith(int error) {
  errno = error;
  return false;
}

// This process's mark on its temporaries: random, so that processes of the
// same number in other PID namespaces or on other machines sharing a folder
// never take each other's.
const QByteArray &ownToken() {
  static const QByteArray token = [] {
    std::random_device random;
    const auto value = (std::uint64_t{random()} << 32) ^ random() ^ (std::uint64_t(::getpid()) << 17);
    return QByteArray::number(static_cast<qulonglong>(value), 16).rightJustified(16, '0');
  }();
  return token;
}

}  // namespace

// ".tranchette-<token>.live" in a folder: held under an flock while this
// process has temporaries there, so that whoever looks knows them to be
// live, in any namespace; the kernel lets go of the lock when the process
// dies, however it dies. Made before the first temporary there, removed
// with the last.
class Liveness {
 public:
  static std::shared_ptr<Liveness> in(const QByteArray &folder) {
    static std::mutex guard;
    static std::map<QByteArray, std::weak_ptr<Liveness>> held;
    const std::lock_guard lock(guard);
    char *resolved = ::realpath(folder.isEmpty() ? "." : folder.constData(), nullptr);
    const QByteArray key = resolved ? QByteArray(resolved) : folder;
    std::free(resolved);
    if (auto there = held[key].lock()) return there;
    auto made = std::shared_ptr<Liveness>(new Liveness(folder + ".tranchette-" + ownToken() + ".live"));
    if (!made->file_.isOpen()) return nullptr;
    held[key] = made;
    return made;
  }
  ~Liveness() {
    if (file_.isOpen()) ::unlink(path_.constData());
  }

 private:
  explicit Liveness(QByteArray path) : path_(std::move(path)) {
    file_.reset(::open(path_.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file_.isOpen() && ::flock(file_.fd(), LOCK_EX) != 0) file_.close();
  }
  QByteArray path_;
  File file_;
};

namespace {

// Whether a file that no one holds an flock on is there (then `fd` is open
// on it and locked, for its removal), or none.
bool unheld(int dir, const char *name, File &fd) {
  fd.reset(::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  return fd.isOpen() && ::flock(fd.fd(), LOCK_EX | LOCK_NB) == 0;
}

// Whether a file is older than a minute: one made since may be about to be
// locked by its maker.
bool settled(int dir, const char *name) {
  struct stat st {};
  return ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_mtime < ::time(nullptr) - 60;
}

}  // namespace

void File::reset(int fd) {
  close();
  fd_ = fd;
}

bool File::close() {
  if (fd_ < 0) return true;
  const bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

PendingFile::~PendingFile() {
  out_.close();
  if (!temp_.isEmpty()) ::unlink(temp_.constData());
  live_.reset();  // after the temporary: its mark goes last
}

namespace {
std::mutex keptMutex;
std::set<std::pair<dev_t, ino_t>> kept;  // files that are there
// Names of those that are not, yet: their folder, and their name in it.
std::set<std::tuple<dev_t, ino_t, QByteArray>> keptNames;

// The folder `path` is in, and its name in it; none where the folder is not there.
std::optional<std::tuple<dev_t, ino_t, QByteArray>> placeOf(const QByteArray &path) {
  const QByteArray folder = folderOf(path);
  struct stat st {};
  if (::stat(folder.isEmpty() ? "." : folder.constData(), &st) != 0) return std::nullopt;
  return std::tuple{st.st_dev, st.st_ino, path.mid(folder.size())};
}
}  // namespace

void keepUnreplaced(const QStringList &paths) {
  const std::lock_guard lock(keptMutex);
  for (const QString &path : paths) {
    const QByteArray name = encodeFileName(path);
    if (struct stat st {}; ::stat(name.constData(), &st) == 0)
      kept.emplace(st.st_dev, st.st_ino);
    else if (const auto place = placeOf(name))
      keptNames.insert(*place);
  }
}

bool PendingFile::open(const QByteArray &finalName, std::pair<dev_t, ino_t> avoid, mode_t mode) {
  final_ = finalName;
  struct stat st {};
  if (::stat(final_.constData(), &st) == 0) {
    if (std::pair(st.st_dev, st.st_ino) == avoid) {
      isSource_ = true;
      return failWith(EEXIST);
    }
    if (const std::lock_guard lock(keptMutex); kept.count({st.st_dev, st.st_ino}) > 0) {
      isKept_ = true;
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
  } else if (const auto place = placeOf(final_); place) {
    if (const std::lock_guard lock(keptMutex); keptNames.count(*place) > 0) {
      isKept_ = true;
      return failWith(EEXIST);
    }
  }
  static std::atomic<unsigned> serial{0};
  if (!(live_ = Liveness::in(folderOf(final_)))) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QByteArray temp =
        folderOf(final_) + ".tranchette-" + ownToken() + '-' + QByteArray::number(serial++) + ".part";
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

QString PendingFile::whyNot(int error) const {
  if (isSource_) return QStringLiteral("It is the source file.");
  if (isKept_) return QStringLiteral("It is one of the files being split.");
  if (notRegular_) return QStringLiteral("It is %1, not a regular file.").arg(kindOf(notRegular_));
  return systemError(error);
}

QString PendingFile::whyNotBriefly(int error) const {
  if (!isSource_ && !isKept_ && !notRegular_) return systemError(error);
  QString why = whyNot(error);
  why[0] = why[0].toLower();
  why.chop(1);
  return why;
}

void PendingFile::reserve(std::int64_t bytes) {
  if (bytes > reserved_ && ::fallocate(out_.fd(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0)
    reserved_ = bytes;
}

void PendingFile::setMode(mode_t mode) { ::fchmod(out_.fd(), mode); }

bool PendingFile::close() {
  releaseSpare();  // where some spare space stays taken, the file is whole all the same
  return out_.close();
}

bool PendingFile::rewrite(const std::vector<unsigned char> &bytes, off_t offset) {
  File file(::open(temp_.constData(), O_WRONLY | O_CLOEXEC));
  return file.isOpen() &&
         ::pwrite(file.fd(), bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size()) &&
         file.close();
}

bool PendingFile::commit() {
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

bool PendingFile::replacesOther() const { return existed_ && !sameBytes(temp_, final_); }

bool PendingFile::commitAs(const QByteArray &other) {
  if (!close()) return false;
  if (::link(temp_.constData(), other.constData()) != 0) {
    if (errno != EEXIST || !sameBytes(temp_, other)) return false;
  }
  ::unlink(temp_.constData());
  temp_.clear();
  return true;
}

bool PendingFile::releaseSpare() {
  const std::int64_t reserved = std::exchange(reserved_, 0);
  struct stat st {};
  return !out_.isOpen() || reserved == 0 || ::fstat(out_.fd(), &st) != 0 || reserved <= st.st_size ||
         ::ftruncate(out_.fd(), st.st_size) == 0;
}

OutputLock::~OutputLock() {
  // Unlinked while held: a run that opened it meanwhile finds it gone, and
  // makes a new one.
  if (file_.isOpen()) ::unlink(path_.constData());
}

bool OutputLock::take(const QByteArray &firstPiece, const QString &outputTemplate) {
  // The set of files, not the template's text: the pieces' folder as the
  // system resolves it, and the names as the template makes them there.
  const QByteArray folder = folderOf(firstPiece);
  char *resolved = ::realpath(folder.isEmpty() ? "." : folder.constData(), nullptr);
  const QByteArray where = resolved ? QByteArray(resolved) : folder;
  std::free(resolved);
  const QByteArray names = where + '/' + encodeFileName(fileNamePart(outputTemplate));
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a, for a name of fixed length
  for (char c : names) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  path_ = folder + ".tranchette-" + QByteArray::number(static_cast<qulonglong>(h), 16) + ".lock";
  for (;;) {
    file_.reset(::open(path_.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file_.isOpen()) return false;
    if (::flock(file_.fd(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      file_.close();
      errno = error;
      return false;
    }
    struct stat held {}, named {};
    if (::fstat(file_.fd(), &held) == 0 && ::stat(path_.constData(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev)
      return true;
    file_.close();  // removed by the run that held it: take the new one
  }
}

Swept removeStaleTemporaries(const QByteArray &folder) {
  Swept swept;
  DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
  if (!dir) return swept;
  static const QRegularExpression temporary(QStringLiteral("^\\.tranchette-([0-9a-f]{16})-\\d+\\.part$"));
  static const QRegularExpression older(QStringLiteral("^\\.tranchette-(\\d+)-\\d+\\.part$"));  // by process number
  static const QRegularExpression lock(QStringLiteral("^\\.tranchette-[0-9a-f]+\\.(lock|live)$"));
  const int at = ::dirfd(dir);
  std::vector<QByteArray> stale, marks;
  while (const dirent *entry = ::readdir(dir)) {
    const QString name = QString::fromLatin1(entry->d_name);
    if (lock.match(name).hasMatch()) {
      marks.emplace_back(entry->d_name);
      continue;
    }
    if (const QRegularExpressionMatch m = temporary.match(name); m.hasMatch()) {
      // Another's as long as its process holds its mark on the folder.
      const QByteArray token = m.captured(1).toLatin1();
      File live;
      if (token == ownToken() || (!unheld(at, (".tranchette-" + token + ".live").constData(), live) && live.isOpen()))
        continue;
      stale.emplace_back(entry->d_name);
    } else if (const QRegularExpressionMatch o = older.match(name); o.hasMatch()) {
      bool ok = false;
      const qlonglong process = o.captured(1).toLongLong(&ok);
      if (!ok || process <= 0 || process > std::numeric_limits<pid_t>::max()) continue;
      if (::kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH) continue;
      stale.emplace_back(entry->d_name);
    }
  }
  const auto removeOrTell = [&](const QByteArray &name) {
    if (::unlinkat(at, name.constData(), 0) == 0) return true;
    // Another user's, in a folder whose sticky bit keeps it: said, not passed over.
    if (errno == EPERM || errno == EACCES) swept.othersLeft << decodeFileName(folder + name);
    return false;
  };
  for (const QByteArray &name : stale) swept.removed += removeOrTell(name) ? 1 : 0;
  // Marks and locks that no run holds, once their maker had time to lock them.
  for (const QByteArray &name : marks) {
    File held;
    if (settled(at, name.constData()) && unheld(at, name.constData(), held)) removeOrTell(name);
  }
  ::closedir(dir);
  return swept;
}

std::optional<Message> sweptNotice(const Swept &swept, const QByteArray &folder, const QString &who) {
  const QString where = folder.isEmpty() ? QStringLiteral("the current folder") : decodeFileName(folder);
  QStringList text, brief;
  if (swept.removed > 0) {
    const QString what =
        swept.removed == 1 ? QStringLiteral("1 temporary file") : QStringLiteral("%1 temporary files").arg(swept.removed);
    text << QStringLiteral("%1 left in %2 by %3 %4 removed.")
                .arg(what, where, who, swept.removed == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    brief << QStringLiteral("removed %1 left in %2 by %3").arg(what, where, who);
  }
  if (!swept.othersLeft.isEmpty()) {
    text << QStringLiteral("Left by another user's run that ended, and not theirs to remove here: %1.")
                .arg(swept.othersLeft.join(QStringLiteral(", ")));
    brief << QStringLiteral("another user's stale files cannot be removed: %1").arg(swept.othersLeft.join(QStringLiteral(", ")));
  }
  if (text.isEmpty()) return std::nullopt;
  return Message{QString(), text.join(QStringLiteral("\r\n")), brief.join(QStringLiteral("; "))};
}

bool writeAll(int fd, const char *bytes, std::size_t size) {
  return sys::whole(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c) {
  __extension__ using Wide = __int128;
  return static_cast<std::int64_t>(static_cast<Wide>(a) * b / c);
}

bool writeBytes(int fd, const std::vector<unsigned char> &bytes) {
  return writeAll(fd, reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

}  // namespace split
