#include "InfoFrame.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace mpeg {
namespace {

constexpr int kXingFields = 8 + 4 + 4 + 100 + 4;  // id, flags, frames, bytes, TOC, quality
constexpr int kLameTag = 36;

void put32(unsigned char *p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

}  // namespace

namespace {

// A 16 by 16 matrix over GF(2), one column a bit, applied to a CRC.
using Matrix = std::array<std::uint16_t, 16>;

std::uint16_t times(const Matrix &m, std::uint16_t v) {
  std::uint16_t sum = 0;
  for (int i = 0; v != 0; ++i, v >>= 1)
    if (v & 1) sum ^= m[static_cast<std::size_t>(i)];
  return sum;
}

Matrix squared(const Matrix &m) {
  Matrix out{};
  for (std::size_t n = 0; n < 16; ++n) out[n] = times(m, m[n]);
  return out;
}

}  // namespace

std::uint16_t Crc16::combine(std::uint16_t a, std::uint16_t b, std::uint64_t lengthB) {
  // One zero bit shifts the register right, folding the polynomial in where
  // a one falls out; squaring gives 2, 4, 8 zero bits, and so on by bytes.
  Matrix odd{};
  odd[0] = 0xA001;
  for (std::size_t n = 1; n < 16; ++n) odd[n] = static_cast<std::uint16_t>(1u << (n - 1));
  Matrix even = squared(odd);  // two zero bits
  odd = squared(even);         // four
  while (lengthB != 0) {
    even = squared(odd);  // one zero byte on the first round, then four, sixteen...
    if (lengthB & 1) a = times(even, a);
    lengthB >>= 1;
    if (lengthB == 0) break;
    odd = squared(even);
    if (lengthB & 1) a = times(odd, a);
    lengthB >>= 1;
  }
  return a ^ b;
}

namespace {

// Sixteen bytes a step through sixteen tables (8 KB, held in the first
// level cache).
unsigned tableCrc(unsigned crc, const unsigned char *data, std::size_t size) {
  constexpr std::size_t kStep = 16;
  static const auto tables = [] {
    std::array<std::array<std::uint16_t, 256>, kStep> t{};
    for (unsigned i = 0; i < 256; ++i) {
      unsigned c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
      t[0][i] = static_cast<std::uint16_t>(c);
    }
    for (std::size_t k = 1; k < kStep; ++k)
      for (unsigned i = 0; i < 256; ++i)
        t[k][i] = static_cast<std::uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
  }();
  std::size_t i = 0;
  for (; i + kStep <= size; i += kStep) {
    const unsigned char *p = data + i;
    crc = tables[15][(p[0] ^ crc) & 0xFF] ^ tables[14][(p[1] ^ (crc >> 8)) & 0xFF] ^ tables[13][p[2]] ^
          tables[12][p[3]] ^ tables[11][p[4]] ^ tables[10][p[5]] ^ tables[9][p[6]] ^ tables[8][p[7]] ^ tables[7][p[8]] ^
          tables[6][p[9]] ^ tables[5][p[10]] ^ tables[4][p[11]] ^ tables[3][p[12]] ^ tables[2][p[13]] ^
          tables[1][p[14]] ^ tables[0][p[15]];
  }
  for (; i < size; ++i) crc = (crc >> 8) ^ tables[0][(crc ^ data[i]) & 0xFF];
  return crc;
}

#if defined(__x86_64__)
// Folding with carry-less multiplication, 64 bytes a step. A 16-byte block
// is a polynomial of degree 127, its first byte's lowest bit the highest
// power (the CRC is reflected). Since the CRC starts from 0 and adds nothing
// at the end, it depends on the message only modulo P: blocks can be folded
// forward onto later ones (times x^n mod P) until 16 bytes are left, whose
// CRC the tables give.

// x^n mod P, P = x^16 + x^15 + x^2 + 1; bit d is the coefficient of x^d.
std::uint32_t powerModP(unsigned n) {
  std::uint32_t r = 1;
  while (n-- > 0) {
    r <<= 1;
    if (r & 0x10000) r ^= 0x18005;
  }
  return r;
}

// x times (x^e mod P), reflected into 64 bits (bit j the coefficient of
// x^(64 - j)), so that its product with a reflected half block lands in the
// 128 bits of a reflected block, unshifted.
std::uint64_t foldFactor(unsigned e) {
  const std::uint32_t r = powerModP(e);
  std::uint64_t k = 0;
  for (unsigned d = 0; d < 16; ++d)
    if ((r >> d) & 1) k |= std::uint64_t{1} << (63 - d);
  return k;
}

// The factors that carry a block n bits further: its first half (the higher
// powers) by x^(n + 64), its second by x^n.
struct Fold {
  std::uint64_t first, second;
};
Fold foldBy(unsigned n) { return {foldFactor(n + 63), foldFactor(n - 1)}; }

__attribute__((target("pclmul,sse2"))) __m128i fold(__m128i block, const Fold &by) {
  const __m128i k = _mm_set_epi64x(static_cast<long long>(by.second), static_cast<long long>(by.first));
  return _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x00), _mm_clmulepi64_si128(block, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) unsigned foldedCrc(unsigned crc, const unsigned char *data, std::size_t size) {
  static const Fold by128 = foldBy(128), by256 = foldBy(256), by384 = foldBy(384), by512 = foldBy(512);
  auto load = [&](std::size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at)); };
  // A CRC so far is the same as its two bytes added into the first two.
  __m128i lane[4] = {_mm_xor_si128(load(0), _mm_cvtsi32_si128(static_cast<int>(crc))), load(16), load(32), load(48)};
  std::size_t at = 64;
  for (; at + 64 <= size; at += 64)
    for (int i = 0; i < 4; ++i)
      lane[i] = _mm_xor_si128(fold(lane[i], by512), load(at + 16 * static_cast<std::size_t>(i)));
  __m128i x = _mm_xor_si128(_mm_xor_si128(fold(lane[0], by384), fold(lane[1], by256)),
                            _mm_xor_si128(fold(lane[2], by128), lane[3]));
  for (; at + 16 <= size; at += 16) x = _mm_xor_si128(fold(x, by128), load(at));
  unsigned char left[16];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(left), x);
  return tableCrc(tableCrc(0, left, 16), data + at, size - at);
}

