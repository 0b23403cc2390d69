#include "PreviewPlayer.h"

#include <algorithm>
#include <mpg123.h>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include "FileName.h"
#include "ManualClock.h"
#include "SoundOutput.h"
#include "StreamFacts.h"

namespace audio {

// Lives on the player's thread: decodes with libmpg123 into the output and
// reports the frame and time being heard.
//
// Places are counted in libmpg123's gapless samples. Frame f starts at sample
// f * spf - delay (the encoder's and decoder's delay together), so the frame
// being heard is found from the frame last sought, the samples the decoder
// gave from there, and the samples the output has played since.
class PlayerEngine : public QObject {
  Q_OBJECT

 public:
  PlayerEngine() {
    tick_.setParent(this);  // moves to the player thread with the engine
    tick_.setInterval(kTickMs);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, &PlayerEngine::onTick);
    watch_.setParent(this);
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, [this] {
      if (!playing_) keepOutput();
    });
  }
  ~PlayerEngine() override {
    close();
    output_.reset();  // the output goes before the server
  }

  void open(const QString &path, std::shared_ptr<const StreamFacts> facts, bool indexToCome) {
    close();
    int err = MPG123_OK;
    mh_ = mpg123_new(nullptr, &err);
    if (!mh_) return;
    mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Past junk of any length, as the frame walk counts frames.
    mpg123_param(mh_, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_format_none(mh_);
    const long *rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(mh_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh_, encodeFileName(path).constData()) != MPG123_OK ||
        !(indexToCome ? guess(facts.get()) : index(facts.get()))) {
      close();
      return;
    }
    int encoding = 0;
    if (mpg123_getformat(mh_, &rate_, &channels_, &encoding) != MPG123_OK) {
      close();
      return;
    }
    samplesPerFrame_ = std::max(1, mpg123_spf(mh_));
    range_ = frames_;
    measureDelay();
    seekDecoder(0);
    watch_.start();
  }

  void close() {
    tick_.stop();
    watch_.stop();
    playing_ = false;
    output_.reset();
    if (mh_) {
      mpg123_close(mh_);
      mpg123_delete(mh_);
      mh_ = nullptr;
    }
    frames_ = 0;
    pcm_.clear();
    indexToCome_ = false;
    if (std::exchange(awaitingIndex_, false)) announce();
  }

  void setFacts(std::shared_ptr<const StreamFacts> facts) {
    if (!mh_ || !indexToCome_) return;
    indexToCome_ = false;
    if (facts) {
      std::vector<off_t> offsets(facts->frameOffsets.begin(), facts->frameOffsets.end());
      if (!offsets.empty()) mpg123_set_index(mh_, offsets.data(), static_cast<off_t>(facts->frameStep), offsets.size());
      frames_ = facts->frames;
    }
    if (awaitingIndex_) {
      // The seek that waited for the index is made now.
      seekDecoder(baseFrame_);
      if (playing_) onTick();
    }
  }

  // The manual clock moves on, and the player plays as a tick of its own
  // would then.
  void passTime(std::int64_t ns) {
    ManualClock::shared().advance(ns);
    onTick();
  }

  void setEpoch(std::uint64_t epoch) { epoch_ = epoch; }
  void setRange(std::int32_t range) { range_ = range; }

  // Resumes a paused output; the tick opens one where there is none.
  void play() {
    if (!mh_ || playing_ || atEnd()) return;
    playing_ = true;
    // Play is also the user's way of asking to try the sound server again.
    if (sound_ != Sound::Heard && sound_ != Sound::Silent) retry_.invalidate();
    if (output_) output_->resume();
    tick_.start();
    onTick();
  }

  void pause() {
    if (!mh_) return;
    if (playing_) {
      playing_ = false;
      tick_.stop();
      // A stream still being set up has played nothing: it is simply dropped.
      if (output_ && !output_->ready())
        output_.reset();
      else if (output_)
        output_->pause();
    }
    report();
  }

  void stop() {
    if (!mh_) return;
    playing_ = false;
    tick_.stop();
    output_.reset();
    seekDecoder(0);
    report();
  }

  void seek(std::uint32_t offset, std::int32_t range) {
    if (!mh_) return;
    std::int64_t target = 0;
    if (offset > 0x7FFFFFFFu || range <= 0)
      target = 0;  // a negative offset, or no range to count in
    else if (static_cast<std::int64_t>(offset) >= range)
      target = frames_;
    else
      target = static_cast<std::int64_t>(offset) * frames_ / range;
    // What was buffered for the old place is never heard.
    if (playing_ && output_)
      output_->flush();
    else
      output_.reset();
    if (indexToCome_ && target > readUpTo_ + kReadAhead) {
      // Far beyond what libmpg123 has read: finding the frame would mean
      // reading the file up to it, which the walk is doing already. The
      // place is shown and held until the index comes.
      awaitingIndex_ = true;
      pcm_.clear();
      written_ = 0;
      baseFrame_ = std::min(target, frames_);
      baseSample_ = std::max<std::int64_t>(0, baseFrame_ * samplesPerFrame_ - delay_);
      decoderDone_ = false;
      announce();
      report();
      return;
    }
    seekDecoder(target);
    report();
    if (playing_) onTick();
  }

 signals:
  void position(std::uint32_t offset, std::uint32_t range, std::uint64_t epoch);
  void timecode(std::uint8_t hours, std::uint8_t minutes, std::uint8_t seconds, std::uint8_t fractions,
                std::uint64_t epoch);
  // Why nothing is heard, in words for the window; empty when sound is heard.
  void soundProblem(const QString &text);

 private:
  static constexpr int kTickMs = 10;  // 100 reports a second while playing
  static constexpr int kWatchMs = 100;
  // How long a server may take to answer (to connect, or to set up a stream)
  // before it is taken for one that never will.
  static constexpr int kAnswerMs = 2000;
  // Connecting for longer than this is worth a word in the window.
  static constexpr int kSlowMs = 300;
  // Between tries to reach a server that went away; one that was never there
  // is looked for less often.
  static constexpr int kRetryLostMs = 1000;
  static constexpr int kRetryAbsentMs = 5000;

  // Where the sound goes. Heard: a stream on the server plays. Silent: the
  // silent output was asked for. Connecting: waiting for a server, nothing
  // plays. Absent and NotAnswering: no server could be reached since the
  // player started, so the silent output keeps the clock. Lost: a server
  // that played went away; the place holds until it or another comes back.
  enum class Sound { Unknown, Heard, Silent, Connecting, Absent, NotAnswering, Lost };

  static QString describe(Sound s) {
    switch (s) {
      case Sound::Connecting: return QStringLiteral("Waiting for the sound server...");
      case Sound::Absent: return QStringLiteral("No sound server: the preview plays silently");
      case Sound::NotAnswering: return QStringLiteral("The sound server does not answer: the preview plays silently");
      case Sound::Lost: return QStringLiteral("The sound server went away: waiting for it to come back");
      default: return {};
    }
  }

  void say(Sound s) {
    sound_ = s;
    announce();
  }

  // Tells the window why nothing is heard, when that changed: a seek that
  // waits for the frame index first, else the sound server.
  void announce() {
    const QString text = awaitingIndex_ ? QStringLiteral("Reading the file up to this frame: it plays once read")
                                        : describe(sound_);
    if (text == announced_) return;
    announced_ = text;
    emit soundProblem(text);
  }

  bool holding() const { return sound_ == Sound::Lost; }
  std::unique_ptr<SoundOutput> silentOutput() const {
    return std::make_unique<SilentOutput>(static_cast<int>(rate_), channels_, ManualClock::forSilentOutputs());
  }
  bool onDevice() const { return dynamic_cast<DeviceOutput *>(output_.get()) != nullptr; }

  // Keeps the output where it should be: a stream on the sound server when
  // one answers, else the silent output (or, after a server went away,
  // nothing, so that the place holds). Never waits for the server: called on
  // every tick while playing and every kWatchMs otherwise.
  void keepOutput() {
    if (!mh_) return;
    if (SoundServer::silentAsked()) {
      if (playing_ && !output_) output_ = silentOutput();
      say(Sound::Silent);
      return;
    }
    if (onDevice() && output_->lost()) {
      // Hold at the frame heard last, and go on from there when sound is back.
      const std::int64_t frame = heardFrame();
      output_.reset();
      seekDecoder(frame);
      report();
      failed(Sound::Lost);
    }
    // A stream the server does not set up (after a seek too, which asks for a new one).
    if (onDevice() && output_->waitingMs() > kAnswerMs) failed(Sound::NotAnswering);
    if (onDevice() && output_->ready()) hadServer_ = true;
    const bool wanted = playing_ || (sound_ != Sound::Heard && sound_ != Sound::Unknown);
    if (!server_ && wanted && (!retry_.isValid() || retry_.elapsed() >= retryMs())) {
      server_ = SoundServer::start();
      attempt_.start();
      if (!server_) failed(Sound::Absent);
    }
    if (!server_) {
      if (playing_ && !output_ && !holding()) output_ = silentOutput();
      return;
    }
    switch (server_->state()) {
      case SoundServer::State::Failed: failed(Sound::Absent); return;
      case SoundServer::State::Connecting:
        if (attempt_.elapsed() > kAnswerMs)
          failed(Sound::NotAnswering);
        else if (attempt_.elapsed() > kSlowMs && (sound_ == Sound::Unknown || sound_ == Sound::Heard))
          say(Sound::Connecting);
        return;
      case SoundServer::State::Ready: break;
    }
    if (onDevice()) return;
    if (output_) {
      // From the silent output onto the server, at the frame heard.
      const std::int64_t frame = heardFrame();
      output_.reset();
      seekDecoder(frame);
    }
    if (!playing_) {
      if (sound_ != Sound::Unknown) say(Sound::Heard);
      return;
    }
    output_ = DeviceOutput::open(*server_, static_cast<int>(rate_), channels_);
    if (!output_) {
      failed(Sound::Absent);
      return;
    }
    say(Sound::Heard);
  }

  // A try at the server came to nothing.
  void failed(Sound why) {
    if (onDevice()) output_.reset();
    server_.reset();
    retry_.start();
    say(hadServer_ ? Sound::Lost : why);
    if (playing_ && !output_ && !holding()) output_ = silentOutput();
  }

  int retryMs() const { return hadServer_ ? kRetryLostMs : kRetryAbsentMs; }

  // The frame index of the header walk where there is one, else libmpg123's
  // own scan of the whole file.
  bool index(const StreamFacts *facts) {
    if (facts && !facts->frameOffsets.empty()) {
      std::vector<off_t> offsets(facts->frameOffsets.begin(), facts->frameOffsets.end());
      if (mpg123_set_index(mh_, offsets.data(), static_cast<off_t>(facts->frameStep), offsets.size()) == MPG123_OK) {
        frames_ = facts->frames;
        return true;
      }
    }
    if (mpg123_scan(mh_) != MPG123_OK) return false;
    frames_ = std::max<std::int64_t>(0, mpg123_framelength(mh_));
    return true;
  }

  // The file is played before its frames are all known: a guess of their
  // number, and libmpg123's own index as it reads.
  bool guess(const StreamFacts *facts) {
    if (!facts || facts->frames <= 0) return index(facts);
    frames_ = facts->frames;
    indexToCome_ = true;
    readUpTo_ = 0;
    return true;
  }

  // The samples that a decode from the start drops before frame 0's first.
  void measureDelay() {
    delay_ = 0;
    const std::int64_t k = std::min<std::int64_t>(8, frames_ - 1);
    if (k <= 0 || mpg123_seek_frame(mh_, static_cast<off_t>(k), SEEK_SET) < 0) return;
    delay_ = std::max<std::int64_t>(0, k * samplesPerFrame_ - mpg123_tell(mh_));
  }

  void seekDecoder(std::int64_t frame) {
    if (std::exchange(awaitingIndex_, false)) announce();
    frame = std::clamp<std::int64_t>(frame, 0, frames_);
    pcm_.clear();
    written_ = 0;
    decoderDone_ = frame >= frames_;
    const off_t landed = decoderDone_ ? -1 : mpg123_seek_frame(mh_, static_cast<off_t>(frame), SEEK_SET);
    baseFrame_ = landed >= 0 ? static_cast<std::int64_t>(landed) : frame;
    const off_t sample = decoderDone_ ? -1 : mpg123_tell(mh_);
    baseSample_ = sample >= 0 ? static_cast<std::int64_t>(sample)
                              : std::max<std::int64_t>(0, baseFrame_ * samplesPerFrame_ - delay_);
    if (landed < 0) decoderDone_ = true;
  }

  bool atEnd() const { return !awaitingIndex_ && decoderDone_ && pcm_.empty() && heardSinceSeek() >= written_; }

  std::int64_t heardSinceSeek() const { return output_ ? std::min(output_->samplesHeard(), written_) : 0; }

  std::int64_t heardFrame() const {
    if (baseFrame_ >= frames_) return frames_;
    const std::int64_t intoBase = baseSample_ - (baseFrame_ * samplesPerFrame_ - delay_);
    const std::int64_t frame = baseFrame_ + std::max<std::int64_t>(0, intoBase + heardSinceSeek()) / samplesPerFrame_;
    return std::min(frames_, frame);
  }

  void report() {
    const std::int64_t frame = heardFrame();
    const std::int64_t offset = frames_ > 0 ? frame * range_ / frames_ : 0;
    emit position(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(range_), epoch_);
    const std::int64_t centis = (baseSample_ + heardSinceSeek()) * 100 / std::max<long>(1, rate_);
    emit timecode(static_cast<std::uint8_t>(std::min<std::int64_t>(centis / 360000, 255)),
                  static_cast<std::uint8_t>(centis / 6000 % 60), static_cast<std::uint8_t>(centis / 100 % 60),
                  static_cast<std::uint8_t>(centis % 100), epoch_);
  }

  void onTick() {
    if (!playing_) return;
    keepOutput();
    if (output_) fill();
    if (atEnd()) {
      // Everything decoded has been heard: hold at the end, the time heard
      // with it (the output that counted it goes).
      baseSample_ += heardSinceSeek();
      playing_ = false;
      tick_.stop();
      output_.reset();
      baseFrame_ = frames_;
    }
    report();
  }

  void fill() {
    if (awaitingIndex_) return;
    for (;;) {
      if (pcm_.empty() && !decoderDone_) decodeSome();
      if (pcm_.empty()) break;
      const std::int64_t free = output_->bytesFree();
      if (free <= 0) return;
      const std::int64_t n = output_->write(pcm_.data(), std::min<std::int64_t>(free, pcm_.size()));
      if (n <= 0) return;
      written_ += n / (2 * channels_);
      pcm_.erase(pcm_.begin(), pcm_.begin() + n);
    }
    // The stream's last samples: silence behind them lets a device that waits
    // for a full buffer before it starts play them out.
    const std::int64_t free = output_->bytesFree();
    if (free > 0) {
      silence_.assign(static_cast<std::size_t>(free), 0);
      output_->write(silence_.data(), free);
    }
  }

  void decodeSome() {
    block_.resize(16384);
    size_t done = 0;
    const int r = mpg123_read(mh_, reinterpret_cast<unsigned char *>(block_.data()), block_.size(), &done);
    pcm_.insert(pcm_.end(), block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(done));
    if (indexToCome_) readUpTo_ = std::max<std::int64_t>(readUpTo_, mpg123_tellframe(mh_));
    if (r != MPG123_OK && r != MPG123_NEW_FORMAT) decoderDone_ = true;
  }

  QTimer tick_;
  QTimer watch_;  // keeps an eye on the sound server while not playing
  mpg123_handle *mh_ = nullptr;
  std::unique_ptr<SoundServer> server_;
  std::unique_ptr<SoundOutput> output_;  // goes before server_
  // Opened on a guess: the index is still being read. A seek further than
  // kReadAhead frames past what libmpg123 has read waits for it.
  static constexpr std::int64_t kReadAhead = 400;
  bool indexToCome_ = false;
  bool awaitingIndex_ = false;
  std::int64_t readUpTo_ = 0;  // the furthest frame libmpg123 has read
  bool hadServer_ = false;     // a stream played since the player started
  Sound sound_ = Sound::Unknown;
  QString announced_;  // what the window was last told
  QElapsedTimer attempt_;      // since the try at the server began
  QElapsedTimer retry_;        // since the last try failed
  std::vector<char> pcm_;      // decoded, not yet taken by the output
  std::vector<char> block_;    // what one decoding step fills
  std::vector<char> silence_;  // played out behind the last samples
  long rate_ = 0;
  int channels_ = 0;
  int samplesPerFrame_ = 1152;
  std::int64_t delay_ = 0;
  std::int64_t frames_ = 0;
  std::int64_t range_ = 0;
  std::int64_t baseFrame_ = 0;   // the frame last sought
  std::int64_t baseSample_ = 0;  // the decoder's sample there
  std::int64_t written_ = 0;     // samples given to the output since
  std::uint64_t epoch_ = 0;
  bool playing_ = false;
  bool decoderDone_ = false;
};

}  // namespace audio

