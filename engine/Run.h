#pragma once

// One run of a split: the source, the output template, the reporter, and
// the writing of each piece with what it tells the user; the stop flag.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "OutputFile.h"
#include "SplitEngine.h"

namespace split {

// Set by requestStop(), from any thread or a signal handler; the run looks
// at it between blocks. Lock-free, so that a signal handler may set it.
extern std::atomic<bool> stopAsked;
static_assert(std::atomic<bool>::is_always_lock_free);

// What a piece holds: bytes made for it, a range of the source, bytes made
// for it.
struct PieceParts {
  std::vector<unsigned char> head;
  std::int64_t offset = 0, length = 0;
  // Ranges within [offset, offset + length) left out, in order: what
  // decoders pass over between frames.
  std::vector<std::pair<std::int64_t, std::int64_t>> holes;
  std::vector<unsigned char> tail;
  // The source's bytes the piece holds.
  std::int64_t bodySize() const {
    std::int64_t size = length;
    for (const auto &[at, bytes] : holes) size -= bytes;
    return size;
  }
  // Calls `take(offset, length)` for every range of the source it holds,
  // in order; stops at the first that returns false.
  template <typename Take>
  bool eachRange(Take take) const {
    std::int64_t at = offset;
    for (const auto &[hole, bytes] : holes) {
      if (!take(at, hole - at)) return false;
      at = hole + bytes;
    }
    return take(at, offset + length - at);
  }
};

// One run: the source, the template, the reporter and the copy buffer.
class Run {
 public:
  Run(const QString &source, const QString &outputTemplate, Reporter &reporter)
      : source_(source), template_(outputTemplate), reporter_(reporter) {}

  // Opens the source read-only; reports and returns false when it cannot.
  // Only a regular file is taken, and nothing here waits for another program
  // (a FIFO without a writer, a device).
  bool openSource() {
    const QByteArray path = encodeFileName(source_);
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) return notRegular(st.st_mode);
    in_.reset(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in_.isOpen() || ::fstat(in_.fd(), &st) != 0) {
      const QString reason = systemError(errno);
      return refuse({source_, QStringLiteral("Cannot open the source file: %1 !\r\n%2").arg(source_, reason),
                     QStringLiteral("cannot open it: %1").arg(reason)});
    }
    if (!S_ISREG(st.st_mode)) return notRegular(st.st_mode);
    ::fcntl(in_.fd(), F_SETFL, ::fcntl(in_.fd(), F_GETFL) & ~O_NONBLOCK);
    size_ = st.st_size;
    sourceId_ = {st.st_dev, st.st_ino};
    // Who may read the pieces: no one the source keeps out.
    pieceMode_ = 0600 | (st.st_mode & 0066);
    posix_fadvise(in_.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
  }

  std::int64_t size() const { return size_; }
  void setTotal(std::int64_t bytes) { total_ = bytes; }

  bool refuse(const Message &message) {
    if (quiet_) return false;
    if (dropFirst_) std::exchange(dropFirst_, nullptr)();
    reporter_.fail(message);
    return false;
  }
  // Until it is set again, `drop` lets go of the temporaries written ahead
  // before a failure is told: none is left while the user reads why.
  // Returns what it was before.
  std::function<void()> dropBeforeFailure(std::function<void()> drop) {
    return std::exchange(dropFirst_, std::move(drop));
  }
  // While quiet, failures are not told: work done ahead of its time that
  // will be done again, and fail again, in its turn.
  void setQuiet(bool quiet) { quiet_ = quiet; }
  // Progress from here on: `done` of `total` bytes, told at once.
  void restartProgress(std::int64_t done, std::int64_t total) {
    done_ = done;
    total_ = total;
    reporter_.bytesCopied(done_, total_);
  }

  // Writes piece `track` from the source's bytes [offset, offset + length),
  // all of which lie in the file as it was opened. Reports and returns false
  // when the piece cannot be created or completed; then nothing of it stays.
  bool writePiece(std::int64_t track, std::int64_t offset, std::int64_t length, const QString &createPrefix) {
    PieceParts parts;
    parts.offset = offset;
    parts.length = length;
    return writePiece(track, parts, createPrefix);
  }

