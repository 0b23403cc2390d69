#include "AudioOutput.h"

#include <algorithm>
#include <cstring>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

namespace audio {

SilentOutput::SilentOutput(int rate, int channels) : rate_(rate), bytesPerSample_(2 * channels) { clock_.start(); }

std::int64_t SilentOutput::clockSamples() const { return clockBase_ + clock_.nsecsElapsed() * rate_ / 1000000000; }

std::int64_t SilentOutput::samplesHeard() { return std::min(clockSamples(), written_); }

std::int64_t SilentOutput::bytesFree() {
  const std::int64_t capacity = rate_ / 10;  // 100 ms, like the device's buffer
  const std::int64_t pending = written_ - samplesHeard();
  return std::max<std::int64_t>(0, capacity - pending) * bytesPerSample_;
}

std::int64_t SilentOutput::write(const char *, std::int64_t bytes) {
  const std::int64_t accepted = std::min(bytes, bytesFree()) / bytesPerSample_;
  // A clock that ran dry (nothing to play) must not count the silence as heard.
  const std::int64_t heard = samplesHeard();
  if (clockSamples() > heard) {
    clockBase_ = heard;
    clock_.restart();
  }
  written_ += accepted;
  return accepted * bytesPerSample_;
}

RingOutput::RingOutput(int rate, int channels) : buffer_(static_cast<std::size_t>(rate / 10 * 2 * channels)) {}

std::int64_t RingOutput::bytesFree() {
  std::lock_guard lock(mutex_);
  return static_cast<std::int64_t>(buffer_.size() - size_);
}

std::int64_t RingOutput::write(const char *data, std::int64_t bytes) {
  std::lock_guard lock(mutex_);
  const std::size_t n = std::min(static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0)), buffer_.size() - size_);
  for (std::size_t i = 0; i < n; ++i) buffer_[(head_ + size_ + i) % buffer_.size()] = data[i];
  size_ += n;
  return static_cast<std::int64_t>(n);
}

std::int64_t RingOutput::take(char *out, std::int64_t max) {
  std::lock_guard lock(mutex_);
  const std::size_t n = std::min(static_cast<std::size_t>(std::max<std::int64_t>(max, 0)), size_);
  for (std::size_t i = 0; i < n; ++i) out[i] = buffer_[(head_ + i) % buffer_.size()];
  head_ = (head_ + n) % buffer_.size();
  size_ -= n;
  return static_cast<std::int64_t>(n);
}

std::unique_ptr<DeviceFeeder> DeviceFeeder::open(int rate, int channels) {
  if (qEnvironmentVariable("TRANCHETTE_AUDIO_OUTPUT") == QLatin1String("silent") || rate <= 0 || channels <= 0)
    return nullptr;
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return nullptr;
  QAudioFormat format;
  format.setSampleRate(rate);
  format.setChannelCount(channels);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isFormatSupported(format)) return nullptr;
  auto sink = std::make_unique<QAudioSink>(device, format);
  sink->setBufferSize(rate * channels * 2 / 10);  // 100 ms
  QIODevice *io = sink->start();
  if (!io || sink->error() != QAudio::NoError) return nullptr;
  return std::unique_ptr<DeviceFeeder>(new DeviceFeeder(std::move(sink), io, rate, channels));
}

DeviceFeeder::DeviceFeeder(std::unique_ptr<QAudioSink> sink, QIODevice *io, int rate, int channels)
    : sink_(std::move(sink)), io_(io), rate_(rate), ring_(std::make_shared<RingOutput>(rate, channels)) {
  timer_.setInterval(10);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &DeviceFeeder::feed);
  timer_.start();
}

DeviceFeeder::~DeviceFeeder() { sink_->stop(); }

void DeviceFeeder::feed() {
  // What the device reports as processed has been played.
  ring_->setHeard(sink_->processedUSecs() * rate_ / 1000000);
  for (;;) {
    const std::int64_t room = sink_->bytesFree();
    if (room <= 0) return;
    chunk_.resize(static_cast<std::size_t>(room));
    const std::int64_t n = ring_->take(chunk_.data(), room);
    if (n <= 0) return;
    io_->write(chunk_.data(), n);
  }
}

}  // namespace audio
