#include "ExactSplit.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <QLocale>

#include "Carrier.h"
#include "Convert.h"
#include "ExactSource.h"

namespace split {

namespace {

// The source could not be read (or another program cut it short, which
// shrank() tells): the run ends, saying why.
Outcome unreadable(Run &run, int error) {
  if (!run.shrank())
    run.refuse({run.source(), QStringLiteral("Cannot read the source file: %1 !\r\n%2").arg(run.source(), systemError(error)),
                QStringLiteral("cannot read it: %1").arg(systemError(error))});
  return run.stopped();
}

// Makes the parts of an exact run's pieces.
class ExactPieces {
 public:
  // `src`: the source, or a stretch of it whose frame 0 is the source's
  // frame `base`; `id`: the source's.
  ExactPieces(const Run &run, int fd, const MpegFile &src, std::int64_t count, std::uint64_t id,
              std::int64_t base = 0)
      : run_(run),
        fd_(fd),
        src_(src),
        count_(count),
        base_(base),
        id_(id),
        sourceTrack_(bodyOf(src.id3v2, "TRCK")),
        sourceLength_(mpeg::digitsOf(src.id3v2)),
        sourceLengthBody_(bodyOf(src.id3v2, "TLEN")),
        sourceV1Track_(src.id3v1.empty() || src.id3v1[125] != 0 ? 0 : src.id3v1[126]) {}

  std::int64_t count() const { return count_; }

  // The parts of piece k, `p`; false with errno set when the source cannot
  // be read. `frameSum`: the CRC of its source frames, where known;
  // `markAt`, where given, is told where its mark lies in its head.
  bool partsOf(std::int64_t k, const exact::Piece &p, PieceParts &parts,
               std::optional<std::uint16_t> frameSum = std::nullopt, std::size_t *markAt = nullptr) const {
    const exact::Layout &layout = src_.layout;
    const auto &offsets = layout.offsets;
    parts.head = tagOf(k);
    if (const std::string length = ownLength(p); !length.empty())
      parts.head = mpeg::withText(parts.head, "TLEN", length);
    parts.offset = offsets[static_cast<std::size_t>(p.first)];
    parts.length = offsets[static_cast<std::size_t>(p.end)] - parts.offset;
    for (const exact::Layout::Hole &h : layout.holes)
      if (h.at >= parts.offset && h.at < parts.offset + parts.length) parts.holes.push_back({h.at, h.length});
    parts.tail = src_.id3v1;
    // An ID3v1.0 tag's comment runs through where v1.1 keeps the track: it stays whole.
    if (!parts.tail.empty() && parts.tail[125] == 0)
      mpeg::setTrack(parts.tail.data(), static_cast<int>(run_.numberOf(k)));
    if (!frameSum && !(frameSum = framesCrc(fd_, parts))) return false;
    // The mark goes in last, once it can sum what the piece holds around
    // it: its place holds zeros till then.
    Mark mark = markOf(k, p);
    const std::vector<unsigned char> room(kMarkSize, 0);
    if (!layout.layer3()) {
      // Layers I and II have no Info frame: their mark rides in the ID3v2 tag.
      mark.music = *frameSum;
      parts.head = mpeg::withPrivate(parts.head, kMarkOwner, room);
      mark.tags = tagsSum(parts.head, nullptr, 0, parts.tail);
      const std::vector<unsigned char> bytes = encodeMark(mark);
      parts.head = mpeg::withPrivate(parts.head, kMarkOwner, bytes);
      if (markAt)
        *markAt = static_cast<std::size_t>(
            std::search(parts.head.begin(), parts.head.end(), bytes.begin(), bytes.end()) - parts.head.begin());
      return true;
    }
    const std::size_t tagSize = parts.head.size();
    if (!addInfoFrame(fd_, src_, p, room, parts, *frameSum, mark.music)) return false;
    const unsigned char *info = parts.head.data() + tagSize;
    mpeg::Header h;
    const int at = mpeg::parseHeader(info, h) ? mpeg::extraAt(info, h) : -1;
    if (at < 0) return errno = EINVAL, false;  // cannot be: makeInfoFrame writes a LAME tag
    mark.tags = tagsSum(mpeg::Bytes(parts.head.begin(), parts.head.begin() + static_cast<std::ptrdiff_t>(tagSize)),
                        info, static_cast<std::size_t>(at), parts.tail);
    const std::vector<unsigned char> bytes = encodeMark(mark);
    std::copy(bytes.begin(), bytes.end(), parts.head.begin() + static_cast<std::ptrdiff_t>(tagSize) + at);
    if (markAt) *markAt = tagSize + static_cast<std::size_t>(at);
    return true;
  }

