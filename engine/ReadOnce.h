#pragma once

// The one-read pipeline: while a stream fact is measured on a thread of its
// own, the bytes it reads are copied into the pieces of a guessed layout on
// the split's thread, so that the source is read once.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "ByteLayout.h"
#include "Run.h"

namespace split {

// How many pieces a split copies ahead of its facts at most, and how many
// of them may hold a same-named file open until they are confirmed.
constexpr std::size_t kMaxAhead = 16384;
constexpr std::size_t kMaxHeldAhead = 256;

// Raised through a measurement to end it when a stop is asked for.
struct Stopped {};

// Pieces written ahead of the fact, by track, with the range each holds.
using Ahead = std::map<std::int64_t, std::pair<Range, std::unique_ptr<PendingFile>>>;

// Writes the bytes of the source, as a measurement of its fact reads them,
// into the pieces of a guessed layout, under temporary names. Gives up at
// the first piece that fails (quietly: it is written again, and fails again,
// in its turn) or where the bytes do not come in order.
class CopyAsRead {
 public:
  CopyAsRead(Run &run, const Layout *guessed) : run_(run), layout_(guessed) {}

  void operator()(std::int64_t offset, const unsigned char *bytes, std::size_t size);

  // Whether it still writes what it is given.
  bool writes() const { return layout_ != nullptr; }
  // The piece being written, if any, and the pieces complete.
  std::optional<std::int64_t> track() const { return piece_ ? std::optional(track_) : std::nullopt; }
  Ahead take() { return std::move(ahead_); }

 private:
  Run &run_;
  const Layout *layout_;
  std::int64_t seen_ = 0;
  std::int64_t track_ = 1;
  Range range_;
  std::unique_ptr<PendingFile> piece_;
  std::int64_t written_ = 0;
  Ahead ahead_;
  std::size_t held_ = 0;  // of the pieces ahead, those holding a same-named file
};

// The bytes that a measurement reads on its thread, copied for the split's
// thread to write meanwhile: reading and writing go on at once. A few
// blocks go round; the reading waits for a free one.
class BytesBetween {
 public:
  // Without `wanted`, nothing is copied; stops are still heard.
  explicit BytesBetween(bool wanted) : wanted_(wanted) {}

  struct Block {
    std::int64_t offset = 0;
    std::vector<unsigned char> bytes;
  };

  // On the measuring thread. Raises Stopped where a stop is asked for.
  void put(std::int64_t offset, const unsigned char *bytes, std::size_t size);
  // On the measuring thread: nothing more comes.
  void end();
  // On the measuring thread: what it still has to tell of the bytes (where
  // a cut lies) lies at `offset` or later.
  void settle(std::int64_t offset);
  // On the split's thread: waits until everything before `offset` is
  // settled or the measurement has ended. False where it waits in turn for
  // the block the split holds (it read far ahead of what it settled, as
  // over megabytes of junk): then the split must let the blocks go.
  bool waitSettled(std::int64_t offset);

  // On the split's thread: the next block, or nothing at the end.
  std::optional<Block> take();
  // A block written, to be filled again; or, with `wanted` false, no more
  // bytes are wanted.
  void giveBack(Block &&block, bool wanted);

 private:
  // Enough for either thread to run a few blocks ahead of the other when
  // the system holds it back for a moment: with four, exact cuts of 1 MB
  // took a tenth longer. Eight reads of 512 KB: 4 MB.
  static constexpr std::size_t kBlocks = 8;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> full_;
  std::vector<Block> free_;
  std::size_t made_ = 0;
  bool wanted_, ended_ = false;
  bool starved_ = false;  // the measurement waits for a free block
  std::int64_t settled_ = 0;
};

// Writes the pieces of the layout that the fact gives, naming those of no
// byte in `empty`. A fact to be measured is measured here, and the bytes it
// reads go to the pieces of its guess's layout meanwhile; the fact then
// keeps those it lays out alike. Returns the fact, or nothing when the run
// failed (and said why).
std::optional<std::int64_t> writeLayout(Run &run, const Fact &fact, const std::function<Plan(std::int64_t)> &planOf,
                                        QStringList &empty);

// Writes the pieces of a layout known at last: those written ahead (in
// `ahead`) that it lays out alike are only renamed, the rest copied anew.
// False when the run failed (and said why).
bool writeLaidOut(Run &run, const Layout &layout, Ahead &ahead, QStringList &empty);

}  // namespace split
