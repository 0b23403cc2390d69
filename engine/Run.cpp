#include "Run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace split {

std::atomic<bool> stopAsked{false};

Fact::Fact(std::int64_t value) : known(value) {}

void requestStop(bool stop) noexcept { stopAsked = stop; }
const std::atomic<bool> &stopFlag() noexcept { return stopAsked; }

QString createPrefix(std::int64_t pieceSize) {
  return pieceSize <= kBlock ? QStringLiteral("Cannot create file: ") : QStringLiteral("Can not create file: ");
}

Message parameterError(const QString &text) { return {QString(), text, text}; }

std::int64_t PieceParts::bodySize() const {
  std::int64_t size = length;
  for (const auto &[at, bytes] : holes) size -= bytes;
  return size;
}

bool Run::openSource() {
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

bool Run::refuse(const Message &message) {
  if (quiet_) return false;
  if (dropFirst_) std::exchange(dropFirst_, nullptr)();
  reporter_.fail(message);
  return false;
}

std::function<void()> Run::dropBeforeFailure(std::function<void()> drop) {
  return std::exchange(dropFirst_, std::move(drop));
}

void Run::restartProgress(std::int64_t done, std::int64_t total) {
  done_ = done;
  total_ = total;
  reporter_.bytesCopied(done_, total_);
}

bool Run::writePiece(std::int64_t track, std::int64_t offset, std::int64_t length, const QString &createPrefix) {
  PieceParts parts;
  parts.offset = offset;
  parts.length = length;
  return writePiece(track, parts, createPrefix);
}

bool Run::writePiece(std::int64_t track, const PieceParts &parts, const QString &createPrefix) {
  const auto piece = write(track, parts, createPrefix);
  return piece && commit(track, *piece);
}

std::unique_ptr<PendingFile> Run::write(std::int64_t track, std::int64_t offset, std::int64_t length,
                                        const QString &createPrefix) {
  PieceParts parts;
  parts.offset = offset;
  parts.length = length;
  return write(track, parts, createPrefix);
}

std::unique_ptr<PendingFile> Run::write(std::int64_t track, const PieceParts &parts, const QString &createPrefix) {
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

std::unique_ptr<PendingFile> Run::create(std::int64_t track, const QString &createPrefix) {
  const QString name = nameOf(track);
  if (!lockPieces(name)) return nullptr;
  sweep(name);
  auto piece = std::make_unique<PendingFile>();
  if (!piece->open(encodeFileName(name), sourceId_, pieceMode_)) {
    const int error = errno;
    const bool locked = error == EWOULDBLOCK;
    // The cause first; the words of a file in use only where it is.
    refuse({name, createPrefix + name + (locked ? kLocked : QStringLiteral(" !\r\n") + piece->whyNot(error)),
            locked                        ? QStringLiteral("cannot create it: another program holds it locked")
            : piece->wouldReplaceKept() ? QStringLiteral("cannot create it as a piece of %1: %2")
                                                .arg(fileNamePart(source_), piece->whyNotBriefly(error))
                                          : QStringLiteral("cannot create it: %1").arg(piece->whyNotBriefly(error))});
    return nullptr;
  }
  return piece;
}

bool Run::lockPieces(const QString &firstPiece) {
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

void Run::sweep(const QString &piece) {
  const QByteArray folder = folderOf(encodeFileName(piece));
  if (!swept_.insert(folder).second) return;
  if (const auto told = sweptNotice(removeStaleTemporaries(folder), folder, QStringLiteral("a split that was stopped")))
    reporter_.notice(*told);
}

bool Run::append(PendingFile &piece, const unsigned char *bytes, std::size_t size) {
  if (!writeAll(piece.fd(), reinterpret_cast<const char *>(bytes), size)) return false;
  done_ += static_cast<std::int64_t>(size);
  reporter_.bytesCopied(done_, total_);
  return true;
}

bool Run::stoppedAt(std::optional<std::int64_t> track) {
  fault_ = Fault::stop;
  if (track) return refuseCopy(nameOf(*track));
  return refuse({source_, QStringLiteral("The split was stopped while %1 was read.").arg(source_),
                 QStringLiteral("stopped while it was read")});
}

bool Run::shrank() {
  struct stat st {};
  if (::fstat(in_.fd(), &st) != 0 || st.st_size >= size_) return false;
  refuse(sourceEnded(st.st_size, QString()));
  return true;
}

bool Run::commit(std::int64_t track, PendingFile &piece) {
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

QString Run::nameOf(std::int64_t track) const {
  const PieceTitle *t = titleOf(track);
  return pieceName(template_, numberOf(track), t ? t->title : QString());
}

std::int64_t Run::numberOf(std::int64_t track) const {
  const PieceTitle *t = titleOf(track);
  return numbered_ && t ? t->number : track;
}

std::int64_t Run::numberTotal(std::int64_t pieces) const {
  return numbered_ && !titles_.empty() ? titles_.back().number : pieces;
}

const PieceTitle *Run::titleOf(std::int64_t track) const {
  return track >= 1 && track <= static_cast<std::int64_t>(titles_.size())
             ? &titles_[static_cast<std::size_t>(track - 1)]
             : nullptr;
}

void Run::setTitles(std::vector<PieceTitle> titles) {
  titles_ = std::move(titles);
  numbered_ = !titles_.empty();
  for (std::size_t i = 0; i < titles_.size(); ++i)
    if (titles_[i].number < 0 || (i > 0 && titles_[i].number <= titles_[i - 1].number)) numbered_ = false;
}

Outcome Run::finish() {
  outcome_.completed = true;
  return outcome_;
}

bool Run::fill(PendingFile &piece, const PieceParts &parts) {
  fault_ = Fault::none;
  piece.reserve(static_cast<std::int64_t>(parts.head.size() + parts.tail.size()) + parts.bodySize());
  if (!writeBytes(piece.fd(), parts.head)) return false;
  if (!parts.eachRange([&](std::int64_t at, std::int64_t length) { return copy(piece.fd(), at, length); }))
    return false;
  if (!writeBytes(piece.fd(), parts.tail)) return false;
  return piece.close();
}

bool Run::notRegular(mode_t mode) {
  return refuse({source_,
                 QStringLiteral("Cannot open the source file: %1 !\r\nIt is %2, not a regular file.")
                     .arg(source_, kindOf(mode)),
                 QStringLiteral("not a regular file but %1").arg(kindOf(mode))});
}

bool Run::refuseWrite(const QString &name, int error) {
  return refuse({name, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, systemError(error)),
                 QStringLiteral("cannot write it: %1").arg(systemError(error))});
}

bool Run::refuseCopy(const QString &name) {
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

Message Run::sourceEnded(std::int64_t at, const QString &name) const {
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

bool Run::fault(Fault kind, std::int64_t at, int error) {
  fault_ = kind;
  faultAt_ = at;
  faultErrno_ = error;
  return false;
}

bool Run::copy(int out, std::int64_t offset, std::int64_t length) {
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

}  // namespace split
