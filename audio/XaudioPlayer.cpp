#include "XaudioPlayer.h"

#include <algorithm>
#include <mpg123.h>
#include <vector>

#include <QThread>
#include <QTimer>

#include "AudioOutput.h"

namespace audio {

// Lives on the player's thread: decodes with libmpg123 into the output and
// reports the frame and time being heard.
class PlayerEngine : public QObject {
  Q_OBJECT

 public:
  PlayerEngine() {
    tick_.setParent(this);  // moves to the player thread with the engine
    tick_.setInterval(kTickMs);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, &PlayerEngine::onTick);
  }
  ~PlayerEngine() override { close(); }

  void open(const QString &path) {
    close();
    int err = MPG123_OK;
    mh_ = mpg123_new(nullptr, &err);
    if (!mh_) return;
    mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(mh_);
    const long *rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(mh_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    int encoding = 0;
    if (mpg123_open(mh_, path.toLocal8Bit().constData()) != MPG123_OK || mpg123_scan(mh_) != MPG123_OK ||
        mpg123_getformat(mh_, &rate_, &channels_, &encoding) != MPG123_OK) {
      close();
      return;
    }
    frames_ = std::max<std::int64_t>(0, mpg123_framelength(mh_));
    samplesPerFrame_ = std::max(1, mpg123_spf(mh_));
    baseFrame_ = 0;
    range_ = static_cast<std::int64_t>(frames_);
    atEnd_ = false;
    pcm_.clear();
  }

  void close() {
    tick_.stop();
    playing_ = false;
    output_.reset();
    if (mh_) {
      mpg123_close(mh_);
      mpg123_delete(mh_);
      mh_ = nullptr;
    }
    frames_ = 0;
    pcm_.clear();
  }

  void setRange(std::int32_t range) { range_ = range; }

  bool isPlaying() const { return playing_; }
  long rate() const { return rate_; }
  int channels() const { return channels_; }

  // Plays into `device`, or into the silent output when there is none.
  void play(std::shared_ptr<AudioOutput> device) {
    if (!mh_ || playing_) return;
    playing_ = true;
    output_ = outputOr(std::move(device));
    tick_.start();
    onTick();
  }

  void pause() {
    if (!mh_) return;
    if (playing_) holdAtHeardFrame();
    report();
  }

  void stop() {
    if (!mh_) return;
    pause();
    seekDecoder(0);
    report();
  }

  void seek(std::uint32_t offset, std::int32_t range, std::shared_ptr<AudioOutput> device) {
    if (!mh_) return;
    if (playing_) output_ = outputOr(std::move(device));  // drops what was buffered
    std::int64_t target = 0;
    if (offset > 0x7FFFFFFFu || range <= 0)
      target = 0;  // a negative offset, or no range to count in
    else if (static_cast<std::int64_t>(offset) >= range)
      target = frames_;
    else
      target = static_cast<std::int64_t>(offset) * frames_ / range;
    seekDecoder(target);
    report();
  }

 signals:
  void position(std::uint32_t offset, std::uint32_t range);
  void timecode(std::uint8_t hours, std::uint8_t minutes, std::uint8_t seconds, std::uint8_t fractions);

 private:
  static constexpr int kTickMs = 20;  // 50 reports a second while playing

  std::shared_ptr<AudioOutput> outputOr(std::shared_ptr<AudioOutput> device) const {
    if (device) return device;
    return std::make_shared<SilentOutput>(static_cast<int>(rate_), channels_);
  }

  // Stops playing at the frame being heard; what was buffered beyond it is dropped.
  void holdAtHeardFrame() {
    const std::int64_t heard = heardFrame();
    playing_ = false;
    tick_.stop();
    output_.reset();
    seekDecoder(heard);
  }

  void seekDecoder(std::int64_t frame) {
    frame = std::clamp<std::int64_t>(frame, 0, frames_);
    const off_t landed = mpg123_seek_frame(mh_, static_cast<off_t>(frame), SEEK_SET);
    baseFrame_ = landed >= 0 ? static_cast<std::int64_t>(landed) : frame;
    atEnd_ = baseFrame_ >= frames_;
    pcm_.clear();
  }

  std::int64_t heardSamples() const {
    return baseFrame_ * samplesPerFrame_ + (output_ && playing_ ? output_->samplesHeard() : 0);
  }
  std::int64_t heardFrame() const { return std::min(frames_, heardSamples() / samplesPerFrame_); }

  void report() {
    const std::int64_t frame = heardFrame();
    const std::int64_t offset = frames_ > 0 ? frame * range_ / frames_ : 0;
    emit position(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(range_));
    const std::int64_t centis = heardSamples() * 100 / std::max<long>(1, rate_);
    emit timecode(static_cast<std::uint8_t>(std::min<std::int64_t>(centis / 360000, 255)),
                  static_cast<std::uint8_t>(centis / 6000 % 60), static_cast<std::uint8_t>(centis / 100 % 60),
                  static_cast<std::uint8_t>(centis % 100));
  }

  void onTick() {
    if (!playing_) return;
    fill();
    report();
    // At the end of the stream, once everything decoded has been heard.
    if (atEnd_ && pcm_.empty() && output_->bytesFree() > 0 && heardFrame() >= frames_ - 1) holdAtHeardFrame();
  }

  void fill() {
    for (;;) {
      if (pcm_.empty() && !atEnd_) decodeSome();
      if (pcm_.empty()) return;
      const std::int64_t free = output_->bytesFree();
      if (free <= 0) return;
      const std::int64_t n = output_->write(pcm_.data(), std::min<std::int64_t>(free, pcm_.size()));
      if (n <= 0) return;
      pcm_.erase(pcm_.begin(), pcm_.begin() + n);
    }
  }

  void decodeSome() {
    block_.resize(16384);
    size_t done = 0;
    const int r = mpg123_read(mh_, reinterpret_cast<unsigned char *>(block_.data()), block_.size(), &done);
    pcm_.insert(pcm_.end(), block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(done));
    if (r != MPG123_OK && r != MPG123_NEW_FORMAT) atEnd_ = true;
  }

  QTimer tick_;
  mpg123_handle *mh_ = nullptr;
  std::shared_ptr<AudioOutput> output_;
  std::vector<char> pcm_;    // decoded, not yet taken by the output
  std::vector<char> block_;  // what one decoding step fills
  long rate_ = 0;
  int channels_ = 0;
  int samplesPerFrame_ = 1152;
  std::int64_t frames_ = 0;
  std::int64_t range_ = 0;
  std::int64_t baseFrame_ = 0;
  bool playing_ = false;
  bool atEnd_ = false;
};

}  // namespace audio

