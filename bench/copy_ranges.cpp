// The reference for bench/split: copies consecutive byte ranges of a file,
// from offset 0, into fresh files PREFIX-1, PREFIX-2, ..., either with read
// and write through a 128 KB buffer ("rw") or with copy_file_range ("cfr").
//   bench_copy_ranges rw|cfr SOURCE PREFIX SIZE...
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool copyRange(int in, off_t offset, long long length, int out, bool kernel) {
  std::vector<char> buffer(kernel ? 0 : 128 * 1024);
  while (length > 0) {
    ssize_t moved;
    if (kernel) {
      loff_t from = offset;
      moved = copy_file_range(in, &from, out, nullptr, static_cast<size_t>(std::min(length, 8LL << 20)), 0);
    } else {
      moved = pread(in, buffer.data(), static_cast<size_t>(std::min<long long>(length, buffer.size())), offset);
      for (ssize_t done = 0; moved > 0 && done < moved;) {
        const ssize_t put = write(out, buffer.data() + done, static_cast<size_t>(moved - done));
        if (put <= 0) return false;
        done += put;
      }
    }
    if (moved <= 0) return false;
    offset += moved;
    length -= moved;
  }
  return true;
}

}  // namespace

int main(int argc, char *argv[]) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_copy_ranges rw|cfr SOURCE PREFIX SIZE...\n");
    return 2;
  }
  const bool kernel = std::string(argv[1]) == "cfr";
  const int in = open(argv[2], O_RDONLY | O_CLOEXEC);
  if (in < 0) return 1;
  posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  off_t offset = 0;
  for (int i = 4; i < argc; ++i) {
    const long long length = std::atoll(argv[i]);
    const std::string name = std::string(argv[3]) + "-" + std::to_string(i - 3);
    const int out = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0 || !copyRange(in, offset, length, out, kernel) || close(out) != 0) return 1;
    offset += length;
  }
  return 0;
}
