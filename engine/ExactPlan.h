#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Frame.h"

// Exact cuts: which frames each piece holds and what its LAME tag says, so
// that a gapless decoder plays every piece to the sample and the pieces one
// after the other give the source's samples. Positions are in samples of
// the source's untrimmed decoded stream ("raw" samples), where its gapless
// output runs from stream.trimBegin to stream.trimEnd.
namespace split::exact {

// The source as the frame walk found it, with where every audio frame
// begins; offsets.back() is where the last one ends.
struct Layout {
  mpeg::Stream stream;
  std::vector<std::int64_t> offsets;
  // Bytes between frames that decoders pass over, in order: in no piece.
  struct Hole {
    std::int64_t at = 0, length = 0;
  };
  std::vector<Hole> holes;
  // The first frame that plays: those before it only warm the decoder up
  // (a stretch of a source that goes on from where another ended).
  std::int64_t from = 0;
  std::int64_t frames() const { return static_cast<std::int64_t>(offsets.size()) - 1; }
  // The bytes of frames [i, j), holes left out.
  std::int64_t span(std::int64_t i, std::int64_t j) const {
    const std::int64_t a = offsets[static_cast<std::size_t>(i)], b = offsets[static_cast<std::size_t>(j)];
    return b - a - (holes.empty() ? 0 : holeBytes(a, b));
  }
  std::int64_t frameSize(std::int64_t i) const { return span(i, i + 1); }
  // The bytes of holes within [a, b) of the file.
  std::int64_t holeBytes(std::int64_t a, std::int64_t b) const {
    std::int64_t bytes = 0;
    auto h = std::lower_bound(holes.begin(), holes.end(), a, [](const Hole &x, std::int64_t v) { return x.at < v; });
    for (; h != holes.end() && h->at < b; ++h) bytes += std::min(b, h->at + h->length) - h->at;
    return bytes;
  }
  int spf() const { return stream.first.samples; }
  // Layer III carries a bit reservoir and a Info frame; Layers I and II are
  // cut on frames.
  bool layer3() const { return stream.first.layer == 3; }
};

struct Piece {
  std::int64_t rawBegin = 0, rawEnd = 0;  // the source's samples it plays
  std::int64_t first = 0;                 // the first source frame it holds, warm-up included
  std::int64_t own = 0;                   // the first frame not held by the piece before
  std::int64_t end = 0;                   // one past its last frame
  // Frames built for the piece before its first real frame: silent ones,
  // the last of them carrying the reservoir.
  int carriers = 0;
  int delay = 0, padding = 0;  // for its LAME tag
  std::int64_t samples() const { return rawEnd - rawBegin; }
  bool operator==(const Piece &) const = default;
};

// Real frames before a cut that warm the decoder up: one granule pair.
inline int warmUpFrames(const mpeg::Header &h) { return h.layer != 3 ? 0 : h.version == 1 ? 1 : 2; }

// The piece that plays raw samples [rawBegin, rawEnd) and whose own frames
// start at `own`; the last piece keeps the frames after the stream's end.
Piece pieceFor(const Layout &layout, std::int64_t rawBegin, std::int64_t rawEnd, std::int64_t own, bool last);

// Pieces between neighbouring boundaries (raw samples, rising, within the
// trimmed stream); a boundary inside a frame is kept for Layer III and moved
// to the frame's start for Layers I and II. Neighbours that are equal give a
// piece that plays nothing.
std::vector<Piece> piecesBetween(const Layout &layout, const std::vector<std::int64_t> &boundaries);

// Boundaries every `length` samples of the output from its start; the last
// piece holds the rest. Layers I and II round each to the nearest frame.
std::vector<std::int64_t> timeBoundaries(const Layout &layout, double lengthSamples);

// Boundaries before the given audio frames, clamped into the stream.
std::int64_t frameBoundary(const Layout &layout, std::int64_t frame);

// Pieces of at most `limit` bytes each, every byte of the piece counted:
// `fixed` for the tags and the Info frame of every piece, `carrier` for each
// carrier frame of pieces that have them. Nothing when a piece cannot hold
// one frame of its own.
std::optional<std::vector<Piece>> piecesBySize(const Layout &layout, std::int64_t limit, std::int64_t fixed,
                                               std::int64_t carrier);

// The same one piece at a time, reading the layout's offsets only as far as
// the piece planned: before it reads offsets[i], `reach(i)` is asked whether
// it may (it may wait until it can).
class SizePlan {
 public:
  enum class Step { piece, end, tooSmall, unreachable };
  SizePlan(const Layout &layout, std::int64_t limit, std::int64_t fixed, std::int64_t carrier);
  // The next piece into `piece`, or why there is none.
  Step next(Piece &piece, const std::function<bool(std::int64_t)> &reach);
  // Where the next piece begins (its samples' start, its first and own
  // frames, its carriers) before its end is known, which is given as the
  // largest there is; nothing after the last.
  std::optional<Piece> upcoming() const;

 private:
  const Layout &layout_;
  std::int64_t limit_, fixed_, carrier_;
  std::int64_t begin_, own_ = 0;
};

}  // namespace split::exact
