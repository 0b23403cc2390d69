#pragma once

#include <cstdint>
#include <memory>

#include <QElapsedTimer>

class QAudioSink;
class QIODevice;

namespace audio {

// Where the preview player sends its 16-bit PCM. Push style: the player writes
// what bytesFree() allows on every tick and asks how much has been heard.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Opens the output for the format; false when it cannot.
  virtual bool start(int rate, int channels) = 0;
  virtual std::int64_t bytesFree() = 0;
  virtual std::int64_t write(const char *data, std::int64_t bytes) = 0;
  // Sample frames heard since start() or the last reset().
  virtual std::int64_t samplesHeard() = 0;
  virtual void suspend() = 0;
  virtual void resume() = 0;
  // Drops whatever is buffered and counts from zero again.
  virtual void reset() = 0;
  virtual void stop() = 0;
};

// The machine's default output device through Qt Multimedia.
class DeviceOutput final : public AudioOutput {
 public:
  DeviceOutput();
  ~DeviceOutput() override;
  bool start(int rate, int channels) override;
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;
  void suspend() override;
  void resume() override;
  void reset() override;
  void stop() override;

 private:
  std::unique_ptr<QAudioSink> sink_;
  QIODevice *io_ = nullptr;
  int rate_ = 0;
  std::int64_t heardBeforeRestart_ = 0;
};

// Plays nothing, but takes samples at the pace of a real-time clock, so that
// positions and timecodes flow as they would with a device.
class SilentOutput final : public AudioOutput {
 public:
  bool start(int rate, int channels) override;
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;
  void suspend() override;
  void resume() override;
  void reset() override;
  void stop() override;

 private:
  std::int64_t clockSamples() const;
  int rate_ = 0;
  int bytesPerSample_ = 4;
  std::int64_t written_ = 0;
  std::int64_t heardAtPause_ = 0;
  bool running_ = false;
  QElapsedTimer clock_;
  std::int64_t clockBase_ = 0;  // heard samples when the clock was last started
};

// The device output when the machine has one and it opens, else the silent one.
// TRANCHETTE_AUDIO_OUTPUT=silent forces the silent output.
std::unique_ptr<AudioOutput> openOutput(int rate, int channels);

}  // namespace audio
