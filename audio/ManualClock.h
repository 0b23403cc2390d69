#pragma once

// A clock that stands still until it is told to move: what tests play the
// preview by. With it, the silent output hears only as much sound as a test
// lets it, so that a test plays an exact stretch at once instead of waiting
// for it, and the player reports the same frames on every run. The program
// itself never starts it: its silent output keeps real time.

#include <atomic>
#include <cstdint>

#include "SoundOutput.h"

class TXaudioPlayer;

namespace audio {

class ManualClock final : public Clock {
 public:
  std::int64_t nowNs() const override { return now_.load(); }
  void advance(std::int64_t ns) { now_ += ns; }

  // While started, the preview player's silent outputs keep the shared
  // manual clock; stopped (at first), they keep real time.
  static void start();
  static void stop();
  static ManualClock &shared();
  // The clock a silent output of the player keeps when it is opened.
  static const Clock &forSilentOutputs();

  // Lets `player` play `ms` more of its sound on the shared clock, in steps
  // of `stepMs` as its own ticks would: each step comes after the commands
  // sent to the player before it, and what the player reports in it is
  // delivered before the next step.
  static void play(TXaudioPlayer &player, int ms, int stepMs = 10);
  // Carries out the commands sent to `player` so far and delivers what they
  // report, without moving the clock.
  static void settle(TXaudioPlayer &player) { play(player, 0); }

 private:
  std::atomic<std::int64_t> now_{0};
};

}  // namespace audio