  bool writePiece(std::int64_t track, const PieceParts &parts, const QString &createPrefix) {
    const auto piece = write(track, parts, createPrefix);
    return piece && commit(track, *piece);
  }

  // Writes piece `track` under its temporary name and closes it; reports and
  // returns nothing when it cannot.
  std::unique_ptr<PendingFile> write(std::int64_t track, std::int64_t offset, std::int64_t length,
                                     const QString &createPrefix) {
    PieceParts parts;
    parts.offset = offset;
    parts.length = length;
    return write(track, parts, createPrefix);
  }

  std::unique_ptr<PendingFile> write(std::int64_t track, const PieceParts &parts, const QString &createPrefix) {
    auto piece = create(track, createPrefix);
    if (piece && !fill(*piece, parts)) {
      const int error = errno;
      piece.reset();  // its temporary goes before the user hears why
      const QString name = nameOf(track);
      if (fault_ == Fault::none)
        refuseWrite(name, error);
      else
        refuseCopy(name);
      return nullptr;
    }
    return piece;
  }

  // Makes piece `track` under its temporary name, empty; reports and
  // returns nothing when it cannot.
  std::unique_ptr<PendingFile> create(std::int64_t track, const QString &createPrefix) {
    const QString name = nameOf(track);
    if (!lockPieces(name)) return nullptr;
    sweep(name);
    auto piece = std::make_unique<PendingFile>();
    if (!piece->open(encodeFileName(name), sourceId_, pieceMode_)) {
      const int error = errno;
      const bool locked = error == EWOULDBLOCK;
      refuse({name, createPrefix + name + kLocked + QStringLiteral("\r\n") + piece->whyNot(error),
              locked ? QStringLiteral("cannot create it: another program holds it locked")
                     : QStringLiteral("cannot create it: %1").arg(piece->whyNotBriefly(error))});
      return nullptr;
    }
    return piece;
  }

  // Before the first piece: the run holds its set of names, or refuses to
  // write where another run writes them now.
  bool lockPieces(const QString &firstPiece) {
    if (locked_) return true;
    locked_ = true;
    // Where no lock can be made, no piece can be either: the piece says why.
    if (lock_.take(encodeFileName(firstPiece), template_) || errno != EWOULDBLOCK) return true;
    locked_ = false;
    return refuse({firstPiece,
                   QStringLiteral("Another split is writing %1 and the pieces after it now. Try again once it has "
                                  "ended.")
                       .arg(firstPiece),
                   QStringLiteral("another split is writing these pieces now")});
  }

  // The first time a piece goes to a folder: the temporaries that runs which
  // no longer exist left there (killed, or the machine stopped) go, and the
  // user hears of it.
  void sweep(const QString &piece) {
    const QByteArray folder = folderOf(encodeFileName(piece));
    if (!swept_.insert(folder).second) return;
    const std::int64_t removed = removeStaleTemporaries(folder);
    if (removed == 0) return;
    const QString where = folder.isEmpty() ? QStringLiteral("the current folder") : decodeFileName(folder);
    const QString what = removed == 1 ? QStringLiteral("1 temporary file") : QStringLiteral("%1 temporary files").arg(removed);
    reporter_.notice({QString(), QStringLiteral("%1 left in %2 by a split that was stopped %3 removed.")
                                     .arg(what, where, removed == 1 ? QStringLiteral("was") : QStringLiteral("were")),
                      QStringLiteral("removed %1 left in %2 by a split that was stopped").arg(what, where)});
  }

  // Adds bytes of the source read elsewhere to a piece that create() made,
  // as copied; false with errno set.
  bool append(PendingFile &piece, const unsigned char *bytes, std::size_t size) {
    if (!writeAll(piece.fd(), reinterpret_cast<const char *>(bytes), size)) return false;
    done_ += static_cast<std::int64_t>(size);
    reporter_.bytesCopied(done_, total_);
    return true;
  }

  // A stop asked for while the source was read for its facts: piece
  // `track`, where there is one, was not complete.
  bool stoppedAt(std::optional<std::int64_t> track) {
    fault_ = Fault::stop;
    if (track) return refuseCopy(nameOf(*track));
    return refuse({source_, QStringLiteral("The split was stopped while %1 was read.").arg(source_),
                   QStringLiteral("stopped while it was read")});
  }

