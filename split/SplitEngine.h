#pragma once

#include <cstdint>
#include <functional>

#include <QString>
#include <QStringList>

// The split engine: cuts a file into byte ranges copied unchanged. Plain C++
// on Qt Core, shared by the window's workers and tranchette-cli, so both
// write the same bytes.
namespace split {

inline constexpr std::int64_t kBlock = 1048576;  // no copy buffer is larger

// How a run tells its front end what happens.
class Reporter {
 public:
  virtual ~Reporter() = default;
  // The bar is set to 0 of `maximum` steps.
  virtual void start(std::int64_t maximum) = 0;
  virtual void step() = 0;
  // The bar is set to its maximum.
  virtual void complete() = 0;
  virtual void pieceWritten(const QString &name) = 0;
  // A run that cannot go on: one message for the user. Nothing further is written.
  virtual void fail(const QString &message) = 0;
};

// The track text of a piece number: at least three digits, zero-padded.
QString formatTrackNumber(std::int64_t track);

// The name of piece `track` from an output template: the track text replaces
// the first "%track%". A template without one gets "-" and the track text
// before the extension of its file name.
QString pieceName(const QString &outputTemplate, std::int64_t track);

// The part of a path after its last folder separator: "/" on Linux; "\", "/"
// or ":" on Windows.
QString fileNamePart(const QString &path);

// `text` put in before the extension of the path's file name part (at the end
// when the name has none).
QString insertBeforeExtension(const QString &path, const QString &text);

// A breakpoint as the list holds it: decimal digits only.
bool isFrameNumber(const QString &text);

// The source's name without folder and extension.
QString joinNameOf(const QString &source);

struct Outcome {
  QStringList pieces;      // written, in track order
  bool completed = false;  // the run ended normally
};

// Pieces of `kilobytes` KB. `sizeText` as typed: an empty text does nothing.
Outcome splitBySize(const QString &source, const QString &sizeText, const QString &outputTemplate, Reporter &reporter);

// Pieces of `lengthText` seconds, sized in proportion to the playing time.
Outcome splitByTime(const QString &source, const QString &lengthText, std::int64_t totalTimeMs,
                    const QString &outputTemplate, Reporter &reporter);

// One piece between each pair of neighbouring breakpoints (frame numbers as
// decimal texts, strictly ascending), sized in proportion to the frame count.
// Fewer than two breakpoints do nothing.
Outcome splitAtBreakpoints(const QString &source, std::int64_t frames, const QStringList &breakpoints,
                           const QString &outputTemplate, Reporter &reporter);

// The one-line "copy /b" command that joins the pieces into <joinName>.mp3.
QString joinCommand(const QStringList &pieces, const QString &joinName);

// Writes "Join_<joinName>.bat" in the current folder; false when it cannot.
bool writeJoinBatch(const QStringList &pieces, const QString &joinName);

}  // namespace split
