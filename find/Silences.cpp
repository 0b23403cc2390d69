#include "Silences.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <mpg123.h>
#include <thread>
#include <unistd.h>

#include "FileName.h"
#include "Frame.h"

namespace found {
namespace {

// Frames decoded before the second half begins and not heard: the decoder
// warms up on them (its reservoir and its overlap).
constexpr std::int64_t kWarmUp = 8;
// The walk keeps the offset of one frame in so many.
constexpr std::int64_t kStep = 1024;

struct Handle {
  mpg123_handle *mh = nullptr;
  Handle() {
    static const int initialised = mpg123_init();
    (void)initialised;
    int err = MPG123_OK;
    mh = mpg123_new(nullptr, &err);
    if (!mh) return;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Every frame's samples as decoded: frame f begins at sample f * spf.
    mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_format_none(mh);
    const long *rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i) mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  ~Handle() {
    if (mh) mpg123_delete(mh);
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
};

// Runs of quiet windows: the starts p in [from, to) of the windows of
// `window` samples whose energy (the sum of every channel's squared
// samples) is below `threshold`, fed with the decoded samples in order. The
// silence a run makes is then narrowed to what lies between loud samples
// (energy at the level or above) at its ends: the RMS of a window that
// holds a voice's last or first few milliseconds can be below the level.
class QuietRuns {
 public:
  struct Run {
    std::int64_t begin = 0, end = 0;  // the silence's samples [begin, end)
    double energy = 0;                // the sum of its windows' energies
    std::int64_t windows = 0;
  };

  // The quietest stretch of `blocks` windows side by side: where it begins,
  // and the energy of its loudest window.
  struct Quietest {
    std::int64_t begin = -1;
    std::int64_t energy = 0;
    int channels = 1;
  };

  QuietRuns(std::int64_t window, double level, std::int64_t from, std::int64_t to, std::int64_t blocks = 1)
      : blocks_(std::max<std::int64_t>(1, blocks)),
        window_(window),
        loud_(level * level),
        threshold_(level * level * static_cast<double>(window)),
        from_(from),
        to_(to),
        ring_(static_cast<std::size_t>(window), 0),
        next_(from) {}

  // Decoded samples from sample `at` on, `count` of them, interleaved.
  void feed(std::int64_t at, const short *pcm, std::int64_t count, int channels) {
    const std::int64_t first = std::max(at, next_), last = std::min(at + count, to_ + window_ - 1);
    // Quiet: the window's energy, all channels summed, below this.
    const auto below = static_cast<std::int64_t>(std::ceil(threshold_ * channels));
    channels_ = channels;
    for (std::int64_t i = first; i < last; ++i) {
      const short *x = pcm + (i - at) * channels;
      std::int64_t e = std::int64_t{x[0]} * x[0];
      for (int c = 1; c < channels; ++c) e += std::int64_t{x[c]} * x[c];
      if (i >= from_ && i < to_) addToBlock(i, e);
      std::int64_t &slot = ring_[slot_];
      sum_ += e - slot;
      slot = e;
      slot_ = slot_ + 1 == ring_.size() ? 0 : slot_ + 1;
      const std::int64_t p = i - window_ + 1;
      if (p < from_) continue;
      if (sum_ < below) {
        if (!open_) {
          open_ = true;
          // From after the last loud sample in the first quiet window.
          run_ = {p, p, 0, 0};
          for (std::int64_t k = i; k >= p; --k)
            if (static_cast<double>(energyOf(k, i)) >= loud_) {
              run_.begin = k + 1;
              break;
            }
        }
        run_.energy += static_cast<double>(sum_) / channels;
        ++run_.windows;
      } else if (open_) {
        // Up to the first loud sample in the last quiet window.
        std::int64_t end = i;
        for (std::int64_t k = p; k < i; ++k)
          if (static_cast<double>(energyOf(k, i)) >= loud_) {
            end = k;
            break;
          }
        close(end);
      }
    }
    next_ = std::max(next_, last);
  }
  // Where the samples fed end: window starts after it are not known.
  std::vector<Run> finish() {
    if (open_) close(std::min(to_ - 1, next_ - window_) + window_);
    return std::move(runs_);
  }
  // Whether every sample the windows need has been fed.
  bool done() const { return next_ >= to_ + window_ - 1; }
  const Quietest &quietest() const { return quietest_; }

