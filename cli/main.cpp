// tranchette-cli: the stream facts and the three splits from a terminal, on
// the same engine as the window.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <variant>
#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <QHash>

#include "Convert.h"
#include "FileName.h"
#include "Marks.h"
#include "Sheets.h"
#include "Pauses.h"
#include "Silences.h"
#include "SplitEngine.h"
#include "StreamFacts.h"

namespace {

const char kUsage[] =
    "Usage:\n"
    "  tranchette-cli info [--] FILE...\n"
    "  tranchette-cli size KB [-o TEMPLATE] [--join] [--exact] [--any-file] [-q] [--] FILE...\n"
    "  tranchette-cli time SECONDS [-o TEMPLATE] [--join] [--exact] [-q] [--] FILE...\n"
    "  tranchette-cli time SECONDS --at-pauses[=SECONDS] [--level DB] [--min SECONDS] [...] FILE...\n"
    "  tranchette-cli parts N [--exact] [--at-pauses[=SECONDS]] [-o TEMPLATE] [--join] [-q] [--] FILE...\n"
    "  tranchette-cli frames F0,F1,...|--from-chapters|--from-labels LABELS.txt --snap[=SECONDS] [...] FILE\n"
    "  tranchette-cli cue --snap[=SECONDS] [...] SHEET.cue\n"
    "  tranchette-cli frames F0,F1,... [-o TEMPLATE] [--exact] [--save-marks MARKS] [-q] [--] FILE\n"
    "  tranchette-cli frames --from-chapters [-o TEMPLATE] [--exact] [--save-marks MARKS] [-q] [--] FILE...\n"
    "  tranchette-cli frames --from-labels LABELS.txt [-o TEMPLATE] [--exact] [--save-marks MARKS] [-q]\n"
    "                 [--] FILE\n"
    "  tranchette-cli join -o NAME.mp3 [--] PIECE...\n"
    "  tranchette-cli silences [--level DB] [--min SECONDS] [--format frames|cue|labels] [-v] [-q]\n"
    "                 [--] FILE...\n"
    "  tranchette-cli cue [--exact] [-o TEMPLATE] [--save-marks MARKS] [-q] [--] SHEET.cue\n"
    "  tranchette-cli chapters F0,F1,...|--from-cue SHEET.cue|--from-labels LABELS.txt -o OUT.mp3\n"
    "                 [--] FILE\n"
    "\n"
    "Cuts an MP3 file into pieces without re-encoding: each piece is a byte\n"
    "range of the source copied unchanged, cut at the first byte of a frame\n"
    "(by size: at the byte).\n"
    "\n"
    "Where FILE... is written, several files may be given: each is done in\n"
    "turn, with its own pieces; with several, info and silences head each\n"
    "file's output with '==> FILE <==', and a template needs %name%.\n"
    "\n"
    "Commands:\n"
    "  info     print the stream facts: 'frames: N', 'time_ms: T', 'bytes: S'\n"
    "  size     pieces of KB kilobytes (1 to 2147483647; 1 KB = 1024 bytes); the\n"
    "           rest goes into a last, shorter piece\n"
    "  time     pieces of SECONDS seconds (above 0; a decimal fraction is accepted)\n"
    "  frames   one piece between each pair of neighbouring breakpoints, given\n"
    "           as rising MPEG frame numbers from 0 to 9223372036854775807;\n"
    "           nothing before the first or after the last is written, and a\n"
    "           breakpoint past the last frame stands for the end of the file\n"
    "           --from-chapters takes them from FILE's ID3v2 chapters, and\n"
    "           --from-labels from Audacity's labels (start<TAB>end<TAB>text a\n"
    "           line, in seconds): each label's start, its text the title, and\n"
    "           its end where the next label does not begin there\n"
    "  silences print one breakpoint at the middle of each silence of FILE (sound\n"
    "           below --level DB, default -45, RMS over 50 ms, for at least\n"
    "           --min SECONDS, default 1.5), with 0 and the last frame, as one\n"
    "           comma list that frames takes (--format frames), a cue sheet\n"
    "           (--format cue) or Audacity's labels (--format labels); -v\n"
    "           prints each silence as well (with the comma list only)\n"
    "  cue      split the recording that the cue sheet's FILE names (else the\n"
    "           MP3 of the sheet's own name) at its tracks' INDEX 01, each\n"
    "           piece with its track's TITLE and PERFORMER\n"
    "  chapters write OUT.mp3, a copy of FILE that is not cut: the same audio\n"
    "           bytes, its ID3v2 tag (or a new one) with one chapter (CHAP) a\n"
    "           piece between the breakpoints, 0 and the end added, each with\n"
    "           its title, and a table of contents (CTOC); the breakpoints as\n"
    "           frames takes them, from a cue sheet's tracks (its times taken\n"
    "           for FILE) or from labels. Chapters FILE had are replaced. An\n"
    "           OUT.mp3 that is there already is refused\n"
    "  join     join exact pieces, given in order, into NAME.mp3: the source's\n"
    "           frames again, without the pieces' headers and warm-up frames;\n"
    "           pieces that are not the whole set of consecutive exact pieces\n"
    "           of one source are refused\n"
    "\n"
    "Options:\n"
    "  -o TEMPLATE  output names; \"%track%\" becomes the piece number 001, 002,\n"
    "               ... and \"%title%\" the piece's title where breakpoints came\n"
    "               with titles (cue, --from-chapters), and \"%name%\" the\n"
    "               source's name without folder and extension; default:\n"
    "               <name>-%track%.mp3 in the current folder\n"
    "  --join       also write Join_<name>.bat, \"copy /b\" for Windows' cmd,\n"
    "               and Join_<name>.sh, a \"cat\" script, that join the pieces\n"
    "               again (size and time only); with --exact they call\n"
    "               'tranchette-cli join'. A name that cmd cannot take safely\n"
    "               (a '\"', a '!' or a control character) gets no .bat: a\n"
    "               notice says so, and the .sh is still written\n"
    "  --exact      exact cuts: pieces of whole frames that start with an Info\n"
    "               frame giving their own length, and play gaplessly, to the\n"
    "               sample, one after the other (time: every piece exactly\n"
    "               SECONDS long; size: no piece above KB, headers included;\n"
    "               frames: cut before audio frame F); players that are not\n"
    "               gapless (madplay, sox) play a short silence and repeat at\n"
    "               every join; Layer I and II pieces are cut to the frame,\n"
    "               not to the sample\n"
    "  --any-file   size only: cut any file by its bytes, MPEG audio or not\n"
    "               (without it, a file that holds no MPEG audio is refused)\n"
    "  --save-marks MARKS\n"
    "               frames and cue: once the pieces are written, also write their\n"
    "               breakpoints to MARKS, a cue sheet (.cue), Audacity's labels\n"
    "               (.txt: one a piece, its title or else its track number) or\n"
    "               the comma list that frames takes (.csv); a MARKS that is\n"
    "               there already is refused before anything is written\n"
    "  -q           no progress bar (there is none when stderr is no terminal)\n"
    "  --           everything after it is a value or the FILE\n"
    "  -h, --help   this text\n"
    "  --version    the program's version\n"
    "\n"
    "Each piece is written under a temporary name and renamed once complete;\n"
    "its name is printed then. Exit status: 0 on success, 1 when the file\n"
    "cannot be read or split (pieces already printed are complete), 2 for a\n"
    "usage error, 128 plus the signal's number when stopped by SIGHUP, SIGINT,\n"
    "SIGQUIT or SIGTERM. Output that cannot be written (a full disk) is an\n"
    "error as well: exit status 1. Of several files, one that fails is told\n"
    "and the others are done: exit status 1 where any failed.\n";

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void onSignal(int signal) {
  caughtSignal = signal;
  split::requestStop();
}

// Why stdout could not be written, where it could not (errno).
int outputError = 0;

// Control characters of a name, as C writes them (\n, \t, \x1b): printed raw,
// a newline in a name would read as the end of one.
QString escaped(const QString &text) {
  QString out;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u >= 0x20 && u != 0x7F)
      out += c;
    else if (u == u'\n')
      out += QStringLiteral("\\n");
    else if (u == u'\r')
      out += QStringLiteral("\\r");
    else if (u == u'\t')
      out += QStringLiteral("\\t");
    else
      out += QStringLiteral("\\x%1").arg(QString::number(u, 16).rightJustified(2, u'0'));
  }
  return out;
}

