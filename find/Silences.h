#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QString>

#include "Markers.h"

namespace found {

// What counts as silence: sound below `levelDb` (relative to full scale,
// RMS over 50 ms) for at least `minSeconds`.
struct SilenceSettings {
  double levelDb = -45;
  double minSeconds = 1.5;
};

struct Silence {
  double start = 0, end = 0;  // seconds of what is heard
  double levelDb = 0;         // its mean level
  std::int64_t frame = -1;    // its breakpoint; -1 at the very start or end, where it parts nothing
};

// The quietest stretch of the least length a silence has, found or not:
// where it begins (seconds of what is heard), and the level of its loudest
// 50 ms, which a level must be above to find it.
struct Quietest {
  double start = 0;
  double levelDb = 0;
  std::int64_t energy = 0;
};

struct SilencesFound {
  Timeline timeline;
  std::vector<Silence> silences;
  // One breakpoint at the middle of each silence but one at the very start
  // or end (it would make a piece of silence alone), with 0 and the last
  // frame.
  std::vector<Marker> markers;
  std::optional<Quietest> quietest;
};

// The breakpoints of the `pieces` - 1 longest silences that part pieces
// (all of them where `pieces` is 0), with 0 and the last frame.
std::vector<Marker> longestSilences(const SilencesFound &found, int pieces);

// What the user is told where no silence is found: the quietest stretch
// and where it is ("the quietest 1.5 s is at -38.2 dB, at 0:12:03"), and a
// level that would find it.
QString quietestHint(const SilencesFound &found, const SilenceSettings &settings);
std::optional<int> levelToFind(const SilencesFound &found);

// Decodes the whole file with libmpg123, its two halves on two threads, and
// finds its silences. `progress(done, total)` hears of frames decoded (from
// either thread, never at once); `stop` ends the search early. Nothing with
// `error` set where the file cannot be decoded; nothing with it empty where
// the search was stopped.
std::optional<SilencesFound> findSilences(const QString &path, const SilenceSettings &settings,
                                          const std::function<void(std::int64_t, std::int64_t)> &progress,
                                          const std::atomic<bool> *stop, QString *error);

}  // namespace found