  // The size of partsOf's head, from where the piece begins alone.
  std::size_t headSize(std::int64_t k, const exact::Piece &p) const {
    const std::vector<unsigned char> extra(kMarkSize, 0);
    if (!src_.layout.layer3()) return mpeg::withPrivate(tagOf(k), kMarkOwner, extra).size();
    mpeg::Header h;
    mpeg::parseHeader(src_.header, h);
    return tagOf(k).size() + mpeg::makeInfoFrame(src_.header, mpeg::InfoFields{.extra = extra}).size() +
           static_cast<std::size_t>(p.carriers * mpeg::frameSizeAt(h, carrierIndex(p.first)));
  }

 private:
  mpeg::Bytes tagOf(std::int64_t k) const {
    const PieceTitle *t = run_.titleOf(k);
    const bool titled = t && (!t->title.isEmpty() || !t->performer.isEmpty());
    if (src_.id3v2.empty() && !titled) return {};
    mpeg::Bytes chapters;
    mpeg::Bytes tag = mpeg::withoutFrames(src_.id3v2, {"CHAP", "CTOC"}, chapters);
    tag = mpeg::withTrack(tag, std::to_string(run_.numberOf(k)) + '/' + std::to_string(run_.numberTotal(count_)));
    if (!chapters.empty()) tag = mpeg::withPrivate(tag, kFramesOwner, chapters);
    if (!titled) return tag;
    if (!src_.id3v2.empty()) {
      mpeg::Bytes kept;
      for (const char *id : {"TIT2", "TPE1"}) {
        const mpeg::Bytes body = mpeg::frameBody(src_.id3v2, id);
        kept.insert(kept.end(), id, id + 4);
        putBig(kept, body.size(), 4);
        kept.insert(kept.end(), body.begin(), body.end());
      }
      tag = mpeg::withPrivate(tag, kTitlesOwner, kept);
    }
    const int version = tag[3];
    if (!t->title.isEmpty()) tag = mpeg::withFrame(tag, "TIT2", textFrame(t->title, version), tag.size());
    if (!t->performer.isEmpty()) tag = mpeg::withFrame(tag, "TPE1", textFrame(t->performer, version), tag.size());
    return tag;
  }

  // A text frame's body: Latin-1 where the text allows, else UTF-8 (version
  // 2.4) or UTF-16 with its BOM.
  static mpeg::Bytes textFrame(const QString &text, int version) {
    const bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0 && c.unicode() < 0x100; });
    mpeg::Bytes body;
    if (latin1 || version == 4) {
      const QByteArray bytes = latin1 ? text.toLatin1() : text.toUtf8();
      body.push_back(latin1 ? 0 : 3);
      body.insert(body.end(), bytes.begin(), bytes.end());
    } else {
      body = {1, 0xFF, 0xFE};
      for (QChar c : text) {
        body.push_back(static_cast<unsigned char>(c.unicode() & 0xFF));
        body.push_back(static_cast<unsigned char>(c.unicode() >> 8));
      }
    }
    return body;
  }

  static std::string bodyOf(const mpeg::Bytes &tag, const char *id) {
    const mpeg::Bytes body = mpeg::frameBody(tag, id);
    return std::string(body.begin(), body.end());
  }

  // The piece's own TLEN, or "" where the source has none, it would take
  // more digits than the source's, or the mark has no room to keep the
  // source's.
  std::string ownLength(const exact::Piece &p) const {
    if (sourceLength_.empty() || sourceTrack_.size() + sourceLengthBody_.size() + 2 > kMarkRoom) return {};
    const auto rate = static_cast<double>(src_.layout.stream.first.rate);
    const std::string ms = std::to_string(std::llround(static_cast<double>(p.samples()) * 1000 / rate));
    return ms.size() <= sourceLength_.size() ? ms : std::string();
  }

  // The mark of piece k, but for its sums of what the piece holds.
  Mark markOf(std::int64_t k, const exact::Piece &p) const {
    Mark mark;
    mark.carriers = p.carriers;
    mark.untrimmed = src_.layout.stream.trimBegin == 0;
    mark.piece = static_cast<std::uint32_t>(k);
    mark.count = static_cast<std::uint32_t>(count_);
    mark.source = id_;
    mark.first = base_ + p.first;
    mark.id3v1Track = sourceV1Track_;
    mark.track = sourceTrack_;
    mark.id3v2Size = static_cast<std::uint32_t>(src_.id3v2.size());
    if (!ownLength(p).empty()) mark.length = sourceLengthBody_;
    return mark;
  }

  static constexpr std::size_t kMarkRoom = 34;  // for the source's TRCK and TLEN, with a length byte each
  const Run &run_;
  int fd_;
  const MpegFile &src_;
  std::int64_t count_, base_;
  std::uint64_t id_;
  std::string sourceTrack_;
  std::string sourceLength_, sourceLengthBody_;
  int sourceV1Track_;
};

// A piece planned, and the stretch of the source it is cut from.
struct Planned {
  std::size_t stretch = 0;
  exact::Piece piece;
};

