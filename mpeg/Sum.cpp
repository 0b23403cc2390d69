#include "Sum.h"

#include <cstring>

namespace mpeg {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full,
                        kPrime3 = 0x165667B19E3779F9ull, kPrime4 = 0x85EBCA77C2B2AE63ull,
                        kPrime5 = 0x27D4EB2F165667C5ull;

std::uint64_t rotl(std::uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }

// Little-endian on every machine.
std::uint64_t read64(const unsigned char *p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
std::uint64_t read32(const unsigned char *p) {
  return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 8) | (std::uint64_t{p[2]} << 16) | (std::uint64_t{p[3]} << 24);
}

std::uint64_t mixIn(std::uint64_t lane, std::uint64_t input) { return rotl(lane + input * kPrime2, 31) * kPrime1; }

// Whole stripes of 32 bytes, eight bytes to each lane; returns the bytes taken.
std::size_t stripes(std::uint64_t (&lanes)[4], const unsigned char *data, std::size_t size) {
  std::uint64_t a = lanes[0], b = lanes[1], c = lanes[2], d = lanes[3];
  std::size_t at = 0;
  for (; at + 32 <= size; at += 32) {
    a = mixIn(a, read64(data + at));
    b = mixIn(b, read64(data + at + 8));
    c = mixIn(c, read64(data + at + 16));
    d = mixIn(d, read64(data + at + 24));
  }
  lanes[0] = a, lanes[1] = b, lanes[2] = c, lanes[3] = d;
  return at;
}

}  // namespace

void Sum64::update(const unsigned char *data, std::size_t size) {
  total_ += size;
  if (heldSize_ + size < 32) {
    if (size > 0) std::memcpy(held_.data() + heldSize_, data, size);
    heldSize_ += size;
    return;
  }
  if (heldSize_ > 0) {
    const std::size_t fill = 32 - heldSize_;
    std::memcpy(held_.data() + heldSize_, data, fill);
    stripes(lanes_, held_.data(), 32);
    data += fill;
    size -= fill;
    heldSize_ = 0;
  }
  const std::size_t taken = stripes(lanes_, data, size);
  heldSize_ = size - taken;
  if (heldSize_ > 0) std::memcpy(held_.data(), data + taken, heldSize_);
}

void Sum64::updateNumber(std::uint64_t v) {
  unsigned char bytes[8];
  for (unsigned char &b : bytes) b = static_cast<unsigned char>(v), v >>= 8;
  update(bytes, 8);
}

std::uint64_t Sum64::value() const {
  std::uint64_t h;
  if (total_ >= 32) {
    h = rotl(lanes_[0], 1) + rotl(lanes_[1], 7) + rotl(lanes_[2], 12) + rotl(lanes_[3], 18);
    for (std::uint64_t lane : lanes_) h = (h ^ mixIn(0, lane)) * kPrime1 + kPrime4;
  } else {
    h = kPrime5;
  }
  h += total_;
  const unsigned char *p = held_.data();
  std::size_t left = heldSize_;
  for (; left >= 8; p += 8, left -= 8) h = rotl(h ^ mixIn(0, read64(p)), 27) * kPrime1 + kPrime4;
  if (left >= 4) {
    h = rotl(h ^ (read32(p) * kPrime1), 23) * kPrime2 + kPrime3;
    p += 4;
    left -= 4;
  }
  for (; left > 0; ++p, --left) h = rotl(h ^ (*p * kPrime5), 11) * kPrime1;
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

}  // namespace mpeg
