#pragma once

// Where the preview's samples go: a PulseAudio stream whose clock tells what
// is heard, or a silent output paced by a clock where there is no server.

#include <cstdint>
#include <memory>

#include <QElapsedTimer>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace audio {

// Where the preview player's decoder sends 16-bit PCM while it plays. Push
// style: the decoder writes what bytesFree() allows on every tick and asks how
// much has been heard. An output lives on the player's thread and is only
// ever called there, so no call into the sound system holds up the window.
class SoundOutput {
 public:
  virtual ~SoundOutput() = default;
  virtual std::int64_t bytesFree() = 0;
  virtual std::int64_t write(const char *data, std::int64_t bytes) = 0;
  // Sample frames heard since the output opened or was last flushed.
  virtual std::int64_t samplesHeard() = 0;
  // Holds the sound where it is; what is buffered stays and plays on resume.
  virtual void pause() = 0;
  virtual void resume() = 0;
  // Drops everything buffered; counting starts again at 0.
  virtual void flush() = 0;
  // The output can take nothing more, ever: its sound server went away or
  // refused the stream. samplesHeard() keeps the last count it knew.
  virtual bool lost() { return false; }
  // Whether the output takes sound yet (a stream being set up does not).
  virtual bool ready() { return true; }
  // How long the output has been waiting to become ready (0 once it is).
  virtual std::int64_t waitingMs() { return 0; }
};

// What a silent output keeps time by: nanoseconds from any start, never
// going back.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t nowNs() const = 0;
};

// Real time: the monotonic clock.
const Clock &realTime();

// Plays nothing, but takes samples at the pace of its clock (real time in the
// program), so that positions and timecodes flow as they would with a device.
class SilentOutput final : public SoundOutput {
 public:
  SilentOutput(int rate, int channels, const Clock &clock = realTime());
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;
  void pause() override;
  void resume() override;
  void flush() override;

 private:
  std::int64_t clockSamples() const;
  void restartClock() { started_ = clock_.nowNs(); }
  int rate_;
  int bytesPerSample_;
  const Clock &clock_;
  std::int64_t written_ = 0;
  std::int64_t started_ = 0;    // on the clock, when it was last started; it runs while playing
  std::int64_t clockBase_ = 0;  // heard samples when the clock was last started
  bool paused_ = false;
};

// A connection to the sound server (PulseAudio, or PipeWire in its place).
// Nothing here waits for the server: connecting goes on in libpulse's own
// thread, and the owner asks for the state when it needs it, so a server that
// accepts and never answers holds up no one; the owner decides how long to
// give it.
class SoundServer {
 public:
  enum class State { Connecting, Ready, Failed };

  // Starts connecting and returns at once. Nothing when
  // TRANCHETTE_AUDIO_OUTPUT=silent asks for the silent output or libpulse
  // cannot even begin (then there is no server to talk to either).
  static std::unique_ptr<SoundServer> start();
  static bool silentAsked();
  ~SoundServer();
  SoundServer(const SoundServer &) = delete;
  SoundServer &operator=(const SoundServer &) = delete;

  State state() const;
  pa_threaded_mainloop *loop() const { return loop_; }
  pa_context *context() const { return context_; }

 private:
  SoundServer() = default;
  pa_threaded_mainloop *loop_ = nullptr;
  pa_context *context_ = nullptr;
};

// A playback stream on the server's default sink. The stream's own clock
// tells which sample is being heard; pausing corks it, and a flush replaces
// it with a fresh one, so that what was buffered for the old place is never
// heard. Opening does not wait: the stream takes nothing until the server has
// set it up, and starts playing only once it holds kPrebufferMs of sound.
class DeviceOutput final : public SoundOutput {
 public:
  // What the server holds for the stream: a busy machine may leave the
  // decoder without a turn for this long before anything is missed. The
  // position comes from the stream's clock, so the length costs no accuracy.
  static constexpr int kBufferMs = 1000;
  static constexpr int kPrebufferMs = 500;

  // Nothing when the server is not ready or cannot make a stream.
  static std::unique_ptr<DeviceOutput> open(SoundServer &server, int rate, int channels);
  ~DeviceOutput() override;
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;
  void pause() override;
  void resume() override;
  void flush() override;
  bool lost() override;
  bool ready() override;
  std::int64_t waitingMs() override;

 private:
  DeviceOutput(SoundServer &server, int rate, int channels);
  bool start();
  void close();

  SoundServer &server_;
  int rate_;
  int channels_;
  pa_stream *stream_ = nullptr;
  QElapsedTimer asked_;  // since the stream was asked for
  bool corked_ = false;
  std::int64_t written_ = 0;  // sample frames since the stream started
  std::int64_t heard_ = 0;    // never goes back
};

}  // namespace audio
