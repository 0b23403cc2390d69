#include "Frame.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Id3.h"
#include "Sum.h"

// The frame walk over a stream (walk()), and the guess of what it finds
// (estimate()).
namespace mpeg {
namespace {

// How far a lenient walk looks for the first frame.
constexpr std::int64_t kMaxJunk = 1 << 20;
constexpr std::size_t kMaxFrame = 2881;  // Layer II at 384 kbit/s and 8 kHz, padded

// Sequential reader over a file descriptor with a window that keeps at least
// the bytes of one whole frame available.
class Reader {
 public:
  Reader(int fd, const BytesRead &onBytes) : fd_(fd), onBytes_(onBytes), buf_(kChunk) {}

  // Heard before the bytes before the current position are let go.
  std::function<void()> beforeDropping;

  // Makes at least n bytes from the current position available, unless the
  // file ends first. Returns the number of bytes available.
  std::size_t want(std::size_t n) {
    while (end_ - pos_ < n && !eof_) {
      if (pos_ > 0) {
        if (beforeDropping) beforeDropping();
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        base_ += static_cast<std::int64_t>(pos_);
        pos_ = 0;
      }
      if (buf_.size() - end_ < n) buf_.resize(std::max(buf_.size() * 2, n));
      const ssize_t got = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
      if (got < 0) {
        if (errno == EINTR) continue;
        throw ReadError(std::strerror(errno));
      }
      if (got == 0) eof_ = true;
      if (onBytes_ && got > 0)
        onBytes_(base_ + static_cast<std::int64_t>(end_), buf_.data() + end_, static_cast<std::size_t>(got));
      end_ += static_cast<std::size_t>(got);
    }
    return end_ - pos_;
  }
  const unsigned char *data() const { return buf_.data() + pos_; }
  void skip(std::size_t n) { pos_ += n; }  // n <= available
  std::int64_t tell() const { return base_ + static_cast<std::int64_t>(pos_); }
  // The byte at `offset` (from where the reading began), one of those read
  // and not yet let go.
  const unsigned char *at(std::int64_t offset) const { return buf_.data() + (offset - base_); }

 private:
  static constexpr std::size_t kChunk = 1 << 19;
  int fd_;
  const BytesRead &onBytes_;
  std::vector<unsigned char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  std::int64_t base_ = 0;
  bool eof_ = false;
};

// parseHeader over a run of frames: most repeat the header before them
// but for the padding bit, and are not decoded again.
class Headers {
 public:
  bool parse(const unsigned char *p, Header &h) {
    const std::uint32_t word = bigEndian32(p);
    if (!known_ || ((word ^ word_) & ~kPadding) != 0) {
      known_ = parseHeader(p, last_);
      word_ = word;
      h = last_;
      return known_;
    }
    h = last_;
    if (const bool padding = (word & kPadding) != 0; padding != h.padding) {
      h.size += (padding ? 1 : -1) * (h.layer == 1 ? 4 : 1);
      h.padding = padding;
    }
    return true;
  }

 private:
  static constexpr std::uint32_t kPadding = 0x200;
  bool known_ = false;
  std::uint32_t word_ = 0;
  Header last_;
};

// Trims the stream's samples as libmpg123 trims them: not at all when the
// tag's frame count is 0 or more than the stream holds, and never less than
// its own delay at the end. False when nothing would be left.
bool trim(Stream &s) {
  const std::int64_t raw = s.rawSamples();
  s.trimBegin = 0;
  s.trimEnd = raw;
  if (s.info.frames > 0 && s.info.frames * s.first.samples <= raw) {
    s.trimBegin = s.info.delay + kDecoderDelay;
    s.trimEnd = std::min(raw - s.info.padding + kDecoderDelay, raw);
  }
  return s.trimEnd > s.trimBegin;
}

// A frame header but for its bitrate index, 0: free format.
bool isFreeFormat(const unsigned char *p) {
  Header h;
  const unsigned char fixed[4] = {p[0], p[1], static_cast<unsigned char>(p[2] | 0x10), p[3]};
  return (p[2] >> 4) == 0 && parseHeader(fixed, h);
}

// One walk over a stream, as walk() tells: its steps in the order the
// file meets them, each a member of its own. A strict walk takes frames of
// one format back to back and gives up at anything else; a lenient one
// (`lenient_`) passes over what decoders pass over, and counts it.
class Walk {
 public:
  Walk(int fd, const FrameSeen &onFrame, bool lenient, const BytesRead &onBytes, WalkError *error,
       const FirstSeen &onFirst, Sum64 *frameSum)
      : fd_(fd), onFrame_(onFrame), onFirst_(onFirst), lenient_(lenient), in_(fd, onBytes),
        why_(error ? *error : ignored_), sum_(frameSum) {
    why_ = {};
    if (sum_) in_.beforeDropping = [this] { sumRun(); };
  }
  std::optional<Stream> run();

