#include "OutputFile.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <QRegularExpression>

#include "SystemFiles.h"

namespace split {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString kindOf(mode_t mode) { return QString::fromLatin1(sys::fileKind(mode)); }

QByteArray folderOf(const QByteArray &path) { return path.left(path.lastIndexOf('/') + 1); }

std::int64_t removeStaleTemporaries(const QByteArray &folder) {
  DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
  if (!dir) return 0;
  static const QRegularExpression temporary(QStringLiteral("^\\.tranchette-(\\d+)-\\d+\\.part$"));
  std::int64_t removed = 0;
  while (const dirent *entry = ::readdir(dir)) {
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
