#include "ReadOnce.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <variant>

namespace split {

void CopyAsRead::operator()(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
  if (offset != seen_) layout_ = nullptr;
  seen_ = offset + static_cast<std::int64_t>(size);
  while (layout_ && track_ <= layout_->count && ahead_.size() < kMaxAhead && held_ < kMaxHeldAhead) {
    if (!piece_) {
      range_ = layout_->piece(track_);
      if (range_.length == 0) {
        ++track_;
        continue;
      }
      if (range_.offset >= seen_) return;
      if (range_.offset < offset || !(piece_ = run_.create(track_, range_.createPrefix))) break;
      piece_->reserve(range_.length);
      written_ = 0;
    }
    const std::int64_t from = range_.offset + written_;
    const std::int64_t length = std::min(range_.length - written_, seen_ - from);
    if (!run_.append(*piece_, bytes + (from - offset), static_cast<std::size_t>(length))) break;
    written_ += length;
    if (written_ < range_.length) return;
    if (!piece_->close()) break;
    held_ += piece_->holdsSameNamed() ? 1 : 0;
    ahead_.emplace(track_++, std::pair(range_, std::move(piece_)));
  }
  layout_ = nullptr;
  piece_.reset();
}

void BytesBetween::put(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
  std::unique_lock lock(mutex_);
  starved_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return stopAsked || !wanted_ || !free_.empty() || made_ < kBlocks; });
  starved_ = false;
  if (stopAsked) throw Stopped();
  if (!wanted_) return;
  Block block;
  if (free_.empty()) {
    ++made_;
  } else {
    block = std::move(free_.back());
    free_.pop_back();
  }
  lock.unlock();
  block.offset = offset;
  block.bytes.assign(bytes, bytes + size);
  lock.lock();
  full_.push_back(std::move(block));
  changed_.notify_all();
}

void BytesBetween::end() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

void BytesBetween::settle(std::int64_t offset) {
  std::lock_guard lock(mutex_);
  settled_ = offset;
  changed_.notify_all();
}

bool BytesBetween::waitSettled(std::int64_t offset) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return ended_ || settled_ >= offset || starved_; });
  return ended_ || settled_ >= offset;
}

std::optional<BytesBetween::Block> BytesBetween::take() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !full_.empty() || ended_; });
  if (full_.empty()) return std::nullopt;
  Block block = std::move(full_.front());
  full_.pop_front();
  return block;
}

void BytesBetween::giveBack(Block &&block, bool wanted) {
  std::lock_guard lock(mutex_);
  free_.push_back(std::move(block));
  wanted_ = wanted;
  changed_.notify_all();
}

std::optional<std::int64_t> writeLayout(Run &run, const Fact &fact, const std::function<Plan(std::int64_t)> &planOf,
                                        QStringList &empty) {
  FactValue value = fact.known;
  Ahead ahead;
  bool stopped = false;
  std::optional<std::int64_t> unfinished;  // the piece being copied ahead when a stop came
  if (fact.measure) {
    const Plan guessed = fact.guess > 0 ? planOf(fact.guess) : Plan(Message());
    const auto *layout = std::get_if<Layout>(&guessed);
    if (layout) run.setTotal(layout->bytes);
    CopyAsRead copier(run, layout);
    BytesBetween between(layout != nullptr);
    std::thread measuring([&] {
      try {
        value = fact.measure(run.fd(), [&](std::int64_t offset, const unsigned char *bytes, std::size_t size) {
          between.put(offset, bytes, size);
        });
      } catch (const Stopped &) {
        stopped = true;
      } catch (const std::exception &e) {
        const QString why = QString::fromLocal8Bit(e.what());
        value = Message{run.source(), run.source() + QStringLiteral(": ") + why, why};
      }
      between.end();
    });
    run.setQuiet(true);  // what fails here fails again in its turn, and is told then
    while (auto block = between.take()) {
      if (copier.writes()) copier(block->offset, block->bytes.data(), block->bytes.size());
      between.giveBack(std::move(*block), copier.writes());
    }
    measuring.join();
    run.setQuiet(false);
    unfinished = copier.track();
    ahead = copier.take();
  }  // the piece it was copying, if any, goes with it

  // What was written ahead goes before the user hears why it is not kept.
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  if (stopped) return run.stoppedAt(unfinished), std::nullopt;
  if (fact.measure && run.shrank()) return std::nullopt;
  if (const auto *why = std::get_if<Message>(&value)) return run.refuse(*why), std::nullopt;
  const std::int64_t known = std::get<std::int64_t>(value);
  const Plan plan = planOf(known);
  if (const auto *why = std::get_if<Message>(&plan)) return run.refuse(*why), std::nullopt;
  if (!writeLaidOut(run, std::get<Layout>(plan), ahead, empty)) return std::nullopt;
  return known;
}

bool writeLaidOut(Run &run, const Layout &layout, Ahead &ahead, QStringList &empty) {
  std::int64_t kept = 0;
  for (auto it = ahead.begin(); it != ahead.end();) {
    const Range &wrote = it->second.first;
    const Range range = it->first <= layout.count ? layout.piece(it->first) : Range{};
    if (range.offset == wrote.offset && range.length == wrote.length) {
      kept += range.length;
      ++it;
    } else {
      it = ahead.erase(it);
    }
  }
  run.reporter().start(layout.steps);
  run.restartProgress(kept, layout.bytes);
  for (std::int64_t track = 1; track <= layout.count; ++track) {
    const Range range = layout.piece(track);
    const auto early = ahead.find(track);
    if (range.length == 0)
      empty << run.nameOf(track);
    else if (early != ahead.end() ? !run.commit(track, *early->second.second)
                                  : !run.writePiece(track, range.offset, range.length, range.createPrefix))
      return false;
    if (track <= layout.steps) run.reporter().step();
  }
  return true;
}

}  // namespace split
