#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mpeg {

// A 64-bit checksum of bytes fed in runs of any length: what identifies a
// source's audio in the record of an exact piece, and the piece's tags. It
// goes over every frame as the walk reads it, so it must cost next to
// nothing: a multilinear sum over stripes of 64 bytes, eight lanes that
// AVX2 and AVX-512 take at once (the plain code gives the same sums).
//
// The lanes start as Sum.cpp's constructor sets them. Stripe n of a block
// of 16, as eight little-endian words w[i], with the key words k[n + i]
// (k: 24 words of splitmix64 from 0): for each lane i, x = w[i] ^ k[n + i];
// lane i gains (x mod 2^32) * (x / 2^32), and lane i ^ 1 gains w[i], all
// mod 2^64. Before each further block, every lane is scrambled:
// ((lane ^ lane >> 47) ^ k[16 + i]) * 0x9E3779B1. The last stripe is padded
// with zeros. The value: the length times 0x9E3779B185EBCA87, plus for each
// pair of lanes 2j, 2j + 1 the halves of the 128-bit product of
// (lane ^ k[2j]) and (lane ^ k[2j + 1]), xored; then h ^= h >> 37,
// h *= 0x165667919E3779F9, h ^= h >> 32. Its sums are kept in pieces: they
// never change.
class Sum64 {
 public:
  Sum64();
  void update(const unsigned char *data, std::size_t size);
  // The sum of everything fed so far; more may follow.
  std::uint64_t value() const;
  // Feeds `v` as eight bytes, the lowest first.
  void updateNumber(std::uint64_t v);

 private:
  std::array<std::uint64_t, 8> lanes_;
  std::uint64_t total_ = 0;
  unsigned stripe_ = 0;                   // stripes taken in the current block
  std::array<unsigned char, 64> held_{};  // bytes of a stripe not yet whole
  std::size_t heldSize_ = 0;
};

}  // namespace mpeg
