#include "Frame.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "Id3.h"
#include "SystemFiles.h"

namespace mpeg {
namespace {

// How far a lenient walk looks for the first frame, and the largest APE tag
// it takes.
constexpr std::int64_t kMaxJunk = 1 << 20;
constexpr std::size_t kMaxApeTag = 1 << 20;
constexpr std::size_t kMaxFrame = 2881;  // Layer II at 384 kbit/s and 8 kHz, padded

constexpr int kBitrates[2][3][15] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                     {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr long kRates[3] = {44100, 48000, 32000};

int sizeOf(int layer, bool lsf, long bitrate, long rate, int padding) {
  if (layer == 1) return static_cast<int>((12 * bitrate / rate + padding) * 4);
  if (layer == 2 || !lsf) return static_cast<int>(144 * bitrate / rate + padding);
  return static_cast<int>(72 * bitrate / rate + padding);
}

// Sequential reader over a file descriptor with a window that keeps at least
// the bytes of one whole frame available.
class Reader {
 public:
  Reader(int fd, const BytesRead &onBytes) : fd_(fd), onBytes_(onBytes), buf_(kChunk) {}

  // Makes at least n bytes from the current position available, unless the
  // file ends first. Returns the number of bytes available.
  std::size_t want(std::size_t n) {
    while (end_ - pos_ < n && !eof_) {
      if (pos_ > 0) {
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

}  // namespace

bool readAt(int fd, unsigned char *to, std::size_t size, std::int64_t offset) {
  return sys::whole(size, [&](std::size_t done) {
    return ::pread(fd, to + done, size - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
  });
}

bool parseHeader(const unsigned char *p, Header &h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
      (p[3] & 3) == 2)
    return false;

  h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  h.layer = 4 - layerBits;
  const bool lsf = h.version != 1;
  h.rate = kRates[rateIndex] >> (h.version == 1 ? 0 : h.version == 2 ? 1 : 2);
  h.bitrateIndex = bitrateIndex;
  h.bitrate = kBitrates[lsf ? 1 : 0][h.layer - 1][bitrateIndex] * 1000L;
  h.padding = (p[2] >> 1) & 1;
  h.size = sizeOf(h.layer, lsf, h.bitrate, h.rate, h.padding);
  h.samples = h.layer == 1 ? 384 : (h.layer == 2 || !lsf) ? 1152 : 576;
  h.mono = (p[3] >> 6) == 3;
  h.crc = (p[1] & 1) == 0;
  return h.size > 4;
}

void makeHeader(const unsigned char *from, int bitrateIndex, unsigned char *out) {
  out[0] = 0xFF;
  out[1] = static_cast<unsigned char>(from[1] | 1);                             // no checksum
  out[2] = static_cast<unsigned char>((bitrateIndex << 4) | (from[2] & 0x0D));  // no padding
  out[3] = from[3];
}

int frameSizeAt(const Header &from, int bitrateIndex) {
  const bool lsf = from.version != 1;
  return sizeOf(from.layer, lsf, kBitrates[lsf ? 1 : 0][from.layer - 1][bitrateIndex] * 1000L, from.rate, 0);
}

int sideInfoSize(const Header &h) { return h.version == 1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17); }

int mainDataOffset(const Header &h) { return 4 + (h.crc ? 2 : 0) + sideInfoSize(h); }

int mainDataBegin(const unsigned char *frame, const Header &h) {
  const unsigned char *side = frame + 4 + (h.crc ? 2 : 0);
  return h.version == 1 ? (side[0] << 1) | (side[1] >> 7) : side[0];
}

std::uint32_t bigEndian32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

InfoTag readInfoTag(const unsigned char *frame, const Header &h) {
  InfoTag tag;
  if (h.layer != 3) return tag;
  const int sideInfo = sideInfoSize(h);
  const unsigned char *data = frame + 4;
  const int size = h.size - 4;
  if (size < sideInfo + 8) return tag;
  for (int i = 2; i < sideInfo; ++i)
    if (data[i] != 0) return tag;
  const unsigned char *x = data + sideInfo;
  if (std::memcmp(x, "Xing", 4) != 0 && std::memcmp(x, "Info", 4) != 0) return tag;
  tag.present = true;
  const std::uint32_t flags = bigEndian32(x + 4);
  int at = sideInfo + 8;
  auto field = [&](int bytes) {
    if (at + bytes > size) tag.doubtful = true;
    return !tag.doubtful;
  };
  if (flags & 1) {
    if (!field(4)) return tag;
    tag.frames = bigEndian32(data + at);
    at += 4;
  }
  if ((flags & 2) && field(4)) at += 4;
  if ((flags & 4) && field(100)) at += 100;
  if ((flags & 8) && field(4)) at += 4;
  if (!field(24)) return tag;
  if (data[at] != 0) {  // an encoder's name: the LAME fields follow
    tag.lameAt = 4 + at;
    tag.delay = (data[at + 21] << 4) | (data[at + 22] >> 4);
    tag.padding = ((data[at + 22] & 0x0F) << 8) | data[at + 23];
  }
  return tag;
}

std::optional<Stream> walk(int fd, const FrameSeen &onFrame, bool lenient, const BytesRead &onBytes) {
  Reader in(fd, onBytes);
  const std::int64_t start = in.tell();

  // One ID3v2 tag may come first.
  if (in.want(10) >= 10) {
    const std::int64_t tag = id3v2Size(in.data());
    if (tag < 0) return std::nullopt;
    for (auto size = static_cast<std::size_t>(tag); size > 0;) {
      const std::size_t step = std::min<std::size_t>(size, in.want(std::min<std::size_t>(size, 1 << 20)));
      if (step == 0) return std::nullopt;
      in.skip(step);
      size -= step;
    }
  }

  Stream s;
  s.tagEnd = in.tell() - start;
  Header h;
  if (lenient) {
    // Junk: passed over up to a frame that another of the same kind follows.
    for (;; in.skip(1), ++s.junk) {
      if (s.junk > kMaxJunk || in.want(4) < 4) return std::nullopt;
      Header next;
      if (!parseHeader(in.data(), h)) continue;
      if (s.junk == 0) break;  // no junk: the walk goes on as it would without lenience
      const auto size = static_cast<std::size_t>(h.size);
      if (in.want(size + 4) < size + 4) return std::nullopt;
      if (parseHeader(in.data() + size, next) && next.version == h.version && next.layer == h.layer &&
          next.rate == h.rate)
        break;
    }
  }
  s.firstFrame = s.audioStart = in.tell() - start;
  bool haveFirst = false;
  Headers headers;
  for (;;) {
    const std::size_t avail = in.want(4);
    if (avail == 0) break;
    if (avail < 4 || !headers.parse(in.data(), h)) {
      // Only an ID3v1 tag may follow the last frame, or where taken an APE
      // tag and then an ID3v1 tag: the rest of the file, read whole.
      if (haveFirst && in.want(129) == 128 && std::memcmp(in.data(), "TAG", 3) == 0) {
        s.id3v1 = true;
        break;
      }
      if (!haveFirst || !lenient) return std::nullopt;
      const std::size_t rest = in.want(kMaxApeTag + 1);
      if (rest > kMaxApeTag) return std::nullopt;
      s.id3v1 = rest >= 128 + 32 && std::memcmp(in.data() + rest - 128, "TAG", 3) == 0;
      const std::size_t ape = rest - (s.id3v1 ? 128 : 0);
      const unsigned char *footer = in.data() + ape - 32;
      if (ape < 32 || std::memcmp(footer, "APETAGEX", 8) != 0) return std::nullopt;
      auto le32 = [](const unsigned char *p) {
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
      };
      if (le32(footer + 12) + ((le32(footer + 20) & 0x80000000u) ? 32u : 0u) != ape) return std::nullopt;
      s.apeTag = static_cast<std::int64_t>(ape);
      break;
    }
    if (haveFirst && (h.version != s.first.version || h.layer != s.first.layer || h.rate != s.first.rate))
      return std::nullopt;
    if (const std::size_t held = in.want(static_cast<std::size_t>(h.size)); held < static_cast<std::size_t>(h.size)) {
      if (!lenient || !haveFirst) return std::nullopt;  // cut inside its last frame
      s.cutEnd = static_cast<std::int64_t>(held);
      break;
    }
    const std::int64_t offset = in.tell() - start;
    if (!haveFirst) {
      s.first = h;
      haveFirst = true;
      s.info = readInfoTag(in.data(), h);
      if (s.info.present) s.audioStart = offset + h.size;
    }
    if (haveFirst && !(s.info.present && offset == s.firstFrame)) onFrame(s.frames++, offset);
    in.skip(static_cast<std::size_t>(h.size));
    s.audioEnd = in.tell() - start;
  }
  if (!haveFirst || s.frames == 0 || s.info.doubtful || !trim(s)) return std::nullopt;
  return s;
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
