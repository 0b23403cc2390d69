// libFuzzer target for the frame header walk, the parser that reads untrusted
// MP3 bytes: scripts/fuzz builds and runs it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "MPEGPLAYLib_OCX.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const int fd = memfd_create("fuzz.mp3", 0);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
    return 0;
  try {
    if (const auto facts = audio::walkFrameHeaders(fd)) {
      if (facts->frames <= 0 || facts->rate <= 0 || facts->samples < 0) __builtin_trap();
    }
  } catch (const audio::StreamError &) {
  }
  return 0;
}
