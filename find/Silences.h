#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include <QObject>
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
// level that would find it. None above the level `settings` searched at: a
// stretch that the level searched at did not find is no silence at any
// level the measure names (a pause shorter than the least length, its ends
// narrowed to the sound around it), and the user is not sent round again.
QString quietestHint(const SilencesFound &found, const SilenceSettings &settings);
std::optional<int> levelToFind(const SilencesFound &found, const SilenceSettings &settings);

// Decodes the whole file with libmpg123 and finds its silences. The file is
// decoded in parts (`parts` of them where above 0, else as many as its
// length calls for: more than the cores), each begun a few frames early,
// which the machine's cores take in turn; the silences are the same, to the
// sample, however many parts there are. `progress(done, total)` hears of
// frames decoded (from one thread); `stop` ends the search early. Nothing
// with `error` set where the file cannot be decoded; nothing with it empty
// where the search was stopped. Given the file's `levels` as measureLevels
// measured them (every window), only the stretches they leave in doubt are
// decoded: the same silences, and the quietest stretch from the levels.
std::optional<SilencesFound> findSilences(const QString &path, const SilenceSettings &settings,
                                          const std::function<void(std::int64_t, std::int64_t)> &progress,
                                          const std::atomic<bool> *stop, QString *error, int parts = 0,
                                          const std::vector<float> *levels = nullptr);

// The decoding alone, in the parts findSilences decodes: what the search
// cannot go below (bench/silences). False with `error` set where the file
// cannot be decoded.
bool decodeOnly(const QString &path, int parts, QString *error);

// The level of the sound, 50 ms at a time, for the strip behind the
// preview's slider. The windows lie side by side over the frames' decoded
// samples from the first one on (frame f begins at sample f *
// samplesPerFrame), the last one perhaps shorter.
struct LevelScale {
  Timeline timeline;
  std::int64_t window = 0;   // samples a window: 50 ms at the stream's rate
  std::int64_t windows = 0;  // how many
};
// Windows [first, first + power.size()) of the scale: each one's mean square
// (of every channel's samples) against full scale: 1 is a square wave at full
// scale, 0.5 a sine.
using LevelsPart = std::function<void(std::int64_t first, std::vector<float> power)>;

// Decodes the whole file as findSilences does, in its parts, and measures
// every window once. `begun` hears of the scale once
// the frames are walked; `part` hears of the windows measured, a part at a
// time as each part goes on (from either thread, never at once). True once
// the decoding is done; false with `error` set where the file cannot be
// decoded, false with it empty where `stop` ended the measuring (the walk
// too).
bool measureLevels(const QString &path, const std::function<void(const LevelScale &)> &begun,
                   const LevelsPart &part, const std::atomic<bool> *stop, QString *error);

// measureLevels on a thread of its own, started at once, for the window:
// what it measures comes as signals on the thread that made the reader.
// Its threads run only on what the program's other threads leave (the
// idle policy): the player and the window come first, whatever the strip
// costs; against other programs the program's share is as before.
class LevelReader : public QObject {
  Q_OBJECT

 public:
  explicit LevelReader(const QString &path, QObject *parent = nullptr);
  // Stops the measuring, the walk included, and waits for the thread; what
  // it had measured and not yet delivered is dropped.
  ~LevelReader() override;
  LevelReader(const LevelReader &) = delete;
  LevelReader &operator=(const LevelReader &) = delete;

 signals:
  void begun(const found::LevelScale &scale);
  void measured(qint64 first, const std::vector<float> &power);
  // Once, at the end: whether the file could be decoded.
  void finished(bool decoded);

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace found
