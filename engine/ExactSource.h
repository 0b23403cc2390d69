#pragma once

// The source of an exact cut or a join: the frame walk on a thread of its
// own, every frame's offset and the tags, and the mark an exact piece
// carries to be joined again.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ExactPlan.h"
#include "Id3.h"
#include "InfoFrame.h"
#include "ReadOnce.h"
#include "Sum.h"

namespace split {

// What an exact piece says of itself, after the LAME tag in its Info frame
// (Layers I and II: in a PRIV frame of its ID3v2 tag), so that a join can
// check and undo the cut.
struct Mark {
  int version = 4;         // as read: 1 to 4
  int carriers = 0;        // frames made for it come before its first real frame
  bool untrimmed = false;  // the source had no gapless tag
  std::uint32_t piece = 0, count = 0;
  // Identifies the source's audio. Version 4: sourceId() of the frames a
  // join of its pieces gives back; before, a sum of its first 64 KB.
  std::uint64_t source = 0;
  std::int64_t first = 0;    // the source frame its first real frame is
  int id3v1Track = 0;        // the source's own track numbers
  // The source's TRCK, and its TLEN where the piece's tag holds its own:
  // their frames' bodies (version 3), or their Latin-1 text (before).
  std::string track;
  std::uint32_t id3v2Size = 0;  // the size of the source's ID3v2 tag
  std::string length;
  bool bodies = true;
  // Version 4: tagsSum() of what the piece holds besides its frames, and
  // the CRC of its audio frames (the LAME tag's music CRC in Layer III).
  std::uint64_t tags = 0;
  std::uint16_t music = 0;
};

constexpr std::size_t kMarkSize = 81;       // version 4
constexpr std::size_t kOlderMarkSize = 72;  // versions 1 to 3
const std::string kMarkOwner = "tranchette";
// A piece with a title of its own keeps the source's TIT2 and TPE1 in a PRIV
// frame of this owner: each as its id, its size (4 bytes) and its body.
const std::string kTitlesOwner = "tranchette/titles";
// A piece keeps the source's chapters (CHAP) and tables of contents (CTOC),
// whose times are the whole recording's, out of its tag, in a PRIV frame of
// this owner, as mpeg::withoutFrames gives them, for the join to put back.
const std::string kFramesOwner = "tranchette/frames";
constexpr unsigned char kMarkMagic[4] = {'T', 'c', 'u', 't'};

void putBig(std::vector<unsigned char> &out, std::uint64_t v, int bytes);
std::uint64_t getBig(const unsigned char *p, int bytes);

// A mark of the current version, kMarkSize bytes.
std::vector<unsigned char> encodeMark(const Mark &m);

// The mark that `b` begins with, of any version, if its checksum holds.
std::optional<Mark> decodeMark(const std::vector<unsigned char> &b);

// The identity of a source in the marks of its pieces: the sum of its
// frames that a join gives back (from the first that piece 1 holds, in
// order, what lies between them left out), and their count.
std::uint64_t sourceId(mpeg::Sum64 frames, std::int64_t count);

// What a piece holds besides its frames, as its mark's checksum covers it:
// its ID3v2 tag (a PRIV frame of the mark, where it has one, as if it held
// zeros), its Info frame up to the end of its LAME tag (`info`, `infoSize`
// bytes; none in Layers I and II) and its ID3v1 tag.
std::uint64_t tagsSum(const mpeg::Bytes &id3v2, const unsigned char *info, std::size_t infoSize,
                      const mpeg::Bytes &id3v1);

// A stream read for exact cuts or a join: every frame's offset and the tags.
struct MpegFile {
  exact::Layout layout;
  mpeg::Bytes id3v2, id3v1;
  mpeg::Sum64 frameSum;          // of every audio frame, where the walk was asked for it
  unsigned char header[4] = {};  // the first audio frame's
  mpeg::Bytes firstFrame;        // the tag frame where there is one, else the first audio frame
  // Frames of one format back to back, as the Info frame counts them.
  bool plain() const {
    const mpeg::Stream &s = layout.stream;
    return layout.holes.empty() && s.changes.empty() && (s.info.frames == 0 || s.info.frames == s.frames);
  }
};

// A stretch of a source that exact cuts plan on its own: frames of one
// format that a decoder plays without a break. Most sources are one.
struct Stretch {
  MpegFile file;          // its frames (a slice of the source's), its format and trimming, the source's tags
  std::int64_t base = 0;  // the source's frame that its frame 0 is
};
// The stretches of a walked source: a new one where the format changes,
// and where the frames that its Info frame counts end and more follow.
std::vector<Stretch> stretchesOf(const MpegFile &src);

// Reads the tags and first frames of `stream` from the file; false with
// errno set when they cannot be read.
bool completeMpegFile(int fd, const mpeg::Stream &stream, MpegFile &file);

// Walks the open file from its start; false when it is not an MPEG audio
// stream the walk takes (errno 0, and `why` says where and why) or cannot
// be read (errno set). `onFrame(index, offset)` hears of
// every audio frame as the walk passes it, `onBytes` of every byte it reads.
// With `sum`, the file's frameSum is taken on the way.
bool readMpegFile(int fd, MpegFile &file, const std::function<void(std::int64_t, std::int64_t)> &onFrame = {},
                  const mpeg::BytesRead &onBytes = {}, mpeg::WalkError *why = nullptr, bool sum = false);

// The source as its first frame and its size suggest (mpeg::estimate), with
// room for the offsets of the frames guessed, all yet unknown.
std::optional<MpegFile> guessMpegFile(int fd);

// Whether a guessed source has the walked one's tags and first frames: then
// a piece of the same frames is the same but for what its head says of the
// whole (the number of pieces, the source's identity).
bool sameFrame(const MpegFile &guess, const MpegFile &real);

// An exact run's walk on a second thread. Where a guess at the source gave
// room for its offsets, they are filled in as the walk passes them, so that
// pieces can be written while the walk reads on; given `between`, the bytes
// it reads are handed over there.
class Walker {
 public:
  Walker(int fd, exact::Layout *guessed, BytesBetween *between = nullptr) : guessed_(guessed), between_(between) {
    thread_ = std::thread([this, fd] {
      bool read = false;
      try {
        read = readMpegFile(
            fd, file_, [this](std::int64_t index, std::int64_t offset) { passed(index, offset); },
            [this](std::int64_t offset, const unsigned char *bytes, std::size_t size) {
              handOver(offset, bytes, size);
            },
            &why_, true);
      } catch (const Stopped &) {
        errno = EINTR;
      }
      const int error = errno;
      std::int64_t known = 0;
      if (read && guessed_ && file_.layout.frames() == guessed_->frames()) {
        guessed_->offsets.back() = file_.layout.offsets.back();
        known = static_cast<std::int64_t>(guessed_->offsets.size());
      }
      {
        std::lock_guard lock(mutex_);
        read_ = read;
        error_ = error;
        ended_ = true;
        if (known > 0) known_.store(known, std::memory_order_release);
        changed_.notify_all();
      }
      if (between_) between_->end();
    });
  }
  Walker(const Walker &) = delete;
  Walker &operator=(const Walker &) = delete;
  ~Walker() {
    if (thread_.joinable()) thread_.join();
  }

