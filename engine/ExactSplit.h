#pragma once

// Exact cuts: pieces on the source's frames, each with its own length and
// the warm-up that makes the pieces play one after the other as the source.

#include <cstdint>
#include <vector>

#include "Run.h"

namespace split {

// Pieces of at most `limit` bytes each, tags and headers included.
Outcome exactBySize(Run &run, std::int64_t limit);

// `points` are rising frame numbers: a breakpoint b cuts before audio frame b.
Outcome exactAtBreakpoints(Run &run, const std::vector<std::int64_t> &points);

// Pieces of `seconds` each, to the sample.
Outcome exactByTime(Run &run, double seconds);

}  // namespace split