// Lines for the terminal: text to the bytes of the names it holds.
void printLine(std::FILE *stream, const QString &line) {
  const QByteArray bytes = encodeFileName(escaped(line)) + '\n';
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  if (std::fflush(stream) != 0 && stream == stdout && outputError == 0) outputError = errno;
}

void error(const QString &file, const QString &reason) {
  printLine(stderr,
            QStringLiteral("tranchette-cli: ") + (file.isEmpty() ? QString() : file + QStringLiteral(": ")) + reason);
}

int usageError(const QString &message) {
  error(QString(), message);
  std::fputs("Try 'tranchette-cli --help'.\n", stderr);
  return 2;
}

// Prints each piece on stdout and, on a terminal, a bar of the bytes copied on stderr.
class TerminalReporter : public split::Reporter {
 public:
  explicit TerminalReporter(bool bar, const char *unit = "bytes") : bar_(bar && isatty(STDERR_FILENO)), unit_(unit) {}
  void start(std::int64_t) override {}
  void step() override {}
  void complete() override { clearBar(); }
  void pieceWritten(const QString &name) override {
    clearBar();
    printLine(stdout, name);
    draw(true);
  }
  void fail(const split::Message &message) override {
    clearBar();
    error(message.file, message.brief);
  }
  void notice(const split::Message &message) override {
    clearBar();
    error(message.file, message.brief);
  }
  void bytesCopied(std::int64_t done, std::int64_t total) override {
    done_ = done;
    total_ = total;
    draw(false);
  }

 private:
  void clearBar() {
    if (bar_ && drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }
  void draw(bool always) {
    if (!bar_ || total_ <= 0) return;
    constexpr int kWidth = 30;
    // Pieces copied ahead of the facts count against a guessed total.
    const int permille = static_cast<int>(std::clamp<std::int64_t>(done_ * 1000 / total_, 0, 1000));
    if (!always && permille == permille_ && drawn_) return;
    permille_ = permille;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r[%s%s] %5.1f%%  %lld of %lld %s\033[K", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), permille / 10.0, static_cast<long long>(done_),
                 static_cast<long long>(total_), unit_);
    std::fflush(stderr);
    drawn_ = true;
  }
  bool bar_;
  const char *unit_;
  bool drawn_ = false;
  int permille_ = -1;
  std::int64_t done_ = 0, total_ = 0;
};

// Why the stream facts of `file` cannot be had, from the error that says so
// (its text starts with the file's name as given).
QString reasonOf(const QString &file, const std::exception &e) {
  QString reason = decodeFileName(e.what());
  if (reason.startsWith(file + QStringLiteral(": "))) reason.remove(0, file.size() + 2);
  return reason;
}

// The stream facts, or a message and nothing.
std::optional<audio::StreamFacts> streamFacts(const QString &file) {
  try {
    return audio::readStreamFacts(encodeFileName(file).toStdString());
  } catch (const std::exception &e) {
    error(file, reasonOf(file, e));
    return std::nullopt;
  }
}

// The playing time in ms (`byTime`) or the frame count of the source, to be
// read by the split, which copies by a guess at it meanwhile. `known` turns
// true once it is read.
split::Fact factOf(const QString &file, bool byTime, bool &known) {
  const std::string path = encodeFileName(file).toStdString();
  const auto pick = [byTime](const audio::StreamFacts &facts) { return byTime ? facts.totalTimeMs() : facts.frames; };
  const auto guess = audio::guessStreamFacts(path);
  const auto measure = [=, &known](int fd, const split::SourceBytes &read) -> split::FactValue {
    try {
      const std::int64_t fact = pick(audio::readStreamFacts(path, fd, read));
      known = true;
      return fact;
    } catch (const std::exception &e) {
      const QString reason = reasonOf(file, e);
      return split::Message{file, file + QStringLiteral(": ") + reason, reason};
    }
  };
  return {measure, guess ? pick(*guess) : 0};
}

// Several files' output on stdout: each block headed by its file's name,
// with a blank line before every block but the first, as head(1) has it.
void heading(const QString &file) {
  static bool first = true;
  if (!first) printLine(stdout, QString());
  first = false;
  printLine(stdout, QStringLiteral("==> %1 <==").arg(file));
}

int info(const QString &file, bool headed) {
  const auto facts = streamFacts(file);
  if (!facts) return 1;
  if (headed) heading(file);
  struct stat st {};
  ::stat(encodeFileName(file).constData(), &st);
  std::printf("frames: %lld\ntime_ms: %lld\nbytes: %lld\n", static_cast<long long>(facts->frames),
              static_cast<long long>(facts->totalTimeMs()), static_cast<long long>(st.st_size));
  // What players pass over, the frame count with them.
  std::fflush(stdout);
  for (const mpeg::Passed &p : facts->passed)
    error(file, QStringLiteral("passed over %1 bytes of %2 at byte %3, before frame %4")
                    .arg(p.length)
                    .arg(QString::fromLatin1(mpeg::kindName(p.kind)))
                    .arg(p.at)
                    .arg(p.beforeFrame));
  return 0;
}

// From here on a signal stops the run cleanly: the unfinished file goes.
// One that was ignored when the program started stays ignored (nohup, a
// background job of a shell without job control).
void catchSignals() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);  // a closed stdout must not end a piece halfway
  std::signal(SIGXFSZ, SIG_IGN);  // past a file size limit, a write fails and says so
}

