#include "Run.h"

#include <csignal>
#include <cstdint>

namespace split {

volatile std::sig_atomic_t stopAsked = 0;

Fact::Fact(std::int64_t value) : known(value) {}

void requestStop(bool stop) noexcept { stopAsked = stop ? 1 : 0; }

QString createPrefix(std::int64_t pieceSize) {
  return pieceSize <= kBlock ? QStringLiteral("Cannot create file: ") : QStringLiteral("Can not create file: ");
}

Message parameterError(const QString &text) { return {QString(), text, text}; }

}  // namespace split