 private:
  // Windows side by side from `from_` on: the loudest of the last `blocks_`
  // of them (a queue of those that may yet be the loudest), and the
  // stretch whose loudest is the least.
  void addToBlock(std::int64_t i, std::int64_t e) {
    blockSum_ += e;
    if (++blockFill_ < window_) return;
    const std::int64_t index = blockIndex_++, begin = i + 1 - window_;
    while (!loudest_.empty() && loudest_.back().second <= blockSum_) loudest_.pop_back();
    loudest_.emplace_back(index, blockSum_);
    if (loudest_.front().first <= index - blocks_) loudest_.pop_front();
    blockSum_ = 0;
    blockFill_ = 0;
    if (index + 1 < blocks_) return;
    if (quietest_.begin < 0 || loudest_.front().second < quietest_.energy)
      quietest_ = {begin - (blocks_ - 1) * window_, loudest_.front().second, channels_};
  }
  std::int64_t blocks_;
  int channels_ = 1;
  std::int64_t blockSum_ = 0, blockFill_ = 0, blockIndex_ = 0;
  std::deque<std::pair<std::int64_t, std::int64_t>> loudest_;
  Quietest quietest_;

  // The energy of sample k, one of the window's samples up to sample i,
  // the last fed.
  std::int64_t energyOf(std::int64_t k, std::int64_t i) const {
    const std::int64_t back = static_cast<std::int64_t>(slot_) - 1 - (i - k);
    return ring_[static_cast<std::size_t>(back < 0 ? back + window_ : back)];
  }
  void close(std::int64_t end) {
    open_ = false;
    run_.end = end;
    if (run_.end > run_.begin) runs_.push_back(run_);
  }