// How many pieces are written: those that hold samples. Pieces past the end
// of the stream (breakpoints after its last frame) hold none; they come last,
// so the pieces written are numbered 1 to this, and each says so.
std::int64_t writtenCount(const std::vector<Planned> &pieces) {
  return std::count_if(pieces.begin(), pieces.end(), [](const Planned &p) { return p.piece.samples() > 0; });
}

// Writes the planned pieces of an exact run; those written `ahead`, by
// track, are only put under their final names.
Outcome writeExactPieces(Run &run, const std::vector<Stretch> &stretches, std::uint64_t id,
                         const std::vector<Planned> &pieces,
                         std::map<std::int64_t, std::unique_ptr<PendingFile>> ahead = {}) {
  const std::int64_t count = static_cast<std::int64_t>(pieces.size());
  std::vector<ExactPieces> makers;
  for (const Stretch &s : stretches) makers.emplace_back(run, run.fd(), s.file, writtenCount(pieces), id, s.base);
  std::int64_t total = 0, done = 0;
  for (std::int64_t k = 1; k <= count; ++k) {
    const Planned &p = pieces[static_cast<std::size_t>(k - 1)];
    const std::int64_t bytes = stretches[p.stretch].file.layout.span(p.piece.first, p.piece.end);
    total += bytes;
    if (ahead.count(k)) done += bytes;
  }
  run.reporter().start(count);
  run.restartProgress(done, total);
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  for (std::int64_t k = 1; k <= count; ++k) {
    const Planned &p = pieces[static_cast<std::size_t>(k - 1)];
    if (p.piece.samples() == 0) {
      run.outcome().skipped++;
    } else if (const auto early = ahead.find(k); early != ahead.end()) {
      if (!run.commit(k, *early->second)) return run.stopped();
    } else {
      PieceParts parts;
      if (!makers[p.stretch].partsOf(k, p.piece, parts)) return unreadable(run, errno);
      if (!run.writePiece(k, parts, createPrefix(parts.length))) return run.stopped();
    }
    run.reporter().step();
  }
  run.reporter().complete();
  return run.finish();
}

// Whether the first frame after the ID3v2 tag is of free format (bitrate
// index 0), which the frame walk does not take.
bool startsFreeFormat(int fd) {
  unsigned char b[10] = {};
  const std::int64_t at = mpeg::readAt(fd, b, 10, 0) ? mpeg::id3v2Size(b) : 0;
  mpeg::Header h;
  return mpeg::readAt(fd, b, 4, at) && (b[2] >> 4) == 0 &&
         mpeg::parseHeader(std::array{b[0], b[1], static_cast<unsigned char>(b[2] | 0x10), b[3]}.data(), h);
}

