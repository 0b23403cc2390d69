#pragma once

// The stream facts (TMp3Play): the frame count and playing time of an MPEG
// audio file, by the frame walk or libmpg123's scan.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QString>

#include "Frame.h"

namespace audio {

// What the splitter needs to know of an MPEG audio stream.
struct StreamFacts {
  std::int64_t frames = 0;   // audio frames; a Xing/Info tag frame is not audio
  std::int64_t samples = 0;  // playing length in samples per channel, encoder delay and padding removed
  long rate = 0;             // samples per second
  // Where audio frame i * frameStep begins, in bytes from the start of the
  // file; the step doubles as the file grows, so the index stays small.
  std::vector<std::int64_t> frameOffsets;
  std::int64_t frameStep = 1;
  // What the walk passed over before the last frame (junk, zero runs, tags),
  // as players pass over it.
  std::vector<mpeg::Passed> passed;
  std::int64_t totalTimeMs() const { return rate > 0 ? samples * 1000 / rate : 0; }
};

// Raised for a file that is missing, unreadable or holds no MPEG audio.
class StreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Walks the frame headers as the exact cuts and the breakpoint finders do:
// junk of any length, zero runs, damage and tags between frames passed over
// as players pass over them, the tags at the end, changes of format.
// Returns nothing where the walk cannot follow the stream (free format,
// for one), so that the caller can ask libmpg123.
std::optional<StreamFacts> walkFrameHeaders(const std::string &path);
// The same on an open file, read from its start; `onBytes` hears of every
// byte read, once, in order.
std::optional<StreamFacts> walkFrameHeaders(int fd, const mpeg::BytesRead &onBytes = {});

// libmpg123's own full scan: exact on every stream it can decode.
StreamFacts scanWithLibmpg123(const std::string &path);

// The header walk where it applies, libmpg123's scan where it does not.
StreamFacts readStreamFacts(const std::string &path);
// The same with the walk on `path` open at `fd`, from its current offset,
// telling `onBytes` of every byte it reads (libmpg123 opens the file anew).
StreamFacts readStreamFacts(const std::string &path, int fd, const mpeg::BytesRead &onBytes);

// What readStreamFacts most likely gives, from the file's first frame and its
// size alone (no frame index): a guess to begin work by while the facts are
// read. Nothing when the file gives no ground for one.
std::optional<StreamFacts> guessStreamFacts(const std::string &path);

// Raises StreamError, saying why, unless the file holds MPEG audio. Quick on
// a stream whose first frames are plain (the rest is not read); anything
// else is left to readStreamFacts.
void requireMpegAudio(const std::string &path);

// A frame count or a time in ms as the window holds it: within 0 and the
// largest 32-bit value.
std::int32_t clampTo32(std::int64_t v);

}  // namespace audio

// The stream information component of the main window: Open, read
// FrameCount and TotalTime, Close.
class TMp3Play {
 public:
  TMp3Play() = default;
  TMp3Play(const TMp3Play &) = delete;
  TMp3Play &operator=(const TMp3Play &) = delete;

  // Raises audio::StreamError when the file cannot be read as MPEG audio.
  void Open(const QString &fileName, const QString &unused = QString());
  void Close();

  // Raise audio::StreamError when no file is open. Values beyond the 32-bit
  // range are clamped to it.
  std::int32_t FrameCount() const;
  std::int32_t TotalTime() const;  // milliseconds
  // Everything known of the open file, for the player.
  std::shared_ptr<const audio::StreamFacts> Facts() const;

 private:
  const audio::StreamFacts &facts() const;
  std::shared_ptr<const audio::StreamFacts> facts_;
};
