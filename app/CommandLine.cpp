#include "CommandLine.h"

#include <cstdio>
#include <string>

namespace {
const char kUsage[] =
    "Usage: tranchette [OPTION...] [--] [FILE]\n"
    "\n"
    "Cuts an MP3 file into smaller ones without re-encoding, in a window.\n"
    "FILE goes into the source box, and its folder becomes the one where\n"
    "pieces named without a folder are written.\n"
    "\n"
    "Options:\n"
    "  -h, --help     this text\n"
    "  --version      the program's version\n"
    "  --             everything after it is the FILE, even if it begins with -\n"
    "\n"
    "Qt's own options (such as -platform or -style) are taken as well.\n"
    "tranchette-cli does the same work from a terminal.\n";

}  // namespace

// Options of the program's own, looked at before Qt starts so that they need
// no display. Returns an exit status where the program ends here.
std::optional<int> answerOwnOptions(int argc, char *argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("tranchette %s\n", TRANCHETTE_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}

// The FILE among what Qt left of the arguments, or an empty name; an option
// the program does not know ends it with status 2.
std::optional<QByteArray> fileArgument(int argc, char *argv[]) {
  QByteArray file;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (options && arg == "--") {
      options = false;
    } else if (options && arg.size() > 1 && arg.startsWith('-')) {
      std::fprintf(stderr, "tranchette: unknown option %s\nTry 'tranchette --help'.\n", argv[i]);
      return std::nullopt;
    } else if (file.isEmpty()) {
      file = arg;
    }
  }
  return file;
}
