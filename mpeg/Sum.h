#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mpeg {

// A 64-bit checksum of bytes fed in runs of any length: XXH64 with seed 0,
// as xxhsum -H1 gives it. What identifies a source's audio in the record of
// an exact piece, and the piece's tags: fast enough to go over every frame
// as the walk reads it.
class Sum64 {
 public:
  void update(const unsigned char *data, std::size_t size);
  // The sum of everything fed so far; more may follow.
  std::uint64_t value() const;
  // Feeds `v` as eight bytes, the lowest first.
  void updateNumber(std::uint64_t v);

 private:
  std::uint64_t lanes_[4] = {0x9E3779B185EBCA87ull + 0xC2B2AE3D27D4EB4Full, 0xC2B2AE3D27D4EB4Full, 0,
                             0 - 0x9E3779B185EBCA87ull};
  std::uint64_t total_ = 0;
  std::array<unsigned char, 32> held_{};  // bytes of a stripe not yet whole
  std::size_t heldSize_ = 0;
};

}  // namespace mpeg