QString number(std::int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

// Tells why the source cannot be cut exactly, errno as readMpegFile left it.
void refuseExact(Run &run, const mpeg::WalkError &why) {
  if (errno != 0) {
    run.refuse({run.source(),
                QStringLiteral("Cannot read the source file: %1 !\r\n%2").arg(run.source(), systemError(errno)),
                QStringLiteral("cannot read it: %1").arg(systemError(errno))});
    return;
  }
  QString reason = QString::fromStdString(why.reason);
  if (why.at >= 0)
    reason = why.frame >= 0 ? QStringLiteral("frame %1 at byte %2: %3").arg(number(why.frame), number(why.at), reason)
                            : QStringLiteral("at byte %1: %2").arg(number(why.at), reason);
  if (reason.isEmpty() && startsFreeFormat(run.fd())) reason = QStringLiteral("frame 0: free format");
  if (reason.isEmpty()) reason = QStringLiteral("it is not an MPEG audio stream");
  run.refuse({run.source(),
              QStringLiteral("Cannot cut %1 exactly: %2. Split it without exact cuts.").arg(run.source(), reason),
              QStringLiteral("cannot cut it exactly: %1 (split it without exact cuts)").arg(reason)});
}

QString formatName(const mpeg::Header &h) {
  return QStringLiteral("MPEG-%1 Layer %2, %3 Hz %4")
      .arg(h.version == 25 ? QStringLiteral("2.5") : QString::number(h.version),
           QString(h.layer == 1 ? "I" : h.layer == 2 ? "II" : "III"), number(h.rate),
           h.mono ? QStringLiteral("mono") : QStringLiteral("stereo"));
}

// What decoders pass over goes into no piece; the user hears of it, and
// of where the format changes.
void noticePassedOver(Run &run, const mpeg::Stream &st) {
  QStringList left;
  if (st.junk > 0) left << QStringLiteral("%1 bytes of junk before the first frame").arg(number(st.junk));
  for (const mpeg::Passed &p : st.passed)
    // The tags that every piece carries are not lost.
    if (p.at != st.id3v1At && p.at != st.endId3v2At)
      left << QStringLiteral("%1 (%2 bytes) at byte %3").arg(mpeg::kindName(p.kind), number(p.length), number(p.at));
  if (st.cutEnd > 0) left << QStringLiteral("a last frame cut short (%1 bytes)").arg(number(st.cutEnd));
  if (!left.isEmpty())
    run.reporter().notice(
        {run.source(),
         QStringLiteral("No piece of %1 holds what decoders pass over in it: %2.")
             .arg(run.source(), left.join(QStringLiteral(", "))),
         QStringLiteral("in no piece, as decoders pass over it: %1").arg(left.join(QStringLiteral(", ")))});
  QStringList changes;
  for (const mpeg::FormatChange &c : st.changes)
    changes << QStringLiteral("at frame %1 (byte %2) to %3").arg(number(c.frame), number(c.at), formatName(c.header));
  if (!changes.isEmpty())
    run.reporter().notice(
        {run.source(),
         QStringLiteral("The format of %1 changes %2: a piece ends at each change, and the next begins there.")
             .arg(run.source(), changes.join(QStringLiteral(", "))),
         QStringLiteral("its format changes %1; a piece ends at each change").arg(changes.join(QStringLiteral(", ")))});
}

// Why the exact pieces of `src` could not be joined again, where they
// could not.
std::optional<QString> unjoinable(int fd, const MpegFile &src) {
  // A first audio frame that is itself an Info frame (after one that counts
  // no frames) would be taken for the tag of the pieces' join, and lost.
  if (src.layout.layer3() && src.layout.frames() > 0) {
    std::vector<unsigned char> first(static_cast<std::size_t>(src.layout.frameSize(0)));
    mpeg::Header h;
    if (mpeg::readAt(fd, first.data(), first.size(), src.layout.offsets[0]) && mpeg::parseHeader(first.data(), h) &&
        h.size <= static_cast<int>(first.size()) && mpeg::readInfoTag(first.data(), h).present)
      return QStringLiteral("its first audio frame is a second Info frame, which a join of the pieces could not give "
                            "back as audio");
  }
  // Layers I and II keep a piece's record in its ID3v2 tag: in a tag the
  // program cannot edit, the pieces could never be joined.
  if (!src.layout.layer3() && !src.id3v2.empty() &&
      mpeg::privateOf(mpeg::withPrivate(src.id3v2, kMarkOwner, std::vector<unsigned char>(kMarkSize, 1)), kMarkOwner)
              .size() != kMarkSize)
    return QStringLiteral(
        "its ID3v2 tag is of a form this program cannot edit (version 2.2, unsynchronised, or with an extended "
        "header), and exact pieces of Layer I and II keep what they are there");
  return std::nullopt;
}

// The pieces of an exact run of `src`, or nothing when there can be none;
// with `tell`, the run hears why, and what it should know of the plan.
// `src` is the source or a stretch of it, whose frame 0 is the source's
// frame `base`.
using ExactPlanner =
    std::function<std::optional<std::vector<exact::Piece>>(const MpegFile &src, std::int64_t base, bool tell)>;

// The pieces planned from a guess at the source, one at a time as
// exact::SizePlan gives them, and how many there will be (a guess as well).
struct GuessedPlan {
  std::int64_t count = 0;
  std::function<exact::SizePlan::Step(exact::Piece &, const std::function<bool(std::int64_t)> &reach)> next;
  std::function<std::optional<exact::Piece>()> upcoming;  // as exact::SizePlan::upcoming
};
using GuessPlanner = std::function<std::optional<GuessedPlan>(const MpegFile &guess)>;

// A plan made whole at once, given one piece at a time.
GuessedPlan oneByOne(std::vector<exact::Piece> pieces) {
  auto all = std::make_shared<std::vector<exact::Piece>>(std::move(pieces));
  auto at = std::make_shared<std::size_t>(0);
  return {static_cast<std::int64_t>(all->size()),
          [all, at](exact::Piece &piece, const std::function<bool(std::int64_t)> &) {
            if (*at == all->size()) return exact::SizePlan::Step::end;
            piece = (*all)[(*at)++];
            return exact::SizePlan::Step::piece;
          },
          [all, at]() -> std::optional<exact::Piece> {
            if (*at == all->size()) return std::nullopt;
            return (*all)[*at];
          }};
}

// A plan made whole from the guess alone, which needs no frame's offset.
GuessPlanner fromTheGuess(const ExactPlanner &plan) {
  return [plan](const MpegFile &guess) -> std::optional<GuessedPlan> {
    auto pieces = plan(guess, 0, false);
    if (!pieces) return std::nullopt;
    return oneByOne(std::move(*pieces));
  };
}

// A piece written ahead of the walk, and what its head is made of.
struct AheadPiece {
  exact::Piece piece;
  std::unique_ptr<PendingFile> file;
  std::size_t headSize = 0;
  std::uint16_t frameSum = 0;  // the CRC of its source frames
  // Its mark, and where it lies in the head: all that changes once the
  // walk has summed the source, where the count of pieces stays.
  std::vector<unsigned char> mark;
  std::size_t markAt = 0;
};

// The pieces of a guessed plan written from the bytes the walk reads, as it
// hands them over: each piece takes its frames' bytes there, after room
// kept for its head, which is written last, once the walk has passed the
// piece (its frame count and seek table are then known). Gives up
// quietly where a piece fails or the plan outruns the guess; the pieces
// complete are kept under temporary names.
class ExactAhead {
 public:
  ExactAhead(Run &run, Walker &walker, const MpegFile &guess, GuessedPlan &plan, const ExactPieces &maker)
      : run_(run), walker_(walker), guess_(guess), plan_(plan), maker_(maker) {}

  // The next bytes of the source, in order.
  void take(std::int64_t offset, const unsigned char *bytes, std::size_t size) {
    const std::int64_t end = offset + static_cast<std::int64_t>(size);
    if (!going_ || (open_.empty() && end <= guess_.layout.stream.audioStart)) return;  // no frame yet
    walker_.waitPast(end);
    advance(offset, end);
    for (Open &piece : open_) {
      const std::int64_t from = std::max(piece.at, offset);
      const std::int64_t to = std::min(piece.bodyEnd, end);
      if (from < to && (from != piece.at || !add(piece, bytes + (from - offset), to - from))) return giveUp();
    }
    finishBodies();
  }

  // The walk has ended: the pieces it completed are finished.
  void end() {
    advance(INT64_MAX, INT64_MAX, false);
    finishBodies();
  }

  // Whether it still writes what it is given.
  bool going() const { return going_; }
  // The pieces complete, under temporary names.
  std::map<std::int64_t, AheadPiece> written() { return std::move(ahead_); }

 private:
  struct Open {
    std::int64_t k;
    exact::Piece piece;
    bool planned = false;
    std::int64_t bodyStart = 0, at = 0, bodyEnd = INT64_MAX;  // of the source: its frames, written up to `at`
    std::size_t headSize = 0;
    std::unique_ptr<PendingFile> file;
    mpeg::Crc16 crc;  // of its frames written
  };

  // Plans the pieces that the bytes before `end` reach into, every frame
  // that begins before `end` being known, and opens those that begin there;
  // the bytes at hand begin at `blockStart`.
  void advance(std::int64_t blockStart, std::int64_t end, bool mayOpen = true) {
    const auto &offsets = guess_.layout.offsets;
    const std::int64_t known = walker_.known();
    const std::int64_t room = guess_.layout.frames();
    const auto reach = [known](std::int64_t i) { return i < known; };
    exact::Piece p;
    while (going_) {
      if (!open_.empty() && !open_.back().planned) {
        const auto step = plan_.next(p, reach);
        if (step == exact::SizePlan::Step::unreachable) break;  // it goes on past `end`
        if (step != exact::SizePlan::Step::piece || p.first != open_.back().piece.first) return giveUp();
        open_.back().piece = p;
        open_.back().planned = true;
      }
      // Where their frames end; the last piece's, where the audio ends,
      // which the walk tells at its end only: till then as guessed.
      for (Open &piece : open_) {
        if (!piece.planned || piece.bodyEnd != INT64_MAX) continue;
        piece.bodyEnd = piece.piece.end < known   ? offsets[static_cast<std::size_t>(piece.piece.end)]
                        : piece.piece.end == room ? guess_.layout.stream.audioEnd
                                                  : INT64_MAX;
        if (piece.bodyEnd != INT64_MAX)
          piece.file->reserve(static_cast<std::int64_t>(piece.headSize) + piece.bodyEnd - piece.bodyStart);
      }
      const auto upcoming = plan_.upcoming();
      if (!mayOpen || !upcoming || upcoming->first >= known) break;
      if (upcoming->samples() == 0) {  // a piece of nothing is not written
        plan_.next(p, reach);
        ++next_;
        continue;
      }
      const std::int64_t start = offsets[static_cast<std::size_t>(upcoming->first)];
      if (start >= end) break;
      if (!open(*upcoming, start, blockStart)) return giveUp();
    }
  }

  // Opens the piece that begins at `start`, with its bytes before the ones
  // at hand (its warm-up frames, at most) read anew.
  bool open(const exact::Piece &upcoming, std::int64_t start, std::int64_t blockStart) {
    const std::int64_t k = next_++;
    if (ahead_.size() + open_.size() >= kMaxAhead || held_ >= kMaxHeldAhead || blockStart - start > kBlock)
      return false;
    Open piece;
    piece.k = k;
    piece.piece = upcoming;
    piece.bodyStart = piece.at = start;
    piece.headSize = maker_.headSize(k, upcoming);
    piece.file = run_.create(k, QString());
    if (!piece.file || ::lseek(piece.file->fd(), static_cast<off_t>(piece.headSize), SEEK_SET) < 0) return false;
    // Space for its frames at the guess's average frame size until the walk
    // has passed them; then for what they take (advance()).
    // A piece by size is open-ended until its frames are known: it reaches
    // the end of the guess at most.
    const mpeg::Stream &stream = guess_.layout.stream;
    const std::int64_t frames = std::min(upcoming.end, stream.frames) - upcoming.first;
    if (stream.frames > 0 && frames > 0)
      piece.file->reserve(static_cast<std::int64_t>(piece.headSize) +
                          scaled(stream.audioEnd - stream.audioStart, frames, stream.frames));
    held_ += piece.file->holdsSameNamed() ? 1 : 0;
    if (start < blockStart) {
      std::vector<unsigned char> before(static_cast<std::size_t>(blockStart - start));
      if (!mpeg::readAt(run_.fd(), before.data(), before.size(), start) ||
          !add(piece, before.data(), blockStart - start))
        return false;
    }
    open_.push_back(std::move(piece));
    return true;
  }

  bool add(Open &piece, const unsigned char *bytes, std::int64_t size) {
    if (!run_.append(*piece.file, bytes, static_cast<std::size_t>(size))) return false;
    piece.crc.update(bytes, static_cast<std::size_t>(size));
    piece.at += size;
    return true;
  }

  // Pieces whose frames are all written get their heads and tails.
  void finishBodies() {
    while (going_ && !open_.empty() && open_.front().at == open_.front().bodyEnd &&
           open_.front().piece.end < walker_.known()) {
      Open piece = std::move(open_.front());
      open_.pop_front();
      PieceParts parts;
      std::size_t markAt = 0;
      if (!maker_.partsOf(piece.k, piece.piece, parts, piece.crc.value(), &markAt) ||
          parts.head.size() != piece.headSize || markAt + kMarkSize > parts.head.size() ||
          parts.offset != piece.bodyStart || parts.length != piece.bodyEnd - piece.bodyStart ||
          ::pwrite(piece.file->fd(), parts.head.data(), parts.head.size(), 0) !=
              static_cast<ssize_t>(parts.head.size()) ||
          !writeBytes(piece.file->fd(), parts.tail) || !piece.file->close())
        return giveUp();
      const auto mark = parts.head.begin() + static_cast<std::ptrdiff_t>(markAt);
      ahead_.emplace(piece.k, AheadPiece{piece.piece, std::move(piece.file), parts.head.size(), piece.crc.value(),
                                         std::vector<unsigned char>(mark, mark + kMarkSize), markAt});
    }
  }

  void giveUp() {
    going_ = false;
    open_.clear();
  }

  Run &run_;
  Walker &walker_;
  const MpegFile &guess_;
  GuessedPlan &plan_;
  const ExactPieces &maker_;
  std::deque<Open> open_;
  std::map<std::int64_t, AheadPiece> ahead_;
  std::int64_t next_ = 1;
  std::size_t held_ = 0;
  bool going_ = true;
};

// An exact run: the source is walked on a second thread while the pieces
// planned from a guess at it (its first frame and its size) are written
// ahead under temporary names, as far as the walk has passed them. Then
// each piece that the walked source plans alike is kept, its head made anew
// for the whole as walked; the rest are dropped and written again.
Outcome runExact(Run &run, const ExactPlanner &plan, const GuessPlanner &guessPlan, std::int64_t *walkedFrames = nullptr,
                 std::vector<Planned> *planned = nullptr) {
  std::optional<MpegFile> guess = guessMpegFile(run.fd());
  std::optional<GuessedPlan> guessed = guess ? guessPlan(*guess) : std::nullopt;
  BytesBetween between(guessed.has_value());
  Walker walker(run.fd(), guess ? &guess->layout : nullptr, guessed ? &between : nullptr);
  std::map<std::int64_t, AheadPiece> ahead;
  std::optional<ExactPieces> guessMaker;
  if (guessed) {
    // The source's identity is known once the walk has summed all its
    // frames: the heads written ahead are made anew then.
    guessMaker.emplace(run, run.fd(), *guess, guessed->count, 0);
    run.setTotal(guess->layout.stream.audioEnd - guess->layout.stream.audioStart);
    run.setQuiet(true);  // what fails here fails again in its turn, and is told then
    ExactAhead writer(run, walker, *guess, *guessed, *guessMaker);
    while (auto block = between.take()) {
      writer.take(block->offset, block->bytes.data(), block->bytes.size());
      between.giveBack(std::move(*block), writer.going());
    }
    writer.end();
    ahead = writer.written();
    run.setQuiet(false);
  }

  // What was written ahead goes before the user hears why it is not kept.
  const DropBeforeFailure dropAhead(run, [&] { ahead.clear(); });
  MpegFile src;
  mpeg::WalkError why;
  const bool whole = walker.result(src, &why);
  const int walkError = errno;
  if (!whole && stopAsked) return run.stoppedAt(std::nullopt), run.stopped();
  if (run.shrank()) return run.stopped();
  if (!whole) {
    errno = walkError;
    refuseExact(run, why);
    return run.stopped();
  }
  noticePassedOver(run, src.layout.stream);
  if (const auto unfit = unjoinable(run.fd(), src)) {
    run.refuse({run.source(), QStringLiteral("Cannot cut %1 exactly: %2.").arg(run.source(), *unfit),
                QStringLiteral("cannot cut it exactly: %1").arg(*unfit)});
    return run.stopped();
  }
  const bool sameAsGuessed = !ahead.empty() && sameFrame(*guess, src);
  if (walkedFrames) *walkedFrames = src.layout.frames();
  const bool plain = src.plain();
  std::vector<Stretch> stretches;
  if (plain)
    stretches.push_back({std::move(src), 0});
  else
    stretches = stretchesOf(src);
  std::vector<Planned> pieces;
  for (std::size_t i = 0; i < stretches.size(); ++i) {
    const auto some = plan(stretches[i].file, stretches[i].base, true);
    if (!some) return run.stopped();
    for (const exact::Piece &p : *some) pieces.push_back({i, p});
  }
  // Breakpoints outside a stretch, or within what the Info frame trims
  // away, give pieces that hold nothing: only those after the last piece
  // that holds something stand for breakpoints past the end.
  const auto last = std::find_if(pieces.rbegin(), pieces.rend(), [](const Planned &p) { return p.piece.samples() > 0; });
  pieces.erase(std::remove_if(pieces.begin(), last.base(), [](const Planned &p) { return p.piece.samples() == 0; }),
               last.base());

  // Players do not play a piece of less than a frame right (some play
  // nothing of it).
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const exact::Piece &p = pieces[k].piece;
    const std::int64_t spf = stretches[pieces[k].stretch].file.layout.spf();
    if (p.samples() > 0 && p.samples() < spf) {
      run.refuse(parameterError(
          QStringLiteral("Exact piece %1 would play %2 samples, less than one frame (%3): players do not play so "
                         "short a piece right. Give it at least one frame, or split without exact cuts.")
              .arg(k + 1)
              .arg(p.samples())
              .arg(spf)));
      return run.stopped();
    }
  }

  // The source's identity: the sum of the frames that a join of the pieces
  // gives back, from the first that piece 1 holds on.
  const auto first = std::find_if(pieces.begin(), pieces.end(), [](const Planned &p) { return p.piece.samples() > 0; });
  const MpegFile &walked = plain ? stretches[0].file : src;
  const auto id =
      sourceIdOf(run.fd(), walked, first == pieces.end() ? 0 : stretches[first->stretch].base + first->piece.first);
  if (!id) return unreadable(run, errno);

  std::map<std::int64_t, std::unique_ptr<PendingFile>> kept;
  if (sameAsGuessed && stretches.size() == 1) {
    const ExactPieces maker(run, run.fd(), stretches[0].file, writtenCount(pieces), *id);
    for (auto &[k, early] : ahead) {
      if (k > maker.count() || pieces[static_cast<std::size_t>(k - 1)].piece != early.piece) continue;
      // As many pieces as guessed: the source's identity goes into the
      // mark, the rest of the head stays. Else the head is made anew.
      std::optional<Mark> mark = maker.count() == guessMaker->count() ? decodeMark(early.mark) : std::nullopt;
      PieceParts parts;
      if (mark) mark->source = *id;
      if (mark ? !early.file->rewrite(encodeMark(*mark), static_cast<off_t>(early.markAt))
               : !maker.partsOf(k, early.piece, parts, early.frameSum) || parts.head.size() != early.headSize ||
                     !early.file->rewrite(parts.head, 0))
        continue;
      kept.emplace(k, std::move(early.file));
    }
  }
  ahead.clear();
  const Outcome outcome = writeExactPieces(run, stretches, *id, pieces, std::move(kept));
  if (planned) *planned = std::move(pieces);
  return outcome;
}

