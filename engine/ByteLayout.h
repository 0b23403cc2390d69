#pragma once

// Byte layouts: the pieces of a proportional split as ranges of the source,
// made as they are wanted, and the end of a split at breakpoints.

#include <cstdint>
#include <functional>
#include <variant>
#include <vector>

#include "Run.h"

namespace split {

// A proportional split's pieces: ranges of the source in track order, made
// as they are wanted (a file of gigabytes may be cut into millions), and
// their bytes all told.
struct Range {
  std::int64_t offset = 0, length = 0;  // a piece of no byte is not written
  QString createPrefix;
};
struct Layout {
  std::int64_t count = 0, bytes = 0;
  std::function<Range(std::int64_t track)> piece;
  std::int64_t steps = count;  // of the bar: pieces 1 to `steps` take one step each
};
// A layout, or why the split cannot be made.
using Plan = std::variant<Layout, Message>;

// Consecutive pieces of pieceSize bytes from the start, then the tail. A
// tail shorter than `joinTailBelow` bytes (less than one frame of sound)
// goes into the piece before it instead of a piece of its own.
Layout fixedLayout(std::int64_t size, std::int64_t pieceSize, std::int64_t joinTailBelow = 0);

// The end of a split at breakpoints: what was past the end and what was not
// written, told to the user.
Outcome finishBreakpoints(Run &run, const QString &source, std::int64_t frames, const std::vector<std::int64_t> &points,
                          const QStringList &empty);

}  // namespace split
