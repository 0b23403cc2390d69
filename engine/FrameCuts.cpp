#include "FrameCuts.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>
#include <unistd.h>
#include <utility>

namespace split {

FrameCuts FrameCuts::atFrames(std::vector<std::int64_t> points) {
  FrameCuts cuts;
  cuts.points_ = std::move(points);
  if (!cuts.points_.empty() && cuts.points_.front() == 0) {
    cuts.bounds_.push_back(0);
    cuts.nextPoint_ = 1;
  }
  return cuts;
}

FrameCuts FrameCuts::every(double seconds) {
  FrameCuts cuts;
  cuts.seconds_ = seconds;
  cuts.bounds_.push_back(0);
  return cuts;
}

FrameCuts::FrameCuts(FrameCuts &&other) noexcept
    : bounds_(std::move(other.bounds_)),
      ended_(other.ended_),
      points_(std::move(other.points_)),
      nextPoint_(other.nextPoint_),
      seconds_(other.seconds_),
      lengthSamples_(other.lengthSamples_),
      nextMultiple_(other.nextMultiple_),
      samplesPerFrame_(other.samplesPerFrame_),
      trimBegin_(other.trimBegin_) {}

void FrameCuts::first(const mpeg::Stream &stream) {
  std::lock_guard lock(mutex_);
  samplesPerFrame_ = stream.first.samples;
  lengthSamples_ = seconds_ * static_cast<double>(stream.first.rate);
  // As the walk trims at its end, where the Info frame's count holds.
  trimBegin_ = stream.info.frames > 0 ? stream.info.delay + mpeg::kDecoderDelay : 0;
}

void FrameCuts::frame(std::int64_t index, std::int64_t offset) {
  if (seconds_ > 0) {
    if (lengthSamples_ <= 0) return;
    const auto heard = static_cast<double>(index * samplesPerFrame_ - trimBegin_);
    if (heard < static_cast<double>(nextMultiple_) * lengthSamples_) return;
    std::lock_guard lock(mutex_);
    bounds_.push_back(offset);
    // A frame that passes several multiples cuts once.
    nextMultiple_ = static_cast<std::int64_t>(std::floor(heard / lengthSamples_)) + 1;
    return;
  }
  if (nextPoint_ >= points_.size() || points_[nextPoint_] != index) return;
  std::lock_guard lock(mutex_);
  bounds_.push_back(offset);
  ++nextPoint_;
}

void FrameCuts::end(std::int64_t frames, std::int64_t size) {
  std::lock_guard lock(mutex_);
  (void)frames;
  if (seconds_ > 0) {
    bounds_.push_back(size);
  } else {
    // Breakpoints past the last frame stand for the end of the file.
    for (; nextPoint_ < points_.size(); ++nextPoint_) bounds_.push_back(size);
  }
  ended_ = true;
}

std::optional<std::int64_t> FrameCuts::bound(std::int64_t k) const {
  std::lock_guard lock(mutex_);
  if (k < 0 || k >= static_cast<std::int64_t>(bounds_.size())) return std::nullopt;
  return bounds_[static_cast<std::size_t>(k)];
}

std::optional<std::int64_t> FrameCuts::pieces() const {
  std::lock_guard lock(mutex_);
  if (seconds_ <= 0) return static_cast<std::int64_t>(points_.size()) - 1;
  if (!ended_) return std::nullopt;
  return static_cast<std::int64_t>(bounds_.size()) - 1;
}

std::vector<std::int64_t> FrameCuts::bounds() const {
  std::lock_guard lock(mutex_);
  return bounds_;
}

namespace {

// Copies the bytes of the source, as the walk reads them, into the pieces
// whose bounds it has found; each block only once the walk has settled
// every bound that lies in it. Gives up, quietly, at the first piece that
// fails (it is written again, and fails again, in its turn).
class CopyAtCuts {
 public:
  CopyAtCuts(Run &run, const FrameCuts &cuts, const QString &createPrefix)
      : run_(run), cuts_(cuts), prefix_(createPrefix) {}