  // How many of the guessed offsets are the walk's, without waiting.
  std::int64_t known() const { return known_.load(std::memory_order_acquire); }
  // Waits until the walk has found a frame that begins at `offset` or
  // later, or ended: then every frame before it that the guess has room for
  // is known, and its size.
  void waitPast(std::int64_t offset) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return walked_ >= offset || ended_; });
  }

  // Waits for the end of the walk; false (errno as readMpegFile sets it)
  // when the source is not a plain stream or cannot be read.
  bool result(MpegFile &file, mpeg::WalkError *why = nullptr) {
    thread_.join();
    if (why) *why = why_;
    errno = error_;
    if (!read_) return false;
    file = std::move(file_);
    return true;
  }

 private:
  void passed(std::int64_t index, std::int64_t offset) {
    if (!guessed_) return;
    const auto room = guessed_->frames();  // the last place: where the last frame ends
    recorded_ = std::min(index + 1, room);
    if (index < room) guessed_->offsets[static_cast<std::size_t>(index)] = offset;
    lastPassed_ = offset;
    // Told at once where the bytes read last begin, before more are read,
    // and now and then.
    if (offset >= tellAt_ || (index & 1023) == 1023) {
      tellAt_ = INT64_MAX;
      publish(std::min(index + 1, room), offset);
    }
  }

  void handOver(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    if (!between_) return;
    if (lastPassed_ >= 0) publish(recorded_, lastPassed_);
    tellAt_ = offset;
    between_->put(offset, bytes, size);
  }

  void publish(std::int64_t known, std::int64_t walked) {
    std::lock_guard lock(mutex_);
    known_.store(known, std::memory_order_release);
    walked_ = walked;
    changed_.notify_all();
  }

  exact::Layout *guessed_;
  BytesBetween *between_;
  MpegFile file_;
  mpeg::WalkError why_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<std::int64_t> known_{0};  // guessed offsets [0, known_) are the walk's
  std::int64_t walked_ = -1;            // where the last frame told of begins
  // On the walk's thread: frames recorded, where the last one begins, and
  // from where a frame is told at once.
  std::int64_t recorded_ = 0, lastPassed_ = -1, tellAt_ = INT64_MAX;
  bool ended_ = false, read_ = false;
  int error_ = 0;
  std::thread thread_;  // last: it starts once everything else is
};

// The identity of a walked source (sourceId()) whose pieces begin at its
// frame `from`: from its frameSum, or where `from` is not 0 from its frames
// read again; nothing with errno set where they cannot be.
std::optional<std::uint64_t> sourceIdOf(int fd, const MpegFile &src, std::int64_t from);

}  // namespace split
