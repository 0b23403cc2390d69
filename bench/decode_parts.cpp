// libmpg123 decoding a file alone, in the parts and on the threads the
// silence search decodes it in: the floor the search is measured against.
#include <cstdio>
#include <cstdlib>

#include "Silences.h"

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) return 2;
  QString why;
  if (!found::decodeOnly(QString::fromLocal8Bit(argv[1]), argc > 2 ? std::atoi(argv[2]) : 0, &why)) {
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return 1;
  }
  return 0;
}
