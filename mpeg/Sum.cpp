#include "Sum.h"

#include <bit>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace mpeg {
namespace {

constexpr std::size_t kStripe = 64;
constexpr unsigned kBlock = 16;  // stripes
constexpr std::uint64_t kScramble = 0x9E3779B1;
constexpr std::uint64_t kPrime = 0x9E3779B185EBCA87ull;

constexpr std::array<std::uint64_t, 24> kKey = [] {
  std::array<std::uint64_t, 24> key{};
  std::uint64_t x = 0;
  for (std::uint64_t &word : key) {
    x += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    word = z ^ (z >> 31);
  }
  return key;
}();

// Little-endian on every machine.
std::uint64_t read64(const unsigned char *p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

void scramble(std::uint64_t *lanes) {
  for (std::size_t i = 0; i < 8; ++i) lanes[i] = (lanes[i] ^ (lanes[i] >> 47) ^ kKey[16 + i]) * kScramble;
}

// `count` stripes into the lanes; `stripe` is where the block is.
void plainStripes(std::uint64_t *lanes, const unsigned char *data, std::size_t count, unsigned &stripe) {
  for (; count > 0; --count, data += kStripe) {
    if (stripe == kBlock) scramble(lanes), stripe = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      const std::uint64_t word = read64(data + 8 * i), x = word ^ kKey[stripe + i];
      lanes[i ^ 1] += word;
      lanes[i] += (x & 0xFFFFFFFF) * (x >> 32);
    }
    ++stripe;
  }
}

#if defined(__x86_64__)
#define WIDE __attribute__((target("avx2")))

WIDE __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }

WIDE __m256i scrambled(__m256i v, __m256i key) {
  const __m256i by = _mm256_set1_epi64x(static_cast<long long>(kScramble));
  v = _mm256_xor_si256(_mm256_xor_si256(v, _mm256_srli_epi64(v, 47)), key);
  const __m256i low = _mm256_mul_epu32(v, by), high = _mm256_mul_epu32(_mm256_srli_epi64(v, 32), by);
  return _mm256_add_epi64(low, _mm256_slli_epi64(high, 32));
}

WIDE __m256i taken(__m256i lanes, __m256i words, __m256i key) {
  const __m256i x = _mm256_xor_si256(words, key);
  const __m256i product = _mm256_mul_epu32(x, _mm256_srli_epi64(x, 32));
  // Each word goes to the other lane of its pair.
  return _mm256_add_epi64(_mm256_add_epi64(lanes, product), _mm256_shuffle_epi32(words, _MM_SHUFFLE(1, 0, 3, 2)));
}

// plainStripes four lanes to a register.
WIDE void wideStripes(std::uint64_t *lanes, const unsigned char *data, std::size_t count, unsigned &stripe) {
  __m256i a = load(lanes), b = load(lanes + 4);
  const __m256i keyA = load(kKey.data() + 16), keyB = load(kKey.data() + 20);
  for (; count > 0; --count, data += kStripe) {
    if (stripe == kBlock) {
      a = scrambled(a, keyA);
      b = scrambled(b, keyB);
      stripe = 0;
    }
    a = taken(a, load(data), load(kKey.data() + stripe));
    b = taken(b, load(data + 32), load(kKey.data() + stripe + 4));
    ++stripe;
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes), a);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(lanes + 4), b);
}

