#pragma once

// Long recordings cut where they pause: parts of about N seconds that end in
// a silence, N equal parts. Plans of breakpoints from the silences found
// (one scan of the file, whatever the number of cuts).

#include <cstdint>
#include <vector>

#include "Silences.h"

namespace found {

struct PausePlan {
  std::vector<std::int64_t> frames;  // the breakpoints: 0, the cuts, the last frame
  std::vector<double> missed;        // where a cut found no pause in reach (seconds heard)
  std::int64_t cuts = 0;
  double reach = 0;                  // how far a cut looked for one, in seconds
};

// Parts of `seconds`, each cut moved to the middle of the longest silence
// (one that parts pieces) whose middle lies within `window` seconds of where
// the time split would cut (of silences within a frame of the longest, the
// nearest); where none does, the cut stays where the time
// split puts it (the first frame that begins at or after it). Each cut is
// planned from the last actual one, so parts stay about `seconds` long.
PausePlan planAtPauses(const SilencesFound &found, double seconds, double window);

// `parts` parts of about equal playing time, each cut moved as planAtPauses
// moves it, from where the equal split would cut it (equalParts), but no
// nearer the cuts beside it than halfway: always `parts` pieces. Nothing
// where `parts` is below 1 or above the frame count.
PausePlan planPartsAtPauses(const SilencesFound &found, std::int64_t parts, double window);

// What the user is told where cuts of `plan` found no pause within its reach: "3 of 41 cuts found no pause within 30 s: at 1:02:00, 3:30:00";
// empty where every cut found one.
QString missedPauses(const PausePlan &plan);

// `parts` pieces of equal playing time to the frame: no two differ by more
// than one frame. Nothing where `parts` is below 1 or above the frame count.
std::vector<std::int64_t> equalParts(std::int64_t frames, std::int64_t parts);

// Breakpoints moved onto the pauses next to them: every one but the first
// and the last goes to the middle of the nearest silence (one that parts
// pieces) whose middle lies within `window` seconds, its title with it;
// `unmoved` holds the frames of those with none in reach. Two that would
// meet in one pause stay one: `merged` holds the frames of those that went.
struct Snapped {
  std::vector<Marker> markers;
  std::vector<std::int64_t> unmoved, merged;
};
Snapped snapToPauses(const SilencesFound &found, std::vector<Marker> markers, double window);

// Frames as the user is told of them: "200, 1000".
QString framesText(const std::vector<std::int64_t> &frames);

// What the user is told of breakpoints that fell in the same pause as
// another: "1 breakpoint fell in the same pause as another and was dropped:
// 420"; empty where none did.
QString mergedBreakpoints(const Snapped &snapped);

}  // namespace found
