#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <QRegularExpression>

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

OutputLock::~OutputLock() {
  // Unlinked while held: a run that opened it meanwhile finds it gone, and
  // makes a new one.
  if (file_.isOpen()) ::unlink(path_.constData());
}

bool OutputLock::take(const QByteArray &firstPiece, const QString &outputTemplate) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a of the template, for a name of fixed length
  for (char c : outputTemplate.toUtf8()) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  path_ = folderOf(firstPiece) + ".tranchette-" + QByteArray::number(static_cast<qulonglong>(h), 16) + ".lock";
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

std::int64_t removeStaleTemporaries(const QByteArray &folder) {
  DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
  if (!dir) return 0;
  static const QRegularExpression temporary(QStringLiteral("^\\.tranchette-(\\d+)-\\d+\\.part$"));
  static const QRegularExpression lock(QStringLiteral("^\\.tranchette-[0-9a-f]+\\.lock$"));
  std::int64_t removed = 0;
  while (const dirent *entry = ::readdir(dir)) {
    // A lock that no run holds: its run was killed.
    if (lock.match(QString::fromLatin1(entry->d_name)).hasMatch()) {
      File held(::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
      if (held.isOpen() && ::flock(held.fd(), LOCK_EX | LOCK_NB) == 0 && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
        ++removed;
      continue;
    }
    const QRegularExpressionMatch m = temporary.match(QString::fromLatin1(entry->d_name));
    if (!m.hasMatch()) continue;
    bool ok = false;
    const qlonglong process = m.captured(1).toLongLong(&ok);
    // Gone: no process of that number (one that lives, whoever's, keeps it).
    if (!ok || process <= 0 || process > std::numeric_limits<pid_t>::max() || process == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH) continue;
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
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