// The bytes every piece of `src` holds besides its frames: tags and Info
// frame, at their largest.
std::int64_t fixedBytes(const MpegFile &src) {
  std::int64_t fixed = static_cast<std::int64_t>(src.id3v1.size());
  mpeg::Bytes tag = src.id3v2.empty() ? src.id3v2 : mpeg::withTrack(src.id3v2, std::string(21, '9'));
  if (!src.layout.layer3()) tag = mpeg::withPrivate(tag, kMarkOwner, std::vector<unsigned char>(kMarkSize, 1));
  fixed += static_cast<std::int64_t>(tag.size());
  if (src.layout.layer3())
    fixed += static_cast<std::int64_t>(
        mpeg::makeInfoFrame(src.header, mpeg::InfoFields{.extra = std::vector<unsigned char>(kMarkSize)}).size());
  return fixed;
}

}  // namespace

Outcome exactBySize(Run &run, std::int64_t limit) {
  const auto carrierOf = [](const MpegFile &src) {
    mpeg::Header h;
    mpeg::parseHeader(src.header, h);
    return src.layout.layer3() ? std::int64_t{mpeg::frameSizeAt(h, 14)} : 0;
  };
  const ExactPlanner plan = [&](const MpegFile &src, std::int64_t, bool tell) {
    const std::int64_t fixed = fixedBytes(src), carrier = carrierOf(src);
    auto pieces = exact::piecesBySize(src.layout, limit, fixed, carrier);
    if (!pieces && tell) {
      QString text =
          QStringLiteral("Pieces of %1 KB cannot hold a frame of %2 with the tags and headers every exact piece has")
              .arg(limit / 1024)
              .arg(run.source());
      // The least that can, halving between what cannot and one piece of it all.
      std::int64_t cannot = limit / 1024, can = (src.layout.offsets.back() + fixed + 8 * carrier) / 1024 + 1;
      if (exact::piecesBySize(src.layout, can * 1024, fixed, carrier)) {
        while (can - cannot > 1) {
          const std::int64_t mid = cannot + (can - cannot) / 2;
          (exact::piecesBySize(src.layout, mid * 1024, fixed, carrier) ? can : cannot) = mid;
        }
        text += QStringLiteral("; the least that can is %1 KB").arg(can);
      }
      run.refuse(parameterError(text + u'.'));
    }
    return pieces;
  };
  // Planned as the walk goes; how many pieces there are is known at its end
  // only, and guessed meanwhile from the audio's size.
  const GuessPlanner guessPlan = [&](const MpegFile &guess) -> std::optional<GuessedPlan> {
    const std::int64_t fixed = fixedBytes(guess);
    const mpeg::Stream &st = guess.layout.stream;
    auto sizePlan = std::make_shared<exact::SizePlan>(guess.layout, limit, fixed, carrierOf(guess));
    return GuessedPlan{
        std::max<std::int64_t>(1, (st.audioEnd - st.audioStart) / std::max<std::int64_t>(1, limit - fixed) + 1),
        [sizePlan](exact::Piece &piece, const std::function<bool(std::int64_t)> &reach) {
          return sizePlan->next(piece, reach);
        },
        [sizePlan] { return sizePlan->upcoming(); }};
  };
  return runExact(run, plan, guessPlan);
}

