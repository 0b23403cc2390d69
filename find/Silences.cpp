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

// Frames decoded before a part begins and not heard: the decoder warms up
// on them (its reservoir and its overlap).
constexpr std::int64_t kWarmUp = 8;
// The walk keeps the offset of one frame in so many: parts begin there.
constexpr std::int64_t kStep = 64;
// Parts of about so many frames (27 s at 44.1 kHz), no more than so many:
// more parts than cores, so that the cores stay busy to the end.
constexpr std::int64_t kFramesAPart = 1024;
constexpr std::int64_t kMostParts = 64;

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
//
// The samples' energies are kept as running sums, so that any window's
// energy is one difference. The windows are judged a block of starts at a
// time, from the energy of all the samples the block's windows hold and of
// those every one of them holds: only a block whose windows cross the level
// is gone through start by start.
class QuietRuns {
 public:
  struct Run {
    std::int64_t begin = 0, end = 0;  // the silence's samples [begin, end)
    double energy = 0;                // the sum of its windows' energies
    std::int64_t windows = 0;
    bool atFrom = false;  // opened at the first window: the part before may go on in it
  };

  // The quietest stretch of `blocks` windows side by side: where it begins,
  // and the energy of its loudest window.
  struct Quietest {
    std::int64_t begin = -1;
    std::int64_t energy = 0;
    int channels = 1;
  };

  // What a part found: the runs it closed, the one still open at its end
  // (its end there as if the file ended), and how its first window went: a
  // run open in the part before goes on where that window is quiet, and
  // ends at `leadEnd` where it is not.
  struct Ends {
    std::vector<Run> runs;
    std::optional<Run> open;
    bool judged = false;  // any window at all
    bool firstQuiet = false;
    std::int64_t leadEnd = 0;
  };

  // Runs shorter than `least` samples are not kept (where they lie wholly
  // in the part): they make no silence, and the memory stays flat with the
  // file's length.
  QuietRuns(std::int64_t window, double level, std::int64_t from, std::int64_t to, std::int64_t blocks,
            std::int64_t least)
      : blocks_(std::max<std::int64_t>(1, blocks)),
        least_(least),
        window_(window),
        loud_(static_cast<std::int64_t>(std::ceil(level * level))),
        threshold_(level * level * static_cast<double>(window)),
        from_(from),
        to_(to),
        fed_(from),
        next_(from),
        side_((from + window - 1) / window * window) {}

  // Decoded samples from sample `at` on, `count` of them, interleaved.
  void feed(std::int64_t at, const short *pcm, std::int64_t count, int channels) {
    const std::int64_t limit = to_ + window_ - 1;
    const std::int64_t first = std::max(at, fed_), last = std::min(at + count, limit);
    // Quiet: the window's energy, all channels summed, below this.
    below_ = static_cast<std::uint64_t>(std::ceil(threshold_ * channels));
    channels_ = channels;
    if (last <= first) return;
    makeRoom(last - fed_);
    // Samples a frame that could not be decoded leaves out count as silent.
    for (; fed_ < first; ++fed_) sums_.push_back(sums_.back());
    std::uint64_t sum = sums_.back();
    const short *x = pcm + (first - at) * channels;
    const std::int64_t n = last - first;
    const std::size_t base = sums_.size();
    sums_.resize(base + static_cast<std::size_t>(n));
    std::uint64_t *out = sums_.data() + base;
    if (channels == 1) {
      for (std::int64_t k = 0; k < n; ++k) out[k] = sum += static_cast<std::uint64_t>(std::int32_t{x[k]} * x[k]);
    } else if (channels == 2) {
      for (std::int64_t k = 0; k < n; ++k)
        out[k] = sum += static_cast<std::uint64_t>(std::int32_t{x[2 * k]} * x[2 * k]) +
                        static_cast<std::uint64_t>(std::int32_t{x[2 * k + 1]} * x[2 * k + 1]);
    } else {
      for (std::int64_t k = 0; k < n; ++k)
        for (int c = 0; c < channels; ++c)
          out[k] = sum += static_cast<std::uint64_t>(std::int32_t{x[k * channels + c]} * x[k * channels + c]);
    }
    fed_ = last;
    sideBySide();
    judge();
  }