// After a split that did not complete: what it left.
void reportLeft(const QString &source, const QStringList &pieces) {
  if (pieces.isEmpty())
    error(source, QStringLiteral("no piece was completed"));
  else if (pieces.size() == 1)
    error(source, QStringLiteral("1 piece was completed: %1").arg(pieces.first()));
  else
    error(source,
          QStringLiteral("%1 pieces were completed: %2 to %3").arg(pieces.size()).arg(pieces.first(), pieces.last()));
}

// A number from the command line, within [least, most].
std::optional<double> numberIn(const QString &text, double least, double most) {
  try {
    const double v = StrToFloat(text);
    if (std::isfinite(v) && v >= least && v <= most) return v;
  } catch (const EConvertError &) {
  }
  return std::nullopt;
}

// What the command line asks for.
struct Options {
  std::string command;
  QString outputTemplate;
  bool haveTemplate = false, join = false, quiet = false, exact = false, anyFile = false;
  bool verbose = false, fromChapters = false;
  std::optional<double> atPauses;  // how far a cut may move to a pause, in seconds
  std::optional<double> snap;      // how far a breakpoint may move to a pause
  std::optional<QString> level, minSeconds, fromLabels, fromCue, saveMarks, format;
  QStringList positional;
};

// "--name" or "--name=SECONDS", a reach in seconds (`fallback` where none is
// given): nothing for another argument; an empty reach for a bad number.
std::optional<std::optional<double>> reachOption(const std::string &arg, const std::string &name, double fallback) {
  if (arg == name) return std::optional<double>(fallback);
  if (arg.rfind(name + '=', 0) != 0) return std::nullopt;
  return numberIn(QString::fromLocal8Bit(arg.substr(name.size() + 1).c_str()), 0, 86400);
}

// The options after the command, or the exit status where the program ends
// here (a usage error, --help).
std::variant<Options, int> readOptions(int argc, char *argv[]) {
  Options o;
  o.command = argv[1];
  bool options = true;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    // A value such as "-1" is a value, refused later for its range.
    const bool option = options && arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
    if (!option) {
      o.positional << decodeFileName(QByteArray(argv[i]));
    } else if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-o") {
      if (++i == argc) return usageError(QStringLiteral("-o needs a template"));
      o.outputTemplate = decodeFileName(QByteArray(argv[i]));
      if (o.outputTemplate.isEmpty()) return usageError(QStringLiteral("-o needs a template, not an empty text"));
      o.haveTemplate = true;
    } else if (arg == "--join") {
      o.join = true;
    } else if (arg == "--exact") {
      o.exact = true;
    } else if (arg == "--any-file") {
      o.anyFile = true;
    } else if (arg == "-q") {
      o.quiet = true;
    } else if (arg == "-v") {
      o.verbose = true;
    } else if (arg == "--from-chapters") {
      o.fromChapters = true;
    } else if (const auto reach = reachOption(arg, "--snap", 5)) {
      if (!*reach) return usageError(QStringLiteral("--snap= takes seconds from 0 to 86400"));
      o.snap = **reach;
    } else if (const auto pauses = reachOption(arg, "--at-pauses", 30)) {
      if (!*pauses) return usageError(QStringLiteral("--at-pauses= takes seconds from 0 to 86400"));
      o.atPauses = **pauses;
    } else if (arg == "--level" || arg == "--min" || arg == "--format") {
      if (++i == argc) return usageError(QStringLiteral("%1 needs a value").arg(QString::fromStdString(arg)));
      (arg == "--level" ? o.level : arg == "--min" ? o.minSeconds : o.format) = QString::fromLocal8Bit(argv[i]);
    } else if (arg == "--from-labels" || arg == "--from-cue" || arg == "--save-marks") {
      if (++i == argc) return usageError(QStringLiteral("%1 needs a file").arg(QString::fromStdString(arg)));
      const QString file = decodeFileName(QByteArray(argv[i]));
      if (file.isEmpty()) return usageError(QStringLiteral("%1 needs a file, not an empty text").arg(QString::fromStdString(arg)));
      (arg == "--from-labels" ? o.fromLabels : arg == "--from-cue" ? o.fromCue : o.saveMarks) = file;
    } else {
      return usageError(QStringLiteral("unknown option %1").arg(decodeFileName(QByteArray(argv[i]))));
    }
  }
  return o;
}

// The FILEs of a command that takes several, one after the other; on a
// terminal a line says which ("file 2 of 5: book.mp3"). One that fails is
// told and the rest go on: 1 where any failed, else 0. A single FILE keeps
// its own status, and a signal ends the run after the FILE it stopped.
int eachFile(const Options &o, const QStringList &files, const std::function<int(const QString &)> &one) {
  if (files.size() == 1) return one(files.first());
  split::keepUnreplaced(files);
  const bool shown = !o.quiet && isatty(STDERR_FILENO);
  int status = 0;
  for (qsizetype i = 0; i < files.size(); ++i) {
    if (shown)
      printLine(stderr, QStringLiteral("file %1 of %2: %3")
                            .arg(QString::number(i + 1), QString::number(files.size()), files[i]));
    const int done = one(files[i]);
    if (caughtSignal) return 128 + caughtSignal;
    if (done != 0) status = 1;
  }
  return status;
}

