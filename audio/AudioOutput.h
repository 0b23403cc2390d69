#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QAudioSink;
class QIODevice;

namespace audio {

// Where the preview player's decoder sends 16-bit PCM while it plays. Push
// style: the decoder writes what bytesFree() allows on every tick and asks how
// much has been heard. Pausing or seeking drops the output and opens a new
// one, so that nothing buffered is heard late.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  virtual std::int64_t bytesFree() = 0;
  virtual std::int64_t write(const char *data, std::int64_t bytes) = 0;
  // Sample frames heard since the output opened.
  virtual std::int64_t samplesHeard() = 0;
};

// Plays nothing, but takes samples at the pace of a real-time clock, so that
// positions and timecodes flow as they would with a device.
class SilentOutput final : public AudioOutput {
 public:
  SilentOutput(int rate, int channels);
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override;

 private:
  std::int64_t clockSamples() const;
  int rate_;
  int bytesPerSample_;
  std::int64_t written_ = 0;
  QElapsedTimer clock_;
  std::int64_t clockBase_ = 0;  // heard samples when the clock was last started
};

// The sound device's side of the decoder: a buffer of 100 ms that the decoder
// fills on its thread and a DeviceFeeder empties on the main thread, where the
// device lives.
class RingOutput final : public AudioOutput {
 public:
  RingOutput(int rate, int channels);
  std::int64_t bytesFree() override;
  std::int64_t write(const char *data, std::int64_t bytes) override;
  std::int64_t samplesHeard() override { return heard_.load(); }

  // For the feeder: takes up to `max` bytes out, and tells what was played.
  std::int64_t take(char *out, std::int64_t max);
  void setHeard(std::int64_t samples) { heard_.store(samples); }

 private:
  std::mutex mutex_;
  std::vector<char> buffer_;
  std::size_t head_ = 0, size_ = 0;
  std::atomic<std::int64_t> heard_{0};
};

// Moves PCM from a RingOutput into the default sound device. Lives on the
// main thread; playing stops when it is destroyed.
class DeviceFeeder : public QObject {
  Q_OBJECT

 public:
  // Nothing when the machine has no device, it does not take the format, or
  // TRANCHETTE_AUDIO_OUTPUT=silent asks for the silent output.
  static std::unique_ptr<DeviceFeeder> open(int rate, int channels);
  ~DeviceFeeder() override;
  std::shared_ptr<RingOutput> ring() const { return ring_; }

 private:
  DeviceFeeder(std::unique_ptr<QAudioSink> sink, QIODevice *io, int rate, int channels);
  void feed();

  std::unique_ptr<QAudioSink> sink_;
  QIODevice *io_;
  int rate_;
  std::shared_ptr<RingOutput> ring_;
  QTimer timer_;
  std::vector<char> chunk_;
};

}  // namespace audio