  void operator()(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    const std::int64_t end = offset + static_cast<std::int64_t>(size);
    std::int64_t at = offset;
    while (writes_ && at < end) {
      if (!piece_) {
        const auto pieces = cuts_.pieces();
        if (pieces && track_ > *pieces) return;
        const auto start = cuts_.bound(track_ - 1);
        if (!start || *start >= end) return;
        const auto stop = cuts_.bound(track_);
        if (stop && *stop == *start) {
          ++track_;  // a piece of no byte: named at the end
          continue;
        }
        if (*start < at || ahead_.size() >= kMaxAhead || held_ >= kMaxHeldAhead ||
            !(piece_ = run_.create(track_, prefix_)))
          return giveUp();
        if (stop) piece_->reserve(*stop - *start);
        start_ = at = *start;
      }
      const auto stop = cuts_.bound(track_);
      const std::int64_t upTo = stop ? std::min(*stop, end) : end;
      if (!run_.append(*piece_, bytes + (at - offset), static_cast<std::size_t>(upTo - at))) return giveUp();
      at = upTo;
      if (!stop || at < *stop) continue;
      if (!piece_->close()) return giveUp();
      held_ += piece_->holdsSameNamed() ? 1 : 0;
      ahead_.emplace(track_, std::pair(Range{start_, *stop - start_, prefix_}, std::move(piece_)));
      ++track_;
    }
  }

  bool writes() const { return writes_; }
  void giveUp() {
    writes_ = false;
    piece_.reset();
  }
  std::optional<std::int64_t> track() const { return piece_ ? std::optional(track_) : std::nullopt; }
  Ahead take() { return std::move(ahead_); }

 private:
  Run &run_;
  const FrameCuts &cuts_;
  QString prefix_;
  bool writes_ = true;
  std::int64_t track_ = 1;
  std::int64_t start_ = 0;
  std::unique_ptr<PendingFile> piece_;
  Ahead ahead_;
  std::size_t held_ = 0;  // of the pieces ahead, those holding a same-named file
};

}  // namespace

CutsWritten writeAtCuts(Run &run, FrameCuts &cuts, const QString &createPrefix, QStringList &empty) {
  bool stopped = false;
  std::optional<mpeg::Stream> stream;
  mpeg::WalkError why;
  QString readError;
  run.setTotal(run.size());
  CopyAtCuts copier(run, cuts, createPrefix);
  BytesBetween between(true);
  std::thread walking([&] {
    std::int64_t lastFrame = 0;
    try {
      if (::lseek(run.fd(), 0, SEEK_SET) != 0) throw mpeg::ReadError(std::strerror(errno));
      stream = mpeg::walk(
          run.fd(),
          [&](std::int64_t index, std::int64_t offset) {
            cuts.frame(index, offset);
            lastFrame = offset;
          },
          true,
          [&](std::int64_t offset, const unsigned char *bytes, std::size_t size) {
            // Every bound before the last frame found is found.
            between.settle(lastFrame);
            between.put(offset, bytes, size);
          },
          &why, [&](const mpeg::Stream &s) { cuts.first(s); });
      if (stream) cuts.end(stream->frames, run.size());
    } catch (const Stopped &) {
      stopped = true;
    } catch (const std::exception &e) {
      readError = QString::fromLocal8Bit(e.what());
    }
    between.end();
  });
  run.setQuiet(true);  // what fails here fails again in its turn, and is told then
  while (auto block = between.take()) {
    const std::int64_t end = block->offset + static_cast<std::int64_t>(block->bytes.size());
    if (copier.writes() && !between.waitSettled(end)) copier.giveUp();
    if (copier.writes()) copier(block->offset, block->bytes.data(), block->bytes.size());
    between.giveBack(std::move(*block), copier.writes());
  }
  walking.join();
  ::lseek(run.fd(), 0, SEEK_SET);  // for whatever reads the source next
  run.setQuiet(false);
  const auto unfinished = copier.track();
  Ahead ahead = copier.take();

  // What was written ahead goes before the user hears why it is not kept.
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  if (stopped) return run.stoppedAt(unfinished), Failed{};
  if (run.shrank()) return Failed{};
  if (!readError.isEmpty()) {
    run.refuse({run.source(), run.source() + QStringLiteral(": ") + readError, readError});
    return Failed{};
  }
  if (!stream) {
    ahead.clear();
    return why.reason.empty() ? QStringLiteral("its frames cannot be followed") : QString::fromStdString(why.reason);
  }
  const std::vector<std::int64_t> bounds = cuts.bounds();
  const auto count = static_cast<std::int64_t>(bounds.size()) - 1;
  const Layout layout{count, count > 0 ? bounds.back() - bounds.front() : 0,
                      [&](std::int64_t track) {
                        const auto i = static_cast<std::size_t>(track);
                        return Range{bounds[i - 1], bounds[i] - bounds[i - 1], createPrefix};
                      }};
  if (!writeLaidOut(run, layout, ahead, empty)) return Failed{};
  return stream->frames;
}

}  // namespace split
