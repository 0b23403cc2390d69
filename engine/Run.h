#pragma once

// One run of a split: the source, the output template, the reporter, and
// the writing of each piece with what it tells the user; the stop flag.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "OutputFile.h"
#include "SplitEngine.h"

namespace split {

// Set by requestStop(), from any thread or a signal handler; the run looks
// at it between blocks. Lock-free, so that a signal handler may set it.
extern std::atomic<bool> stopAsked;
static_assert(std::atomic<bool>::is_always_lock_free);

// What a piece holds: bytes made for it, a range of the source, bytes made
// for it.
struct PieceParts {
  std::vector<unsigned char> head;
  std::int64_t offset = 0, length = 0;
  // Ranges within [offset, offset + length) left out, in order: what
  // decoders pass over between frames.
  std::vector<std::pair<std::int64_t, std::int64_t>> holes;
  std::vector<unsigned char> tail;
  // The source's bytes the piece holds.
  std::int64_t bodySize() const;
  // Calls `take(offset, length)` for every range of the source it holds,
  // in order; stops at the first that returns false.
  template <typename Take>
  bool eachRange(Take take) const {
    std::int64_t at = offset;
    for (const auto &[hole, bytes] : holes) {
      if (!take(at, hole - at)) return false;
      at = hole + bytes;
    }
    return take(at, offset + length - at);
  }
};

// One run: the source, the template, the reporter and the copy buffer.
class Run {
 public:
  Run(const QString &source, const QString &outputTemplate, Reporter &reporter)
      : source_(source), template_(withSourceName(outputTemplate, source)), reporter_(reporter) {}

  // Opens the source read-only; reports and returns false when it cannot.
  // Only a regular file is taken, and nothing here waits for another program
  // (a FIFO without a writer, a device).
  bool openSource();

  std::int64_t size() const { return size_; }
  void setTotal(std::int64_t bytes) { total_ = bytes; }

  bool refuse(const Message &message);
  // Until it is set again, `drop` lets go of the temporaries written ahead
  // before a failure is told: none is left while the user reads why.
  // Returns what it was before.
  std::function<void()> dropBeforeFailure(std::function<void()> drop);
  // While quiet, failures are not told: work done ahead of its time that
  // will be done again, and fail again, in its turn.
  void setQuiet(bool quiet) { quiet_ = quiet; }
  // Progress from here on: `done` of `total` bytes, told at once.
  void restartProgress(std::int64_t done, std::int64_t total);

  // Writes piece `track` from the source's bytes [offset, offset + length),
  // all of which lie in the file as it was opened. Reports and returns false
  // when the piece cannot be created or completed; then nothing of it stays.
  bool writePiece(std::int64_t track, std::int64_t offset, std::int64_t length, const QString &createPrefix);
  bool writePiece(std::int64_t track, const PieceParts &parts, const QString &createPrefix);

  // Writes piece `track` under its temporary name and closes it; reports and
  // returns nothing when it cannot.
  std::unique_ptr<PendingFile> write(std::int64_t track, std::int64_t offset, std::int64_t length,
                                     const QString &createPrefix);
  std::unique_ptr<PendingFile> write(std::int64_t track, const PieceParts &parts, const QString &createPrefix);

  // Makes piece `track` under its temporary name, empty; reports and
  // returns nothing when it cannot.
  std::unique_ptr<PendingFile> create(std::int64_t track, const QString &createPrefix);

  // Before the first piece: the run holds its set of names, or refuses to
  // write where another run writes them now.
  bool lockPieces(const QString &firstPiece);

  // The first time a piece goes to a folder: the temporaries that runs which
  // no longer exist left there (killed, or the machine stopped) go, and the
  // user hears of it.
  void sweep(const QString &piece);

  // Adds bytes of the source read elsewhere to a piece that create() made,
  // as copied; false with errno set.
  bool append(PendingFile &piece, const unsigned char *bytes, std::size_t size);

  // A stop asked for while the source was read for its facts: piece
  // `track`, where there is one, was not complete.
  bool stoppedAt(std::optional<std::int64_t> track);

  // Whether another program has cut the source short since it was opened,
  // as it was read for what to cut: pieces laid out on its size at the
  // start would be wrong, or never complete. Then the user is told.
  bool shrank();

  // Puts a piece that write() made under its final name.
  bool commit(std::int64_t track, PendingFile &piece);

  int fd() const { return in_.fd(); }
  const QString &source() const { return source_; }
  const QString &templateText() const { return template_; }
  // Piece `track`'s name, and its title where the breakpoints gave one.
  QString nameOf(std::int64_t track) const;
  // The track number piece `track` goes by: its own where every piece has
  // one (a cue sheet's) and they rise, else `track`.
  std::int64_t numberOf(std::int64_t track) const;
  // The number of tracks that TRCK gives after the "/".
  std::int64_t numberTotal(std::int64_t pieces) const;
  const PieceTitle *titleOf(std::int64_t track) const;
  void setTitles(std::vector<PieceTitle> titles);

  Outcome finish();
  Outcome stopped() const { return outcome_; }
  Outcome &outcome() { return outcome_; }
  Reporter &reporter() { return reporter_; }

 private:
  enum class Fault { none, sourceEnded, read, write, stop };

  // Writes the piece's bytes and closes it; false with errno set, or with
  // fault_ set where the copy failed.
  bool fill(PendingFile &piece, const PieceParts &parts);

  bool notRegular(mode_t mode);
  bool refuseWrite(const QString &name, int error);
  bool refuseCopy(const QString &name);

  // The source ended at byte `at`, short of its size at the start; `name`,
  // if any, is the piece that was not written for it.
  Message sourceEnded(std::int64_t at, const QString &name) const;

  bool fault(Fault kind, std::int64_t at, int error = 0);

  // Copies the range; fewer bytes than asked from the source is a fault.
  bool copy(int out, std::int64_t offset, std::int64_t length);

  QString source_;
  QString template_;
  std::vector<PieceTitle> titles_;
  bool numbered_ = false;  // the titles give every piece its number
  Reporter &reporter_;
  File in_;
  std::vector<char> buffer_;
  bool kernelCopy_ = true;
  std::int64_t size_ = 0;
  std::int64_t done_ = 0, total_ = 0;
  std::pair<dev_t, ino_t> sourceId_{};
  mode_t pieceMode_ = 0666;
  Fault fault_ = Fault::none;
  std::int64_t faultAt_ = 0;
  int faultErrno_ = 0;
  OutputLock lock_;  // taken before the first piece
  bool locked_ = false;
  std::set<QByteArray> swept_;  // folders cleared of stale temporaries
  Outcome outcome_;
  bool quiet_ = false;
  std::function<void()> dropFirst_;
};

// While it lives, the run lets go of what `drop` holds before it tells a
// failure.
class DropBeforeFailure {
 public:
  DropBeforeFailure(Run &run, std::function<void()> drop)
      : run_(run), before_(run.dropBeforeFailure(std::move(drop))) {}
  DropBeforeFailure(const DropBeforeFailure &) = delete;
  DropBeforeFailure &operator=(const DropBeforeFailure &) = delete;
  ~DropBeforeFailure() { run_.dropBeforeFailure(std::move(before_)); }

 private:
  Run &run_;
  std::function<void()> before_;
};

QString createPrefix(std::int64_t pieceSize);

Message parameterError(const QString &text);

}  // namespace split
