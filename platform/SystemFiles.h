#pragma once

// Small facts of the system's file calls, shared below Qt: a whole read or
// write through interruptions, and what a file is that is not a regular one.
// Plain C++ and POSIX, header only, so that every layer may use it.

#include <cerrno>
#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

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

}  // namespace sys