// Several FILEs split side by side must give their pieces names of their
// own, or one's pieces would replace another's: a template needs %name%,
// and no two FILEs may share the name it stands for. 0, or the status of a
// usage error, before anything is read.
int checkSeveral(const Options &o, const QStringList &files) {
  if (files.size() < 2) return 0;
  if (o.saveMarks) return usageError(QStringLiteral("--save-marks goes with one FILE"));
  if (o.haveTemplate && !o.outputTemplate.contains(QStringLiteral("%name%")))
    return usageError(QStringLiteral("-o TEMPLATE needs %name% for several FILEs, or their pieces would have the same "
                                     "names"));
  QHash<QString, QString> named;
  for (const QString &file : files) {
    const QString names = o.haveTemplate ? split::withSourceName(o.outputTemplate, file) : split::joinNameOf(file);
    if (const auto taken = named.constFind(names); taken != named.cend())
      return usageError(QStringLiteral("%1 and %2 would give their pieces the same names").arg(*taken, file));
    named.insert(names, file);
  }
  return 0;
}

int join(const Options &o) {
  if (!o.haveTemplate) return usageError(QStringLiteral("join needs -o NAME.mp3"));
  if (o.positional.isEmpty()) return usageError(QStringLiteral("join needs the pieces to join"));
  if (o.join || o.exact) return usageError(QStringLiteral("join takes no --join or --exact"));
  catchSignals();
  QString joinedAs;
  std::vector<split::Message> told;
  const auto problem = split::joinPieces(o.positional, o.outputTemplate, &joinedAs, &told);
  for (const split::Message &m : told) error(m.file, m.brief);
  if (problem) {
    error(problem->file, problem->brief);
    return caughtSignal ? 128 + caughtSignal : 1;
  }
  if (joinedAs != o.outputTemplate)
    error(o.outputTemplate, QStringLiteral("holds other bytes than the join, and stays; the join went to %1").arg(joinedAs));
  printLine(stdout, joinedAs);
  return 0;
}

// Checks the split's value before the source is read: 0, or the exit status
// of a usage error. The breakpoints of `frames` and `chapters` go to
// `breakpoints`.
int checkValue(const std::string &command, const QString &value, QStringList &breakpoints) {
  if (command == "size") {
    bool ok = false;
    const qlonglong kilobytes = value.toLongLong(&ok);
    if (!ok || value.startsWith(u'+') || kilobytes < 1 || kilobytes > 2147483647)
      return usageError(QStringLiteral("KB must be a whole number from 1 to 2147483647, not '%1'").arg(value));
  } else if (command == "time") {
    double seconds = 0;
    try {
      seconds = StrToFloat(value);
    } catch (const EConvertError &) {
      seconds = NAN;
    }
    if (!(seconds > 0) || !std::isfinite(seconds))
      return usageError(QStringLiteral("SECONDS must be a number above 0, not '%1'").arg(value));
  } else {
    breakpoints = value.split(u',');
    if (breakpoints.size() < 2)
      return usageError(QStringLiteral("%1 needs at least two breakpoints").arg(QString::fromStdString(command)));
    qlonglong previous = -1;
    for (const QString &b : breakpoints) {
      bool ok = false;
      const qlonglong frame = b.toLongLong(&ok);
      if (!ok || !split::isFrameNumber(b))
        return usageError(
            QStringLiteral("breakpoints must be whole numbers from 0 to 9223372036854775807, not '%1'").arg(b));
      if (frame <= previous)
        return usageError(QStringLiteral("breakpoints must rise, not %1 after %2").arg(frame).arg(previous));
      previous = frame;
    }
  }
  return 0;
}

// The silence settings that --level and --min give over `defaults`;
// nothing, told as a usage error, where one is no number in its range.
std::optional<found::SilenceSettings> silenceSettingsOf(const Options &o, found::SilenceSettings defaults) {
  if (o.level) {
    const auto level = numberIn(*o.level, -120, 0);
    if (!level) return usageError(QStringLiteral("--level must be a number of dB from -120 to 0, not '%1'").arg(*o.level)), std::nullopt;
    defaults.levelDb = *level;
  }
  if (o.minSeconds) {
    const auto shortest = numberIn(*o.minSeconds, 0.05, 86400);
    if (!shortest)
      return usageError(QStringLiteral("--min must be a number of seconds from 0.05 to 86400, not '%1'").arg(*o.minSeconds)),
             std::nullopt;
    defaults.minSeconds = *shortest;
  }
  return defaults;
}

// A split by size cuts bytes, and would cut anything: only MPEG audio unless
// asked for. Exact cuts check the stream themselves, and the split says why
// a file that cannot be read cannot be cut.
bool refusedAsNoMpegAudio(const Options &o, const QString &source) {
  struct stat st {};
  const bool readable = ::stat(encodeFileName(source).constData(), &st) == 0 && S_ISREG(st.st_mode);
  if (o.command != "size" || o.anyFile || o.exact || !readable) return false;
  try {
    audio::requireMpegAudio(encodeFileName(source).toStdString());
    return false;
  } catch (const std::exception &e) {
    error(source, reasonOf(source, e) + QStringLiteral(" (--any-file cuts it by its bytes all the same)"));
    return true;
  }
}

// What --save-marks asks for, checked before anything is written: 0, or the
// exit status where it cannot be had.
int checkSaveMarks(const Options &o) {
  if (!o.saveMarks) return 0;
  if (!found::marksKindOf(*o.saveMarks))
    return usageError(QStringLiteral("--save-marks needs a .cue, .txt or .csv file, not '%1'").arg(*o.saveMarks));
  struct stat st {};
  if (::stat(encodeFileName(*o.saveMarks).constData(), &st) == 0) {
    error(*o.saveMarks, QStringLiteral("it is there already: name another file or remove it"));
    return 1;
  }
  return 0;
}

// Writes the breakpoints to the file --save-marks names, if any; false, told,
// where it cannot.
bool saveMarks(const Options &o, const QString &source, const std::vector<found::Marker> &markers,
               const found::Timeline &t) {
  if (!o.saveMarks) return true;
  const found::MarksText marks =
      found::marksOf(*found::marksKindOf(*o.saveMarks), markers, t, QFileInfo(source).fileName());
  for (const QString &note : marks.notes) error(*o.saveMarks, note);
  if (const found::WriteError problem = found::writeWhole(*o.saveMarks, marks.bytes, false)) {
    error(*o.saveMarks, QStringLiteral("cannot write it: %1").arg(*problem));
    return false;
  }
  return true;
}