// `points` are rising frame numbers.
Outcome exactAtBreakpoints(Run &run, const std::vector<std::int64_t> &points) {
  if (!run.openSource()) return {};
  std::int64_t frames = 0;
  std::vector<Planned> pieces;
  const ExactPlanner plan = [&](const MpegFile &file, std::int64_t base,
                                bool) -> std::optional<std::vector<exact::Piece>> {
    std::vector<std::int64_t> boundaries;
    for (std::int64_t point : points)
      boundaries.push_back(exact::frameBoundary(file.layout, std::max<std::int64_t>(0, point - base)));
    return exact::piecesBetween(file.layout, boundaries);
  };
  const Outcome outcome = runExact(run, plan, fromTheGuess(plan), &frames, &pieces);
  if (!outcome.completed) return outcome;
  QStringList empty;
  for (std::size_t i = 0; i < pieces.size(); ++i)
    if (pieces[i].piece.samples() == 0) empty << run.nameOf(static_cast<std::int64_t>(i) + 1);
  return finishBreakpoints(run, run.source(), frames, points, empty);
}

Outcome exactByTime(Run &run, double seconds) {
  const ExactPlanner plan = [&](const MpegFile &src, std::int64_t,
                                bool tell) -> std::optional<std::vector<exact::Piece>> {
    const double length = seconds * static_cast<double>(src.layout.stream.first.rate);
    if (!(length >= 1)) {
      if (tell)
        run.refuse(parameterError(QStringLiteral("Parts of %1 seconds would hold no whole sample.").arg(seconds)));
      return std::nullopt;
    }
    if (length < src.layout.spf()) {
      if (tell) {
        const double least = static_cast<double>(src.layout.spf()) / static_cast<double>(src.layout.stream.first.rate);
        run.refuse(parameterError(QStringLiteral("Exact pieces of %1 seconds would be shorter than one frame of %2, "
                                                 "which players do not play right: give at least %3 seconds.")
                                      .arg(seconds)
                                      .arg(run.source())
                                      .arg(std::ceil(least * 1000) / 1000)));
      }
      return std::nullopt;
    }
    if (!src.layout.layer3() && tell)
      run.reporter().notice(
          {run.source(),
           QStringLiteral("%1 has no gapless tag for its layer: its pieces are cut to the frame, not to the sample.")
               .arg(run.source()),
           QStringLiteral("cut to the frame, not to the sample: its layer has no gapless tag")});
    return exact::piecesBetween(src.layout, exact::timeBoundaries(src.layout, length));
  };
  return runExact(run, plan, fromTheGuess(plan));
}

}  // namespace split