// The same four 128-bit lanes wide, where the processor folds 512 bits at
// once: 256 bytes a step, in four registers of four blocks each.
__attribute__((target("avx512f,vpclmulqdq,pclmul,sse2"))) __m512i fold4(__m512i blocks, const Fold &by) {
  const auto first = static_cast<long long>(by.first), second = static_cast<long long>(by.second);
  const __m512i k = _mm512_set_epi64(second, first, second, first, second, first, second, first);
  return _mm512_xor_si512(_mm512_clmulepi64_epi128(blocks, k, 0x00), _mm512_clmulepi64_epi128(blocks, k, 0x11));
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse2"))) unsigned wideCrc(unsigned crc, const unsigned char *data,
                                                                           std::size_t size) {
  static const Fold by512 = foldBy(512), by1024 = foldBy(1024), by1536 = foldBy(1536), by2048 = foldBy(2048);
  __m512i lane[4] = {
      _mm512_xor_si512(_mm512_loadu_si512(data), _mm512_castsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc)))),
      _mm512_loadu_si512(data + 64), _mm512_loadu_si512(data + 128), _mm512_loadu_si512(data + 192)};
  std::size_t at = 256;
  for (; at + 256 <= size; at += 256)
    for (std::size_t i = 0; i < 4; ++i)
      lane[i] = _mm512_xor_si512(fold4(lane[i], by2048), _mm512_loadu_si512(data + at + 64 * i));
  const __m512i x = _mm512_xor_si512(_mm512_xor_si512(fold4(lane[0], by1536), fold4(lane[1], by1024)),
                                     _mm512_xor_si512(fold4(lane[2], by512), lane[3]));
  // Those 64 bytes stand for all before them; then what follows.
  unsigned char last[64];
  _mm512_storeu_si512(last, x);
  const unsigned sofar = foldedCrc(0, last, 64);
  const std::size_t rest = size - at;
  return rest >= 64 ? foldedCrc(sofar, data + at, rest) : tableCrc(sofar, data + at, rest);
}
#endif

}  // namespace

