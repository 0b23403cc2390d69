#include "Carrier.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace split {

bool makeCarrier(int fd, const MpegFile &src, std::int64_t first, std::vector<unsigned char> &out) {
  mpeg::Header h;
  mpeg::parseHeader(src.header, h);
  const int size = mpeg::frameSizeAt(h, carrierIndex(first));
  out.assign(static_cast<std::size_t>(size), 0);
  mpeg::makeHeader(src.header, carrierIndex(first), out.data());
  const int room = size - 4 - mpeg::sideInfoSize(h);
  std::size_t want = static_cast<std::size_t>(std::min(room, mpeg::maxReservoir(h)));
  std::vector<unsigned char> frame;
  std::size_t end = out.size();
  for (std::int64_t j = first - 1; j >= 0 && want > 0; --j) {
    frame.resize(static_cast<std::size_t>(src.layout.frameSize(j)));
    mpeg::Header fh;
    if (!mpeg::readAt(fd, frame.data(), frame.size(), src.layout.offsets[static_cast<std::size_t>(j)])) return false;
    if (!mpeg::parseHeader(frame.data(), fh) || mpeg::mainDataOffset(fh) > fh.size) continue;
    const std::size_t area = frame.size() - static_cast<std::size_t>(mpeg::mainDataOffset(fh));
    const std::size_t take = std::min(area, want);
    std::copy(frame.end() - static_cast<std::ptrdiff_t>(take), frame.end(),
              out.begin() + static_cast<std::ptrdiff_t>(end - take));
    end -= take;
    want -= take;
  }
  return true;
}

std::optional<std::uint16_t> crcOf(int fd, std::int64_t offset, std::int64_t length) {
  std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(length, kCopyBuffer)));
  mpeg::Crc16 crc;
  for (std::int64_t done = 0; done < length;) {
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(length - done, kCopyBuffer));
    if (!mpeg::readAt(fd, buffer.data(), size, offset + done)) return std::nullopt;
    crc.update(buffer.data(), size);
    done += static_cast<std::int64_t>(size);
  }
  return crc.value();
}

std::optional<std::uint16_t> framesCrc(int fd, const PieceParts &parts) {
  std::uint16_t sum = 0;
  if (!parts.eachRange([&](std::int64_t at, std::int64_t length) {
        const auto range = crcOf(fd, at, length);
        if (range) sum = mpeg::Crc16::combine(sum, *range, static_cast<std::uint64_t>(length));
        return range.has_value();
      }))
    return std::nullopt;
  return sum;
}

bool addInfoFrame(int fd, const MpegFile &src, const exact::Piece &p, const std::vector<unsigned char> &extra,
                  PieceParts &parts, std::uint16_t frameSum, std::uint16_t &music) {
  const exact::Layout &layout = src.layout;
  std::vector<unsigned char> carrier;
  if (p.carriers > 0 && !makeCarrier(fd, src, p.first, carrier)) return false;
  std::int64_t smallest = INT64_MAX, largest = 0;
  for (std::int64_t i = p.first; i < p.end; ++i) {
    smallest = std::min(smallest, layout.frameSize(i));
    largest = std::max(largest, layout.frameSize(i));
  }
  const bool vbr = p.carriers > 0 || largest - smallest > 1;
  // The silent frames before the carrier: its header, and zeros.
  const std::int64_t carrierSize = static_cast<std::int64_t>(carrier.size());
  if (p.carriers > 1) {
    std::vector<unsigned char> silent(carrier.size(), 0);
    std::copy_n(carrier.begin(), 4, silent.begin());
    for (int i = 1; i < p.carriers; ++i) carrier.insert(carrier.begin(), silent.begin(), silent.end());
  }
  const std::int64_t frames = p.carriers + p.end - p.first;
  const std::int64_t body = parts.bodySize();
  const std::int64_t audio = p.carriers * carrierSize + body;
  auto offsetOf = [&layout, carrierSize, p](std::int64_t i) {
    if (i < p.carriers) return i * carrierSize;
    return p.carriers * carrierSize + layout.span(p.first, p.first + i - p.carriers);
  };
  // The music's CRC: the carriers', then the source frames'.
  mpeg::Crc16 crc;
  crc.update(carrier.data(), carrier.size());
  music = mpeg::Crc16::combine(crc.value(), frameSum, static_cast<std::uint64_t>(body));
  const std::vector<unsigned char> info =
      infoFrameFor(src.header, frames, audio, vbr, {.delay = p.delay, .padding = p.padding}, music, extra, offsetOf);
  parts.head.insert(parts.head.end(), info.begin(), info.end());
  parts.head.insert(parts.head.end(), carrier.begin(), carrier.end());
  return true;
}

}  // namespace split