// The same, a stripe to a register. (The masked forms, all lanes on, spare
// GCC's warning about the plain ones' undefined start.)
#define WIDEST __attribute__((target("avx512f")))
WIDEST void widestStripes(std::uint64_t *lanes, const unsigned char *data, std::size_t count, unsigned &stripe) {
  constexpr __mmask8 all = 0xFF;
  __m512i a = _mm512_loadu_si512(lanes);
  const __m512i key = _mm512_loadu_si512(kKey.data() + 16);
  const __m512i by = _mm512_set1_epi64(static_cast<long long>(kScramble));
  for (; count > 0; --count, data += kStripe) {
    if (stripe == kBlock) {
      a = _mm512_xor_si512(_mm512_xor_si512(a, _mm512_maskz_srli_epi64(all, a, 47)), key);
      const __m512i low = _mm512_maskz_mul_epu32(all, a, by);
      const __m512i high = _mm512_maskz_mul_epu32(all, _mm512_maskz_srli_epi64(all, a, 32), by);
      a = _mm512_add_epi64(low, _mm512_maskz_slli_epi64(all, high, 32));
      stripe = 0;
    }
    const __m512i words = _mm512_loadu_si512(data);
    const __m512i x = _mm512_xor_si512(words, _mm512_loadu_si512(kKey.data() + stripe));
    const __m512i product = _mm512_maskz_mul_epu32(all, x, _mm512_maskz_srli_epi64(all, x, 32));
    a = _mm512_add_epi64(_mm512_add_epi64(a, product), _mm512_maskz_shuffle_epi32(0xFFFF, words, _MM_PERM_BADC));
    ++stripe;
  }
  _mm512_storeu_si512(lanes, a);
}
#undef WIDEST
#undef WIDE
#endif

void stripes(std::uint64_t *lanes, const unsigned char *data, std::size_t count, unsigned &stripe) {
#if defined(__x86_64__)
  // A few stripes go the plain way, some the AVX2 way, many the AVX-512
  // way: each is tried on every machine that has the next.
  static const bool wide = __builtin_cpu_supports("avx2"), widest = wide && __builtin_cpu_supports("avx512f");
  if (widest && count >= 16) return widestStripes(lanes, data, count, stripe);
  if (wide && count >= 4) return wideStripes(lanes, data, count, stripe);
#endif
  plainStripes(lanes, data, count, stripe);
}

__extension__ using Wide = unsigned __int128;

// The 128-bit product's halves, xored.
std::uint64_t folded(std::uint64_t a, std::uint64_t b) {
  const Wide product = static_cast<Wide>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

}  // namespace

Sum64::Sum64()
    : lanes_{0x165667B1ull,         0x9E3779B185EBCA87ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
             0x85EBCA77C2B2AE63ull, 0x85EBCA77ull,         0x27D4EB2F165667C5ull, 0x9E3779B1ull} {}

void Sum64::update(const unsigned char *data, std::size_t size) {
  total_ += size;
  if (heldSize_ + size < kStripe) {
    if (size > 0) std::memcpy(held_.data() + heldSize_, data, size);
    heldSize_ += size;
    return;
  }
  if (heldSize_ > 0) {
    const std::size_t fill = kStripe - heldSize_;
    std::memcpy(held_.data() + heldSize_, data, fill);
    stripes(lanes_.data(), held_.data(), 1, stripe_);
    data += fill;
    size -= fill;
  }
  const std::size_t whole = size / kStripe;
  if (whole > 0) stripes(lanes_.data(), data, whole, stripe_);
  heldSize_ = size - whole * kStripe;
  if (heldSize_ > 0) std::memcpy(held_.data(), data + whole * kStripe, heldSize_);
}

void Sum64::updateNumber(std::uint64_t v) {
  unsigned char bytes[8];
  for (unsigned char &b : bytes) b = static_cast<unsigned char>(v), v >>= 8;
  update(bytes, 8);
}

std::uint64_t Sum64::value() const {
  std::array<std::uint64_t, 8> lanes = lanes_;
  unsigned stripe = stripe_;
  if (heldSize_ > 0) {
    std::array<unsigned char, kStripe> last{};
    std::memcpy(last.data(), held_.data(), heldSize_);
    plainStripes(lanes.data(), last.data(), 1, stripe);
  }
  std::uint64_t h = total_ * kPrime;
  for (std::size_t i = 0; i < 8; i += 2) h += folded(lanes[i] ^ kKey[i], lanes[i + 1] ^ kKey[i + 1]);
  h ^= h >> 37;
  h *= 0x165667919E3779F9ull;
  return h ^ (h >> 32);
}

}  // namespace mpeg