  // Whether another program has cut the source short since it was opened,
  // as it was read for what to cut: pieces laid out on its size at the
  // start would be wrong, or never complete. Then the user is told.
  bool shrank() {
    struct stat st {};
    if (::fstat(in_.fd(), &st) != 0 || st.st_size >= size_) return false;
    refuse(sourceEnded(st.st_size, QString()));
    return true;
  }

  // Puts a piece that write() made under its final name.
  bool commit(std::int64_t track, PendingFile &piece) {
    const QString name = nameOf(track);
    if (!piece.commit()) {
      const int error = errno;
      return refuse({name, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, piece.whyNot(error)),
                     QStringLiteral("cannot write it: %1").arg(piece.whyNotBriefly(error))});
    }
    outcome_.pieces << name;
    reporter_.pieceWritten(name);
    return true;
  }

  int fd() const { return in_.fd(); }
  const QString &source() const { return source_; }
  const QString &templateText() const { return template_; }
  // Piece `track`'s name, and its title where the breakpoints gave one.
  QString nameOf(std::int64_t track) const {
    const PieceTitle *t = titleOf(track);
    return pieceName(template_, numberOf(track), t ? t->title : QString());
  }
  // The track number piece `track` goes by: its own where every piece has
  // one (a cue sheet's) and they rise, else `track`.
  std::int64_t numberOf(std::int64_t track) const {
    const PieceTitle *t = titleOf(track);
    return numbered_ && t ? t->number : track;
  }
  // The number of tracks that TRCK gives after the "/".
  std::int64_t numberTotal(std::int64_t pieces) const {
    return numbered_ && !titles_.empty() ? titles_.back().number : pieces;
  }
  const PieceTitle *titleOf(std::int64_t track) const {
    return track >= 1 && track <= static_cast<std::int64_t>(titles_.size())
               ? &titles_[static_cast<std::size_t>(track - 1)]
               : nullptr;
  }
  void setTitles(std::vector<PieceTitle> titles) {
    titles_ = std::move(titles);
    numbered_ = !titles_.empty();
    for (std::size_t i = 0; i < titles_.size(); ++i)
      if (titles_[i].number < 0 || (i > 0 && titles_[i].number <= titles_[i - 1].number)) numbered_ = false;
  }

  Outcome finish() {
    outcome_.completed = true;
    return outcome_;
  }
  Outcome stopped() const { return outcome_; }
  Outcome &outcome() { return outcome_; }
  Reporter &reporter() { return reporter_; }

 private:
  enum class Fault { none, sourceEnded, read, write, stop };

  // Writes the piece's bytes and closes it; false with errno set, or with
  // fault_ set where the copy failed.
  bool fill(PendingFile &piece, const PieceParts &parts) {
    fault_ = Fault::none;
    piece.reserve(static_cast<std::int64_t>(parts.head.size() + parts.tail.size()) + parts.bodySize());
    if (!writeBytes(piece.fd(), parts.head)) return false;
    if (!parts.eachRange([&](std::int64_t at, std::int64_t length) { return copy(piece.fd(), at, length); }))
      return false;
    if (!writeBytes(piece.fd(), parts.tail)) return false;
    return piece.close();
  }

  bool notRegular(mode_t mode) {
    return refuse({source_,
                   QStringLiteral("Cannot open the source file: %1 !\r\nIt is %2, not a regular file.")
                       .arg(source_, kindOf(mode)),
                   QStringLiteral("not a regular file but %1").arg(kindOf(mode))});
  }