  // Where the samples fed end: window starts after it are not known.
  Ends finish() {
    if (open_) {
      run_.end = std::min(to_ - 1, fed_ - window_) + window_;
      ends_.open = run_;
      open_ = false;
    }
    sums_ = {};
    return std::move(ends_);
  }
  // Whether every sample the windows need has been fed.
  bool done() const { return fed_ >= to_ + window_ - 1; }
  const Quietest &quietest() const { return quietest_; }

 private:
  static constexpr std::int64_t kBlock = 128;  // window starts judged at once

  // The running sum up to sample n (not included): sums_[n - base_].
  std::uint64_t sumTo(std::int64_t n) const { return sums_[static_cast<std::size_t>(n - base_)]; }
  std::uint64_t energy(std::int64_t k) const { return sumTo(k + 1) - sumTo(k); }
  std::uint64_t windowAt(std::int64_t p) const { return sumTo(p + window_) - sumTo(p); }

  // Room for `more` sums: those before the first window still to judge go.
  void makeRoom(std::int64_t more) {
    if (sums_.empty()) {
      sums_.reserve(static_cast<std::size_t>(4 * window_ + 8192));
      sums_.push_back(0);
      base_ = fed_;
    }
    const std::int64_t keep = std::min(next_, side_);
    if (keep - base_ > 2 * window_ + 4096 &&
        static_cast<std::int64_t>(sums_.size()) + more > static_cast<std::int64_t>(sums_.capacity())) {
      sums_.erase(sums_.begin(), sums_.begin() + static_cast<std::ptrdiff_t>(keep - base_));
      base_ = keep;
    }
  }

  // Windows side by side (from sample 0, as in one part, where the part
  // holds them whole): the loudest of the last `blocks_`
  // of them (a queue of those that may yet be the loudest), and the
  // stretch whose loudest is the least.
  void sideBySide() {
    for (; side_ + window_ <= std::min(fed_, to_); side_ += window_) {
      const auto e = static_cast<std::int64_t>(windowAt(side_));
      const std::int64_t index = sideIndex_++;
      while (!loudest_.empty() && loudest_.back().second <= e) loudest_.pop_back();
      loudest_.emplace_back(index, e);
      if (loudest_.front().first <= index - blocks_) loudest_.pop_front();
      if (index + 1 < blocks_) continue;
      if (quietest_.begin < 0 || loudest_.front().second < quietest_.energy)
        quietest_ = {side_ - (blocks_ - 1) * window_, loudest_.front().second, channels_};
    }
  }

  // Every window whose samples are all fed.
  void judge() {
    const std::int64_t end = std::min(to_, fed_ - window_ + 1);
    while (next_ < end) {
      const std::int64_t a = next_, b = std::min(end, a + kBlock);
      if (a == from_) {
        judgeOne(a);
        next_ = a + 1;
        continue;
      }
      // Every window of the block holds [b - 1, a + window_) and lies in [a, b - 1 + window_).
      const std::uint64_t most = sumTo(b - 1 + window_) - sumTo(a);
      const std::uint64_t least = b - 1 < a + window_ ? sumTo(a + window_) - sumTo(b - 1) : 0;
      if (most < below_) {
        if (!open_) open(a);
        std::uint64_t sum = 0;
        for (std::int64_t p = a; p < b; ++p) sum += windowAt(p);
        run_.energy += static_cast<double>(sum) / channels_;
        run_.windows += b - a;
      } else if (least >= below_) {
        if (open_) close(a);
      } else {
        for (std::int64_t p = a; p < b; ++p) judgeOne(p);
      }
      next_ = b;
    }
  }
  void judgeOne(std::int64_t p) {
    const std::uint64_t e = windowAt(p);
    const bool quiet = e < below_;
    if (p == from_) {
      ends_.judged = true;
      ends_.firstQuiet = quiet;
      if (!quiet) ends_.leadEnd = endIn(p);
    }
    if (quiet) {
      if (!open_) open(p);
      run_.energy += static_cast<double>(e) / channels_;
      ++run_.windows;
    } else if (open_) {
      close(p);
    }
  }
  // From after the last loud sample in the first quiet window, at p.
  void open(std::int64_t p) {
    open_ = true;
    run_ = {p, p, 0, 0, p == from_};
    for (std::int64_t k = p + window_ - 1; k >= p; --k)
      if (energy(k) >= static_cast<std::uint64_t>(loud_)) {
        run_.begin = k + 1;
        break;
      }
  }
  // Up to the first loud sample in the window at p, the first loud one after
  // quiet ones (its last sample not looked at).
  std::int64_t endIn(std::int64_t p) const {
    for (std::int64_t k = p; k < p + window_ - 1; ++k)
      if (energy(k) >= static_cast<std::uint64_t>(loud_)) return k;
    return p + window_ - 1;
  }
  void close(std::int64_t p) {
    open_ = false;
    run_.end = endIn(p);
    if (run_.end - run_.begin >= std::max<std::int64_t>(1, least_) || run_.atFrom) ends_.runs.push_back(run_);
  }