TXaudioPlayer::TXaudioPlayer(QObject *parent) : QObject(parent) {}

TXaudioPlayer::~TXaudioPlayer() {
  if (!engine_) return;
  ++epoch_;
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
  thread->start(QThread::TimeCriticalPriority);
  if (!thread->isRunning()) throw EXaudioException("Cannot Start Xaudio Player");
  auto *engine = new audio::PlayerEngine;
  engine->moveToThread(thread.get());
  connect(engine, &audio::PlayerEngine::position, this,
          [this](std::uint32_t offset, std::uint32_t range, std::uint64_t epoch) {
            if (epoch == epoch_) emit OnNotifyInputPosition(this, offset, range);
          });
  connect(engine, &audio::PlayerEngine::timecode, this,
          [this](std::uint8_t h, std::uint8_t m, std::uint8_t s, std::uint8_t f, std::uint64_t epoch) {
            if (epoch == epoch_) emit OnNotifyInputTimecode(this, h, m, s, f);
          });
  connect(engine, &audio::PlayerEngine::soundProblem, this, [this](const QString &text) {
    soundProblem_ = text;
    emit soundProblemChanged(text);
  });
  thread_ = thread.release();
  engine_ = engine;
}

template <typename F>
void TXaudioPlayer::send(F &&command) {
  Init();
  QMetaObject::invokeMethod(
      engine_, [e = engine_, c = std::forward<F>(command)] { c(*e); }, Qt::QueuedConnection);
}

