#include "SplitEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Carrier.h"
#include "ExactSource.h"
#include "OutputFile.h"

namespace split {

namespace {

// One exact piece as a join reads it.
struct JoinPiece {
  QString name;
  struct stat checked {};  // the file as it was read for its frames: open one at a time, it must stay so
  MpegFile mpeg;
  Mark mark;
  std::int64_t own = 0;                   // its first audio frame that the join keeps
  std::optional<std::uint16_t> musicCrc;  // of its audio frames, as its LAME tag says
};

Message joinRefusal(const QString &file, const QString &why) {
  return {file, QStringLiteral("Cannot join %1: %2.").arg(file, why), why};
}

// Copies [offset, offset + length) of `in` to `out` (none: reads only),
// through the CRCs and the sum, where given; false with errno set, and
// `readFailed` where it was reading `in` that failed.
bool copyThrough(int in, int out, std::int64_t offset, std::int64_t length, std::initializer_list<mpeg::Crc16 *> crcs,
                 mpeg::Sum64 *sum, std::vector<unsigned char> &buffer, bool &readFailed) {
  buffer.resize(static_cast<std::size_t>(kCopyBuffer));
  while (length > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(length, kCopyBuffer));
    if (stopAsked) {
      errno = EINTR;
      return false;
    }
    if (!mpeg::readAt(in, buffer.data(), n, offset)) return readFailed = true, false;
    if (out >= 0 && !writeAll(out, reinterpret_cast<const char *>(buffer.data()), n)) return false;
    for (mpeg::Crc16 *crc : crcs) crc->update(buffer.data(), n);
    if (sum) sum->update(buffer.data(), n);
    offset += static_cast<std::int64_t>(n);
    length -= static_cast<std::int64_t>(n);
  }
  return true;
}

// Where an exact piece keeps its record: after the LAME tag of its Info
// frame (Layer III: the bytes there, as many as a mark of this version
// takes where the frame holds them), or in a PRIV frame of its ID3v2 tag.
std::vector<unsigned char> recordOf(const mpeg::Header &first, const unsigned char *firstFrame,
                                    const mpeg::Bytes &id3v2) {
  return first.layer == 3 ? mpeg::extraBytes(firstFrame, first, kMarkSize) : mpeg::privateOf(id3v2, kMarkOwner);
}

// The mark of a file whose frames could not be walked, from its head alone:
// an exact piece cut short or damaged still says what it is there.
std::optional<Mark> markAtHead(int fd) {
  const auto stream = mpeg::estimate(fd);
  if (!stream) return std::nullopt;
  std::vector<unsigned char> frame(static_cast<std::size_t>(stream->first.size));
  mpeg::Bytes tag(static_cast<std::size_t>(stream->tagEnd));
  if (!mpeg::readAt(fd, frame.data(), frame.size(), stream->firstFrame) || !mpeg::readAt(fd, tag.data(), tag.size(), 0))
    return std::nullopt;
  return decodeMark(recordOf(stream->first, frame.data(), tag));
}

// Why the piece's record cannot be what the split wrote, if it cannot: every
// field within what the piece holds. Takes its music CRC meanwhile.
std::optional<QString> checkRecord(JoinPiece &p) {
  const Mark &m = p.mark;
  const auto damaged = [](const QString &what) { return QStringLiteral("its record is damaged: %1").arg(what); };
  if (m.piece < 1 || m.piece > m.count) return damaged(QStringLiteral("piece %1 of %2").arg(m.piece).arg(m.count));
  if (m.carriers > p.mpeg.layout.frames() || m.first < 0)
    return damaged(QStringLiteral("%1 frames made before frame %2, of %3 frames")
                       .arg(m.carriers)
                       .arg(m.first)
                       .arg(p.mpeg.layout.frames()));
  // The source's tag became the piece's with its track number: about as large.
  if (m.id3v2Size > p.mpeg.id3v2.size() + 1024)
    return damaged(QStringLiteral("a tag of %1 bytes, where the piece holds %2").arg(m.id3v2Size).arg(p.mpeg.id3v2.size()));
  const std::string digits = m.bodies ? mpeg::bodyText(mpeg::Bytes(m.length.begin(), m.length.end())) : m.length;
  if (digits.size() > 15 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      (digits.empty() && !m.length.empty()))
    return damaged(QStringLiteral("a length that is no number of milliseconds"));
  if (p.mpeg.layout.layer3()) {
    const mpeg::InfoTag tag = mpeg::readInfoTag(p.mpeg.firstFrame.data(), p.mpeg.layout.stream.first);
    if (tag.lameAt >= 0 && static_cast<std::size_t>(tag.lameAt) + 34 <= p.mpeg.firstFrame.size())
      p.musicCrc = static_cast<std::uint16_t>(p.mpeg.firstFrame[static_cast<std::size_t>(tag.lameAt) + 32] << 8 |
                                              p.mpeg.firstFrame[static_cast<std::size_t>(tag.lameAt) + 33]);
  }
  if (m.version < 4) return std::nullopt;
  // What the piece holds besides its frames is as it was cut: the tags and
  // Info fields that a join gives back from it.
  const int info = p.mpeg.layout.layer3() ? mpeg::extraAt(p.mpeg.firstFrame.data(), p.mpeg.layout.stream.first) : 0;
  if (info < 0 ||
      tagsSum(p.mpeg.id3v2, p.mpeg.firstFrame.data(), static_cast<std::size_t>(info), p.mpeg.id3v1) != m.tags)
    return QStringLiteral(
        "its tags or its Info frame changed after it was cut: they do not match the checksum in its "
        "record");
  p.musicCrc = m.music;
  return std::nullopt;
}

// Reads every piece's frames and mark into `in`, and checks that each
// follows the one before it.
std::optional<Message> readPieces(const QStringList &pieces, const QString &output, std::vector<JoinPiece> &in) {
  in.resize(static_cast<std::size_t>(pieces.size()));
  struct stat outStat {};
  const bool outExists = ::stat(encodeFileName(output).constData(), &outStat) == 0;
  for (qsizetype i = 0; i < pieces.size(); ++i) {
    JoinPiece &p = in[static_cast<std::size_t>(i)];
    p.name = pieces[i];
    File file(::open(encodeFileName(p.name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat &st = p.checked;
    if (!file.isOpen() || ::fstat(file.fd(), &st) != 0)
      return joinRefusal(p.name, QStringLiteral("cannot open it: %1").arg(systemError(errno)));
    if (!S_ISREG(st.st_mode))
      return joinRefusal(p.name, QStringLiteral("it is %1, not a regular file").arg(kindOf(st.st_mode)));
    if (outExists && st.st_dev == outStat.st_dev && st.st_ino == outStat.st_ino)
      return joinRefusal(p.name, QStringLiteral("it is the output file as well"));
    ::fcntl(file.fd(), F_SETFL, ::fcntl(file.fd(), F_GETFL) & ~O_NONBLOCK);
    std::optional<Mark> mark;
    std::vector<unsigned char> record;
    // A piece is frames back to back between its tags: anything else, it
    // was cut short or damaged.
    if (readMpegFile(file.fd(), p.mpeg) && p.mpeg.plain() && p.mpeg.layout.stream.cutEnd == 0 &&
        p.mpeg.layout.stream.junk == 0) {
      record = recordOf(p.mpeg.layout.stream.first, p.mpeg.firstFrame.data(), p.mpeg.id3v2);
      mark = decodeMark(record);
    }
    if (!mark && record.size() >= kOlderMarkSize &&
        std::equal(std::begin(kMarkMagic), std::end(kMarkMagic), record.begin()))
      return joinRefusal(p.name, QStringLiteral("its record is damaged: its checksum does not hold"));
    if (!mark) {
      if (errno != 0) return joinRefusal(p.name, QStringLiteral("cannot read it: %1").arg(systemError(errno)));
      if (markAtHead(file.fd()))
        return joinRefusal(p.name, QStringLiteral("it is an exact piece, but cut short or damaged: its frames do not "
                                                  "run whole to its end"));
      return joinRefusal(p.name, QStringLiteral("it is not an exact piece (its Info frame does not say so)"));
    }
    p.mark = *mark;
    if (auto wrong = checkRecord(p)) return joinRefusal(p.name, *wrong);
    if (i == 0) {
      if (p.mark.piece != 1)
        return joinRefusal(p.name, QStringLiteral("it is piece %1 of %2: piece 1 is missing before it")
                                       .arg(p.mark.piece)
                                       .arg(p.mark.count));
      continue;
    }
    const JoinPiece &before = in[static_cast<std::size_t>(i - 1)];
    if (p.mark.source != before.mark.source)
      return joinRefusal(p.name,
                         QStringLiteral("it is not a piece of the source that %1 is a piece of").arg(before.name));
    if (p.mark.count != before.mark.count)
      return joinRefusal(p.name, QStringLiteral("it is one of %1 pieces of the source, and %2 one of %3: pieces of two "
                                                "cuts do not join")
                                     .arg(p.mark.count)
                                     .arg(before.name)
                                     .arg(before.mark.count));
    if (p.mark.piece > before.mark.piece + 1)
      return joinRefusal(p.name, QStringLiteral("it is piece %1 of %2: piece %3 is missing between %4 and it")
                                     .arg(p.mark.piece)
                                     .arg(p.mark.count)
                                     .arg(before.mark.piece + 1)
                                     .arg(before.name));
    if (p.mark.piece != before.mark.piece + 1)
      return joinRefusal(p.name, QStringLiteral("it is piece %1 of %2, and does not follow %3, which is piece %4")
                                     .arg(p.mark.piece)
                                     .arg(p.mark.count)
                                     .arg(before.name)
                                     .arg(before.mark.piece));
  }
  if (in.empty()) return joinRefusal(output, QStringLiteral("no piece is given"));
  // A whole set: the last piece given is the last of the cut.
  const JoinPiece &last = in.back();
  if (last.mark.piece != last.mark.count)
    return joinRefusal(last.name, QStringLiteral("it is piece %1 of %2: piece %3 is missing after it")
                                      .arg(last.mark.piece)
                                      .arg(last.mark.count)
                                      .arg(last.mark.piece + 1));
  return std::nullopt;
}

// The frames kept: the first piece's all (its carrier only where the source
// did not start with one's worth of silence), then of every later piece
// those after the frames already kept. Sets each piece's `own` and gives
// the sizes of the frames kept, in order.
std::optional<Message> keepFrames(std::vector<JoinPiece> &in, bool plainStart, std::vector<std::int64_t> &sizes) {
  JoinPiece &head = in.front();
  head.own = plainStart ? head.mark.carriers : 0;
  std::int64_t next = head.mark.first + head.mpeg.layout.frames() - head.mark.carriers;
  auto keep = [&sizes](const JoinPiece &p) {
    for (std::int64_t f = p.own; f < p.mpeg.layout.frames(); ++f) sizes.push_back(p.mpeg.layout.frameSize(f));
  };
  keep(head);
  for (std::size_t i = 1; i < in.size(); ++i) {
    JoinPiece &p = in[i];
    const std::int64_t carrier = p.mark.carriers;
    if (p.mark.first > next)
      return joinRefusal(p.name, QStringLiteral("it starts at frame %1 of the source, after the end of %2 at frame %3")
                                     .arg(p.mark.first)
                                     .arg(in[i - 1].name)
                                     .arg(next));
    p.own = carrier + next - p.mark.first;
    if (p.own >= p.mpeg.layout.frames())
      return joinRefusal(p.name, QStringLiteral("it brings no frame after the end of %1 at frame %2")
                                     .arg(in[i - 1].name)
                                     .arg(next));
    next = std::max(next, p.mark.first + p.mpeg.layout.frames() - carrier);
    keep(p);
  }
  return std::nullopt;
}

// Copies the kept frames of every piece to `out`, through the CRC, each
// piece opened anew and checked to be the file that was read. `sum` is fed
// the source's frames among them (those of the first piece's carriers
// that are kept are not), `frames` counts them.
std::optional<Message> copyFrames(const std::vector<JoinPiece> &in, int out, mpeg::Crc16 &crc, mpeg::Sum64 &sum,
                                  std::int64_t &frames, const std::function<Message()> &writeFailed) {
  std::vector<unsigned char> buffer;
  for (const JoinPiece &p : in) {
    const auto &o = p.mpeg.layout.offsets;
    const std::int64_t kept = std::min(p.own, p.mpeg.layout.frames());
    const std::int64_t real = std::min(std::max<std::int64_t>(kept, p.mark.carriers), p.mpeg.layout.frames());
    const std::int64_t from = o[static_cast<std::size_t>(kept)], source = o[static_cast<std::size_t>(real)];
    frames += p.mpeg.layout.frames() - real;
    File file(::open(encodeFileName(p.name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file.isOpen() || ::fstat(file.fd(), &st) != 0)
      return joinRefusal(p.name, QStringLiteral("cannot open it: %1").arg(systemError(errno)));
    if (st.st_dev != p.checked.st_dev || st.st_ino != p.checked.st_ino || st.st_size != p.checked.st_size ||
        st.st_mtim.tv_sec != p.checked.st_mtim.tv_sec || st.st_mtim.tv_nsec != p.checked.st_mtim.tv_nsec)
      return joinRefusal(p.name, QStringLiteral("it changed while the join read it"));
    // The frames before those kept count in the piece's own checksum.
    mpeg::Crc16 own;
    bool readFailed = false;
    if (!copyThrough(file.fd(), -1, o.front(), from - o.front(), {&own}, nullptr, buffer, readFailed) ||
        !copyThrough(file.fd(), out, from, source - from, {&crc, &own}, nullptr, buffer, readFailed) ||
        !copyThrough(file.fd(), out, source, o.back() - source, {&crc, &own}, &sum, buffer, readFailed)) {
      if (!readFailed || stopAsked) return writeFailed();
      const int error = errno;
      return joinRefusal(p.name, ::fstat(file.fd(), &st) == 0 && st.st_size < p.checked.st_size
                                     ? QStringLiteral("it ended at byte %1 of the %2 it had (it shrank while the join "
                                                      "read it)")
                                           .arg(st.st_size)
                                           .arg(p.checked.st_size)
                                     : QStringLiteral("cannot read it: %1").arg(systemError(error)));
    }
    if (p.musicCrc && own.value() != *p.musicCrc)
      return joinRefusal(p.name, QStringLiteral("its frames do not match the checksum it was written with: it is "
                                                "damaged"));
  }
  return std::nullopt;
}

}  // namespace

std::optional<Message> joinPieces(const QStringList &pieces, const QString &output, QString *joinedAs,
                                  std::vector<Message> *told) {
  const QByteArray folder = folderOf(encodeFileName(output));
  if (const auto swept = sweptNotice(removeStaleTemporaries(folder), folder, QStringLiteral("a run that was stopped")))
    if (told) told->push_back(*swept);
  std::vector<JoinPiece> in;
  if (auto refused = readPieces(pieces, output, in)) return refused;
  const JoinPiece &head = in.front();
  const bool plainStart = head.mark.first == 0 && head.mark.untrimmed && head.mark.carriers > 0;
  std::vector<std::int64_t> sizes;
  if (auto refused = keepFrames(in, plainStart, sizes)) return refused;

  PendingFile out;
  // Who may read the joined file: no one the first piece keeps out.
  const mode_t mode = 0600 | (head.checked.st_mode & 0066);
  if (!out.open(encodeFileName(output), {}, mode)) {
    const int error = errno;
    return Message{output, QStringLiteral("Cannot create file: %1 !\r\n%2").arg(output, out.whyNot(error)),
                   QStringLiteral("cannot create it: %1").arg(out.whyNotBriefly(error))};
  }
  const std::function<Message()> writeFailed = [&output, &out] {
    if (stopAsked)
      return Message{output, QStringLiteral("The join was stopped; the unfinished %1 was removed.").arg(output),
                     QStringLiteral("stopped before it was complete; removed")};
    const int error = errno;
    return Message{output, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(output, out.whyNot(error)),
                   QStringLiteral("cannot write it: %1").arg(out.whyNotBriefly(error))};
  };
  std::vector<unsigned char> id3v2;
  if (head.mark.id3v2Size > 0) {
    const Mark &m = head.mark;
    mpeg::Bytes tag = mpeg::withPrivate(head.mpeg.id3v2, kMarkOwner, {});
    const mpeg::Bytes chapters = mpeg::privateOf(tag, kFramesOwner);
    tag = mpeg::withPrivate(tag, kFramesOwner, {});
    // The source's titles again, where the piece had its own.
    const mpeg::Bytes kept = mpeg::privateOf(tag, kTitlesOwner);
    for (std::size_t at = 0; at + 8 <= kept.size();) {
      const std::string id(kept.begin() + static_cast<std::ptrdiff_t>(at), kept.begin() + static_cast<std::ptrdiff_t>(at + 4));
      const auto size = static_cast<std::size_t>(getBig(&kept[at + 4], 4));
      if (size > kept.size() - at - 8) break;
      const auto body = kept.begin() + static_cast<std::ptrdiff_t>(at + 8);
      tag = mpeg::withFrame(tag, id, mpeg::Bytes(body, body + static_cast<std::ptrdiff_t>(size)), 0);
      at += 8 + size;
    }
    tag = mpeg::withPrivate(tag, kTitlesOwner, {});
    if (m.bodies) {
      // The source's own frames again, in their places.
      if (!m.length.empty()) tag = mpeg::withFrame(tag, "TLEN", mpeg::Bytes(m.length.begin(), m.length.end()), 0);
      id3v2 = mpeg::withFrame(tag, "TRCK", mpeg::Bytes(m.track.begin(), m.track.end()), m.id3v2Size);
    } else {
      if (!m.length.empty()) mpeg::setLength(tag, m.length);
      id3v2 = mpeg::withTrack(tag, m.track, m.id3v2Size);
    }
    id3v2 = mpeg::withFramesBack(id3v2, chapters);
  }
  if (!writeBytes(out.fd(), id3v2)) return writeFailed();

  // The Info frame, unless the source had none (then the join is its frames).
  const bool info = !plainStart && head.mpeg.layout.layer3();
  std::vector<std::int64_t> offsets{0};
  for (std::int64_t size : sizes) offsets.push_back(offsets.back() + size);
  out.reserve(static_cast<std::int64_t>(id3v2.size() + head.mpeg.id3v1.size()) + offsets.back());
  const auto frames = static_cast<std::int64_t>(sizes.size());
  const bool vbr = std::adjacent_find(sizes.begin(), sizes.end(), [](std::int64_t a, std::int64_t b) {
                     return std::abs(a - b) > 1;
                   }) != sizes.end();
  auto infoFrame = [&](std::uint16_t crc) {
    const Trim trim{.delay = head.mpeg.layout.stream.info.delay, .padding = in.back().mpeg.layout.stream.info.padding};
    return infoFrameFor(head.mpeg.header, frames, offsets.back(), vbr, trim, crc, {},
                        [&](std::int64_t i) { return offsets[static_cast<std::size_t>(i)]; });
  };
  if (info && !writeBytes(out.fd(), infoFrame(0))) return writeFailed();
  mpeg::Crc16 crc;
  mpeg::Sum64 sum;
  std::int64_t sourceFrames = 0;
  if (auto failed = copyFrames(in, out.fd(), crc, sum, sourceFrames, writeFailed)) return failed;
  // Each piece's frames are as it was cut, and they are the source's: those
  // its pieces carry the sum of.
  if (head.mark.version >= 4 && sourceId(sum, sourceFrames) != head.mark.source)
    return joinRefusal(head.name, QStringLiteral("the frames of the pieces are not those of the source it was cut "
                                                 "from: they do not match the checksum of its audio in its record"));
  std::vector<unsigned char> id3v1 = head.mpeg.id3v1;
  if (!id3v1.empty()) mpeg::setTrack(id3v1.data(), head.mark.id3v1Track);
  if (!writeBytes(out.fd(), id3v1)) return writeFailed();
  if (info) {
    const std::vector<unsigned char> bytes = infoFrame(crc.value());
    if (::pwrite(out.fd(), bytes.data(), bytes.size(), static_cast<off_t>(id3v2.size())) !=
        static_cast<ssize_t>(bytes.size()))
      return writeFailed();
  }
  // A join of exact pieces rebuilds the stream, which may differ from the
  // file it was cut from (junk before the first frame, its own Info frame):
  // that file, often the source, stays as it is.
  QString as = output;
  if (!out.close()) return writeFailed();
  if (out.replacesOther()) {
    as = insertBeforeExtension(output, QStringLiteral("-joined"));
    if (!out.commitAs(encodeFileName(as))) {
      if (errno != EEXIST) return writeFailed();
      return joinRefusal(output, QStringLiteral("it holds other bytes than the join, and so does %1; neither is "
                                                "replaced")
                                     .arg(as));
    }
  } else if (!out.commit()) {
    return writeFailed();
  }
  if (joinedAs) *joinedAs = as;
  // Pieces cut before their marks summed their tags join as they did.
  if (head.mark.version < 4 && told)
    told->push_back({head.name,
                     QStringLiteral("%1 and the pieces after it were cut by an earlier version of the program, whose "
                                    "records hold no checksum of their tags: their tags are not checked.")
                         .arg(head.name),
                     QStringLiteral("cut by an earlier version: the tags of the pieces are not checked")});
  return std::nullopt;
}

}  // namespace split
