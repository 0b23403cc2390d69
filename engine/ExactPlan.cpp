#include "ExactPlan.h"

#include <algorithm>
#include <cmath>

namespace split::exact {
namespace {

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

// The first frame that holds none of the piece before: everything from the
// stream's start for a piece that starts there.
std::int64_t ownFrom(const Layout &layout, std::int64_t rawBegin) {
  return rawBegin <= layout.stream.trimBegin ? layout.from : ceilDiv(rawBegin, layout.spf());
}

// The first frame of a piece, warm-up included.
std::int64_t firstFrame(const Layout &layout, std::int64_t rawBegin, std::int64_t own) {
  if (own == 0) return 0;
  return std::max<std::int64_t>(0, rawBegin / layout.spf() - warmUpFrames(layout.stream.first));
}

// The frames a Layer III piece starting at `first` needs before it: one to
// bring the reservoir, or to make room for the decoder's own delay.
//
// libmpg123's synthesis has a phase that turns with every frame it decodes,
// and its gapless decoding starts at most four frames before the frame that
// holds the first sample. Where the phase matters to the last bit of its
// output, that agrees with the source's only where the phases agree at the
// cut frame; elsewhere it may differ by one step of the last bit in a few
// samples, all through the piece. ffmpeg agrees to the bit everywhere.
//
// One-granule frames (MPEG-2 and 2.5) come back to a phase after four: it
// agrees at the source's start (four frames before it), and where the cut
// frame's number in the source is 0 or 3 counted in fours (two or one
// frames before the warm-up). Two-granule frames (MPEG-1) come back after
// two, and their phase matters for one channel only: one carrier before a
// cut frame of an even number, two before an odd one.
int carriersFor(const Layout &layout, std::int64_t rawBegin, std::int64_t first) {
  if (!layout.layer3()) return 0;
  if (first == 0 && rawBegin >= mpeg::kDecoderDelay) return 0;
  if (layout.stream.first.version == 1) return layout.stream.first.mono && first % 2 == 0 ? 2 : 1;
  if (first == 0) return 4;
  return first % 4 == 2 ? 2 : 1;
}

}  // namespace

Piece pieceFor(const Layout &layout, std::int64_t rawBegin, std::int64_t rawEnd, std::int64_t own, bool last) {
  const std::int64_t spf = layout.spf();
  Piece p;
  p.rawBegin = rawBegin;
  p.rawEnd = rawEnd;
  p.own = own;
  p.first = firstFrame(layout, rawBegin, own);
  p.end = last ? layout.frames() : ceilDiv(rawEnd, spf);
  if (!layout.layer3()) return p;
  p.carriers = carriersFor(layout, rawBegin, p.first);
  // What the decoder puts out before the piece's first sample: the carrier,
  // the warm-up, the part of the cut frame before the cut.
  const std::int64_t lead = p.carriers * spf + rawBegin - p.first * spf;
  const std::int64_t raw = (p.carriers + p.end - p.first) * spf;
  p.delay = static_cast<int>(lead - mpeg::kDecoderDelay);
  p.padding = static_cast<int>(raw - (lead + rawEnd - rawBegin) + mpeg::kDecoderDelay);
  return p;
}

std::vector<Piece> piecesBetween(const Layout &layout, const std::vector<std::int64_t> &boundaries) {
  std::vector<Piece> pieces;
  for (std::size_t i = 1; i < boundaries.size(); ++i) {
    const std::int64_t begin = boundaries[i - 1], end = boundaries[i];
    if (end <= begin) {
      pieces.push_back({});  // holds nothing, and is not written
      continue;
    }
    pieces.push_back(pieceFor(layout, begin, end, ownFrom(layout, begin), end >= layout.stream.trimEnd));
  }
  return pieces;
}

std::vector<std::int64_t> timeBoundaries(const Layout &layout, double lengthSamples) {
  const mpeg::Stream &s = layout.stream;
  std::vector<std::int64_t> b{s.trimBegin};
  for (std::int64_t k = 1;; ++k) {
    const double at = static_cast<double>(k) * lengthSamples;
    if (!(at < static_cast<double>(s.trimEnd - s.trimBegin))) break;
    std::int64_t pos = s.trimBegin + std::llround(at);
    if (!layout.layer3()) pos = std::llround(at / layout.spf()) * layout.spf();
    if (pos >= s.trimEnd) break;
    if (pos > b.back()) b.push_back(pos);
  }
  // A rest shorter than a frame goes with the piece before it: players do
  // not play a piece of less than a frame right.
  if (b.size() > 1 && s.trimEnd - b.back() < layout.spf()) b.pop_back();
  b.push_back(s.trimEnd);
  return b;
}

std::int64_t frameBoundary(const Layout &layout, std::int64_t frame) {
  const mpeg::Stream &s = layout.stream;
  return std::clamp(std::min(frame, layout.frames()) * layout.spf(), s.trimBegin, s.trimEnd);
}

SizePlan::SizePlan(const Layout &layout, std::int64_t limit, std::int64_t fixed, std::int64_t carrier)
    : layout_(layout),
      limit_(limit),
      fixed_(fixed),
      carrier_(carrier),
      begin_(layout.stream.trimBegin),
      own_(layout.from) {}

SizePlan::Step SizePlan::next(Piece &piece, const std::function<bool(std::int64_t)> &reach) {
  const mpeg::Stream &s = layout_.stream;
  if (begin_ >= s.trimEnd) return Step::end;
  const std::int64_t spf = layout_.spf();
  const std::int64_t frames = layout_.frames();
  const std::int64_t first = firstFrame(layout_, begin_, own_);
  if (!reach(own_)) return Step::unreachable;
  std::int64_t size = fixed_ + carriersFor(layout_, begin_, first) * carrier_;
  size += layout_.span(first, own_);
  // Every piece plays a frame's worth at least: players do not play a
  // shorter one right.
  const std::int64_t least = std::max(own_ + 1, ceilDiv(begin_ + spf, spf));
  std::int64_t end = own_;
  for (; end < frames; ++end) {
    if (!reach(end + 1)) return Step::unreachable;
    if (size + layout_.frameSize(end) > limit_) break;
    size += layout_.frameSize(end);
  }
  if (end < least) return Step::tooSmall;
  if (end == frames) {
    piece = pieceFor(layout_, begin_, s.trimEnd, own_, true);
    begin_ = s.trimEnd;
    return Step::piece;
  }
  // Frames after the output's end go with the last piece, which must then
  // play a frame's worth as well.
  end = std::min(end, s.trimEnd / spf - 1);
  if (end < least) return Step::tooSmall;
  piece = pieceFor(layout_, begin_, end * spf, own_, false);
  begin_ = end * spf;
  own_ = end;
  return Step::piece;
}

std::optional<Piece> SizePlan::upcoming() const {
  if (begin_ >= layout_.stream.trimEnd) return std::nullopt;
  Piece piece;
  piece.rawBegin = begin_;
  piece.own = own_;
  piece.first = firstFrame(layout_, begin_, own_);
  piece.carriers = carriersFor(layout_, begin_, piece.first);
  piece.rawEnd = piece.end = INT64_MAX;
  return piece;
}

std::optional<std::vector<Piece>> piecesBySize(const Layout &layout, std::int64_t limit, std::int64_t fixed,
                                               std::int64_t carrier) {
  SizePlan plan(layout, limit, fixed, carrier);
  std::vector<Piece> pieces;
  Piece piece;
  for (;;) {
    switch (plan.next(piece, [](std::int64_t) { return true; })) {
      case SizePlan::Step::piece: pieces.push_back(piece); break;
      case SizePlan::Step::end: return pieces;
      default: return std::nullopt;
    }
  }
}

}  // namespace split::exact