// The split at breakpoints found for the user, each piece with its title.
std::optional<found::SilencesFound> pausesOf(const Options &o, const QString &source, double least);

int splitAtMarkers(const Options &o, const QString &source, std::vector<found::Marker> markers,
                   const found::Timeline &t) {
  if (o.snap) {
    catchSignals();
    const auto found = pausesOf(o, source, found::SilenceSettings().minSeconds);
    if (!found) return caughtSignal ? 128 + caughtSignal : 1;
    found::Snapped snapped = found::snapToPauses(*found, std::move(markers), *o.snap);
    markers = std::move(snapped.markers);
    if (!snapped.unmoved.empty()) {
      const bool one = snapped.unmoved.size() == 1;
      error(source, QStringLiteral("no pause within %1 s of breakpoint%2 %3: left where %4")
                        .arg(*o.snap)
                        .arg(one ? QString() : QStringLiteral("s"), found::framesText(snapped.unmoved),
                             one ? QStringLiteral("it was") : QStringLiteral("they were")));
    }
    if (const QString merged = found::mergedBreakpoints(snapped); !merged.isEmpty()) error(source, merged);
  }
  QStringList breakpoints;
  std::vector<split::PieceTitle> titles;
  for (std::size_t i = 0; i < markers.size(); ++i) {
    breakpoints << QString::number(markers[i].frame);
    if (i + 1 < markers.size()) titles.push_back({markers[i].title, markers[i].performer, markers[i].number});
  }
  const QString outputTemplate =
      o.haveTemplate ? o.outputTemplate : split::joinNameOf(source) + QStringLiteral("-%track%.mp3");
  catchSignals();
  TerminalReporter reporter(!o.quiet);
  bool known = o.exact;
  const split::Fact fact = o.exact ? split::Fact(0) : factOf(source, false, known);
  const split::Outcome outcome =
      split::splitAtBreakpoints(source, fact, breakpoints, outputTemplate, reporter, o.exact, titles);
  if (!outcome.completed || caughtSignal) {
    reportLeft(source, outcome.pieces);
    return caughtSignal ? 128 + caughtSignal : 1;
  }
  if (!saveMarks(o, source, markers, t)) return 1;
  return outcome.skipped > 0 ? 1 : 0;
}

// The timeline of `source` for breakpoints found in it; nothing, told, where
// it cannot be read.
std::optional<found::Timeline> timelineOrError(const QString &source) {
  QString why;
  auto t = found::timelineOf(source, &why);
  if (!t) error(source, QStringLiteral("cannot read it: %1").arg(why));
  return t;
}

// The pieces between the chapters of `source`.
int splitAtChapters(const Options &o, const QString &source) {
  const auto t = timelineOrError(source);
  if (!t) return 1;
  const auto read = found::chaptersOf(source, *t);
  if (const auto *problem = std::get_if<found::SheetError>(&read)) {
    error(source, problem->message());
    return 1;
  }
  const found::Markers &chapters = std::get<found::Markers>(read);
  for (const QString &note : chapters.notes) error(source, note);
  if (chapters.markers.empty()) {
    error(source, QStringLiteral("its ID3v2 tag holds no chapter (CHAP frame)"));
    return 1;
  }
  return splitAtMarkers(o, source, chapters.markers, *t);
}

int fromChapters(const Options &o) {
  // Breakpoints given as well come first, as frames takes them otherwise.
  const auto breakpointsLike = [](const QString &text) {
    const QStringList items = text.split(u',');
    return std::all_of(items.begin(), items.end(), split::isFrameNumber);
  };
  if (o.positional.isEmpty() || (o.positional.size() > 1 && breakpointsLike(o.positional[0])) || o.join || o.anyFile ||
      o.fromLabels)
    return usageError(QStringLiteral("frames --from-chapters takes FILEs, and no breakpoints"));
  if (const int status = checkSeveral(o, o.positional)) return status;
  if (const int status = checkSaveMarks(o)) return status;
  return eachFile(o, o.positional, [&](const QString &source) { return splitAtChapters(o, source); });
}

// The breakpoints of the labels in `labelsName` for a file of timeline `t`;
// nothing, told, where they cannot be had.
std::optional<found::Markers> labelsFor(const QString &labelsName, const found::Timeline &t) {
  const auto file = found::readLabelFile(labelsName);
  if (const auto *problem = std::get_if<found::SheetError>(&file)) {
    error(labelsName, problem->message());
    return std::nullopt;
  }
  const auto read = found::readLabels(std::get<QByteArray>(file));
  const auto markers = std::holds_alternative<found::LabelFile>(read)
                           ? found::markersOf(std::get<found::LabelFile>(read), t)
                           : std::variant<found::Markers, found::SheetError>(std::get<found::SheetError>(read));
  if (const auto *problem = std::get_if<found::SheetError>(&markers)) {
    error(labelsName, problem->message());
    return std::nullopt;
  }
  for (const QString &note : std::get<found::Markers>(markers).notes) error(labelsName, note);
  return std::get<found::Markers>(markers);
}

int fromLabels(const Options &o) {
  if (o.positional.size() != 1 || o.join || o.anyFile)
    return usageError(QStringLiteral("frames --from-labels takes LABELS.txt and one FILE, and no breakpoints"));
  if (const int status = checkSaveMarks(o)) return status;
  const QString source = o.positional[0];
  const auto t = timelineOrError(source);
  if (!t) return 1;
  const auto labels = labelsFor(*o.fromLabels, *t);
  if (!labels) return 1;
  return splitAtMarkers(o, source, labels->markers, *t);
}

