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
};

struct SilencesFound {
  Timeline timeline;
  std::vector<Silence> silences;
  // One breakpoint at the middle of each silence, with 0 and the last frame.
  std::vector<Marker> markers;
};

// Decodes the whole file with libmpg123, its two halves on two threads, and
// finds its silences. `progress(done, total)` hears of frames decoded (from
// either thread, never at once); `stop` ends the search early. Nothing with
// `error` set where the file cannot be decoded; nothing with it empty where
// the search was stopped.
std::optional<SilencesFound> findSilences(const QString &path, const SilenceSettings &settings,
                                          const std::function<void(std::int64_t, std::int64_t)> &progress,
                                          const std::atomic<bool> *stop, QString *error);

}  // namespace found
