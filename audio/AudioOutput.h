#pragma once

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
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  virtual std::int64_t bytesFree() = 0;
  virtual std::int64_t write(const char *data, std::int64_t bytes) = 0;
  // Sample frames heard since the output opened or was last flushed.
  virtual std::int64_t samplesHeard() = 0;
  // Holds the sound where it is; what is buffered stays and plays on resume.
  virtual void pause() = 0;
  virtual void resume() = 0;
  // Drops everything buffered; counting starts again at 0.
  virtual void flush() = 0;
};

// Plays nothing, but takes samples at the pace of a real-time clock, so that
// positions and timecodes flow as they would with a device.
class SilentOutput final : public AudioOutput {
 public:
  SilentOutput(int rate, int channels);
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;
  void pause() override;
  void resume() override;
  void flush() override;

 private:
  std::int64_t clockSamples() const;
  int rate_;
  int bytesPerSample_;
  std::int64_t written_ = 0;
  QElapsedTimer clock_;         // runs while playing
  std::int64_t clockBase_ = 0;  // heard samples when the clock was last started
  bool paused_ = false;
};

// A connection to the sound server (PulseAudio, or PipeWire in its place),
// kept for as long as the player lives. Every call waits for the server's
// answer on a condition, never in an event loop.
class SoundServer {
 public:
  // Nothing when TRANCHETTE_AUDIO_OUTPUT=silent asks for the silent output
  // or no server answers.
  static std::unique_ptr<SoundServer> connect();
  ~SoundServer();
  SoundServer(const SoundServer &) = delete;
  SoundServer &operator=(const SoundServer &) = delete;

  bool isUp() const;
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
// heard.
class DeviceOutput final : public AudioOutput {
 public:
  // Nothing when the server does not take the stream.
  static std::unique_ptr<DeviceOutput> open(SoundServer &server, int rate, int channels);
  ~DeviceOutput() override;
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;
  void pause() override;
  void resume() override;
  void flush() override;

 private:
  DeviceOutput(SoundServer &server, int rate, int channels);
  bool start();
  void close();
  void cork(bool on);

  SoundServer &server_;
  int rate_;
  int channels_;
  pa_stream *stream_ = nullptr;
  std::int64_t written_ = 0;  // sample frames since the stream started
  std::int64_t heard_ = 0;    // never goes back
};

}  // namespace audio
