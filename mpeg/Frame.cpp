#include "Frame.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "Id3.h"
#include "SystemFiles.h"

namespace mpeg {
namespace {

// How far a lenient walk looks for the first frame.
constexpr std::int64_t kMaxJunk = 1 << 20;
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

// A frame header but for its bitrate index, 0: free format.
bool isFreeFormat(const unsigned char *p) {
  Header h;
  const unsigned char fixed[4] = {p[0], p[1], static_cast<unsigned char>(p[2] | 0x10), p[3]};
  return (p[2] >> 4) == 0 && parseHeader(fixed, h);
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
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;

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

const char *kindName(Passed::Kind kind) {
  switch (kind) {
    case Passed::Kind::junk: return "junk";
    case Passed::Kind::zeros: return "zero bytes";
    case Passed::Kind::id3v2: return "an ID3v2 tag";
    case Passed::Kind::id3v1: return "an ID3v1 tag";
    case Passed::Kind::ape: return "an APE tag";
    case Passed::Kind::lyrics3: return "a Lyrics3 tag";
  }
  return "";
}

EndTags readEndTags(int fd, std::int64_t fileSize, std::int64_t floor) {
  EndTags found;
  std::int64_t end = fileSize;
  auto at = [&](std::int64_t offset, const char *text) {
    const auto n = std::strlen(text);
    unsigned char b[16];
    return offset >= floor && offset + static_cast<std::int64_t>(n) <= end && readAt(fd, b, n, offset) &&
           std::memcmp(b, text, n) == 0;
  };
  auto take = [&](Passed::Kind kind, std::int64_t from) {
    found.tags.insert(found.tags.begin(), Passed{kind, from, end - from, 0});
    end = from;
  };
  for (;;) {
    unsigned char b[32];
    if (at(end - 128, "TAG")) {
      take(Passed::Kind::id3v1, end - 128);
    } else if (at(end - 10, "3DI") && readAt(fd, b, 10, end - 10)) {
      b[0] = 'I', b[1] = 'D', b[2] = '3';
      const std::int64_t size = id3v2Size(b);
      if (size <= 0 || !at(end - size, "ID3")) break;
      take(Passed::Kind::id3v2, end - size);
    } else if (at(end - 32, "APETAGEX") && readAt(fd, b, 32, end - 32)) {
      const std::int64_t size = std::int64_t{b[12]} | (std::int64_t{b[13]} << 8) | (std::int64_t{b[14]} << 16) |
                                (std::int64_t{b[15]} << 24);
      const bool header = b[23] & 0x80;
      const std::int64_t whole = size + (header ? 32 : 0);
      if (size < 32 || end - whole < floor || (header && !at(end - whole, "APETAGEX"))) break;
      take(Passed::Kind::ape, end - whole);
    } else if (at(end - 9, "LYRICS200") && readAt(fd, b, 6, end - 15)) {
      std::int64_t size = 0;
      for (int i = 0; i < 6; ++i) {
        if (b[i] < '0' || b[i] > '9') return found.start = end, found;
        size = size * 10 + (b[i] - '0');
      }
      if (!at(end - 15 - size, "LYRICSBEGIN")) break;
      take(Passed::Kind::lyrics3, end - 15 - size);
    } else if (at(end - 9, "LYRICSEND")) {
      // Version 1 holds no size: its start is the last "LYRICSBEGIN" within
      // the 5,100 bytes it may take.
      const std::int64_t from = std::max(floor, end - 9 - 5100);
      std::vector<unsigned char> text(static_cast<std::size_t>(end - 9 - from));
      if (!readAt(fd, text.data(), text.size(), from)) break;
      const std::string_view view(reinterpret_cast<const char *>(text.data()), text.size());
      const auto begin = view.rfind("LYRICSBEGIN");
      if (begin == std::string_view::npos) break;
      take(Passed::Kind::lyrics3, from + static_cast<std::int64_t>(begin));
    } else {
      break;
    }
  }
  found.start = end;
  return found;
}

std::optional<Stream> walk(int fd, const FrameSeen &onFrame, bool lenient, const BytesRead &onBytes, WalkError *error,
                           const FirstSeen &onFirst) {
  Reader in(fd, onBytes);
  const std::int64_t start = in.tell();
  WalkError ignored;
  WalkError &why = error ? *error : ignored;
  why = {};

  // One ID3v2 tag may come first.
  if (in.want(10) >= 10) {
    const std::int64_t tag = id3v2Size(in.data());
    if (tag < 0) return why.reason = "its ID3v2 tag has a malformed size", std::nullopt;
    for (auto size = static_cast<std::size_t>(tag); size > 0;) {
      const std::size_t step = std::min<std::size_t>(size, in.want(std::min<std::size_t>(size, 1 << 20)));
      if (step == 0) return why.reason = "it ends inside its ID3v2 tag", std::nullopt;
      in.skip(step);
      size -= step;
    }
  }

  Stream s;
  s.tagEnd = in.tell() - start;
  // A lenient walk ends where the tags at the end begin.
  std::int64_t limit = INT64_MAX;
  EndTags endTags;
  if (lenient) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw ReadError(std::strerror(errno));
    endTags = readEndTags(fd, st.st_size, s.tagEnd);
    limit = endTags.start - start;
  }
  const auto pos = [&] { return in.tell() - start; };
  // Bytes at hand from here, none past the limit.
  const auto avail = [&](std::size_t n) {
    return static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(in.want(n)), std::max<std::int64_t>(0, limit - pos())));
  };
  Header h;
  if (lenient) {
    // Junk: passed over up to a frame that another of the same kind follows.
    for (;; in.skip(1), ++s.junk) {
      if (s.junk > kMaxJunk || avail(4) < 4)
        return why.reason = "no MPEG audio frame follows another in its first megabyte", std::nullopt;
      Header next;
      if (s.junk == 0 && isFreeFormat(in.data())) return why = {0, start + pos(), "free format"}, std::nullopt;
      if (!parseHeader(in.data(), h)) continue;
      const auto size = static_cast<std::size_t>(h.size);
      const bool followed =
          avail(size + 4) >= size + 4 && parseHeader(in.data() + size, next) && sameFormat(next, h);
      if (followed) break;
      // No junk: the walk goes on as it would without lenience, but for an
      // Info frame that no frame follows, which libmpg123 takes for junk.
      if (s.junk == 0 && !(avail(size) >= size && readInfoTag(in.data(), h).present)) break;
    }
  }
  s.firstFrame = s.audioStart = pos();
  bool haveFirst = false;
  Header format;  // of the frames now
  Headers headers;
  // Whether a frame of `h` begins `at` bytes from here and another of its
  // format follows it, or the audio ends with it.
  const auto confirmed = [&](std::size_t at, const Header &frame) {
    const auto size = static_cast<std::size_t>(frame.size);
    const std::size_t have = avail(at + size + 4);
    Header next;
    if (have == at + size && static_cast<std::int64_t>(have) == limit - pos()) return true;
    return have >= at + size + 4 && parseHeader(in.data() + at + size, next) && sameFormat(next, frame);
  };
  // Passes over what is not a frame here, up to where the frames are found
  // again (or a tag begins); false where they are not found before the end.
  const auto passOver = [&]() {
    Passed p{Passed::Kind::zeros, pos(), 0, s.frames};
    constexpr std::size_t kWindow = 1 << 16;
    for (std::size_t q = 1;; q = 0) {
      const std::size_t have = avail(kWindow + kMaxFrame + 4);
      const bool atEnd = have < kWindow + kMaxFrame + 4;
      const std::size_t scan = atEnd ? have : kWindow;
      if (q == 0 && have > 0 && in.data()[0] != 0) p.kind = Passed::Kind::junk;
      for (; q < scan; ++q) {
        Header next;
        const bool frame =
            in.data()[q] == 0xFF && q + 4 <= have && parseHeader(in.data() + q, next) && confirmed(q, next);
        const unsigned char *d = in.data();  // confirmed() may have read on, and moved the bytes
        const bool tag = d[q] == 'I' && q + 10 <= have && id3v2Size(d + q) > 0;
        if (frame || tag) {
          in.skip(q);
          p.length = pos() - p.at;
          s.passed.push_back(p);
          return true;
        }
        if (d[q] != 0) p.kind = Passed::Kind::junk;
      }
      in.skip(scan);
      if (atEnd) {
        p.length = pos() - p.at;
        if (p.length > 0) s.passed.push_back(p);
        return false;
      }
    }
  };
  // Audio bytes can look like a tag at the end ("TAG" 128 bytes before it,
  // "LYRICSEND" with a "LYRICSBEGIN" before): where whole frames of `frame`'s
  // format run from here exactly up to the end of the file or a later tag,
  // they are frames, and what looked like tags before their end is not.
  const auto takeFalseTags = [&](const Header &frame) {
    if (endTags.tags.empty()) return;
    const std::int64_t fileEnd = endTags.tags.back().at + endTags.tags.back().length;
    std::int64_t at = start + pos();
    Header next = frame;
    for (int frames = 0; frames < 4096 && at + next.size <= fileEnd; ++frames) {
      at += next.size;
      const auto tag = std::find_if(endTags.tags.begin(), endTags.tags.end(), [&](const Passed &t) { return t.at >= at; });
      if (at == fileEnd || (tag != endTags.tags.end() && tag->at == at)) {
        endTags.tags.erase(endTags.tags.begin(), tag);
        limit = at - start;
        return;
      }
      unsigned char bytes[4];
      if (!readAt(fd, bytes, 4, at) || !parseHeader(bytes, next) || !sameFormat(next, frame)) return;
    }
  };
  for (;;) {
    const std::size_t n = avail(4);
    if (n == 0) {
      // At the tags at the end: unless frames go on through them.
      Header here;
      if (lenient && haveFirst && in.want(4) >= 4 && parseHeader(in.data(), here) && sameFormat(here, format)) {
        takeFalseTags(here);
        if (avail(4) > 0) continue;
      }
      break;
    }
    const bool header = n >= 4 && headers.parse(in.data(), h);
    if (!header || (haveFirst && !sameFormat(h, format))) {
      if (!lenient) {
        // Only an ID3v1 tag may follow the last frame.
        if (haveFirst && !header && in.want(129) == 128 && std::memcmp(in.data(), "TAG", 3) == 0) {
          s.id3v1 = true;
          s.id3v1At = pos();
          break;
        }
        return std::nullopt;
      }
      // The bytes here are looked at through in.data() anew after every
      // avail(): reading on moves them.
      if (n >= 4 && isFreeFormat(in.data())) {
        why = {s.frames, start + pos(), "free format"};
        return std::nullopt;
      }
      if (header && confirmed(0, h)) {
        // A new format, after the last frame of the old one.
        const unsigned char *d = in.data();
        FormatChange change{s.frames, pos(), h, {d[0], d[1], d[2], d[3]}};
        s.changes.push_back(change);
        format = h;  // an Info frame here is audio, as libmpg123 decodes it
        continue;
      }
      if (n >= 4 && std::memcmp(in.data(), "ID3", 3) == 0 && avail(10) >= 10 && id3v2Size(in.data()) > 0 &&
          id3v2Size(in.data()) <= limit - pos()) {
        const std::int64_t size = id3v2Size(in.data());
        s.passed.push_back({Passed::Kind::id3v2, pos(), size, s.frames});
        for (std::int64_t left = size; left > 0;) {
          const auto step = std::min<std::size_t>(static_cast<std::size_t>(left), avail(1 << 20));
          if (step == 0) break;  // the file shrank under the walk
          in.skip(step);
          left -= static_cast<std::int64_t>(step);
        }
        continue;
      }
      if (!passOver()) break;
      continue;
    }
    if (lenient && avail(static_cast<std::size_t>(h.size)) < static_cast<std::size_t>(h.size)) takeFalseTags(h);
    if (const std::size_t held = avail(static_cast<std::size_t>(h.size)); held < static_cast<std::size_t>(h.size)) {
      if (!lenient || !haveFirst) return std::nullopt;  // cut inside its last frame
      s.cutEnd = static_cast<std::int64_t>(held);
      in.skip(held);
      break;
    }
    const std::int64_t offset = pos();
    if (!haveFirst) {
      s.first = format = h;
      haveFirst = true;
      s.info = readInfoTag(in.data(), h);
      if (s.info.present) s.audioStart = offset + h.size;
      if (onFirst) onFirst(s);
    }
    if (!(s.info.present && offset == s.firstFrame)) {
      if (s.frames == 0) s.audioStart = offset;  // past what follows an Info frame, if anything does
      onFrame(s.frames++, offset);
    }
    in.skip(static_cast<std::size_t>(h.size));
    s.audioEnd = pos();
  }
  if (lenient) {
    for (Passed tag : endTags.tags) {
      tag.at -= start;
      tag.beforeFrame = s.frames;
      if (tag.kind == Passed::Kind::id3v1) s.id3v1At = tag.at;
      if (tag.kind == Passed::Kind::id3v2 && s.endId3v2At < 0) s.endId3v2At = tag.at, s.endId3v2Size = tag.length;
      s.passed.push_back(tag);
    }
    s.id3v1 = s.id3v1At >= 0;
  }
  if (!haveFirst || s.frames == 0) return why.reason = "it holds no MPEG audio frame", std::nullopt;
  if (s.info.doubtful) return why = {0, start + s.firstFrame, "its Info frame is cut short"}, std::nullopt;
  if (!trim(s)) return why.reason = "its Info frame trims away all its samples", std::nullopt;
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