void Crc16::update(const unsigned char *data, std::size_t size) {
  // The audio of every exact piece goes through here, as fast as it is read.
#if defined(__x86_64__)
  static const bool folding = __builtin_cpu_supports("pclmul");
  static const bool wide = folding && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
  if (wide && size >= 256) {
    crc_ = static_cast<std::uint16_t>(wideCrc(crc_, data, size));
    return;
  }
  if (folding && size >= 64) {
    crc_ = static_cast<std::uint16_t>(foldedCrc(crc_, data, size));
    return;
  }
#endif
  crc_ = static_cast<std::uint16_t>(tableCrc(crc_, data, size));
}

std::vector<unsigned char> makeInfoFrame(const unsigned char *sourceHeader, const InfoFields &fields) {
  Header h;
  if (!parseHeader(sourceHeader, h) || h.layer != 3) return {};
  const int side = sideInfoSize(h);
  const int need = 4 + side + kXingFields + kLameTag + static_cast<int>(fields.extra.size());
  int index = h.bitrateIndex;
  while (index < 14 && frameSizeAt(h, index) < need) ++index;
  const int size = frameSizeAt(h, index);
  if (size < need) return {};

  std::vector<unsigned char> frame(static_cast<std::size_t>(size), 0);
  unsigned char *f = frame.data();
  makeHeader(sourceHeader, index, f);
  unsigned char *x = f + 4 + side;
  // Readers take "Info" for frames of one bitrate, this one's: where it had
  // to be raised to hold the tag, the frames are not.
  std::memcpy(x, fields.vbr || index != h.bitrateIndex ? "Xing" : "Info", 4);
  put32(x + 4, 1 | 2 | 4 | 8);
  put32(x + 8, fields.frames);
  put32(x + 12, fields.bytes);
  std::copy(fields.toc.begin(), fields.toc.end(), x + 16);
  put32(x + 116, 0);  // no quality given

  unsigned char *l = x + kXingFields;
  std::memcpy(l, "LAME3.100", 9);
  l[9] = 0x00;  // tag revision 0, as lame writes it; method unknown
  const int delay = std::clamp(fields.delay, 0, kMaxTagField);
  const int padding = std::clamp(fields.padding, 0, kMaxTagField);
  l[21] = static_cast<unsigned char>(delay >> 4);
  l[22] = static_cast<unsigned char>(((delay & 0x0F) << 4) | (padding >> 8));
  l[23] = static_cast<unsigned char>(padding);
  put32(l + 28, fields.bytes);
  l[32] = static_cast<unsigned char>(fields.musicCrc >> 8);
  l[33] = static_cast<unsigned char>(fields.musicCrc);
  Crc16 tagCrc;
  tagCrc.update(f, static_cast<std::size_t>(l + 34 - f));
  l[34] = static_cast<unsigned char>(tagCrc.value() >> 8);
  l[35] = static_cast<unsigned char>(tagCrc.value());
  std::copy(fields.extra.begin(), fields.extra.end(), l + kLameTag);
  return frame;
}

int extraAt(const unsigned char *frame, const Header &h) {
  const InfoTag tag = readInfoTag(frame, h);
  return tag.lameAt < 0 || tag.lameAt + kLameTag > h.size ? -1 : tag.lameAt + kLameTag;
}

std::vector<unsigned char> extraBytes(const unsigned char *frame, const Header &h, std::size_t size) {
  const int at = extraAt(frame, h);
  if (at < 0) return {};
  const std::size_t from = static_cast<std::size_t>(at);
  return {frame + from, frame + std::min(from + size, static_cast<std::size_t>(h.size))};
}

}  // namespace mpeg
