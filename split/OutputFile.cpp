#include "OutputFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace split {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  if (S_ISCHR(mode)) return QStringLiteral("a character device");
  if (S_ISBLK(mode)) return QStringLiteral("a block device");
  return QStringLiteral("not a plain file");
}

QByteArray folderOf(const QByteArray &path) { return path.left(path.lastIndexOf('/') + 1); }

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

std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c) {
  __extension__ using Wide = __int128;
  return static_cast<std::int64_t>(static_cast<Wide>(a) * b / c);
}

bool writeBytes(int fd, const std::vector<unsigned char> &bytes) {
  return writeAll(fd, reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

}  // namespace split
