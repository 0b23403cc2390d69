#pragma once

// What a listener hears: the monitor of the private PulseAudio server's null
// sink (scripts/with-pulse) is recorded with parec, every sample placed on the
// monotonic clock, and any moment of the recording is found in a decode of
// the source by cross-correlation. Matches of real sound score 1.00.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <mpg123.h>
#include <mutex>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QString>

extern char **environ;

namespace heard {

inline constexpr int kRate = 44100;

// The monotonic clock in nanoseconds: the same clock for the recording and for
// what the window shows.
inline std::int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// The source as libmpg123 decodes it (gapless), mixed down to mono as the
// sound server mixes it for a mono recording (the mean of the channels), and
// where each frame begins in that decode.
struct Reference {
  std::vector<float> samples;
  int samplesPerFrame = 1152;
  std::int64_t delay = 0;  // decoded samples before frame 0's first, dropped

  explicit Reference(const QString &path) {
    mpg123_init();
    mpg123_handle *mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(mh);
    mpg123_format(mh, kRate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh, QFile::encodeName(path).constData()) != MPG123_OK || mpg123_scan(mh) != MPG123_OK) {
      mpg123_delete(mh);
      return;
    }
    samplesPerFrame = mpg123_spf(mh);
    long rate = 0;
    int channels = 1, encoding = 0;
    mpg123_getformat(mh, &rate, &channels, &encoding);
    // Frame n begins where a decode sought to it begins.
    mpg123_seek_frame(mh, 10, SEEK_SET);
    delay = 10 * samplesPerFrame - mpg123_tell(mh);
    mpg123_seek_frame(mh, 0, SEEK_SET);
    std::vector<std::int16_t> block(8192);
    size_t done = 0;
    int r = MPG123_OK;
    while ((r = mpg123_read(mh, reinterpret_cast<unsigned char *>(block.data()), block.size() * 2, &done)) ==
               MPG123_OK ||
           r == MPG123_NEW_FORMAT)
      for (size_t i = 0; i + channels <= done / 2; i += channels) {
        float sum = 0;
        for (int c = 0; c < channels; ++c) sum += block[i + c];
        samples.push_back(sum / channels / 32768.0f);
      }
    mpg123_close(mh);
    mpg123_delete(mh);
  }

  // The frame whose sound sample s of the decode is.
  std::int64_t frameOf(std::int64_t s) const { return (s + delay) / samplesPerFrame; }
  double framesPerSecond() const { return static_cast<double>(kRate) / samplesPerFrame; }
};

struct Match {
  std::int64_t sample = -1;  // in the reference decode
  double score = 0;          // normalized correlation, 1.00 for the same sound
};

// Records the sink's monitor for as long as it lives.
class Recorder {
 public:
  explicit Recorder(const QString &sink) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string device = (sink + QStringLiteral(".monitor")).toStdString();
    std::vector<std::string> args = {"parec",          "-d",           device,         "--raw",
                                     "--format=s16le", "--rate=44100", "--channels=1", "--latency-msec=5"};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "parec", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    fd_ = fds[0];
    reader_ = std::thread([this] { readLoop(); });
  }
  ~Recorder() { stop(); }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Waits until the recording has reached the present.
  bool running(int timeoutMs = 3000) const {
    const std::int64_t until = nowNs() + std::int64_t{timeoutMs} * 1000000;
    while (nowNs() < until) {
      {
        std::lock_guard lock(mutex_);
        if (samples_.size() > kRate / 10) return true;
      }
      usleep(5000);
    }
    return false;
  }

  // The recording's sample played at monotonic time t, if recorded.
  std::optional<std::int64_t> indexAt(std::int64_t t) const {
    std::lock_guard lock(mutex_);
    if (start_ == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    const std::int64_t i = (t - start_) * kRate / 1000000000;
    if (i < 0 || i >= static_cast<std::int64_t>(samples_.size())) return std::nullopt;
    return i;
  }
  std::int64_t timeOf(std::int64_t index) const {
    std::lock_guard lock(mutex_);
    return start_ + index * 1000000000 / kRate;
  }
  std::vector<float> samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
  }

 private:
  void readLoop() {
    std::vector<std::int16_t> chunk(4096);
    std::size_t carry = 0;  // a byte of a sample split between reads
    char odd = 0;
    for (;;) {
      char *at = reinterpret_cast<char *>(chunk.data());
      if (carry) at[0] = odd;
      const ssize_t n = ::read(fd_, at + carry, chunk.size() * 2 - carry);
      if (n <= 0) return;
      const std::int64_t arrived = nowNs();
      const std::size_t bytes = carry + static_cast<std::size_t>(n);
      carry = bytes % 2;
      if (carry) odd = at[bytes - 1];
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < bytes / 2; ++i) samples_.push_back(chunk[i] / 32768.0f);
      // The recording's clock: the earliest that the samples so far could all
      // have been played, over every arrival (the lower envelope).
      const std::int64_t start = arrived - static_cast<std::int64_t>(samples_.size()) * 1000000000 / kRate;
      start_ = std::min(start_, start);
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::vector<float> samples_;
  std::int64_t start_ = std::numeric_limits<std::int64_t>::max();
};

