#include "Run.h"

#include <atomic>
#include <cstdint>

namespace split {

std::atomic<bool> stopAsked{false};

Fact::Fact(std::int64_t value) : known(value) {}

void requestStop(bool stop) noexcept { stopAsked = stop; }
const std::atomic<bool> &stopFlag() noexcept { return stopAsked; }

QString createPrefix(std::int64_t pieceSize) {
  return pieceSize <= kBlock ? QStringLiteral("Cannot create file: ") : QStringLiteral("Can not create file: ");
}

Message parameterError(const QString &text) { return {QString(), text, text}; }

}  // namespace split
