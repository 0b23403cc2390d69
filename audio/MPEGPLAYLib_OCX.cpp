#include "MPEGPLAYLib_OCX.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileName.h"

namespace audio {
namespace {

struct FrameHeader {
  int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
  int layer = 0;
  long rate = 0;
  int size = 0;     // bytes, header included
  int samples = 0;  // per channel
  bool mono = false;
  bool crc = false;
};

// Decodes the four header bytes. Returns false for anything libmpg123 would
// not take as a plain frame header (free format and the reserved emphasis are
// left to libmpg123 as well).
bool parseHeader(const unsigned char *p, FrameHeader &h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
      (p[3] & 3) == 2)
    return false;

  static constexpr int kBitrates[2][3][15] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                               {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                               {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                              {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                               {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                               {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  static constexpr long kRates[3] = {44100, 48000, 32000};

  h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  h.layer = 4 - layerBits;
  const bool lsf = h.version != 1;
  h.rate = kRates[rateIndex] >> (h.version == 1 ? 0 : h.version == 2 ? 1 : 2);
  const long bitrate = kBitrates[lsf ? 1 : 0][h.layer - 1][bitrateIndex] * 1000L;
  const int padding = (p[2] >> 1) & 1;
  if (h.layer == 1) {
    h.size = static_cast<int>((12 * bitrate / h.rate + padding) * 4);
    h.samples = 384;
  } else if (h.layer == 2 || !lsf) {
    h.size = static_cast<int>(144 * bitrate / h.rate + padding);
    h.samples = 1152;
  } else {
    h.size = static_cast<int>(72 * bitrate / h.rate + padding);
    h.samples = 576;
  }
  h.mono = (p[3] >> 6) == 3;
  h.crc = (p[1] & 1) == 0;
  return h.size > 4;
}

std::uint32_t bigEndian32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A Xing/Info tag in the first frame, read as libmpg123 reads it: the tag
// counts only where the side information before it is zero (its first two
// bytes aside), and its encoder delay and padding trim the playing length
// only when it also gives a frame count.
struct InfoTag {
  bool present = false;
  bool doubtful = false;  // a form whose reading is left to libmpg123
  std::int64_t frames = 0;
  int delay = 0;
  int padding = 0;
};

InfoTag readInfoTag(const unsigned char *frame, const FrameHeader &h) {
  InfoTag tag;
  if (h.layer != 3) return tag;
  const int sideInfo = h.version == 1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
  const unsigned char *data = frame + 4;
  const int size = h.size - 4;
  if (size < sideInfo + 8) return tag;
  for (int i = 2; i < sideInfo; ++i)
    if (data[i] != 0) return tag;
  const unsigned char *x = data + sideInfo;
  if (std::memcmp(x, "Xing", 4) != 0 && std::memcmp(x, "Info", 4) != 0) return tag;
  tag.present = true;
  // A checksum shifts the side information: how libmpg123 reads that is not
  // settled here.
  tag.doubtful = h.crc;
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
    tag.delay = (data[at + 21] << 4) | (data[at + 22] >> 4);
    tag.padding = ((data[at + 22] & 0x0F) << 8) | data[at + 23];
  }
  return tag;
}

// Keeps at most kMaxIndex offsets: when full, every other one goes and the
// step doubles.
void addToIndex(StreamFacts &facts, std::int64_t frame, std::int64_t offset) {
  constexpr std::size_t kMaxIndex = 1 << 16;
  if (frame % facts.frameStep != 0) return;
  if (facts.frameOffsets.size() == kMaxIndex) {
    for (std::size_t i = 0; i < kMaxIndex / 2; ++i) facts.frameOffsets[i] = facts.frameOffsets[2 * i];
    facts.frameOffsets.resize(kMaxIndex / 2);
    facts.frameStep *= 2;
    if (frame % facts.frameStep != 0) return;
  }
  facts.frameOffsets.push_back(offset);
}

// libmpg123's decoder delay, which its gapless trimming adds to both ends.
constexpr std::int64_t kDecoderDelay = 529;

struct FdCloser {
  void operator()(const int *fd) const {
    ::close(*fd);
    delete fd;
  }
};

// Sequential reader over a file descriptor with a window that keeps at least
// the bytes of one whole frame available.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd), buf_(kChunk) {}

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
        throw StreamError(std::strerror(errno));
      }
      if (got == 0) eof_ = true;
      end_ += static_cast<std::size_t>(got);
    }
    return end_ - pos_;
  }
  const unsigned char *data() const { return buf_.data() + pos_; }
  void skip(std::size_t n) { pos_ += n; }  // n <= available
  std::int64_t tell() const { return base_ + static_cast<std::int64_t>(pos_); }

