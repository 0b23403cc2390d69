#include "ExactSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace split {

void putBig(std::vector<unsigned char> &out, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::uint64_t getBig(const unsigned char *p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

std::vector<unsigned char> encodeMark(const Mark &m) {
  std::vector<unsigned char> out(std::begin(kMarkMagic), std::end(kMarkMagic));
  // The mark's version: 2 ends in a checksum of the rest, 3 keeps frame
  // bodies, 4 identifies the source by all its audio and sums the piece's
  // tags and audio.
  out.push_back(4);
  out.push_back(static_cast<unsigned char>((m.carriers << 2) | (m.untrimmed ? 2 : 0) | (m.length.empty() ? 0 : 1)));
  putBig(out, m.piece, 4);
  putBig(out, m.count, 4);
  putBig(out, m.source, 8);
  putBig(out, static_cast<std::uint64_t>(m.first), 8);
  out.push_back(static_cast<unsigned char>(m.id3v1Track));
  putBig(out, m.id3v2Size, 4);
  putBig(out, m.tags, 8);
  putBig(out, m.music, 2);
  const std::size_t lengthBytes = m.length.empty() ? 0 : 1 + m.length.size();
  const std::string track = m.track.substr(0, kMarkSize - 2 - out.size() - 1 - lengthBytes);
  out.push_back(static_cast<unsigned char>(track.size()));
  out.insert(out.end(), track.begin(), track.end());
  if (lengthBytes > 0) {
    out.push_back(static_cast<unsigned char>(m.length.size()));
    out.insert(out.end(), m.length.begin(), m.length.end());
  }
  out.resize(kMarkSize - 2, 0);
  mpeg::Crc16 crc;
  crc.update(out.data(), out.size());
  putBig(out, crc.value(), 2);
  return out;
}

std::optional<Mark> decodeMark(const std::vector<unsigned char> &b) {
  if (b.size() < 5 || !std::equal(std::begin(kMarkMagic), std::end(kMarkMagic), b.begin()) || b[4] < 1 || b[4] > 4)
    return std::nullopt;
  const std::size_t size = b[4] == 4 ? kMarkSize : kOlderMarkSize;
  if (b.size() < size) return std::nullopt;
  // Version 1, of pieces cut before the checksum, is taken as it stands.
  const std::size_t end = b[4] >= 2 ? size - 2 : size;
  if (b[4] >= 2) {
    mpeg::Crc16 crc;
    crc.update(b.data(), end);
    if (crc.value() != getBig(&b[end], 2)) return std::nullopt;
  }
  Mark m;
  m.version = b[4];
  m.bodies = b[4] >= 3;
  m.carriers = b[5] >> 2;
  m.untrimmed = b[5] & 2;
  m.piece = static_cast<std::uint32_t>(getBig(&b[6], 4));
  m.count = static_cast<std::uint32_t>(getBig(&b[10], 4));
  m.source = getBig(&b[14], 8);
  m.first = static_cast<std::int64_t>(getBig(&b[22], 8));
  m.id3v1Track = b[30];
  m.id3v2Size = static_cast<std::uint32_t>(getBig(&b[31], 4));
  std::size_t at = 35;
  if (m.version >= 4) {
    m.tags = getBig(&b[35], 8);
    m.music = static_cast<std::uint16_t>(getBig(&b[43], 2));
    at = 45;
  }
  const std::size_t length = std::min<std::size_t>(b[at], end - at - 1);
  m.track.assign(reinterpret_cast<const char *>(&b[at + 1]), length);
  at += 1 + length;
  if ((b[5] & 1) && at + 1 <= end)
    m.length.assign(reinterpret_cast<const char *>(&b[at + 1]), std::min<std::size_t>(b[at], end - at - 1));
  return m;
}

std::uint64_t sourceId(mpeg::Sum64 frames, std::int64_t count) {
  frames.updateNumber(static_cast<std::uint64_t>(count));
  return frames.value();
}

std::uint64_t tagsSum(const mpeg::Bytes &id3v2, const unsigned char *info, std::size_t infoSize,
                      const mpeg::Bytes &id3v1) {
  mpeg::Sum64 sum;
  const mpeg::Bytes tag = mpeg::privateOf(id3v2, kMarkOwner).empty()
                              ? id3v2
                              : mpeg::withPrivate(id3v2, kMarkOwner, mpeg::Bytes(kMarkSize, 0));
  // Each part after its size, so that no bytes move from one to another.
  sum.updateNumber(tag.size());
  sum.update(tag.data(), tag.size());
  sum.updateNumber(infoSize);
  sum.update(info, infoSize);
  sum.updateNumber(id3v1.size());
  sum.update(id3v1.data(), id3v1.size());
  return sum.value();
}

std::optional<std::uint64_t> sourceIdOf(int fd, const MpegFile &src, std::int64_t from) {
  const exact::Layout &layout = src.layout;
  if (from == 0) return sourceId(src.frameSum, layout.frames());
  // Pieces that begin later (a first stretch that plays nothing, or warm-up
  // frames after a long delay) are rare: their frames are read again.
  mpeg::Sum64 sum;
  std::vector<unsigned char> buffer;
  std::int64_t at = layout.offsets[static_cast<std::size_t>(from)];
  const std::int64_t end = layout.offsets.back();
  auto hole = std::lower_bound(layout.holes.begin(), layout.holes.end(), at,
                               [](const exact::Layout::Hole &h, std::int64_t v) { return h.at < v; });
  while (at < end) {
    const std::int64_t stop = hole != layout.holes.end() && hole->at < end ? hole->at : end;
    const std::int64_t length = std::min<std::int64_t>(stop - at, kCopyBuffer);
    buffer.resize(static_cast<std::size_t>(length));
    if (!mpeg::readAt(fd, buffer.data(), buffer.size(), at)) return std::nullopt;
    sum.update(buffer.data(), buffer.size());
    at += length;
    if (at == stop && stop < end) at += (hole++)->length;
  }
  return sourceId(sum, layout.frames() - from);
}

bool completeMpegFile(int fd, const mpeg::Stream &stream, MpegFile &file) {
  file.layout.stream = stream;
  // A tag at the end stands for the source's tag where it has none at its start.
  const bool endTag = stream.tagEnd == 0 && stream.endId3v2At >= 0;
  file.id3v2.resize(static_cast<std::size_t>(endTag ? stream.endId3v2Size : stream.tagEnd));
  file.id3v1.resize(stream.id3v1At >= 0 ? 128 : 0);
  file.firstFrame.resize(static_cast<std::size_t>(stream.first.size));
  if (!mpeg::readAt(fd, file.id3v2.data(), file.id3v2.size(), endTag ? stream.endId3v2At : 0)) return false;
  if (!endTag && stream.endId3v2At >= 0) {
    // A tag at the end as well: written later, its fields win.
    mpeg::Bytes newer(static_cast<std::size_t>(stream.endId3v2Size));
    if (!mpeg::readAt(fd, newer.data(), newer.size(), stream.endId3v2At)) return false;
    file.id3v2 = mpeg::withNewer(file.id3v2, newer);
  }
  return mpeg::readAt(fd, file.id3v1.data(), file.id3v1.size(), stream.id3v1At) &&
         mpeg::readAt(fd, file.firstFrame.data(), file.firstFrame.size(), stream.firstFrame) &&
         mpeg::readAt(fd, file.header, 4, stream.audioStart);
}

bool readMpegFile(int fd, MpegFile &file, const std::function<void(std::int64_t, std::int64_t)> &onFrame,
                  const mpeg::BytesRead &onBytes, mpeg::WalkError *why, bool sum) {
  file = MpegFile();
  errno = 0;
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  std::vector<std::int64_t> &offsets = file.layout.offsets;
  std::optional<mpeg::Stream> stream;
  try {
    stream = mpeg::walk(
        fd,
        [&](std::int64_t index, std::int64_t offset) {
          offsets.push_back(offset);
          if (onFrame) onFrame(index, offset);
        },
        true, onBytes, why, {}, sum ? &file.frameSum : nullptr);
  } catch (const mpeg::ReadError &) {
    return false;
  }
  if (!stream) return false;
  offsets.push_back(stream->audioEnd);
  for (const mpeg::Passed &p : stream->passed)
    if (p.beforeFrame < stream->frames) file.layout.holes.push_back({p.at, p.length});
  return completeMpegFile(fd, *stream, file);
}

std::vector<Stretch> stretchesOf(const MpegFile &src) {
  const exact::Layout &whole = src.layout;
  const mpeg::Stream &st = whole.stream;
  // Where a stretch begins, and whether it goes on from the one before.
  struct Start {
    std::int64_t frame;
    bool goesOn;
    const unsigned char *header;
  };
  std::vector<Start> starts{{0, false, src.header}};
  const std::int64_t firstEnd = st.changes.empty() ? whole.frames() : st.changes.front().frame;
  // libmpg123 trims the padding where the frames its Info frame counts
  // end, and plays on untrimmed after them.
  if (st.info.frames > 0 && st.info.frames < firstEnd) starts.push_back({st.info.frames, true, src.header});
  for (const mpeg::FormatChange &c : st.changes) starts.push_back({c.frame, false, c.bytes});
  std::vector<Stretch> stretches;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::int64_t end = i + 1 < starts.size() ? starts[i + 1].frame : whole.frames();
    Stretch s;
    s.base = starts[i].goesOn ? 0 : starts[i].frame;
    MpegFile &f = s.file;
    f.id3v2 = src.id3v2;
    f.id3v1 = src.id3v1;
    f.firstFrame = src.firstFrame;
    std::copy_n(starts[i].header, 4, f.header);
    exact::Layout &l = f.layout;
    l.offsets.assign(whole.offsets.begin() + s.base, whole.offsets.begin() + end + 1);
    for (const exact::Layout::Hole &h : whole.holes)
      if (h.at >= l.offsets.front() && h.at < l.offsets.back()) l.holes.push_back(h);
    mpeg::Stream &ls = l.stream;
    ls = st;
    mpeg::parseHeader(f.header, ls.first);
    ls.frames = l.frames();
    ls.changes.clear();
    ls.audioStart = l.offsets.front();
    ls.audioEnd = l.offsets.back();
    const std::int64_t raw = ls.rawSamples();
    if (i == 0) {
      // As libmpg123 decodes it: the start trimmed wherever the Info frame
      // counts frames, the end only where they are there.
      ls.trimBegin = 0;
      ls.trimEnd = raw;
      if (st.info.frames > 0) {
        ls.trimBegin = std::min<std::int64_t>(st.info.delay + mpeg::kDecoderDelay, raw);
        if (st.info.frames <= ls.frames)
          ls.trimEnd = std::min(st.info.frames * ls.first.samples - st.info.padding + mpeg::kDecoderDelay, raw);
      }
    } else {
      l.from = starts[i].frame - s.base;
      ls.info = {};
      ls.trimBegin = l.from * ls.first.samples;
      ls.trimEnd = raw;
    }
    if (ls.trimEnd > ls.trimBegin) stretches.push_back(std::move(s));
  }
  return stretches;
}

std::optional<MpegFile> guessMpegFile(int fd) {
  const auto stream = mpeg::estimate(fd);
  MpegFile file;
  if (!stream || !completeMpegFile(fd, *stream, file)) return std::nullopt;
  file.layout.offsets.assign(static_cast<std::size_t>(stream->frames) + 1, 0);
  return file;
}

bool sameFrame(const MpegFile &guess, const MpegFile &real) {
  return real.plain() && guess.id3v2 == real.id3v2 && guess.id3v1 == real.id3v1 && guess.firstFrame == real.firstFrame &&
         std::equal(std::begin(guess.header), std::end(guess.header), std::begin(real.header)) &&
         (guess.layout.stream.trimBegin == 0) == (real.layout.stream.trimBegin == 0);
}

}  // namespace split
