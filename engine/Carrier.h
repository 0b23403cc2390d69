#pragma once

// What leads an exact Layer III piece: its Info frame, and the carrier frame
// that brings the bit reservoir its first frames reach back into.

#include <cstdint>
#include <optional>
#include <vector>

#include "ExactSource.h"
#include "Run.h"

namespace split {

// The samples a gapless decoder trims from a piece's decoded stream, as its
// LAME tag says: the encoder delay at the start, the padding at the end.
struct Trim {
  int delay = 0;
  int padding = 0;
};

// The Info frame of a piece of Layer III audio frames; `offsetOf(i)` is where
// audio frame i begins, counted from the Info frame's first byte.
template <typename OffsetOf>
std::vector<unsigned char> infoFrameFor(const unsigned char *header, std::int64_t frames, std::int64_t audioBytes,
                                        bool vbr, Trim trim, std::uint16_t crc,
                                        const std::vector<unsigned char> &extra, OffsetOf offsetOf) {
  mpeg::InfoFields f;
  f.vbr = vbr;
  f.frames = static_cast<std::uint32_t>(frames);
  f.delay = trim.delay;
  f.padding = trim.padding;
  f.musicCrc = crc;
  f.extra = extra;
  const auto size = static_cast<std::int64_t>(mpeg::makeInfoFrame(header, f).size());
  f.bytes = static_cast<std::uint32_t>(size + audioBytes);
  f.toc = mpeg::makeToc(frames, size + audioBytes, [&](std::int64_t i) { return size + offsetOf(i); });
  return mpeg::makeInfoFrame(header, f);
}

// The carrier frame before source frame `first`: the stream's header at the
// highest bitrate, no checksum, side information all zero (its granules
// decode to silence and read no main data), and at the end of its payload
// the main data bytes that come before frame `first`, as many as a frame's
// main_data_begin can reach back.
bool makeCarrier(int fd, const MpegFile &src, std::int64_t first, std::vector<unsigned char> &out);

// The bitrate index of the carrier frames before source frame `first`.
// Before the source's first frame there is no reservoir to bring, and the
// decoder must find as little as the source gives it there (none): where
// that frame reaches back all the same (a stream cut from another), the
// decoder mutes it in the source, and must in the piece. So the carriers
// there are the smallest frames.
inline int carrierIndex(std::int64_t first) { return first == 0 ? 1 : 14; }

// The CRC of the file's bytes [offset, offset + length); nothing with errno
// set when they cannot be read.
std::optional<std::uint16_t> crcOf(int fd, std::int64_t offset, std::int64_t length);

// The CRC of the bytes of the piece's source frames in `parts`, read from
// the source; nothing with errno set when they cannot be read.
std::optional<std::uint16_t> framesCrc(int fd, const PieceParts &parts);

// Puts a Layer III piece's Info frame and carrier frames after its tag in
// `parts`; false with errno set when the source cannot be read.
// `frameSum`: the CRC of the piece's source frames; `music` becomes the
// CRC of all its audio frames, the carriers first, as its LAME tag gives it.
bool addInfoFrame(int fd, const MpegFile &src, const exact::Piece &p, const std::vector<unsigned char> &extra,
                  PieceParts &parts, std::uint16_t frameSum, std::uint16_t &music);

}  // namespace split