 private:
  static constexpr std::size_t kChunk = 1 << 17;  // stays in the cache while it is walked
  int fd_;
  std::vector<unsigned char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  std::int64_t base_ = 0;
  bool eof_ = false;
};

[[noreturn]] void notRegular(const std::string &path, mode_t mode) {
  const char *kind = S_ISDIR(mode)    ? "a folder"
                     : S_ISFIFO(mode) ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                                      : "not a plain file";
  throw StreamError(path + ": not a regular file but " + kind);
}

// Only a regular file is read, and opening never waits (a FIFO without a
// writer, a device): its type is checked before and after the open.
int openForReading(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) notRegular(path, st.st_mode);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw StreamError(path + ": " + std::strerror(errno));
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    notRegular(path, st.st_mode);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::optional<StreamFacts> walkFrameHeaders(const std::string &path) {
  std::unique_ptr<int, FdCloser> fd(new int(openForReading(path)));
  posix_fadvise(*fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return walkFrameHeaders(*fd);
}

std::optional<StreamFacts> walkFrameHeaders(int fd) {
  Reader in(fd);

  // One ID3v2 tag may come first.
  if (in.want(10) >= 10 && std::memcmp(in.data(), "ID3", 3) == 0) {
    const unsigned char *t = in.data();
    if ((t[6] | t[7] | t[8] | t[9]) & 0x80) return std::nullopt;
    std::size_t size = (std::size_t{t[6]} << 21) | (std::size_t{t[7]} << 14) | (std::size_t{t[8]} << 7) | t[9];
    size += 10 + ((t[5] & 0x10) ? 10 : 0);
    while (size > 0) {
      const std::size_t step = std::min<std::size_t>(size, in.want(std::min<std::size_t>(size, 1 << 20)));
      if (step == 0) return std::nullopt;
      in.skip(step);
      size -= step;
    }
  }

  StreamFacts facts;
  FrameHeader first, h;
  InfoTag info;
  bool haveFirst = false;
  for (;;) {
    const std::size_t avail = in.want(4);
    if (avail == 0) break;
    if (avail < 4 || !parseHeader(in.data(), h)) {
      // Only an ID3v1 tag may follow the last frame.
      if (haveFirst && in.want(129) == 128 && std::memcmp(in.data(), "TAG", 3) == 0) break;
      return std::nullopt;
    }
    if (haveFirst && (h.version != first.version || h.layer != first.layer || h.rate != first.rate))
      return std::nullopt;
    if (in.want(static_cast<std::size_t>(h.size)) < static_cast<std::size_t>(h.size))
      return std::nullopt;  // cut inside its last frame
    if (!haveFirst) {
      first = h;
      haveFirst = true;
      info = readInfoTag(in.data(), h);
      if (!info.present) addToIndex(facts, facts.frames++, in.tell());
    } else {
      addToIndex(facts, facts.frames++, in.tell());
    }
    in.skip(static_cast<std::size_t>(h.size));
  }
  if (!haveFirst || facts.frames == 0) return std::nullopt;

  facts.rate = first.rate;
  facts.samples = facts.frames * first.samples;
  if (info.doubtful) return std::nullopt;
  // Trimmed as libmpg123 trims: not at all when the tag's frame count is 0 or
  // more than the stream holds, and never less than its own delay at the end.
  if (info.frames > 0 && info.frames * first.samples <= facts.samples) {
    const std::int64_t begin = info.delay + kDecoderDelay;
    const std::int64_t end = std::min(facts.samples - info.padding + kDecoderDelay, facts.samples);
    if (end <= begin) return std::nullopt;
    facts.samples = end - begin;
  }
  return facts;
}

StreamFacts scanWithLibmpg123(const std::string &path) {
  static const int initialised = mpg123_init();
  (void)initialised;
  int err = MPG123_OK;
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle *)> mh(mpg123_new(nullptr, &err), mpg123_delete);
  if (!mh) throw StreamError(path + ": " + mpg123_plain_strerror(err));
  mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);

  // Open through our own descriptor, so that a missing file reports errno.
  std::unique_ptr<int, FdCloser> fd(new int(openForReading(path)));
  if (mpg123_open_fd(mh.get(), *fd) != MPG123_OK || mpg123_scan(mh.get()) != MPG123_OK)
    throw StreamError(path + ": not an MPEG audio file");
  StreamFacts facts;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(mh.get(), &facts.rate, &channels, &encoding) != MPG123_OK)
    throw StreamError(path + ": not an MPEG audio file");
  facts.frames = mpg123_framelength(mh.get());
  facts.samples = mpg123_length(mh.get());
  mpg123_close(mh.get());
  if (facts.frames <= 0) throw StreamError(path + ": not an MPEG audio file");
  // Trimming by a tag's delay and padding can leave less than nothing.
  facts.samples = std::max<std::int64_t>(facts.samples, 0);
  return facts;
}

StreamFacts readStreamFacts(const std::string &path) {
  if (auto facts = walkFrameHeaders(path)) return *facts;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
    throw StreamError(path + ": the file is empty");
  return scanWithLibmpg123(path);
}

}  // namespace audio

namespace {
std::int32_t clampTo32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::int32_t>::max()));
}
}  // namespace

void TMp3Play::Open(const QString &fileName, const QString &) {
  facts_.reset();
  facts_ = std::make_shared<const audio::StreamFacts>(audio::readStreamFacts(encodeFileName(fileName).toStdString()));
}

std::shared_ptr<const audio::StreamFacts> TMp3Play::Facts() const { return facts_; }

void TMp3Play::Close() { facts_.reset(); }

const audio::StreamFacts &TMp3Play::facts() const {
  if (!facts_) throw audio::StreamError("no MPEG audio file is open");
  return *facts_;
}

std::int32_t TMp3Play::FrameCount() const { return clampTo32(facts().frames); }
std::int32_t TMp3Play::TotalTime() const { return clampTo32(facts().totalTimeMs()); }
