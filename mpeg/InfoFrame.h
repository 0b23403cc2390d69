#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Frame.h"

// The Xing/Info frame that leads a Layer III stream: its frame and byte
// counts, its seek table and the LAME tag with the encoder delay and padding
// that a gapless decoder trims.
namespace mpeg {

// CRC-16 as the LAME tag uses it (polynomial 0x8005, reflected, start 0).
class Crc16 {
 public:
  Crc16() = default;
  explicit Crc16(std::uint16_t value) : crc_(value) {}
  void update(const unsigned char *data, std::size_t size);
  std::uint16_t value() const { return crc_; }

  // The CRC of A followed by B from the CRC of A, the CRC of B and the
  // length of B: this CRC is linear (no start value, nothing added at the
  // end), so A's part is A's CRC carried through B's length of zeros.
  static std::uint16_t combine(std::uint16_t a, std::uint16_t b, std::uint64_t lengthB);

 private:
  std::uint16_t crc_ = 0;
};

struct InfoFields {
  bool vbr = false;          // "Xing" where the frames differ in bitrate, else "Info"
  std::uint32_t frames = 0;  // audio frames after the tag frame
  std::uint32_t bytes = 0;   // the tag frame and the audio frames
  // Entry i: 256 times the offset of the frame at i % of the frames, in
  // proportion to `bytes` (offsets from the tag frame's first byte).
  std::array<unsigned char, 100> toc{};
  int delay = 0;               // 0 to 4095 samples
  int padding = 0;             // 0 to 4095 samples
  std::uint16_t musicCrc = 0;  // of the audio frames' bytes
  // Bytes of the program's own, placed after the LAME tag inside the frame.
  std::vector<unsigned char> extra;
};

inline constexpr int kMaxTagField = 4095;

// The TOC for `frames` audio frames whose offsets `offsetOf(i)` are counted
// from the tag frame's first byte, in a stream of `bytes` bytes.
template <typename OffsetOf>
std::array<unsigned char, 100> makeToc(std::int64_t frames, std::int64_t bytes, OffsetOf offsetOf) {
  std::array<unsigned char, 100> toc{};
  for (int i = 0; i < 100 && frames > 0 && bytes > 0; ++i) {
    const std::int64_t at = offsetOf(i * frames / 100);
    toc[static_cast<std::size_t>(i)] = static_cast<unsigned char>(std::min<std::int64_t>(255, at * 256 / bytes));
  }
  return toc;
}

// A tag frame for a stream whose frames have `source`'s header fields
// (version, layer, rate, mode): the first bitrate from `source`'s up that
// leaves room for everything, no padding, no checksum. Empty for a layer
// other than III.
std::vector<unsigned char> makeInfoFrame(const unsigned char *sourceHeader, const InfoFields &fields);

// The program's own bytes in a tag frame: those after the LAME tag, as many
// as `size` says or the frame holds, if the frame has a LAME tag written by
// makeInfoFrame; and where they begin in the frame (-1: it has no LAME tag).
std::vector<unsigned char> extraBytes(const unsigned char *frame, const Header &h, std::size_t size);
int extraAt(const unsigned char *frame, const Header &h);

}  // namespace mpeg