  std::int64_t window_;
  double loud_, threshold_;
  std::int64_t from_, to_;
  std::vector<std::int64_t> ring_;
  std::size_t slot_ = 0;
  std::int64_t sum_ = 0, next_;
  bool open_ = false;
  Run run_;
  std::vector<Run> runs_;
};

// Decodes one part of the file: from the frame that begins at byte `offset`,
// which is frame `firstFrame`, feeding `runs` (QuietRuns, LevelWindows)
// until it has what it needs. Counts the frames decoded in `done`. False
// where libmpg123 cannot start.
template <class Runs>
bool decodePart(const QString &path, std::int64_t offset, std::int64_t end, std::int64_t firstFrame, Runs &runs,
                std::atomic<std::int64_t> &done, const std::atomic<bool> *stop) {
  Handle h;
  if (!h.mh || mpg123_open_feed(h.mh) != MPG123_OK) return false;
  const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  posix_fadvise(fd, offset, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<unsigned char> buffer(1 << 16);
  bool ended = false;
  int channels = 1;
  while (!runs.done() && !(stop && stop->load(std::memory_order_relaxed))) {
    off_t num = 0;
    unsigned char *audio = nullptr;
    std::size_t bytes = 0;
    const int r = mpg123_decode_frame(h.mh, &num, &audio, &bytes);
    if (r == MPG123_NEED_MORE) {
      if (ended) break;
      // Up to where the frames end: nothing after the audio is read.
      const auto want = static_cast<std::size_t>(std::clamp<std::int64_t>(end - offset, 0, static_cast<std::int64_t>(buffer.size())));
      const ssize_t got = want > 0 ? ::pread(fd, buffer.data(), want, offset) : 0;
      if (got <= 0) {
        ended = true;
        mpg123_feed(h.mh, nullptr, 0);
        continue;
      }
      offset += got;
      mpg123_feed(h.mh, buffer.data(), static_cast<std::size_t>(got));
      continue;
    }
    if (r == MPG123_NEW_FORMAT) {
      long rate = 0;
      int encoding = 0;
      mpg123_getformat(h.mh, &rate, &channels, &encoding);
      continue;
    }
    if (r != MPG123_OK) {
      if (r == MPG123_DONE || ended) break;
      continue;
    }
    const std::int64_t samples = static_cast<std::int64_t>(bytes) / 2 / channels;
    runs.feed((firstFrame + num) * samples, reinterpret_cast<const short *>(audio), samples, channels);
    done.fetch_add(1, std::memory_order_relaxed);
  }
  ::close(fd);
  return true;
}

// The windows [first, last) of a level scale, fed with the decoded samples
// in order: each window's mean square, handed on kPartWindows at a time.
class LevelWindows {
 public:
  static constexpr std::size_t kPartWindows = 1024;  // 51 s at 50 ms
  using Deliver = std::function<void(std::int64_t, std::vector<float>)>;

  LevelWindows(std::int64_t window, std::int64_t samples, std::int64_t first, std::int64_t last, Deliver deliver)
      : window_(window),
        samples_(samples),
        end_(std::min(last * window, samples)),
        next_(first * window),
        partFirst_(first),
        deliver_(std::move(deliver)) {}

  // Decoded samples from sample `at` on, `count` of them, interleaved.
  void feed(std::int64_t at, const short *pcm, std::int64_t count, int channels) {
    std::int64_t i = std::max(at, next_);
    const std::int64_t last = std::min(at + count, end_);
    while (i < last) {
      const std::int64_t windowEnd = std::min((i / window_ + 1) * window_, samples_);
      const std::int64_t upTo = std::min(last, windowEnd);
      std::int64_t sum = 0;  // at most 2,400 samples of 2 channels: far within 64 bits
      for (const short *x = pcm + (i - at) * channels, *e = pcm + (upTo - at) * channels; x < e; ++x)
        sum += std::int64_t{*x} * *x;
      energy_ += static_cast<double>(sum) / channels;
      fed_ += upTo - i;
      i = upTo;
      if (i == windowEnd) closeWindow();
    }
    next_ = std::max(next_, i);
  }
  bool done() const { return next_ >= end_; }
  // Where the decoding ended: a window begun counts what it was fed, and
  // the last part goes out.
  void finish() {
    if (fed_ > 0) closeWindow();
    if (!part_.empty()) deliver_(partFirst_, std::move(part_));
    part_.clear();
  }

 private:
  void closeWindow() {
    part_.push_back(static_cast<float>(energy_ / static_cast<double>(fed_) / (32768.0 * 32768.0)));
    energy_ = 0;
    fed_ = 0;
    if (part_.size() < kPartWindows) return;
    const auto count = static_cast<std::int64_t>(part_.size());
    deliver_(partFirst_, std::move(part_));
    part_ = {};
    partFirst_ += count;
  }

  std::int64_t window_, samples_, end_, next_;
  double energy_ = 0;  // of the window being fed, each sample's channels averaged
  std::int64_t fed_ = 0;
  std::int64_t partFirst_;
  std::vector<float> part_;
  Deliver deliver_;
};

}  // namespace

bool measureLevels(const QString &path, const std::function<void(const LevelScale &)> &begun,
                   const LevelsPart &part, const std::atomic<bool> *stop, QString *error) {
  // The frame walk, as findSilences makes it; a stop ends it between two
  // frames, through the error that timelineOf turns into a plain return.
  std::vector<std::int64_t> starts;  // starts[j]: frame (j + 1) * kStep - kWarmUp
  const auto walked = timelineOf(path, error, [&](std::int64_t index, std::int64_t offset) {
    if ((index + kWarmUp) % kStep == 0) {
      starts.push_back(offset);
      if (stop && stop->load(std::memory_order_relaxed)) throw mpeg::ReadError("stopped");
    }
  });
  if (stop && stop->load()) {
    if (error) error->clear();
    return false;
  }
  if (!walked) return false;
  const Timeline &t = *walked;
  const std::int64_t spf = t.samplesPerFrame, total = t.frames * spf;
  const std::int64_t window = std::max<std::int64_t>(1, std::llround(0.05 * static_cast<double>(t.rate)));
  const LevelScale scale{t, window, (total + window - 1) / window};
  if (begun) begun(scale);

  // The halves of findSilences. Each window is measured by one half, whole:
  // the second half's first one begins at or after its first frame heard.
  const std::int64_t j = std::min<std::int64_t>(t.frames / 2 / kStep, static_cast<std::int64_t>(starts.size()));
  const std::int64_t middle = j > 0 ? j * kStep : t.frames;
  const std::int64_t seam = std::min((middle * spf + window - 1) / window, scale.windows);
  std::mutex delivering;
  const LevelWindows::Deliver deliver = [&](std::int64_t first, std::vector<float> power) {
    const std::lock_guard lock(delivering);
    if (part) part(first, std::move(power));
  };
  LevelWindows first(window, total, 0, seam, deliver), second(window, total, seam, scale.windows, deliver);
  std::atomic<std::int64_t> done1{0}, done2{0};
  bool started2 = true;
  std::thread b;
  if (seam < scale.windows)
    b = std::thread([&] {
      started2 =
          decodePart(path, starts[static_cast<std::size_t>(j - 1)], t.audioEnd, middle - kWarmUp, second, done2, stop);
      second.finish();
    });
  const bool started1 = decodePart(path, 0, t.audioEnd, 0, first, done1, stop);
  first.finish();
  if (b.joinable()) b.join();
  if (stop && stop->load()) {
    if (error) error->clear();
    return false;
  }
  if (!started1 || !started2) {
    if (error) *error = QStringLiteral("libmpg123 cannot decode it");
    return false;
  }
  return true;
}

LevelReader::LevelReader(const QString &path, QObject *parent) : QObject(parent) {
  thread_ = std::thread([this, path] {
    // The decoding threads inherit the policy.
    const sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
    QString why;
    const bool decoded = measureLevels(
        path,
        [this](const LevelScale &scale) {
          QMetaObject::invokeMethod(this, [this, scale] { emit begun(scale); }, Qt::QueuedConnection);
        },
        [this](std::int64_t first, std::vector<float> power) {
          QMetaObject::invokeMethod(
              this, [this, first, power = std::move(power)] { emit measured(first, power); }, Qt::QueuedConnection);
        },
        &stop_, &why);
    if (stop_) return;
    QMetaObject::invokeMethod(this, [this, decoded] { emit finished(decoded); }, Qt::QueuedConnection);
  });
}

LevelReader::~LevelReader() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::optional<SilencesFound> findSilences(const QString &path, const SilenceSettings &settings,
                                          const std::function<void(std::int64_t, std::int64_t)> &progress,
                                          const std::atomic<bool> *stop, QString *error) {
  // The frame walk: the timeline, and the offsets to start a part at.
  std::vector<std::int64_t> starts;  // starts[j]: frame (j + 1) * kStep - kWarmUp
  SilencesFound result;
  const auto walked = timelineOf(path, error, [&](std::int64_t index, std::int64_t offset) {
    if ((index + kWarmUp) % kStep == 0) starts.push_back(offset);
  });
  if (!walked) return std::nullopt;
  result.timeline = *walked;

  const Timeline &t = result.timeline;
  const std::int64_t spf = t.samplesPerFrame, total = t.frames * spf;
  const std::int64_t window = std::max<std::int64_t>(1, std::llround(0.05 * static_cast<double>(t.rate)));
  const double amplitude = std::pow(10.0, settings.levelDb / 20) * 32768;

  // Two halves, the second started a few frames early.
  const std::int64_t j = std::min<std::int64_t>(t.frames / 2 / kStep, static_cast<std::int64_t>(starts.size()));
  const std::int64_t middle = j > 0 ? j * kStep : t.frames;
  const auto least = static_cast<std::int64_t>(std::llround(settings.minSeconds * static_cast<double>(t.rate)));
  const std::int64_t blocks = (least + window - 1) / window;
  QuietRuns first(window, amplitude, 0, middle * spf, blocks), second(window, amplitude, middle * spf, total, blocks);
  std::atomic<std::int64_t> done1{0}, done2{0};
  std::atomic<bool> finished1{false}, finished2{j == 0};
  bool started1 = false, started2 = true;
  std::thread a([&] {
    started1 = decodePart(path, 0, t.audioEnd, 0, first, done1, stop);
    finished1 = true;
  });
  std::thread b;
  if (j > 0)
    b = std::thread([&] {
      started2 =
          decodePart(path, starts[static_cast<std::size_t>(j - 1)], t.audioEnd, middle - kWarmUp, second, done2, stop);
      finished2 = true;
    });
  while (!finished1 || !finished2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (progress) progress(std::min(done1.load() + done2.load(), t.frames), t.frames);
  }
  a.join();
  if (b.joinable()) b.join();
  if (stop && stop->load()) {
    if (error) error->clear();
    return std::nullopt;
  }
  if (!started1 || !started2) {
    if (error) *error = QStringLiteral("libmpg123 cannot decode it");
    return std::nullopt;
  }
  if (progress) progress(t.frames, t.frames);

  std::vector<QuietRuns::Run> runs = first.finish();
  for (const QuietRuns::Run &r : second.finish()) {
    if (!runs.empty() && runs.back().end >= r.begin) {  // one silence across the halves' seam
      runs.back().end = r.end;
      runs.back().energy += r.energy;
      runs.back().windows += r.windows;
    } else {
      runs.push_back(r);
    }
  }
  std::vector<Marker> markers;
  for (const QuietRuns::Run &r : runs) {
    // What is heard: not the decoder's delay before it, nor the padding after.
    const std::int64_t begin = std::max(r.begin, t.trimBegin), end = std::min(t.trimEnd, r.end);
    if (end - begin < least) continue;
    // A silence within a window of the start or the end separates nothing:
    // no piece of it alone.
    const bool edge = begin - t.trimBegin < window || t.trimEnd - end < window;
    const double rate = static_cast<double>(t.rate);
    const double mean =
        r.energy / static_cast<double>(std::max<std::int64_t>(1, r.windows) * window) / (32768.0 * 32768.0);
    result.silences.push_back({static_cast<double>(begin - t.trimBegin) / rate,
                               static_cast<double>(end - t.trimBegin) / rate,
                               mean > 0 ? 10 * std::log10(mean) : -200});
    if (!edge) {
      result.silences.back().frame =
          std::clamp<std::int64_t>(std::llround(static_cast<double>(begin + end) / 2 / spf), 0, t.frames);
      markers.push_back({result.silences.back().frame, {}, {}});
    }
  }
  // The quietest stretch of the least length, for a search that finds none.
  for (const QuietRuns *half : {&first, &second}) {
    const QuietRuns::Quietest &q = half->quietest();
    if (q.begin < 0 || (result.quietest && q.energy >= result.quietest->energy)) continue;
    const double mean = static_cast<double>(q.energy) / static_cast<double>(window * q.channels) / (32768.0 * 32768.0);
    result.quietest = Quietest{static_cast<double>(std::max<std::int64_t>(0, q.begin - t.trimBegin)) /
                                   static_cast<double>(t.rate),
                               mean > 0 ? 10 * std::log10(mean) : -200, q.energy};
  }
  result.markers = withEnds(std::move(markers), t.frames);
  return result;
}

std::vector<Marker> longestSilences(const SilencesFound &found, int pieces) {
  std::vector<const Silence *> parting;
  for (const Silence &s : found.silences)
    if (s.frame >= 0) parting.push_back(&s);
  if (pieces > 0 && static_cast<std::size_t>(pieces - 1) < parting.size()) {
    std::stable_sort(parting.begin(), parting.end(),
                     [](const Silence *a, const Silence *b) { return a->end - a->start > b->end - b->start; });
    parting.resize(static_cast<std::size_t>(pieces - 1));
  }
  std::vector<Marker> markers;
  for (const Silence *s : parting) markers.push_back({s->frame, {}, {}});
  return withEnds(std::move(markers), found.timeline.frames);
}

QString quietestHint(const SilencesFound &found, const SilenceSettings &settings) {
  if (!found.quietest) return {};
  const auto whole = static_cast<long long>(found.quietest->start);
  return QStringLiteral("the quietest %1 s is at %2 dB, at %3:%4:%5")
      .arg(settings.minSeconds)
      .arg(found.quietest->levelDb, 0, 'f', 1)
      .arg(whole / 3600)
      .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

std::optional<int> levelToFind(const SilencesFound &found) {
  if (!found.quietest) return std::nullopt;
  // Its windows side by side are measured; the search slides them sample by
  // sample, and finds a little more now and then: a margin of 2 dB.
  return std::clamp(static_cast<int>(std::ceil(found.quietest->levelDb + 2)), -120, 0);
}

}  // namespace found
