#include "AudioOutput.h"

#include <algorithm>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

namespace audio {

DeviceOutput::DeviceOutput() = default;
DeviceOutput::~DeviceOutput() { stop(); }

bool DeviceOutput::start(int rate, int channels) {
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return false;
  QAudioFormat format;
  format.setSampleRate(rate);
  format.setChannelCount(channels);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isFormatSupported(format)) return false;
  sink_ = std::make_unique<QAudioSink>(device, format);
  sink_->setBufferSize(rate * channels * 2 / 5);  // 200 ms
  io_ = sink_->start();
  if (!io_ || sink_->error() != QAudio::NoError) {
    sink_.reset();
    io_ = nullptr;
    return false;
  }
  rate_ = rate;
  heardBeforeRestart_ = 0;
  return true;
}

std::int64_t DeviceOutput::bytesFree() { return sink_ ? sink_->bytesFree() : 0; }

std::int64_t DeviceOutput::write(const char *data, std::int64_t bytes) {
  return io_ ? std::max<std::int64_t>(0, io_->write(data, bytes)) : 0;
}

std::int64_t DeviceOutput::samplesHeard() {
  if (!sink_) return 0;
  const std::int64_t buffered = (sink_->bufferSize() - sink_->bytesFree()) / sink_->format().bytesPerFrame();
  const std::int64_t processed = sink_->processedUSecs() * rate_ / 1000000;
  return std::max<std::int64_t>(0, heardBeforeRestart_ + processed - buffered);
}

void DeviceOutput::suspend() {
  if (sink_) sink_->suspend();
}

void DeviceOutput::resume() {
  if (sink_) sink_->resume();
}

void DeviceOutput::reset() {
  if (!sink_) return;
  const bool suspended = sink_->state() == QAudio::SuspendedState;
  sink_->reset();
  io_ = sink_->start();
  heardBeforeRestart_ = 0;
  if (suspended) sink_->suspend();
}

void DeviceOutput::stop() {
  if (sink_) sink_->stop();
  sink_.reset();
  io_ = nullptr;
}

bool SilentOutput::start(int rate, int channels) {
  rate_ = rate;
  bytesPerSample_ = 2 * channels;
  reset();
  return true;
}

std::int64_t SilentOutput::clockSamples() const {
  return running_ ? clockBase_ + clock_.nsecsElapsed() * rate_ / 1000000000 : heardAtPause_;
}

std::int64_t SilentOutput::samplesHeard() { return std::min(clockSamples(), written_); }

std::int64_t SilentOutput::bytesFree() {
  const std::int64_t capacity = rate_ / 5;  // 200 ms, like the device's buffer
  const std::int64_t pending = written_ - samplesHeard();
  return std::max<std::int64_t>(0, capacity - pending) * bytesPerSample_;
}

std::int64_t SilentOutput::write(const char *, std::int64_t bytes) {
  const std::int64_t accepted = std::min(bytes, bytesFree()) / bytesPerSample_;
  // A clock that ran dry (nothing to play) must not count the silence as heard.
  const std::int64_t heard = samplesHeard();
  if (running_ && clockSamples() > heard) {
    clockBase_ = heard;
    clock_.restart();
  }
  written_ += accepted;
  return accepted * bytesPerSample_;
}

void SilentOutput::suspend() {
  if (!running_) return;
  heardAtPause_ = samplesHeard();
  running_ = false;
}

void SilentOutput::resume() {
  if (running_) return;
  clockBase_ = heardAtPause_;
  clock_.restart();
  running_ = true;
}

void SilentOutput::reset() {
  const bool wasRunning = running_;
  written_ = 0;
  heardAtPause_ = 0;
  clockBase_ = 0;
  running_ = false;
  if (wasRunning) resume();
}

void SilentOutput::stop() {
  running_ = false;
  written_ = 0;
  heardAtPause_ = 0;
}

std::unique_ptr<AudioOutput> openOutput(int rate, int channels) {
  if (qEnvironmentVariable("TRANCHETTE_AUDIO_OUTPUT") != QLatin1String("silent")) {
    auto device = std::make_unique<DeviceOutput>();
    if (device->start(rate, channels)) return device;
  }
  auto silent = std::make_unique<SilentOutput>();
  silent->start(rate, channels);
  return silent;
}

}  // namespace audio
