// tranchette-cli: the stream facts and the three splits from a terminal, on
// the same engine as the window.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "Convert.h"
#include "MPEGPLAYLib_OCX.h"
#include "SplitEngine.h"

namespace {

const char kUsage[] =
    "Usage:\n"
    "  tranchette-cli info FILE\n"
    "  tranchette-cli size KB FILE [-o TEMPLATE] [--join] [-q]\n"
    "  tranchette-cli time SECONDS FILE [-o TEMPLATE] [--join] [-q]\n"
    "  tranchette-cli frames F0,F1,... FILE [-o TEMPLATE] [-q]\n"
    "\n"
    "Cuts an MP3 file into pieces without re-encoding: each piece is a byte\n"
    "range of the source copied unchanged, sized in proportion to the file's\n"
    "size and its playing time or frame count.\n"
    "\n"
    "Commands:\n"
    "  info     print the stream facts: 'frames: N', 'time_ms: T', 'bytes: S'\n"
    "  size     pieces of KB kilobytes (1 KB = 1024 bytes); the rest goes into a\n"
    "           last, shorter piece\n"
    "  time     pieces of SECONDS seconds (a decimal fraction is accepted)\n"
    "  frames   one piece between each pair of neighbouring breakpoints, given\n"
    "           as ascending decimal MPEG frame numbers; nothing before the\n"
    "           first or after the last is written\n"
    "\n"
    "Options:\n"
    "  -o TEMPLATE  output names; \"%track%\" becomes the piece number 001, 002,\n"
    "               ... (default: <name>-%track%.mp3 in the current folder)\n"
    "  --join       also write Join_<name>.bat, a one-line \"copy /b\" command\n"
    "               that joins the pieces again (size and time only)\n"
    "  -q           no progress bar\n"
    "  -h, --help   this text\n"
    "\n"
    "Each piece's name is printed as it is written. Exit status: 0 on success,\n"
    "1 when the file cannot be read or split, 2 for a usage error.\n";

int usageError(const char *message) {
  std::fprintf(stderr, "tranchette-cli: %s\nTry 'tranchette-cli --help'.\n", message);
  return 2;
}

QString fromArg(const char *arg) { return QString::fromLocal8Bit(arg); }

// Prints each piece on stdout and, on a terminal, a progress bar on stderr.
class TerminalReporter : public split::Reporter {
 public:
  explicit TerminalReporter(bool bar) : bar_(bar && isatty(STDERR_FILENO)) {}
  void start(std::int64_t maximum) override {
    maximum_ = maximum;
    position_ = 0;
    draw();
  }
  void step() override {
    ++position_;
    draw();
  }
  void complete() override {
    position_ = maximum_;
    draw();
    if (bar_) std::fputc('\n', stderr);
  }
  void pieceWritten(const QString &name) override {
    if (bar_) std::fputs("\r\033[K", stderr);
    std::printf("%s\n", name.toLocal8Bit().constData());
    std::fflush(stdout);
    draw();
  }
  void fail(const QString &message) override {
    if (bar_) std::fputs("\r\033[K", stderr);
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  }

 private:
  void draw() const {
    if (!bar_) return;
    constexpr int kWidth = 40;
    const int filled = maximum_ > 0 ? static_cast<int>(position_ * kWidth / maximum_) : 0;
    std::fprintf(stderr, "\r[%s%s] %lld/%lld", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), static_cast<long long>(position_),
                 static_cast<long long>(maximum_));
    std::fflush(stderr);
  }
  bool bar_;
  std::int64_t maximum_ = 0;
  std::int64_t position_ = 0;
};

int info(const QString &file) {
  try {
    const audio::StreamFacts facts = audio::readStreamFacts(file.toStdString());
    std::printf("frames: %lld\ntime_ms: %lld\nbytes: %lld\n", static_cast<long long>(facts.frames),
                static_cast<long long>(facts.totalTimeMs()), static_cast<long long>(QFileInfo(file).size()));
    return 0;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "tranchette-cli: %s\n", error.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return usageError("a command is needed");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }

  QString outputTemplate;
  bool join = false, quiet = false;
  QStringList positional;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-o") {
      if (++i == argc) return usageError("-o needs a template");
      outputTemplate = fromArg(argv[i]);
    } else if (arg == "--join") {
      join = true;
    } else if (arg == "-q") {
      quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-' && command != "frames") {
      return usageError(("unknown option " + arg).c_str());
    } else {
      positional << fromArg(argv[i]);
    }
  }

  if (command == "info") {
    if (positional.size() != 1 || join || !outputTemplate.isEmpty()) return usageError("info takes one FILE");
    return info(positional[0]);
  }
  if (command != "size" && command != "time" && command != "frames")
    return usageError(("unknown command " + command).c_str());
  if (positional.size() != 2) return usageError("the command takes a value and a FILE");
  if (command == "frames" && join) return usageError("--join goes with size and time");

  const QString value = positional[0];
  const QString source = positional[1];
  if (outputTemplate.isEmpty()) outputTemplate = split::joinNameOf(source) + QStringLiteral("-%track%.mp3");
  TerminalReporter reporter(!quiet);
  split::Outcome outcome;

  if (command == "size") {
    bool ok = false;
    value.toLongLong(&ok);
    if (!ok || value.startsWith(u'-') || value.startsWith(u'+')) return usageError("KB must be a whole number");
    outcome = split::splitBySize(source, value, outputTemplate, reporter);
  } else if (command == "time") {
    try {
      if (StrToFloat(value) <= 0) return usageError("SECONDS must be above 0");
    } catch (const EConvertError &) {
      return usageError("SECONDS must be a number");
    }
    std::int64_t totalTime = 0;
    try {
      totalTime = audio::readStreamFacts(source.toStdString()).totalTimeMs();
    } catch (const std::exception &error) {
      std::fprintf(stderr, "tranchette-cli: %s\n", error.what());
      return 1;
    }
    outcome = split::splitByTime(source, value, totalTime, outputTemplate, reporter);
  } else {
    const QStringList breakpoints = value.split(u',');
    if (breakpoints.size() < 2) return usageError("frames needs at least two breakpoints");
    std::int64_t frames = 0;
    try {
      frames = audio::readStreamFacts(source.toStdString()).frames;
    } catch (const std::exception &error) {
      std::fprintf(stderr, "tranchette-cli: %s\n", error.what());
      return 1;
    }
    outcome = split::splitAtBreakpoints(source, frames, breakpoints, outputTemplate, reporter);
  }
  if (!outcome.completed) return 1;
  if (join && !outcome.pieces.isEmpty() && !split::writeJoinBatch(outcome.pieces, split::joinNameOf(source))) {
    std::fprintf(stderr, "tranchette-cli: cannot write Join_%s.bat\n",
                 split::joinNameOf(source).toLocal8Bit().constData());
    return 1;
  }
  return 0;
}
