// libFuzzer target for the round trip of exact pieces: whatever the exact
// cuts write from an untrusted MP3 (by time or by size), the join of those
// pieces takes. A join that refuses them traps, its reason on stderr.
// scripts/fuzz builds and runs it, from a corpus of small streams with tags
// at their ends.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <QString>
#include <QStringList>

#include "FileName.h"
#include "FuzzSupport.h"
#include "SplitEngine.h"

namespace {

// The pieces of a completed run must join; they and the join are removed.
void joinAgain(const split::Outcome &outcome, const QString &joined) {
  if (outcome.completed && !outcome.pieces.isEmpty()) {
    if (const auto refused = split::joinPieces(outcome.pieces, joined)) {
      std::fprintf(stderr, "the join refused the pieces the split wrote: %s\n",
                   refused->text.toLocal8Bit().constData());
      __builtin_trap();
    }
    ::unlink(encodeFileName(joined).constData());
  }
  for (const QString &piece : outcome.pieces) ::unlink(encodeFileName(piece).constData());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string path = workFolder("join") + "/source.mp3";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  const bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ::close(fd);
  if (!written) return 0;
  const QString folder = decodeFileName(QByteArray::fromStdString(workFolder("join")));
  const QString file = folder + QStringLiteral("/source.mp3"), pieces = folder + QStringLiteral("/p-%track%");
  const QString joined = folder + QStringLiteral("/joined.mp3");
  // One split an input, by time or by size, so that twice as many inputs
  // are tried.
  Quiet quiet;
  if (size % 2 == 0)
    joinAgain(split::splitByTime(file, QStringLiteral("0.2"), 0, pieces, quiet, true), joined);
  else
    joinAgain(split::splitBySize(file, QString::number(1 + size % 5), pieces, quiet, true), joined);
  return 0;
}