template <typename F>
void TXaudioPlayer::relocate(F &&command) {
  Init();
  const std::uint64_t epoch = ++epoch_;
  send([epoch, c = std::forward<F>(command)](audio::PlayerEngine &e) {
    e.setEpoch(epoch);
    c(e);
  });
}

void TXaudioPlayer::passTime(std::int64_t ns) {
  if (!engine_) {
    audio::ManualClock::shared().advance(ns);
    return;
  }
  QMetaObject::invokeMethod(
      engine_, [e = engine_, ns] { e->passTime(ns); }, Qt::BlockingQueuedConnection);
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TXaudioPlayer::InputOpen(const QString &path, std::shared_ptr<const audio::StreamFacts> facts, bool indexToCome) {
  relocate([path, facts, indexToCome](audio::PlayerEngine &e) { e.open(path, facts, indexToCome); });
}
void TXaudioPlayer::InputFacts(std::shared_ptr<const audio::StreamFacts> facts) {
  send([facts](audio::PlayerEngine &e) { e.setFacts(facts); });
}
void TXaudioPlayer::InputClose() {
  relocate([](audio::PlayerEngine &e) { e.close(); });
}
void TXaudioPlayer::SetInputPositionRange(std::int32_t range) {
  send([range](audio::PlayerEngine &e) { e.setRange(range); });
}
void TXaudioPlayer::Play() {
  relocate([](audio::PlayerEngine &e) { e.play(); });
}
void TXaudioPlayer::Pause() {
  relocate([](audio::PlayerEngine &e) { e.pause(); });
}
void TXaudioPlayer::Stop() {
  relocate([](audio::PlayerEngine &e) { e.stop(); });
}
void TXaudioPlayer::InputSeek(std::uint32_t offset, std::int32_t range) {
  relocate([offset, range](audio::PlayerEngine &e) { e.seek(offset, range); });
}

#include "PreviewPlayer.moc"