 private:
  // After a step: the walk goes on, the stream ends here, or the walk gives up.
  enum class Next { on, end, fail };

  // The ID3v2 tag that may come first; false where the walk gives up.
  bool passLeadingTag();
  // Lenient: where the tags at the end begin, which ends the walk.
  void findEndTags();
  // Lenient: junk before the first frame, up to a frame that another of its
  // kind follows; false where the walk gives up.
  bool passLeadingJunk();
  // A frame of the stream's format, `h` its header.
  Next frame(const Header &h);
  // Strict: only an ID3v1 tag may follow the last frame; anything else that
  // is no frame of the stream's format makes the walk give up.
  Next afterLastFrame(bool header);
  // Lenient: what is no frame of the stream's format (its header in `h`
  // where `header`), `n` bytes at hand.
  Next betweenFrames(std::size_t n, bool header, const Header &h);
  // Lenient: an ID3v2 tag of `size` bytes between frames, passed over.
  void passTag(std::int64_t size);
  // Lenient: passes over what is not a frame here, up to where the frames
  // are found again (or a tag begins); false where they are not found
  // before the end.
  bool resync();
  // Whether a frame of `frame`'s header begins `at` bytes from here and
  // another of its format follows it, or the audio ends with it.
  bool confirmed(std::size_t at, const Header &frame);
  // Audio bytes can look like a tag at the end ("TAG" 128 bytes before it,
  // "LYRICSEND" with a "LYRICSBEGIN" before): where whole frames of
  // `frame`'s format run from here exactly up to the end of the file or a
  // later tag, they are frames, and what looked like tags before their end
  // is not.
  void takeFalseTags(const Header &frame);
  // At the end of what the walk reads: whether frames of the stream's
  // format go on through what looked like tags at the end.
  bool framesRunOn();
  // Lenient: the tags at the end, after what was passed over.
  void keepEndTags();
  // The stream, or nothing where there is none to play.
  std::optional<Stream> finish();

  // Where the walk is, from where it began.
  std::int64_t pos() const { return in_.tell() - start_; }
  // Bytes at hand from here, none past the limit. Reading on moves them:
  // in_.data() is to be asked anew after every call.
  std::size_t avail(std::size_t n) {
    return static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(in_.want(n)), std::max<std::int64_t>(0, limit_ - pos())));
  }
  // Says why the walk gives up; false.
  bool giveUp(const char *reason, std::int64_t frame = -1, std::int64_t at = -1) {
    why_ = {frame, at, reason};
    return false;
  }

  int fd_;
  const FrameSeen &onFrame_;
  const FirstSeen &onFirst_;
  bool lenient_;
  Reader in_;
  std::int64_t start_ = in_.tell();
  WalkError ignored_;
  WalkError &why_;
  // Where given, of every audio frame's bytes: fed a run of frames back to
  // back at a time, [runFrom_, runTo_) of the file, while the reader holds it.
  Sum64 *sum_;
  std::int64_t runFrom_ = 0, runTo_ = 0;
  void sumRun() {
    if (runTo_ > runFrom_) sum_->update(in_.at(runFrom_), static_cast<std::size_t>(runTo_ - runFrom_));
    runFrom_ = runTo_;
  }
  Stream s_;
  std::int64_t limit_ = INT64_MAX;  // lenient: where the tags at the end begin
  EndTags endTags_;
  bool haveFirst_ = false;
  Header format_;  // of the frames now
  Headers headers_;
};