TXaudioPlayer::TXaudioPlayer(QObject *parent) : QObject(parent) {}

TXaudioPlayer::~TXaudioPlayer() {
  if (!engine_) return;
  QMetaObject::invokeMethod(
      engine_, [e = engine_] { delete e; }, Qt::BlockingQueuedConnection);
  thread_->quit();
  thread_->wait();
  delete thread_;
}

void TXaudioPlayer::Init() {
  if (engine_) return;
  if (qEnvironmentVariable("TRANCHETTE_AUDIO_OUTPUT") == QLatin1String("off") || mpg123_init() != MPG123_OK)
    throw EXaudioException("Cannot Start Xaudio Player");
  auto thread = std::make_unique<QThread>();
  thread->setObjectName(QStringLiteral("preview player"));
  thread->start(QThread::HighPriority);
  if (!thread->isRunning()) throw EXaudioException("Cannot Start Xaudio Player");
  auto *engine = new audio::PlayerEngine;
  engine->moveToThread(thread.get());
  connect(engine, &audio::PlayerEngine::position, this,
          [this](std::uint32_t offset, std::uint32_t range) { emit OnNotifyInputPosition(this, offset, range); });
  connect(engine, &audio::PlayerEngine::timecode, this,
          [this](std::uint8_t h, std::uint8_t m, std::uint8_t s, std::uint8_t f) {
            emit OnNotifyInputTimecode(this, h, m, s, f);
          });
  thread_ = thread.release();
  engine_ = engine;
}

template <typename F>
void TXaudioPlayer::send(F &&command) {
  Init();
  QMetaObject::invokeMethod(
      engine_, [e = engine_, c = std::forward<F>(command)] { c(*e); }, Qt::BlockingQueuedConnection);
}

void TXaudioPlayer::InputOpen(const QString &path) {
  feeder_.reset();
  send([this, path](audio::PlayerEngine &e) {
    e.open(path);
    rate_ = e.rate();
    channels_ = e.channels();
  });
}
void TXaudioPlayer::InputClose() {
  send([](audio::PlayerEngine &e) { e.close(); });
  feeder_.reset();
}
void TXaudioPlayer::SetInputPositionRange(std::int32_t range) {
  send([range](audio::PlayerEngine &e) { e.setRange(range); });
}
// The sound device lives on this (the main) thread; the decoder fills its
// buffer from the player's thread. A new device output on every start drops
// whatever an old one still held.
std::shared_ptr<audio::AudioOutput> TXaudioPlayer::freshDevice(std::unique_ptr<audio::DeviceFeeder> &feeder) {
  feeder = audio::DeviceFeeder::open(static_cast<int>(rate_), channels_);
  return feeder ? feeder->ring() : nullptr;
}

void TXaudioPlayer::Play() {
  bool playing = false;
  send([&playing](audio::PlayerEngine &e) { playing = e.isPlaying(); });
  if (playing) return;
  std::unique_ptr<audio::DeviceFeeder> feeder;
  auto device = freshDevice(feeder);
  send([device](audio::PlayerEngine &e) { e.play(device); });
  feeder_ = std::move(feeder);
}
void TXaudioPlayer::Pause() {
  send([](audio::PlayerEngine &e) { e.pause(); });
  feeder_.reset();
}
void TXaudioPlayer::Stop() {
  send([](audio::PlayerEngine &e) { e.stop(); });
  feeder_.reset();
}
void TXaudioPlayer::InputSeek(std::uint32_t offset, std::int32_t range) {
  bool playing = false;
  send([&playing](audio::PlayerEngine &e) { playing = e.isPlaying(); });
  std::unique_ptr<audio::DeviceFeeder> feeder;
  auto device = playing ? freshDevice(feeder) : nullptr;
  send([offset, range, device](audio::PlayerEngine &e) { e.seek(offset, range, device); });
  if (playing) feeder_ = std::move(feeder);
}

#include "XaudioPlayer.moc"
