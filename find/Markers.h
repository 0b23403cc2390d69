#pragma once

// Breakpoints found for the user: where silences are, where a file's
// chapters or a cue sheet's tracks begin. Qt Core only: the window, the CLI
// and the tests call it alike.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "Frame.h"

namespace found {

// A breakpoint and what came with it.
struct Marker {
  std::int64_t frame = 0;
  QString title, performer;
  int number = -1;  // the track number that the piece from here takes, where given (a cue sheet's)
  bool operator==(const Marker &) const = default;
};

// What a search gives: the breakpoints in rising order, 0 and the last
// frame among them, and what the user should know.
struct Markers {
  std::vector<Marker> markers;
  QStringList notes;
};

// The stream as breakpoints count it: frames and where they play.
struct Timeline {
  std::int64_t frames = 0;
  long rate = 0;
  int samplesPerFrame = 0;
  std::int64_t trimBegin = 0;  // decoded samples before the first one heard
  std::int64_t trimEnd = 0;    // where what is heard ends, in decoded samples
  std::int64_t audioEnd = 0;   // the byte where the last frame ends
  // The frame whose start is nearest to `seconds` into what is heard,
  // within [0, frames].
  std::int64_t frameAt(double seconds) const;
  // Where frame `frame` begins, in seconds of what is heard.
  double secondsAt(std::int64_t frame) const;
};

// The timeline of an MPEG audio file by the frame walk; nothing with `error`
// set where the file cannot be read or is no MPEG audio.
// `onFrame` hears of every frame as the walk passes it.
std::optional<Timeline> timelineOf(const QString &path, QString *error, const mpeg::FrameSeen &onFrame = {});

// The markers with 0 and `last` added where missing, sorted, one per frame
// (the first title given for a frame wins).
std::vector<Marker> withEnds(std::vector<Marker> markers, std::int64_t last);

}  // namespace found