  std::int64_t blocks_, least_;
  int channels_ = 1;
  std::int64_t sideIndex_ = 0;
  std::deque<std::pair<std::int64_t, std::int64_t>> loudest_;
  Quietest quietest_;

  std::int64_t window_;
  std::int64_t loud_;
  double threshold_;
  std::uint64_t below_ = 0;
  std::int64_t from_, to_;
  std::vector<std::uint64_t> sums_;
  std::int64_t base_ = 0;  // the sample sums_[0] is the sum up to
  std::int64_t fed_;       // samples fed up to here
  std::int64_t next_;      // the first window start not judged
  std::int64_t side_;      // the next window side by side
  bool open_ = false;
  Run run_;
  Ends ends_;
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
      length_ = windowEnd - i / window_ * window_;
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
    // Over the window's whole length: samples that could not be decoded
    // count as silence, as the silence search counts them.
    part_.push_back(static_cast<float>(energy_ / static_cast<double>(length_) / (32768.0 * 32768.0)));
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
  std::int64_t fed_ = 0, length_ = 1;
  std::int64_t partFirst_;
  std::vector<float> part_;
  Deliver deliver_;
};

// Where the file is decoded from, part by part: part k holds frames
// [frame[k], frame[k + 1]) (the last one up to the end), and its decoding
// begins kWarmUp frames before its first one (at byte offset[k], frame
// decodedFrom[k]), but for the first part's.
struct Parts {
  std::vector<std::int64_t> frame, offset, decodedFrom;
  // The window starts that the silence search judges in each part, [from, to).
  std::vector<std::int64_t> from, to;
  std::size_t count() const { return frame.size(); }
};

// The frame walk of `path`: its timeline, and where parts of it can begin.
struct Walked {
  Timeline timeline;
  std::vector<std::int64_t> starts;  // starts[j]: the offset of frame (j + 1) * kStep - kWarmUp
};
std::optional<Walked> walkOf(const QString &path, QString *error, const std::atomic<bool> *stop) {
  Walked w;
  const auto walked = timelineOf(path, error, [&](std::int64_t index, std::int64_t offset) {
    if ((index + kWarmUp) % kStep == 0) {
      w.starts.push_back(offset);
      // A stop ends the walk between two frames, through the error that
      // timelineOf turns into a plain return.
      if (stop && stop->load(std::memory_order_relaxed)) throw mpeg::ReadError("stopped");
    }
  });
  if (stop && stop->load()) {
    if (error) error->clear();
    return std::nullopt;
  }
  if (!walked) return std::nullopt;
  w.timeline = *walked;
  return w;
}

// `wanted` parts of about equal length (as many as the file's length calls
// for where 0), each beginning at a multiple of kStep frames.
Parts partsOf(const Walked &w, int wanted) {
  const std::int64_t frames = w.timeline.frames;
  const std::int64_t count = wanted > 0 ? wanted : std::clamp<std::int64_t>(frames / kFramesAPart, 1, kMostParts);
  Parts p;
  p.frame.push_back(0);
  p.offset.push_back(0);
  p.decodedFrom.push_back(0);
  for (std::int64_t k = 1; k < count; ++k) {
    const std::int64_t j = k * frames / count / kStep;  // at frame j * kStep
    if (j < 1 || j * kStep <= p.frame.back() || j * kStep >= frames || j > static_cast<std::int64_t>(w.starts.size()))
      continue;
    p.frame.push_back(j * kStep);
    p.offset.push_back(w.starts[static_cast<std::size_t>(j - 1)]);
    p.decodedFrom.push_back(j * kStep - kWarmUp);
  }
  const std::int64_t spf = w.timeline.samplesPerFrame;
  for (std::size_t k = 0; k < p.count(); ++k) {
    p.from.push_back(p.frame[k] * spf);
    p.to.push_back((k + 1 < p.count() ? p.frame[k + 1] : frames) * spf);
  }
  return p;
}