  bool refuseWrite(const QString &name, int error) {
    return refuse({name, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, systemError(error)),
                   QStringLiteral("cannot write it: %1").arg(systemError(error))});
  }

  bool refuseCopy(const QString &name) {
    switch (fault_) {
      case Fault::sourceEnded: return refuse(sourceEnded(faultAt_, name));
      case Fault::read:
        return refuse({source_,
                       QStringLiteral("Cannot read the source file: %1 !\r\nAt byte %2: %3; %4 was not written.")
                           .arg(source_)
                           .arg(faultAt_)
                           .arg(systemError(faultErrno_), name),
                       QStringLiteral("cannot read it at byte %1: %2; %3 was not written")
                           .arg(faultAt_)
                           .arg(systemError(faultErrno_), name)});
      case Fault::stop:
        return refuse({name, QStringLiteral("The split was stopped; the unfinished %1 was removed.").arg(name),
                       QStringLiteral("stopped before it was complete; removed")});
      default: return refuseWrite(name, faultErrno_);
    }
  }

  // The source ended at byte `at`, short of its size at the start; `name`,
  // if any, is the piece that was not written for it.
  Message sourceEnded(std::int64_t at, const QString &name) const {
    const QString text = QStringLiteral("It ended at byte %1 of the %2 it had when the split began").arg(at).arg(size_);
    const QString reason =
        QStringLiteral("the file ended at byte %1 of the %2 it had when the split began (it shrank while being read)")
            .arg(at)
            .arg(size_);
    if (name.isEmpty())
      return {source_, QStringLiteral("Cannot read the source file: %1 !\r\n%2.").arg(source_, text), reason};
    return {source_,
            QStringLiteral("Cannot read the source file: %1 !\r\n%2; %3 was not written.").arg(source_, text, name),
            QStringLiteral("%1; %2 was not written").arg(reason, name)};
  }

  bool fault(Fault kind, std::int64_t at, int error = 0) {
    fault_ = kind;
    faultAt_ = at;
    faultErrno_ = error;
    return false;
  }

  // Copies the range; fewer bytes than asked from the source is a fault.
  bool copy(int out, std::int64_t offset, std::int64_t length) {
    std::int64_t pos = offset;
    const std::int64_t end = offset + length;
    while (pos < end) {
      if (stopAsked) return fault(Fault::stop, pos);
      std::int64_t moved = 0;
      if (kernelCopy_) {
        loff_t from = pos;
        const ssize_t got = ::copy_file_range(in_.fd(), &from, out, nullptr,
                                              static_cast<std::size_t>(std::min(end - pos, kKernelChunk)), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) return fault(Fault::write, pos, errno);
        if (got <= 0) {
          // Not between these files, or an end that read() is to confirm.
          kernelCopy_ = false;
          continue;
        }
        moved = got;
      } else {
        if (buffer_.empty()) buffer_.resize(static_cast<std::size_t>(kCopyBuffer));
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(end - pos, kCopyBuffer));
        const ssize_t got = ::pread(in_.fd(), buffer_.data(), want, pos);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fault(Fault::read, pos, errno);
        if (got == 0) return fault(Fault::sourceEnded, pos);
        if (!writeAll(out, buffer_.data(), static_cast<std::size_t>(got))) return fault(Fault::write, pos, errno);
        moved = got;
      }
      pos += moved;
      done_ += moved;
      reporter_.bytesCopied(done_, total_);
    }
    return true;
  }

  QString source_;
  QString template_;
  std::vector<PieceTitle> titles_;
  bool numbered_ = false;  // the titles give every piece its number
  Reporter &reporter_;
  File in_;
  std::vector<char> buffer_;
  bool kernelCopy_ = true;
  std::int64_t size_ = 0;
  std::int64_t done_ = 0, total_ = 0;
  std::pair<dev_t, ino_t> sourceId_{};
  mode_t pieceMode_ = 0666;
  Fault fault_ = Fault::none;
  std::int64_t faultAt_ = 0;
  int faultErrno_ = 0;
  OutputLock lock_;  // taken before the first piece
  bool locked_ = false;
  std::set<QByteArray> swept_;  // folders cleared of stale temporaries
  Outcome outcome_;
  bool quiet_ = false;
  std::function<void()> dropFirst_;
};

// While it lives, the run lets go of what `drop` holds before it tells a
// failure.
class DropBeforeFailure {
 public:
  DropBeforeFailure(Run &run, std::function<void()> drop)
      : run_(run), before_(run.dropBeforeFailure(std::move(drop))) {}
  DropBeforeFailure(const DropBeforeFailure &) = delete;
  DropBeforeFailure &operator=(const DropBeforeFailure &) = delete;
  ~DropBeforeFailure() { run_.dropBeforeFailure(std::move(before_)); }

 private:
  Run &run_;
  std::function<void()> before_;
};

QString createPrefix(std::int64_t pieceSize);

Message parameterError(const QString &text);

}  // namespace split