std::optional<Stream> Walk::run() {
  if (!passLeadingTag()) return std::nullopt;
  s_.tagEnd = pos();
  if (lenient_) {
    findEndTags();
    if (!passLeadingJunk()) return std::nullopt;
  }
  s_.firstFrame = s_.audioStart = pos();
  for (;;) {
    const std::size_t n = avail(4);
    Next next = Next::end;
    if (n == 0) {
      if (framesRunOn()) next = Next::on;
    } else {
      Header h;
      const bool header = n >= 4 && headers_.parse(in_.data(), h);
      if (!header || (haveFirst_ && !sameFormat(h, format_)))
        next = lenient_ ? betweenFrames(n, header, h) : afterLastFrame(header);
      else
        next = frame(h);
    }
    if (next == Next::fail) return std::nullopt;
    if (next == Next::end) break;
  }
  if (sum_) sumRun();
  if (lenient_) keepEndTags();
  return finish();
}

bool Walk::passLeadingTag() {
  if (in_.want(10) < 10) return true;
  const std::int64_t tag = id3v2Size(in_.data());
  if (tag < 0) return giveUp("its ID3v2 tag has a malformed size");
  for (auto size = static_cast<std::size_t>(tag); size > 0;) {
    const std::size_t step = std::min<std::size_t>(size, in_.want(std::min<std::size_t>(size, 1 << 20)));
    if (step == 0) return giveUp("it ends inside its ID3v2 tag");
    in_.skip(step);
    size -= step;
  }
  return true;
}

void Walk::findEndTags() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw ReadError(std::strerror(errno));
  endTags_ = readEndTags(fd_, st.st_size, s_.tagEnd);
  limit_ = endTags_.start - start_;
}

bool Walk::passLeadingJunk() {
  for (;; in_.skip(1), ++s_.junk) {
    if (s_.junk > kMaxJunk || avail(4) < 4) return giveUp("no MPEG audio frame follows another in its first megabyte");
    if (s_.junk == 0 && isFreeFormat(in_.data())) return giveUp("free format", 0, start_ + pos());
    Header h, next;
    if (!parseHeader(in_.data(), h)) continue;
    const auto size = static_cast<std::size_t>(h.size);
    const bool followed = avail(size + 4) >= size + 4 && parseHeader(in_.data() + size, next) && sameFormat(next, h);
    if (followed) return true;
    // No junk: the walk goes on as it would without lenience, but for an
    // Info frame that no frame follows, which libmpg123 takes for junk.
    if (s_.junk == 0 && !(avail(size) >= size && readInfoTag(in_.data(), h).present)) return true;
  }
}

Walk::Next Walk::frame(const Header &h) {
  const auto size = static_cast<std::size_t>(h.size);
  if (lenient_ && avail(size) < size) takeFalseTags(h);
  if (const std::size_t held = avail(size); held < size) {
    if (!lenient_ || !haveFirst_) return Next::fail;  // cut inside its last frame
    s_.cutEnd = static_cast<std::int64_t>(held);
    in_.skip(held);
    return Next::end;
  }
  const std::int64_t offset = pos();
  if (!haveFirst_) {
    s_.first = format_ = h;
    haveFirst_ = true;
    s_.info = readInfoTag(in_.data(), h);
    if (s_.info.present) s_.audioStart = offset + h.size;
    if (onFirst_) onFirst_(s_);
  }
  if (!(s_.info.present && offset == s_.firstFrame)) {
    if (s_.frames == 0) s_.audioStart = offset;  // past what follows an Info frame, if anything does
    onFrame_(s_.frames++, offset);
    if (sum_) {
      if (in_.tell() != runTo_) sumRun(), runFrom_ = in_.tell();
      runTo_ = in_.tell() + static_cast<std::int64_t>(size);
    }
  }
  in_.skip(size);
  s_.audioEnd = pos();
  return Next::on;
}

