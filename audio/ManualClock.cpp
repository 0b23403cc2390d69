#include "ManualClock.h"

#include <algorithm>

#include "PreviewPlayer.h"

namespace audio {

namespace {
std::atomic<bool> started{false};
}  // namespace

void ManualClock::start() { started = true; }
void ManualClock::stop() { started = false; }

ManualClock &ManualClock::shared() {
  static ManualClock clock;
  return clock;
}

const Clock &ManualClock::forSilentOutputs() {
  if (started) return shared();
  return realTime();
}

void ManualClock::play(TXaudioPlayer &player, int ms, int stepMs) {
  ms = std::max(0, ms);
  stepMs = std::max(1, stepMs);
  do {
    const int step = std::min(ms, stepMs);
    player.passTime(std::int64_t{step} * 1000000);
    ms -= step;
  } while (ms > 0);
}

}  // namespace audio