int cue(const Options &o) {
  if (o.positional.size() != 1 || o.join || o.anyFile || o.fromChapters || o.fromLabels || o.fromCue || o.format)
    return usageError(QStringLiteral("cue takes one SHEET.cue"));
  if (const int status = checkSaveMarks(o)) return status;
  const QString sheetName = o.positional[0];
  const auto file = found::readSheetFile(sheetName);
  if (const auto *problem = std::get_if<found::SheetError>(&file)) {
    error(sheetName, problem->message());
    return 1;
  }
  const auto read = found::readCueSheet(std::get<QByteArray>(file));
  if (const auto *problem = std::get_if<found::SheetError>(&read)) {
    error(sheetName, problem->message());
    return 1;
  }
  const found::CueSheet &sheet = std::get<found::CueSheet>(read);
  const auto recording = found::recordingOf(sheet, sheetName);
  if (!recording) {
    const QString folder = sheetName.left(sheetName.lastIndexOf(u'/') + 1);
    error(sheetName, QStringLiteral("its FILE %1 is not there, nor an MP3 of its name, nor %2")
                         .arg(sheet.file, folder + split::joinNameOf(sheetName) + QStringLiteral(".mp3")));
    return 1;
  }
  const QString source = recording->path;
  const auto t = timelineOrError(source);
  if (!t) return 1;
  const auto markers = found::markersOf(sheet, *t, source, recording->named);
  if (const auto *problem = std::get_if<found::SheetError>(&markers)) {
    error(sheetName, problem->message());
    return 1;
  }
  for (const QString &note : std::get<found::Markers>(markers).notes) error(sheetName, note);
  return splitAtMarkers(o, source, std::get<found::Markers>(markers).markers, *t);
}

// Splits at planned breakpoints as `frames` does, with the join files a
// split by time writes.
int splitAtPlan(const Options &o, const QString &source, const std::vector<std::int64_t> &frames) {
  QStringList breakpoints;
  for (const std::int64_t f : frames) breakpoints << QString::number(f);
  const QString outputTemplate =
      o.haveTemplate ? o.outputTemplate : split::joinNameOf(source) + QStringLiteral("-%track%.mp3");
  TerminalReporter reporter(!o.quiet);
  const split::Outcome outcome = split::splitAtBreakpoints(source, split::Fact(frames.back()), breakpoints,
                                                           outputTemplate, reporter, o.exact);
  if (!outcome.completed || caughtSignal) {
    reportLeft(source, outcome.pieces);
    return caughtSignal ? 128 + caughtSignal : 1;
  }
  if (o.join && !outcome.pieces.isEmpty()) {
    const split::JoinFiles written = split::writeJoinFiles(outcome.pieces, split::joinNameOf(source), o.exact);
    if (written.skipped) error(written.skipped->file, written.skipped->brief);
    for (const split::Message &failure : written.failed) error(failure.file, failure.brief);
    if (!written.failed.empty()) return 1;
  }
  return 0;
}

// The silences of `source` for planning at pauses (-45 dB and 0.5 s unless
// told otherwise), with the bar on a terminal; nothing, told, where they
// cannot be had.
std::optional<found::SilencesFound> pausesOf(const Options &o, const QString &source, double least) {
  const auto settings = silenceSettingsOf(o, {-45, least});
  if (!settings) return std::nullopt;
  TerminalReporter bar(!o.quiet, "frames");
  QString why;
  auto found = found::findSilences(
      source, *settings, [&](std::int64_t done, std::int64_t total) { bar.bytesCopied(done, total); }, &split::stopFlag(),
      &why);
  bar.complete();
  if (!found && !caughtSignal) error(source, QStringLiteral("cannot be searched: %1").arg(why));
  return found;
}

// time SECONDS --at-pauses[=WINDOW] and parts N --at-pauses[=WINDOW]: the
// pieces `plan` plans from the file's pauses.
int splitAtPauses(const Options &o, const QString &source,
                  const std::function<found::PausePlan(const found::SilencesFound &)> &planOf) {
  catchSignals();
  const auto found = pausesOf(o, source, 0.5);
  if (!found) return caughtSignal ? 128 + caughtSignal : 1;
  const found::PausePlan plan = planOf(*found);
  const int status = splitAtPlan(o, source, plan.frames);
  if (status == 0 && !plan.missed.empty()) error(source, found::missedPauses(plan));
  return status;
}

// parts N FILE: N pieces of equal playing time (at pauses, with --at-pauses).
// A count above the frames of the one FILE is a usage error; of one of
// several, that FILE's failure.
int partsOf(const Options &o, const QString &value, const QString &source, bool several) {
  bool ok = false;
  const qlonglong count = value.toLongLong(&ok);
  const auto t = timelineOrError(source);
  if (!t) return 1;
  if (!ok || count < 1 || count > t->frames) {
    const QString why = QStringLiteral("the count of parts must be a whole number from 1 to %1 (the frames of %2), not '%3'")
                            .arg(t->frames)
                            .arg(source, value);
    if (!several) return usageError(why);
    error(QString(), why);
    return 1;
  }
  if (o.atPauses)
    return splitAtPauses(o, source, [&](const found::SilencesFound &found) {
      return found::planPartsAtPauses(found, count, *o.atPauses);
    });
  catchSignals();
  return splitAtPlan(o, source, found::equalParts(t->frames, count));
}

int parts(const Options &o) {
  if (o.positional.size() < 2 || o.anyFile || o.fromChapters)
    return usageError(QStringLiteral("parts takes a count and FILEs"));
  const QString value = o.positional[0];
  const QStringList files = o.positional.mid(1);
  bool ok = false;
  if (files.size() > 1 && (value.toLongLong(&ok) < 1 || !ok))
    return usageError(QStringLiteral("the count of parts must be a whole number above 0, not '%1'").arg(value));
  if (const int status = checkSeveral(o, files)) return status;
  return eachFile(o, files, [&](const QString &source) { return partsOf(o, value, source, files.size() > 1); });
}

// One FILE of size, time, or frames at breakpoints.
int splitOne(const Options &o, const QString &value, const QStringList &breakpoints, const QString &source) {
  const QString outputTemplate =
      o.haveTemplate ? o.outputTemplate : split::joinNameOf(source) + QStringLiteral("-%track%.mp3");
  if (refusedAsNoMpegAudio(o, source)) return 1;

  catchSignals();
  TerminalReporter reporter(!o.quiet);
  split::Outcome outcome;
  if (o.command == "size") {
    outcome = split::splitBySize(source, value, outputTemplate, reporter, o.exact);
  } else {
    const bool byTime = o.command == "time";
    bool known = o.exact;
    const split::Fact fact = o.exact ? split::Fact(0) : factOf(source, byTime, known);
    outcome = byTime ? split::splitByTime(source, value, fact, outputTemplate, reporter, o.exact)
                     : split::splitAtBreakpoints(source, fact, breakpoints, outputTemplate, reporter, o.exact);
    // Where the facts could not be had, that is all there is to say.
    if (!outcome.completed && !known && !caughtSignal) return 1;
  }

  // A signal after the last piece's last check still ends the run: no join files.
  if (!outcome.completed || caughtSignal) {
    reportLeft(source, outcome.pieces);
    return caughtSignal ? 128 + caughtSignal : 1;
  }
  if (o.saveMarks) {
    const auto t = timelineOrError(source);
    std::vector<found::Marker> markers;
    for (const QString &b : breakpoints) markers.push_back({b.toLongLong(), {}, {}});
    if (!t || !saveMarks(o, source, markers, *t)) return 1;
  }
  if (o.join && !outcome.pieces.isEmpty()) {
    const split::JoinFiles written = split::writeJoinFiles(outcome.pieces, split::joinNameOf(source), o.exact);
    if (written.skipped) error(written.skipped->file, written.skipped->brief);  // a notice: the rest is there
    for (const split::Message &failure : written.failed) error(failure.file, failure.brief);
    if (!written.failed.empty()) return 1;
  }
  return outcome.skipped > 0 ? 1 : 0;
}