// The parts of a file whose level is known, window by window side by side
// (measureLevels' `power`), where a silence of `least` samples can lie. Its
// quiet window starts fill a stretch of at least least - window + 1
// samples (its ends are narrowed by less than a window each), which holds
// `need` whole windows side by side, each quiet. A part runs from the loud
// window before a stretch of so many quiet ones to the loud one after it,
// decoded from the kStep frame before; parts whose decoding would meet are
// one. Nothing where the levels cannot rule out a stretch.
std::optional<Parts> quietPartsOf(const Walked &w, const std::vector<float> &power, std::int64_t window,
                                  double levelDb, std::int64_t least) {
  const std::int64_t need = (least - window + 1) / window;
  if (need < 1) return std::nullopt;
  const std::int64_t spf = w.timeline.samplesPerFrame, total = w.timeline.frames * spf;
  const auto n = static_cast<std::int64_t>(power.size());
  // Quiet, or so near it that a float cannot tell; the last windows, short
  // or not, always (a window start near the end reaches past it).
  const double quiet = std::pow(10.0, levelDb / 10) * 1.001;
  const auto maybeQuiet = [&](std::int64_t m) { return m >= n - 2 || power[static_cast<std::size_t>(m)] < quiet; };
  Parts p;
  for (std::int64_t m = 0; m < n;) {
    if (!maybeQuiet(m)) {
      ++m;
      continue;
    }
    std::int64_t e = m;
    while (e < n && maybeQuiet(e)) ++e;
    if (e - m >= need) {
      const std::int64_t from = std::max<std::int64_t>(0, (m - 1) * window), to = e == n ? total : e * window + 1;
      const std::int64_t j = std::min(from / spf / kStep, static_cast<std::int64_t>(w.starts.size()));
      const std::int64_t decodedFrom = j > 0 ? j * kStep - kWarmUp : 0;
      if (p.count() > 0 && decodedFrom * spf <= p.to.back() + window) {
        p.to.back() = to;
      } else {
        p.frame.push_back(j * kStep);
        p.offset.push_back(j > 0 ? w.starts[static_cast<std::size_t>(j - 1)] : 0);
        p.decodedFrom.push_back(decodedFrom);
        p.from.push_back(from);
        p.to.push_back(to);
      }
    }
    m = e;
  }
  return p;
}

// Runs work(0) ... work(count - 1), each once, on as many threads as the
// machine has cores (no more than the parts), each thread taking the next
// part as it finishes one: a slow part does not leave a core idle. `wait`,
// where given, is called on this thread every 30 ms meanwhile; without it
// this thread takes parts too.
void inTurn(std::size_t count, const std::function<void(std::size_t)> &work, const std::function<void()> &wait = {}) {
  std::atomic<std::size_t> next{0};
  std::atomic<unsigned> running{0};
  const auto take = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < count;) work(k);
    running.fetch_sub(1);
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const auto threads = static_cast<unsigned>(std::min<std::size_t>(cores, count));
  std::vector<std::thread> pool;
  running = threads;
  for (unsigned i = wait ? 0 : 1; i < threads; ++i) pool.emplace_back(take);
  if (wait) {
    while (running.load() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      wait();
    }
  } else if (threads > 0) {
    take();
  }
  for (std::thread &t : pool) t.join();
}

}  // namespace