Walk::Next Walk::afterLastFrame(bool header) {
  if (haveFirst_ && !header && in_.want(129) == 128 && std::memcmp(in_.data(), "TAG", 3) == 0) {
    s_.id3v1 = true;
    s_.id3v1At = pos();
    return Next::end;
  }
  return Next::fail;
}

Walk::Next Walk::betweenFrames(std::size_t n, bool header, const Header &h) {
  if (n >= 4 && isFreeFormat(in_.data())) {
    giveUp("free format", s_.frames, start_ + pos());
    return Next::fail;
  }
  if (header && confirmed(0, h)) {
    // A new format, after the last frame of the old one.
    const unsigned char *d = in_.data();
    s_.changes.push_back({s_.frames, pos(), h, {d[0], d[1], d[2], d[3]}});
    format_ = h;  // an Info frame here is audio, as libmpg123 decodes it
    return Next::on;
  }
  if (n >= 4 && std::memcmp(in_.data(), "ID3", 3) == 0 && avail(10) >= 10) {
    const std::int64_t size = id3v2Size(in_.data());
    if (size > 0 && size <= limit_ - pos()) {
      passTag(size);
      return Next::on;
    }
  }
  return resync() ? Next::on : Next::end;
}

void Walk::passTag(std::int64_t size) {
  s_.passed.push_back({Passed::Kind::id3v2, pos(), size, s_.frames});
  for (std::int64_t left = size; left > 0;) {
    const auto step = std::min<std::size_t>(static_cast<std::size_t>(left), avail(1 << 20));
    if (step == 0) break;  // the file shrank under the walk
    in_.skip(step);
    left -= static_cast<std::int64_t>(step);
  }
}

bool Walk::resync() {
  Passed p{Passed::Kind::zeros, pos(), 0, s_.frames};
  constexpr std::size_t kWindow = 1 << 16;
  for (std::size_t q = 1;; q = 0) {
    const std::size_t have = avail(kWindow + kMaxFrame + 4);
    const bool atEnd = have < kWindow + kMaxFrame + 4;
    const std::size_t scan = atEnd ? have : kWindow;
    if (q == 0 && have > 0 && in_.data()[0] != 0) p.kind = Passed::Kind::junk;
    for (; q < scan; ++q) {
      Header next;
      const bool frame =
          in_.data()[q] == 0xFF && q + 4 <= have && parseHeader(in_.data() + q, next) && confirmed(q, next);
      const unsigned char *d = in_.data();  // confirmed() may have read on
      const bool tag = d[q] == 'I' && q + 10 <= have && id3v2Size(d + q) > 0;
      if (frame || tag) {
        in_.skip(q);
        p.length = pos() - p.at;
        s_.passed.push_back(p);
        return true;
      }
      if (d[q] != 0) p.kind = Passed::Kind::junk;
    }
    in_.skip(scan);
    if (atEnd) {
      p.length = pos() - p.at;
      if (p.length > 0) s_.passed.push_back(p);
      return false;
    }
  }
}

bool Walk::confirmed(std::size_t at, const Header &frame) {
  const auto size = static_cast<std::size_t>(frame.size);
  const std::size_t have = avail(at + size + 4);
  Header next;
  if (have == at + size && static_cast<std::int64_t>(have) == limit_ - pos()) return true;
  return have >= at + size + 4 && parseHeader(in_.data() + at + size, next) && sameFormat(next, frame);
}

void Walk::takeFalseTags(const Header &frame) {
  if (endTags_.tags.empty()) return;
  const std::int64_t fileEnd = endTags_.tags.back().at + endTags_.tags.back().length;
  std::int64_t at = start_ + pos();
  Header next = frame;
  for (int frames = 0; frames < 4096 && at + next.size <= fileEnd; ++frames) {
    at += next.size;
    const auto tag =
        std::find_if(endTags_.tags.begin(), endTags_.tags.end(), [&](const Passed &t) { return t.at >= at; });
    if (at == fileEnd || (tag != endTags_.tags.end() && tag->at == at)) {
      endTags_.tags.erase(endTags_.tags.begin(), tag);
      limit_ = at - start_;
      return;
    }
    unsigned char bytes[4];
    if (!readAt(fd_, bytes, 4, at) || !parseHeader(bytes, next) || !sameFormat(next, frame)) return;
  }
}

