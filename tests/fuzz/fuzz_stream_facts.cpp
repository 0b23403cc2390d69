// libFuzzer target for the bytes of an untrusted MP3: the frame header walk
// never crashes and agrees with what it accepts, the three splits, run on
// the same bytes with the facts read from them, write pieces that together
// hold the source's bytes exactly, and their exact cuts join again into the
// source's frames. scripts/fuzz builds and runs it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "FileName.h"
#include "FuzzSupport.h"
#include "SplitEngine.h"
#include "StreamFacts.h"

namespace {

QByteArray readFile(const QString &path) {
  QByteArray bytes;
  const int fd = ::open(encodeFileName(path).constData(), O_RDONLY);
  if (fd < 0) return bytes;
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, n);
  ::close(fd);
  return bytes;
}

// The pieces of a completed run, joined, must be the source; they are removed.
void checkCover(const split::Outcome &outcome, const QByteArray &source) {
  if (!outcome.completed) return;
  QByteArray joined;
  for (const QString &piece : outcome.pieces) {
    joined += readFile(piece);
    ::unlink(encodeFileName(piece).constData());
  }
  if (joined != source) __builtin_trap();
}

// The pieces of a completed exact run, joined, hold the source's frames
// again (where the walk takes the source, as many); all are removed.
void checkExact(const split::Outcome &outcome, const QString &joined, std::int64_t frames) {
  if (outcome.completed && !outcome.pieces.isEmpty()) {
    if (split::joinPieces(outcome.pieces, joined)) __builtin_trap();
    const auto walked = audio::walkFrameHeaders(encodeFileName(joined).toStdString());
    if (frames > 0 && (!walked || walked->frames != frames)) __builtin_trap();
    ::unlink(encodeFileName(joined).constData());
  }
  for (const QString &piece : outcome.pieces) ::unlink(encodeFileName(piece).constData());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string path = workFolder("split") + "/source.mp3";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  const bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ::close(fd);
  if (!written) return 0;

  audio::StreamFacts facts;
  try {
    if (const auto walked = audio::walkFrameHeaders(path)) {
      if (walked->frames <= 0 || walked->rate <= 0 || walked->samples < 0) __builtin_trap();
    }
    facts = audio::readStreamFacts(path);
  } catch (const audio::StreamError &) {
  }

  const QByteArray source(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  const QString file = decodeFileName(QByteArray::fromStdString(path));
  const QString pieces = decodeFileName(QByteArray::fromStdString(workFolder("split"))) + QStringLiteral("/p-%track%");
  const std::int64_t frames = facts.frames > 0 ? facts.frames : 1 + static_cast<std::int64_t>(size % 97);
  Quiet quiet;
  checkCover(split::splitBySize(file, QString::number(8 + size % 7), pieces, quiet), source);
  checkCover(split::splitByTime(file, QStringLiteral("1.5"), facts.totalTimeMs() > 0 ? facts.totalTimeMs() : 1000,
                                pieces, quiet),
             source);
  checkCover(
      split::splitAtBreakpoints(
          file, frames, {QStringLiteral("0"), QString::number(frames / 3), QString::number(frames)}, pieces, quiet),
      source);

  const std::int64_t walkedFrames = [&]() -> std::int64_t {
    try {
      const auto walked = audio::walkFrameHeaders(path);
      return walked ? walked->frames : 0;
    } catch (const audio::StreamError &) {
      return 0;
    }
  }();
  const QString joined = decodeFileName(QByteArray::fromStdString(workFolder("split"))) + QStringLiteral("/joined.mp3");
  checkExact(split::splitBySize(file, QString::number(2 + size % 7), pieces, quiet, true), joined, walkedFrames);
  checkExact(split::splitByTime(file, QStringLiteral("0.3"), 0, pieces, quiet, true), joined, walkedFrames);
  checkExact(
      split::splitAtBreakpoints(file, 0, {QStringLiteral("0"), QString::number(frames / 3), QStringLiteral("999999")},
                                pieces, quiet, true),
      joined, walkedFrames);
  return 0;
}
