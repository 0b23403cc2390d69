#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include <QString>
#include <QStringList>

// The split engine: cuts a file into byte ranges copied unchanged. Plain C++
// on Qt Core, shared by the window's workers and tranchette-cli, so both
// write the same bytes.
//
// Every piece is written under a temporary name in its own folder and renamed
// over its final name only once complete, so a final name never holds a
// truncated piece: a failure or a stop removes the unfinished piece. File
// names are texts as decodeFileName makes them from the system's bytes.
namespace split {

inline constexpr std::int64_t kBlock = 1048576;  // no copy buffer is larger

// What a run has to say to the user, in two forms.
struct Message {
  QString file;   // the file it is about; empty when it is about the parameters
  QString text;   // the whole message for a message box, lines joined by "\r\n"
  QString brief;  // the same in one line for a terminal, after "<file>: "
};

// How a run tells its front end what happens.
class Reporter {
 public:
  virtual ~Reporter() = default;
  // The bar is set to 0 of `maximum` steps, one step a piece.
  virtual void start(std::int64_t maximum) = 0;
  virtual void step() = 0;
  // The bar is set to its maximum.
  virtual void complete() = 0;
  virtual void pieceWritten(const QString &name) = 0;
  // A run that cannot go on: one message for the user. Nothing further is written.
  virtual void fail(const Message &message) = 0;
  // Something the user should know about a run that goes on.
  virtual void notice(const Message &message) = 0;
  // Bytes copied so far of all the run copies; often, so keep it cheap.
  virtual void bytesCopied(std::int64_t /*done*/, std::int64_t /*total*/) {}
};

// Asks the run in progress to stop as soon as it can; safe to call from a
// signal handler. The run removes the piece it was writing and fails with a
// message; the pieces already complete stay. A stop once asked for stays
// asked until withdrawn with `false`.
void requestStop(bool stop = true) noexcept;
// The flag requestStop() sets, for other work to stop by.
const std::atomic<bool> &stopFlag() noexcept;

// Files that no piece this process writes may replace, wherever a template
// puts the pieces: the sources of a run over several files, which one of
// them could otherwise name (x.mp3's first piece is x-001.mp3, which may be
// the next source). Kept by device and inode as they stand now; one not
// there yet, by its folder and name.
void keepUnreplaced(const QStringList &paths);

// The track text of a piece number: at least three digits, zero-padded.
QString formatTrackNumber(std::int64_t track);

// The name of piece `track` from an output template: the track text replaces
// the first "%track%". A template without one gets "-" and the track text
// before the extension of its file name.
QString pieceName(const QString &outputTemplate, std::int64_t track, const QString &title = {});

// The template for the pieces of `source`: every "%name%" becomes the
// source's name without folder and extension, made fit for a file name as
// titles are. The splits take their template through it.
QString withSourceName(const QString &outputTemplate, const QString &source);

// What a piece between breakpoints is called, where the breakpoints came with
// it (a cue sheet's track, a chapter): exact pieces carry it in their ID3v2
// tag (TIT2, TPE1), and "%title%" in the template becomes the title.
struct PieceTitle {
  QString title, performer;
  // The track number the piece takes (a cue sheet's), where every piece has
  // one and they rise; else pieces are numbered 1, 2, ...
  std::int64_t number = -1;
};

// The part of a path after its last folder separator: "/" on Linux; "\", "/"
// or ":" on Windows.
QString fileNamePart(const QString &path);

// `text` put in before the extension of the path's file name part (at the end
// when the name has none).
QString insertBeforeExtension(const QString &path, const QString &text);

// A breakpoint as the list holds it: decimal digits only.
bool isFrameNumber(const QString &text);

// What the file at `path` is when it is not a regular file: "a folder", "a
// FIFO", "a socket", ...; nothing for a regular file or one that cannot be
// looked at. It looks without opening, so it never waits.
std::optional<QString> notRegularKind(const QString &path);

// The source's name without folder and extension.
QString joinNameOf(const QString &source);

struct Outcome {
  QStringList pieces;      // complete under their final names, in track order
  bool completed = false;  // the run ended normally
  // Pieces between breakpoints that would hold no byte, and so were not written.
  std::int64_t skipped = 0;
};

// The bytes of a source as they are read: (offset, bytes, size), once each,
// in order from offset 0.
using SourceBytes = std::function<void(std::int64_t offset, const unsigned char *bytes, std::size_t size)>;
// A stream fact, or the message saying why it cannot be had.
using FactValue = std::variant<std::int64_t, Message>;

// A stream fact that a split needs (the frame count, the playing time in
// ms): known, or measured by the split on the source itself. `measure(fd,
// read)`, run on a thread of its own, reads the source open at `fd` from its
// offset 0 and tells `read` what it reads; meanwhile the split copies those
// very bytes into the pieces of the layout of the `guess`, under temporary
// names, so that the source is read once. Pieces that the fact lays out
// alike are then only renamed; the rest are dropped and copied anew. `read`
// may throw (a stop asked for): the measurement lets that through.
struct Fact {
  using Measure = std::function<FactValue(int fd, const SourceBytes &read)>;
  Fact(std::int64_t known);  // NOLINT(google-explicit-constructor): a known fact is just its value
  Fact(Measure measuring, std::int64_t guessed) : measure(std::move(measuring)), guess(guessed) {}
  std::int64_t known = 0;
  Measure measure;         // none where the fact is known
  std::int64_t guess = 0;  // 0: none
};

// Exact cuts (`exactCuts`): instead of byte ranges in proportion, pieces of
// whole frames, each led by an Info frame that gives its own length, frame
// count and encoder delay and padding; every piece after the first brings
// the bit reservoir and a frame of warm-up before its cut, hidden by the
// delay, so that a gapless decoder plays the pieces one after the other as
// the source, to the sample. The source's tags go to every piece with its
// track number set. A source that is not a plain stream is refused.

// Pieces of `kilobytes` KB. `sizeText` as typed: an empty text does nothing.
// Exact: every piece, tags and headers included, is at most that size, cut
// at the last frame that fits.
Outcome splitBySize(const QString &source, const QString &sizeText, const QString &outputTemplate, Reporter &reporter,
                    bool exactCuts = false);

// Pieces of `lengthText` seconds, sized in proportion to the playing time.
// Exact: piece k plays the samples from k times the length on, to the
// sample (Layers I and II: to the frame, and the run says so); the playing
// time is then read from the stream itself.
Outcome splitByTime(const QString &source, const QString &lengthText, const Fact &totalTimeMs,
                    const QString &outputTemplate, Reporter &reporter, bool exactCuts = false);

// One piece between each pair of neighbouring breakpoints (frame numbers as
// decimal texts, strictly ascending), sized in proportion to the frame count.
// Fewer than two breakpoints do nothing. A breakpoint past the last frame
// stands for the end of the file; a piece that would hold no byte is not
// written, and the run notices both. Exact: a breakpoint b cuts before
// audio frame b (the frame count is then read from the stream itself).
// `titles[k - 1]`, where given, is piece k's.
Outcome splitAtBreakpoints(const QString &source, const Fact &frames, const QStringList &breakpoints,
                           const QString &outputTemplate, Reporter &reporter, bool exactCuts = false,
                           const std::vector<PieceTitle> &titles = {});

// The one-line "copy /b" command that joins the pieces into <joinName>.mp3:
// names without folders, quoted where cmd would split them, every "%" doubled.
// Where a name holds a character beyond ASCII, a first line "chcp 65001 >nul"
// has cmd read the UTF-8 names that follow as such.
// Where that line would be longer than cmd reads (8191 characters), further
// lines, separated by CR LF, append the rest of the pieces to <joinName>.mp3.
// Exact pieces are joined by "tranchette-cli join -o <joinName>.mp3 -- ...".
QString joinCommand(const QStringList &pieces, const QString &joinName, bool exactPieces = false);

// The first character of the piece names or the join name that cmd cannot
// take safely even inside quotes ('"', "!", a control character), if any.
std::optional<QChar> unsafeForBatch(const QStringList &pieces, const QString &joinName);

// The shell script that joins the pieces into <joinName>.mp3: "#!/bin/sh" and
// one "cat" line with every name single-quoted, the pieces with the folders
// they were written to, into a temporary file that replaces <joinName>.mp3
// once every piece is read.
// Exact pieces: "exec tranchette-cli join" instead of "cat".
QByteArray joinScript(const QStringList &pieces, const QString &joinName, bool exactPieces = false);

// What writing the join files has to tell the user.
struct JoinFiles {
  std::optional<Message> skipped;  // why no batch file was written, where none was: a notice
  std::vector<Message> failed;     // the files that could not be written: errors
};

// Writes "Join_<joinName>.bat" in the current folder and, except on Windows,
// "Join_<joinName>.sh" (mode 0755) beside it. A name that cmd cannot take
// safely gets no batch file, and `skipped` says so; the script is still
// written.
JoinFiles writeJoinFiles(const QStringList &pieces, const QString &joinName, bool exactPieces = false);

// Joins exact pieces, given in order, into `output`: the first piece's tags
// (the source's track numbers back) and frames, then from every later piece
// the frames after those already written, under a new Info frame for the
// whole. All the pieces of a source give back its frames byte for byte.
// Refuses pieces that are not consecutive exact pieces of one source, saying
// which. Returns nothing when all is written, or else the message.
// A file of other bytes under `output` is not replaced: the join goes to
// "<output>-joined.<ext>" beside it (refused where that too holds others);
// `joinedAs` tells where it went.
// Temporaries that a join or split killed left in the output's folder are
// removed first; `told`, where given, hears of it.
std::optional<Message> joinPieces(const QStringList &pieces, const QString &output, QString *joinedAs = nullptr,
                                  std::vector<Message> *told = nullptr);

}  // namespace split