bool measureLevels(const QString &path, const std::function<void(const LevelScale &)> &begun,
                   const LevelsPart &part, const std::atomic<bool> *stop, QString *error) {
  const auto walked = walkOf(path, error, stop);
  if (!walked) return false;
  const Timeline &t = walked->timeline;
  const std::int64_t spf = t.samplesPerFrame, total = t.frames * spf;
  const std::int64_t window = std::max<std::int64_t>(1, std::llround(0.05 * static_cast<double>(t.rate)));
  const LevelScale scale{t, window, (total + window - 1) / window};
  if (begun) begun(scale);

  // The parts of findSilences. Each window is measured by one part, whole:
  // a part's first one begins at or after its first frame heard.
  const Parts parts = partsOf(*walked, 0);
  const auto seam = [&](std::size_t k) {
    return k < parts.count() ? std::min((parts.frame[k] * spf + window - 1) / window, scale.windows) : scale.windows;
  };
  std::mutex delivering;
  const LevelWindows::Deliver deliver = [&](std::int64_t first, std::vector<float> power) {
    const std::lock_guard lock(delivering);
    if (part) part(first, std::move(power));
  };
  std::atomic<std::int64_t> done{0};
  std::atomic<bool> failed{false};
  inTurn(parts.count(), [&](std::size_t k) {
    if (seam(k) >= seam(k + 1)) return;
    LevelWindows windows(window, total, seam(k), seam(k + 1), deliver);
    if (!decodePart(path, parts.offset[k], t.audioEnd, parts.decodedFrom[k], windows, done, stop)) failed = true;
    windows.finish();
  });
  if (stop && stop->load()) {
    if (error) error->clear();
    return false;
  }
  if (failed) {
    if (error) *error = QStringLiteral("libmpg123 cannot decode it");
    return false;
  }
  return true;
}