int splitFile(const Options &o) {
  if (o.command == "parts") return parts(o);
  if (o.command == "time" && o.atPauses) {
    if (o.positional.size() < 2) return usageError(QStringLiteral("time --at-pauses takes SECONDS and FILEs"));
    const auto seconds = numberIn(o.positional[0], 0.001, 1e9);
    if (!seconds)
      return usageError(QStringLiteral("the length must be a number of seconds above 0, not '%1'").arg(o.positional[0]));
    const QStringList files = o.positional.mid(1);
    if (const int status = checkSeveral(o, files)) return status;
    return eachFile(o, files, [&](const QString &source) {
      return splitAtPauses(o, source, [&](const found::SilencesFound &found) {
        return found::planAtPauses(found, *seconds, *o.atPauses);
      });
    });
  }
  if (o.atPauses) return usageError(QStringLiteral("--at-pauses goes with time and parts"));
  if (o.snap && o.command == "frames" && !o.fromChapters && !o.fromLabels && o.positional.size() == 2) {
    QStringList breakpoints;
    if (const int status = checkValue(o.command, o.positional[0], breakpoints)) return status;
    if (const int status = checkSaveMarks(o)) return status;
    const auto t = timelineOrError(o.positional[1]);
    if (!t) return 1;
    std::vector<found::Marker> markers;
    for (const QString &b : breakpoints) markers.push_back({b.toLongLong(), {}, {}});
    return splitAtMarkers(o, o.positional[1], std::move(markers), *t);
  }
  if (o.snap && o.command != "frames") return usageError(QStringLiteral("--snap goes with frames and cue"));
  if (o.command == "frames" && o.fromChapters) return fromChapters(o);
  if (o.command == "frames" && o.fromLabels) return fromLabels(o);
  if (o.fromChapters) return usageError(QStringLiteral("--from-chapters goes with frames"));
  if (o.fromLabels) return usageError(QStringLiteral("--from-labels goes with frames and chapters"));
  if (o.fromCue) return usageError(QStringLiteral("--from-cue goes with chapters"));
  if (o.format) return usageError(QStringLiteral("--format goes with silences"));
  if (o.saveMarks && o.command != "frames") return usageError(QStringLiteral("--save-marks goes with frames and cue"));
  // Breakpoints are for one FILE; a size or a time for any number.
  if (o.positional.size() < 2 || (o.command == "frames" && o.positional.size() != 2))
    return usageError(o.command == "frames" ? QStringLiteral("frames takes breakpoints and one FILE")
                                            : QStringLiteral("the command takes a value and FILEs"));
  if (o.command == "frames" && o.join) return usageError(QStringLiteral("--join goes with size and time"));
  if (o.command != "size" && o.anyFile) return usageError(QStringLiteral("--any-file goes with size"));
  const QString value = o.positional[0];
  const QStringList files = o.positional.mid(1);
  QStringList breakpoints;
  if (const int status = checkValue(o.command, value, breakpoints)) return status;
  if (const int status = checkSaveMarks(o)) return status;
  if (const int status = checkSeveral(o, files)) return status;
  return eachFile(o, files, [&](const QString &source) { return splitOne(o, value, breakpoints, source); });
}

// The silences of one FILE on stdout; headed by its name where there are
// several.
int silencesOf(const Options &o, std::optional<found::MarksKind> kind, const found::SilenceSettings &settings,
               const QString &file, bool headed) {
  catchSignals();
  QString why;
  TerminalReporter bar(!o.quiet, "frames");
  const auto found = found::findSilences(
      file, settings, [&](std::int64_t done, std::int64_t total) { bar.bytesCopied(done, total); }, &split::stopFlag(),
      &why);
  bar.complete();
  if (!found) {
    if (caughtSignal) return 128 + caughtSignal;
    error(file, QStringLiteral("cannot be searched: %1").arg(why));
    return 1;
  }
  if (found->silences.empty()) {
    QString text = QStringLiteral("no silence of %1 s below %2 dB").arg(settings.minSeconds).arg(settings.levelDb);
    if (const auto level = found::levelToFind(*found, settings))
      text += QStringLiteral("; %1; try --level %2").arg(found::quietestHint(*found, settings)).arg(*level);
    error(file, text);
    return 1;
  }
  if (headed) heading(file);
  if (o.verbose)
    for (const found::Silence &s : found->silences)
      printLine(stdout, QStringLiteral("silence %1 to %2 s, %3 dB")
                            .arg(s.start, 0, 'f', 3)
                            .arg(s.end, 0, 'f', 3)
                            .arg(s.levelDb, 0, 'f', 1));
  if (kind) {
    // As the file would hold it, tabs and all.
    const found::MarksText marks = found::marksOf(*kind, found->markers, found->timeline, QFileInfo(file).fileName());
    for (const QString &note : marks.notes) error(file, note);
    std::fwrite(marks.bytes.constData(), 1, static_cast<std::size_t>(marks.bytes.size()), stdout);
    if (std::fflush(stdout) != 0 && outputError == 0) outputError = errno;
    return 0;
  }
  QStringList frames;
  for (const found::Marker &m : found->markers) frames << QString::number(m.frame);
  printLine(stdout, frames.join(u','));
  return 0;
}

