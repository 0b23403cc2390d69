#pragma once

// Byte cuts at frames: a split at breakpoints or by time cuts the source
// at the first byte of an audio frame, where the frame walk finds it. The
// walk runs on a thread of its own while the split copies the bytes it has
// read, so the source is read once.

#include <cstdint>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "Frame.h"
#include "ReadOnce.h"

namespace split {

// Where the pieces of a byte split begin and end, as the walk finds them:
// bound k - 1 is where piece k begins, bound k where it ends. Filled on the
// walk's thread, read on the split's.
class FrameCuts {
 public:
  // One piece between each pair of neighbouring breakpoints (rising frame
  // numbers): breakpoint 0 stands for the file's first byte (its tags and
  // Info frame with it), one past the last frame for the file's end.
  static FrameCuts atFrames(std::vector<std::int64_t> points);
  // Pieces that end before the first frame beginning at or after each
  // multiple of `seconds` of what is heard (the frames' times as the
  // breakpoint finders count them); the first begins at the file's first
  // byte and the last ends at its end.
  static FrameCuts every(double seconds);

  FrameCuts(const FrameCuts &) = delete;
  FrameCuts &operator=(const FrameCuts &) = delete;
  FrameCuts(FrameCuts &&other) noexcept;

  // The walk's side: the first frame's format, each audio frame as it is
  // found, and the end: the frame count and the file's size.
  void first(const mpeg::Stream &stream);
  void frame(std::int64_t index, std::int64_t offset);
  void end(std::int64_t frames, std::int64_t size);

  // The split's side: bound k, where found yet.
  std::optional<std::int64_t> bound(std::int64_t k) const;
  // The number of pieces, where known yet.
  std::optional<std::int64_t> pieces() const;
  // Every bound, once the walk has ended.
  std::vector<std::int64_t> bounds() const;

 private:
  FrameCuts() = default;
  mutable std::mutex mutex_;
  std::vector<std::int64_t> bounds_;
  bool ended_ = false;
  // At breakpoints: the breakpoints, and the next one to be found.
  std::vector<std::int64_t> points_;
  std::size_t nextPoint_ = 0;
  // By time: the length in samples, the next multiple of it, and the first
  // frame's samples and the decoded samples before the first heard.
  double seconds_ = 0, lengthSamples_ = 0;
  std::int64_t nextMultiple_ = 1;
  std::int64_t samplesPerFrame_ = 0, trimBegin_ = 0;
};

// What writeAtCuts() ends with: the frame count where the pieces are
// written; why the walk could not follow the source, where it could not
// (nothing is written then); or `Failed` where the run failed and said why.
struct Failed {};
using CutsWritten = std::variant<std::int64_t, QString, Failed>;

// Walks the source of the run with `cuts` and writes its pieces: as the
// walk finds their bounds, the bytes it reads go into them; pieces of no
// byte are named in `empty` and not written.
CutsWritten writeAtCuts(Run &run, FrameCuts &cuts, const QString &createPrefix, QStringList &empty);

}  // namespace split