bool decodeOnly(const QString &path, int parts, QString *error) {
  const auto walked = walkOf(path, error, nullptr);
  if (!walked) return false;
  const Timeline &t = walked->timeline;
  const Parts p = partsOf(*walked, parts);
  // What a part's decoding feeds: nothing is looked at.
  struct Nothing {
    std::int64_t to, fed = 0;
    void feed(std::int64_t at, const short *, std::int64_t count, int) { fed = at + count; }
    bool done() const { return fed >= to; }
  };
  std::atomic<std::int64_t> done{0};
  std::atomic<bool> failed{false};
  inTurn(p.count(), [&](std::size_t k) {
    Nothing nothing{(k + 1 < p.count() ? p.frame[k + 1] : t.frames) * t.samplesPerFrame};
    if (!decodePart(path, p.offset[k], t.audioEnd, p.decodedFrom[k], nothing, done, nullptr)) failed = true;
  });
  if (failed && error) *error = QStringLiteral("libmpg123 cannot decode it");
  return !failed;
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
                                          const std::atomic<bool> *stop, QString *error, int parts,
                                          const std::vector<float> *levels) {
  const auto walked = walkOf(path, error, nullptr);
  if (!walked) return std::nullopt;
  SilencesFound result;
  result.timeline = walked->timeline;
  const Timeline &t = result.timeline;
  const std::int64_t spf = t.samplesPerFrame, total = t.frames * spf;
  const std::int64_t window = std::max<std::int64_t>(1, std::llround(0.05 * static_cast<double>(t.rate)));
  const double amplitude = std::pow(10.0, settings.levelDb / 20) * 32768;
  const auto least = static_cast<std::int64_t>(std::llround(settings.minSeconds * static_cast<double>(t.rate)));
  const std::int64_t blocks = (least + window - 1) / window;

  // Where the levels are known, only the stretches that may be silent.
  const std::int64_t windows = (total + window - 1) / window;
  std::optional<Parts> quiet;
  if (levels && static_cast<std::int64_t>(levels->size()) == windows)
    quiet = quietPartsOf(*walked, *levels, window, settings.levelDb, least);
  const Parts p = quiet ? *quiet : partsOf(*walked, parts);
  // Progress in frames: of the whole file, or of the parts where they are some of it.
  std::int64_t toDecode = quiet ? 0 : t.frames;
  for (std::size_t k = 0; quiet && k < p.count(); ++k)
    toDecode += std::min(t.frames, (p.to[k] + window) / spf + 1) - p.decodedFrom[k];
  std::vector<QuietRuns::Ends> ends(p.count());
  std::vector<QuietRuns::Quietest> quietest(p.count());
  std::atomic<std::int64_t> done{0};
  std::atomic<bool> failed{false};
  inTurn(
      p.count(),
      [&](std::size_t k) {
        QuietRuns runs(window, amplitude, p.from[k], p.to[k], blocks, least);
        if (!decodePart(path, p.offset[k], t.audioEnd, p.decodedFrom[k], runs, done, stop)) failed = true;
        ends[k] = runs.finish();
        quietest[k] = runs.quietest();
      },
      [&] {
        if (progress) progress(std::min(done.load(), toDecode), toDecode);
      });
  if (stop && stop->load()) {
    if (error) error->clear();
    return std::nullopt;
  }
  if (failed) {
    if (error) *error = QStringLiteral("libmpg123 cannot decode it");
    return std::nullopt;
  }
  if (progress) progress(toDecode, toDecode);

  // The parts' runs as one decoding of the whole file would find them: a
  // run open at a part's end goes on where the next part's first window is
  // quiet (that part's first run is the same), and ends in that window where
  // it is not.
  std::vector<QuietRuns::Run> runs;
  std::optional<QuietRuns::Run> carried;
  const auto keep = [&runs](const QuietRuns::Run &r) {
    if (r.end > r.begin) runs.push_back(r);
  };
  for (std::size_t k = 0; k < ends.size(); ++k) {
    const QuietRuns::Ends &e = ends[k];
    std::size_t from = 0;
    if (carried && k > 0 && p.from[k] != p.to[k - 1]) {  // a part apart from the one before
      keep(*carried);
      carried.reset();
    }
    if (carried && e.judged) {
      if (e.firstQuiet) {
        const bool closed = !e.runs.empty() && e.runs.front().atFrom;
        const QuietRuns::Run &next = closed ? e.runs.front() : *e.open;
        carried->energy += next.energy;
        carried->windows += next.windows;
        carried->end = next.end;
        if (!closed) continue;  // open through the whole part
        from = 1;
      } else {
        carried->end = e.leadEnd;
      }
      keep(*carried);
      carried.reset();
    } else if (carried) {
      keep(*carried);
      carried.reset();
    }
    for (std::size_t i = from; i < e.runs.size(); ++i) keep(e.runs[i]);
    if (e.open) carried = e.open;
  }
  if (carried) keep(*carried);
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
  // The quietest stretch of the least length, for a search that finds none:
  // from the levels where they are known, the parts being only some of the file.
  if (quiet) {
    quietest.clear();  // the parts' own: of some stretches only
    const std::int64_t whole = total / window;
    std::deque<std::int64_t> loudest;  // windows that may yet be the loudest of the last `blocks`
    const auto at = [levels](std::int64_t m) { return (*levels)[static_cast<std::size_t>(m)]; };
    for (std::int64_t m = 0; m < whole; ++m) {
      while (!loudest.empty() && at(loudest.back()) <= at(m)) loudest.pop_back();
      loudest.push_back(m);
      if (loudest.front() <= m - blocks) loudest.pop_front();
      if (m + 1 < blocks) continue;
      const double power = at(loudest.front());
      const auto energy = static_cast<std::int64_t>(std::llround(power * static_cast<double>(window) * 32768.0 * 32768.0));
      if (result.quietest && energy >= result.quietest->energy) continue;
      const std::int64_t begin = (m + 1 - blocks) * window;
      result.quietest = Quietest{static_cast<double>(std::max<std::int64_t>(0, begin - t.trimBegin)) /
                                     static_cast<double>(t.rate),
                                 power > 0 ? 10 * std::log10(power) : -200, energy};
    }
  }
  for (const QuietRuns::Quietest &q : quietest) {
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

std::optional<int> levelToFind(const SilencesFound &found, const SilenceSettings &settings) {
  if (!found.quietest) return std::nullopt;
  // Its windows side by side are measured; the search slides them sample by
  // sample, and finds a little more now and then: a margin of 2 dB.
  const int level = std::clamp(static_cast<int>(std::ceil(found.quietest->levelDb + 2)), -120, 0);
  if (level <= settings.levelDb) return std::nullopt;
  return level;
}

}  // namespace found
