#include "Frame.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "Id3.h"
#include "SystemFiles.h"

namespace mpeg {
namespace {

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

}  // namespace

bool readAt(int fd, unsigned char *to, std::size_t size, std::int64_t offset) {
  return sys::whole(size, [&](std::size_t done) {
    return ::pread(fd, to + done, size - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
  });
}

// The four header bytes, bit 31 first, as libmpg123 documents them:
//
//   AAAAAAAA AAABBCCD EEEEFFGH IIJJKLMM
//
//   A  31-21  frame sync, all ones
//   B  20-19  version: 00 MPEG-2.5, 01 reserved, 10 MPEG-2, 11 MPEG-1
//   C  18-17  layer: 00 reserved, 01 Layer III, 10 Layer II, 11 Layer I
//   D  16     protection: 0 where a 16-bit CRC follows the header
//   E  15-12  bitrate index: 0000 free format, 1111 bad
//   F  11-10  sampling rate index: 11 reserved
//   G  9      padding: the frame is one slot longer (4 bytes in Layer I, else 1)
//   H  8      private
//   I  7-6    mode: 00 stereo, 01 joint stereo, 10 dual channel, 11 mono
//   J  5-4    mode extension (joint stereo)
//   K  3      copyright
//   L  2      original
//   M  1-0    emphasis
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
      // Taken only where its header agrees with its footer: the same size,
      // synchsafe in both, so that the tag reads the same from either end
      // (and written at the start of a piece, walks as it did here).
      // Anything else is passed over with the frames' junk.
      b[0] = 'I', b[1] = 'D', b[2] = '3';
      const std::int64_t size = id3v2Size(b);
      unsigned char header[10];
      if (size <= 0 || end - size < floor || !readAt(fd, header, 10, end - size) || id3v2Size(header) != size) break;
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

}  // namespace mpeg
