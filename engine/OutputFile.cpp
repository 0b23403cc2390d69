#include "OutputFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "SystemFiles.h"

namespace split {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString kindOf(mode_t mode) { return QString::fromLatin1(sys::fileKind(mode)); }

QByteArray folderOf(const QByteArray &path) { return path.left(path.lastIndexOf('/') + 1); }

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