int silences(const Options &o) {
  if (o.positional.isEmpty() || o.haveTemplate || o.join || o.exact || o.fromChapters || o.fromLabels || o.fromCue ||
      o.saveMarks)
    return usageError(QStringLiteral("silences takes FILEs, and --level, --min, --format, -v and -q"));
  std::optional<found::MarksKind> kind;
  if (o.format && *o.format == u"cue") kind = found::MarksKind::cueSheet;
  if (o.format && *o.format == u"labels") kind = found::MarksKind::labels;
  if (o.format && !kind && *o.format != u"frames")
    return usageError(QStringLiteral("--format must be frames, cue or labels, not '%1'").arg(*o.format));
  if (kind && o.verbose) return usageError(QStringLiteral("-v goes with --format frames"));
  const auto settings = silenceSettingsOf(o, {});
  if (!settings) return 2;
  return eachFile(o, o.positional, [&](const QString &file) {
    return silencesOf(o, kind, *settings, file, o.positional.size() > 1);
  });
}

// A copy of the source with chapters at the breakpoints, not cut.
int chapters(const Options &o) {
  const int sources = (o.fromCue ? 1 : 0) + (o.fromLabels ? 1 : 0);
  const bool listed = sources == 0 && o.positional.size() == 2;
  if (sources > 1 || (!listed && o.positional.size() != 1) || o.join || o.exact || o.anyFile || o.fromChapters ||
      o.saveMarks || o.format)
    return usageError(QStringLiteral("chapters takes F0,F1,..., --from-cue SHEET or --from-labels LABELS, -o OUT.mp3 "
                                     "and one FILE"));
  if (!o.haveTemplate) return usageError(QStringLiteral("chapters needs -o OUT.mp3"));
  QStringList breakpoints;
  if (listed)
    if (const int status = checkValue("chapters", o.positional[0], breakpoints)) return status;
  const QString source = o.positional.last();
  const auto t = timelineOrError(source);
  if (!t) return 1;
  std::vector<found::Marker> markers;
  for (const QString &b : breakpoints) markers.push_back({b.toLongLong(), {}, {}});
  if (o.fromLabels) {
    const auto labels = labelsFor(*o.fromLabels, *t);
    if (!labels) return 1;
    markers = labels->markers;
  }
  if (o.fromCue) {
    const auto file = found::readSheetFile(*o.fromCue);
    const auto read = std::holds_alternative<QByteArray>(file)
                          ? found::readCueSheet(std::get<QByteArray>(file))
                          : std::variant<found::CueSheet, found::SheetError>(std::get<found::SheetError>(file));
    const auto found = std::holds_alternative<found::CueSheet>(read)
                           ? found::markersOf(std::get<found::CueSheet>(read), *t, source)
                           : std::variant<found::Markers, found::SheetError>(std::get<found::SheetError>(read));
    if (const auto *problem = std::get_if<found::SheetError>(&found)) {
      error(*o.fromCue, problem->message());
      return 1;
    }
    for (const QString &note : std::get<found::Markers>(found).notes) error(*o.fromCue, note);
    markers = std::get<found::Markers>(found).markers;
  }
  catchSignals();
  const auto written = found::writeChapters(source, markers, *t, o.outputTemplate, false, &split::stopFlag());
  if (const auto *problem = std::get_if<QString>(&written)) {
    error(QString(), *problem);
    return caughtSignal ? 128 + caughtSignal : 1;
  }
  const found::ChaptersWritten &done = std::get<found::ChaptersWritten>(written);
  for (const QString &note : done.notes) error(o.outputTemplate, note);
  if (done.replaced > 0)
    error(o.outputTemplate, QStringLiteral("the %1 chapter%2 that %3 had %4 replaced")
                                .arg(done.replaced)
                                .arg(done.replaced == 1 ? QString() : QStringLiteral("s"), source,
                                     done.replaced == 1 ? QStringLiteral("is") : QStringLiteral("are")));
  printLine(stdout, o.outputTemplate);
  return 0;
}

// The command line's work; main() checks its output.
int run(int argc, char *argv[]) {
  // No QCoreApplication: nothing here needs one, and its start costs a
  // millisecond of every run. The locale is taken as it would take it.
  std::setlocale(LC_ALL, "");
  if (argc < 2) return usageError(QStringLiteral("a command is needed"));
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("tranchette-cli %s\n", TRANCHETTE_VERSION);
    return 0;
  }
  const auto read = readOptions(argc, argv);
  if (const int *status = std::get_if<int>(&read)) return *status;
  const Options &o = std::get<Options>(read);
  static const QStringList commands{QStringLiteral("info"),     QStringLiteral("join"), QStringLiteral("silences"),
                                    QStringLiteral("cue"),      QStringLiteral("chapters"), QStringLiteral("size"),
                                    QStringLiteral("time"),     QStringLiteral("frames"), QStringLiteral("parts")};
  if (!commands.contains(QString::fromStdString(command)))
    return usageError(QStringLiteral("unknown command %1").arg(decodeFileName(QByteArray(argv[1]))));
  // What a pause is: looked at once, before any file is read, and only
  // where pauses are looked for.
  if (o.level || o.minSeconds) {
    if (command != "silences" && !o.atPauses && !o.snap)
      return usageError(QStringLiteral("--level and --min go with silences, --at-pauses and --snap"));
    if (!silenceSettingsOf(o, {})) return 2;
  }
  if (command == "info") {
    if (o.positional.isEmpty() || o.join || o.haveTemplate || o.exact)
      return usageError(QStringLiteral("info takes FILEs"));
    return eachFile(o, o.positional, [&](const QString &file) { return info(file, o.positional.size() > 1); });
  }
  if (command == "join") return join(o);
  if (command == "silences") return silences(o);
  if (command == "cue") return cue(o);
  if (command == "chapters") return chapters(o);
  return splitFile(o);
}

}  // namespace

int main(int argc, char *argv[]) {
  const int status = run(argc, argv);
  // A stop by a signal is said already; a write to stdout that the signal
  // broke off is part of it, not a fault of the output.
  if (caughtSignal && (outputError == 0 || outputError == EINTR)) return status;
  // What was printed must have reached stdout: a list of pieces lost to a
  // full disk is no success.
  if (std::fflush(stdout) != 0 && outputError == 0) outputError = errno;
  if (outputError == 0 && std::ferror(stdout)) outputError = EIO;
  if (outputError == 0) return status;
  error(QString(), QStringLiteral("cannot write the output: %1").arg(QString::fromLocal8Bit(std::strerror(outputError))));
  return status == 0 ? 1 : status;
}
