#pragma once

// Small facts of the system's file calls, shared below Qt: a whole read or
// write through interruptions, and what a file is that is not a regular one.
// Plain C++ and POSIX, header only, so that every layer may use it.

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace sys {

// Calls `io(done)`, a read or write of what is left after the first `done`
// of `size` bytes, until all are done; a call that a signal broke off is made
// again. False with errno set (EIO where the file takes or gives no more).
template <typename Io>
bool whole(std::size_t size, Io io) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t moved = io(done);
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) {
      if (moved == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(moved);
  }
  return true;
}

// What a file of this mode is where it is not a regular file: "a folder",
// "a FIFO", ... ("not a plain file" for a regular one).
inline const char *fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "not a plain file";
}

// Opens a regular file read-only without ever waiting (a FIFO without a
// writer, a device): its kind is checked before and after the open. The
// descriptor, or -1 with `why` saying what it is ("it is a FIFO, not a
// regular file") or errno's text.
inline int openRegular(const char *path, std::string *why) {
  struct stat st {};
  const auto notRegular = [&](mode_t mode) {
    if (why) *why = std::string("it is ") + fileKind(mode) + ", not a regular file";
    return -1;
  };
  if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return notRegular(st.st_mode);
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return -1;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return notRegular(st.st_mode);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace sys
