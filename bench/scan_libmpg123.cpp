// libmpg123's own full scan of a file, for the benchmarks to compare against:
// prints the same three lines as "tranchette-cli info".
#include <cstdio>
#include <sys/stat.h>

#include "StreamFacts.h"

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  try {
    const audio::StreamFacts facts = audio::scanWithLibmpg123(argv[1]);
    struct stat st {};
    stat(argv[1], &st);
    std::printf("frames: %lld\ntime_ms: %lld\nbytes: %lld\n", static_cast<long long>(facts.frames),
                static_cast<long long>(facts.totalTimeMs()), static_cast<long long>(st.st_size));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