bool Walk::framesRunOn() {
  Header here;
  if (!lenient_ || !haveFirst_ || in_.want(4) < 4 || !parseHeader(in_.data(), here) || !sameFormat(here, format_))
    return false;
  takeFalseTags(here);
  return avail(4) > 0;
}

void Walk::keepEndTags() {
  for (Passed tag : endTags_.tags) {
    tag.at -= start_;
    tag.beforeFrame = s_.frames;
    if (tag.kind == Passed::Kind::id3v1) s_.id3v1At = tag.at;
    if (tag.kind == Passed::Kind::id3v2 && s_.endId3v2At < 0) s_.endId3v2At = tag.at, s_.endId3v2Size = tag.length;
    s_.passed.push_back(tag);
  }
  s_.id3v1 = s_.id3v1At >= 0;
}

std::optional<Stream> Walk::finish() {
  if (!haveFirst_ || s_.frames == 0) return giveUp("it holds no MPEG audio frame"), std::nullopt;
  if (s_.info.doubtful) return giveUp("its Info frame is cut short", 0, start_ + s_.firstFrame), std::nullopt;
  if (!trim(s_)) return giveUp("its Info frame trims away all its samples"), std::nullopt;
  return std::move(s_);
}

}  // namespace

std::optional<Stream> walk(int fd, const FrameSeen &onFrame, bool lenient, const BytesRead &onBytes, WalkError *error,
                           const FirstSeen &onFirst, Sum64 *frameSum) {
  return Walk(fd, onFrame, lenient, onBytes, error, onFirst, frameSum).run();
}

std::optional<Stream> estimate(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  const std::int64_t size = st.st_size;
  unsigned char head[10];
  Stream s;
  if (readAt(fd, head, 10, 0)) s.tagEnd = id3v2Size(head);
  if (s.tagEnd < 0) return std::nullopt;
  std::vector<unsigned char> frame(kMaxFrame);
  if (!readAt(fd, frame.data(), 4, s.tagEnd) || !parseHeader(frame.data(), s.first) ||
      !readAt(fd, frame.data(), static_cast<std::size_t>(s.first.size), s.tagEnd))
    return std::nullopt;
  s.firstFrame = s.audioStart = s.tagEnd;
  s.info = readInfoTag(frame.data(), s.first);
  if (s.info.present) {
    // The first audio frame follows the tag frame, of the same kind.
    s.audioStart += s.first.size;
    unsigned char bytes[4];
    Header next;
    if (!readAt(fd, bytes, 4, s.audioStart) || !parseHeader(bytes, next) || next.version != s.first.version ||
        next.layer != s.first.layer || next.rate != s.first.rate)
      return std::nullopt;
  }
  unsigned char last[3];
  s.id3v1 = size - 128 >= s.audioStart && readAt(fd, last, 3, size - 128) && std::memcmp(last, "TAG", 3) == 0;
  if (s.id3v1) s.id3v1At = size - 128;
  s.audioEnd = size - (s.id3v1 ? 128 : 0);

  // A Xing tag counts the frames of a stream whose bitrate varies, unless
  // the audio could not hold that many at the stream's smallest frames
  // (damaged, or made to mislead). At one bitrate, the frames share out the
  // audio bytes at the first one's size, padding spread as encoders spread it.
  const bool variable = s.info.present && std::memcmp(frame.data() + 4 + sideInfoSize(s.first), "Xing", 4) == 0;
  const std::int64_t most = (s.audioEnd - s.audioStart) / frameSizeAt(s.first, 1);
  if (variable && s.info.frames > 0 && s.info.frames <= most) {
    s.frames = s.info.frames;
  } else {
    const double bytesPerFrame = static_cast<double>(s.first.bitrate) * s.first.samples / 8.0 / s.first.rate;
    s.frames = std::llround(static_cast<double>(s.audioEnd - s.audioStart) / bytesPerFrame);
  }
  if (s.frames <= 0 || !trim(s)) return std::nullopt;
  return s;
}

}  // namespace mpeg