// Where the `window` samples of `rec` from `at` on lie in `ref`, searched
// within `radius` samples of `hint` (all of it when hint < 0): first on sums
// of 8 samples, then sample by sample around the best of those.
inline Match find(const std::vector<float> &rec, std::int64_t at, const std::vector<float> &ref, std::int64_t hint,
                  std::int64_t radius, int window = 4096) {
  Match best;
  const auto n = static_cast<std::int64_t>(ref.size());
  if (at < 0 || at + window > static_cast<std::int64_t>(rec.size()) || n < window) return best;
  double energy = 0;
  for (int i = 0; i < window; ++i) energy += double(rec[at + i]) * rec[at + i];
  if (energy < 1e-3 * window * 0.01) return best;  // silence: nothing to find

  auto score = [&](std::int64_t s, int step) {
    double xy = 0, yy = 0, xx = 0;
    for (int i = 0; i + step <= window; i += step) {
      double x = 0, y = 0;
      for (int k = 0; k < step; ++k) {
        x += rec[at + i + k];
        y += ref[s + i + k];
      }
      xy += x * y;
      xx += x * x;
      yy += y * y;
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
  };
  const std::int64_t lo = hint < 0 ? 0 : std::max<std::int64_t>(0, hint - radius);
  const std::int64_t hi = hint < 0 ? n - window : std::min<std::int64_t>(n - window, hint + radius);
  std::int64_t coarse = -1;
  double coarseScore = -1;
  for (std::int64_t s = lo; s <= hi; s += 4) {
    const double c = score(s, 8);
    if (c > coarseScore) {
      coarseScore = c;
      coarse = s;
    }
  }
  if (coarse < 0) return best;
  for (std::int64_t s = std::max<std::int64_t>(0, coarse - 8); s <= std::min(n - window, coarse + 8); ++s) {
    const double c = score(s, 1);
    if (c > best.score) best = {s, c};
  }
  return best;
}

// A stretch of the recording that is one unbroken stretch of the source.
struct Stretch {
  std::int64_t recStart = -1, recEnd = -1;  // in the recording
  std::int64_t refStart = -1, refEnd = -1;  // in the reference decode
  std::int64_t firstFrame = -1, lastFrame = -1;
};

inline std::int64_t sampleOfFrame(const Reference &ref, std::int64_t frame) {
  return std::max<std::int64_t>(0, frame * ref.samplesPerFrame - ref.delay);
}

// The first stretch heard after time `from`, expected within `radiusFrames`
// of `frame`: found by a match, then followed out block by block (64
// samples that correlate with the source's at the same distance) until two
// blocks in a row disagree.
inline Stretch stretchAfter(const Recorder &recorder, const Reference &reference, std::int64_t from, std::int64_t frame,
                            std::int64_t radiusFrames = 40) {
  Stretch s;
  const std::vector<float> rec = recorder.samples();
  const std::vector<float> &ref = reference.samples;
  const auto begin = recorder.indexAt(from);
  if (!begin) return s;
  constexpr int kBlock = 64;
  for (std::int64_t r = *begin; r + 4096 < static_cast<std::int64_t>(rec.size()); r += 441) {
    const Match m = find(rec, r, ref, sampleOfFrame(reference, frame), radiusFrames * reference.samplesPerFrame);
    // A window that straddles the start of the sound still scores well, but
    // the stretch is followed out from its first block: anchor only on a
    // window that lies wholly in the sound.
    if (m.score < 0.98) continue;
    auto same = [&](std::int64_t j) {
      const std::int64_t a = r + j, b = m.sample + j;
      if (a < 0 || b < 0 || a + kBlock > static_cast<std::int64_t>(rec.size()) ||
          b + kBlock > static_cast<std::int64_t>(ref.size()))
        return false;
      double xy = 0, xx = 0, yy = 0;
      for (int i = 0; i < kBlock; ++i) {
        xy += double(rec[a + i]) * ref[b + i];
        xx += double(rec[a + i]) * rec[a + i];
        yy += double(ref[b + i]) * ref[b + i];
      }
      return xx > 0 && yy > 0 && xy / std::sqrt(xx * yy) > 0.9;
    };
    auto edge = [&](int dir) {
      std::int64_t j = 0, lastSame = 0;
      while (std::abs(j - lastSame) < 2 * kBlock && std::abs(j) < 100 * kRate) {
        j += dir * kBlock;
        if (same(j)) lastSame = j;
      }
      return dir > 0 ? lastSame + kBlock : lastSame;
    };
    const std::int64_t back = edge(-1), ahead = edge(+1);
    s.recStart = r + back;
    s.recEnd = r + ahead;
    s.refStart = m.sample + back;
    s.refEnd = m.sample + ahead;
    s.firstFrame = reference.frameOf(s.refStart);
    s.lastFrame = reference.frameOf(s.refEnd - 1);
    return s;
  }
  return s;
}

// The frame heard at time t, searched within half a second of `hint`.
inline std::optional<std::int64_t> frameAt(const Recorder &recorder, const std::vector<float> &rec,
                                           const Reference &reference, std::int64_t t, std::int64_t hint) {
  const auto at = recorder.indexAt(t);
  if (!at) return std::nullopt;
  const Match m = find(rec, *at, reference.samples, sampleOfFrame(reference, hint), kRate / 2);
  if (m.score < 0.9) return std::nullopt;
  return reference.frameOf(m.sample);
}

inline double percentile(std::vector<double> v, double p) {
  if (v.empty()) return std::numeric_limits<double>::infinity();
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(std::min<double>(v.size() - 1, p * (v.size() - 1) + 0.5))];
}

}  // namespace heard
