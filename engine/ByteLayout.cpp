#include "ByteLayout.h"

#include <cstdint>
#include <vector>

namespace split {

Layout fixedLayout(std::int64_t size, std::int64_t pieceSize, std::int64_t joinTailBelow) {
  const std::int64_t count = size / pieceSize;
  const std::int64_t tail = size % pieceSize;
  if (count > 0 && tail > 0 && tail < joinTailBelow)
    return {count, size, [=](std::int64_t track) {
              const std::int64_t length = track < count ? pieceSize : pieceSize + tail;
              return Range{(track - 1) * pieceSize, length, createPrefix(pieceSize)};
            }};
  return {count + (tail != 0 ? 1 : 0), size,
          [=](std::int64_t track) {
            if (track <= count) return Range{(track - 1) * pieceSize, pieceSize, createPrefix(pieceSize)};
            return Range{count * pieceSize, tail, QStringLiteral("Can not create file: ")};
          },
          count};  // the tail takes no step of the bar
}

Outcome finishBreakpoints(Run &run, const QString &source, std::int64_t frames, const std::vector<std::int64_t> &points,
                          const QStringList &empty) {
  QStringList past;
  for (std::int64_t p : points)
    if (p > frames) past << QString::number(p);
  QStringList text, brief;
  if (!past.isEmpty()) {
    const bool one = past.size() == 1;
    text << QStringLiteral("The breakpoint%1 %2 %3 past the end of %4, which has %5 frames.")
                .arg(one ? QString() : QStringLiteral("s"), past.join(QStringLiteral(", ")),
                     one ? QStringLiteral("lies") : QStringLiteral("lie"), source)
                .arg(frames);
    brief << QStringLiteral("breakpoint%1 %2 past the end (the file has %3 frames)")
                 .arg(one ? QString() : QStringLiteral("s"), past.join(QStringLiteral(", ")))
                 .arg(frames);
  }
  if (!empty.isEmpty()) {
    text << QStringLiteral("Not written, as they would hold no byte: %1.").arg(empty.join(QStringLiteral(", ")));
    brief << QStringLiteral("not written, holding no byte: %1").arg(empty.join(QStringLiteral(", ")));
  }
  if (!text.isEmpty())
    run.reporter().notice({source, text.join(QStringLiteral("\r\n")), brief.join(QStringLiteral("; "))});
  run.outcome().skipped = empty.size();
  return run.finish();
}

}  // namespace split
