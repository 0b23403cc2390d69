#include "AudioOutput.h"

#include <algorithm>

#include <pulse/pulseaudio.h>

#include <QString>

namespace audio {

SilentOutput::SilentOutput(int rate, int channels) : rate_(rate), bytesPerSample_(2 * channels) { clock_.start(); }

std::int64_t SilentOutput::clockSamples() const {
  return clockBase_ + (paused_ ? 0 : clock_.nsecsElapsed() * rate_ / 1000000000);
}

std::int64_t SilentOutput::samplesHeard() { return std::min(clockSamples(), written_); }

std::int64_t SilentOutput::bytesFree() {
  if (paused_) return 0;
  const std::int64_t capacity = rate_ / 10;  // 100 ms, like a device's buffer
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

void SilentOutput::pause() {
  if (paused_) return;
  clockBase_ = samplesHeard();
  paused_ = true;
}

void SilentOutput::resume() {
  if (!paused_) return;
  paused_ = false;
  clock_.restart();
}

void SilentOutput::flush() {
  written_ = 0;
  clockBase_ = 0;
  clock_.restart();
}

namespace {

// What the server holds for the stream: enough to ride out a busy machine.
// Pausing corks the stream and seeking replaces it, so no command waits for it.
constexpr int kBufferMs = 200;

class Locked {
 public:
  explicit Locked(pa_threaded_mainloop *loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~Locked() { pa_threaded_mainloop_unlock(loop_); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

 private:
  pa_threaded_mainloop *loop_;
};

void signalLoop(pa_threaded_mainloop *loop) { pa_threaded_mainloop_signal(loop, 0); }

// Waits, with the loop locked, until the operation is done.
void await(pa_threaded_mainloop *loop, pa_operation *op) {
  if (!op) return;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
  pa_operation_unref(op);
}

void operationDone(pa_stream *, int, void *loop) { signalLoop(static_cast<pa_threaded_mainloop *>(loop)); }

}  // namespace

std::unique_ptr<SoundServer> SoundServer::connect() {
  if (qEnvironmentVariable("TRANCHETTE_AUDIO_OUTPUT") == QLatin1String("silent")) return nullptr;
  std::unique_ptr<SoundServer> server(new SoundServer);
  server->loop_ = pa_threaded_mainloop_new();
  if (!server->loop_) return nullptr;
  server->context_ = pa_context_new(pa_threaded_mainloop_get_api(server->loop_), "Tranchette");
  if (!server->context_) return nullptr;
  pa_context_set_state_callback(
      server->context_, [](pa_context *, void *loop) { signalLoop(static_cast<pa_threaded_mainloop *>(loop)); },
      server->loop_);
  if (pa_context_connect(server->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
  if (pa_threaded_mainloop_start(server->loop_) < 0) return nullptr;
  Locked lock(server->loop_);
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(server->context_);
    if (state == PA_CONTEXT_READY) return server;
    if (!PA_CONTEXT_IS_GOOD(state)) break;
    pa_threaded_mainloop_wait(server->loop_);
  }
  return nullptr;  // `lock` is released before the server goes
}

SoundServer::~SoundServer() {
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

bool SoundServer::isUp() const {
  Locked lock(loop_);
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

std::unique_ptr<DeviceOutput> DeviceOutput::open(SoundServer &server, int rate, int channels) {
  if (rate <= 0 || channels <= 0 || channels > 2 || !server.isUp()) return nullptr;
  std::unique_ptr<DeviceOutput> out(new DeviceOutput(server, rate, channels));
  if (!out->start()) return nullptr;
  return out;
}

DeviceOutput::DeviceOutput(SoundServer &server, int rate, int channels)
    : server_(server), rate_(rate), channels_(channels) {}

DeviceOutput::~DeviceOutput() { close(); }

bool DeviceOutput::start() {
  pa_threaded_mainloop *loop = server_.loop();
  Locked lock(loop);
  pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate_), static_cast<std::uint8_t>(channels_)};
  stream_ = pa_stream_new(server_.context(), "Preview", &format, nullptr);
  if (!stream_) return false;
  pa_stream_set_state_callback(
      stream_, [](pa_stream *, void *l) { signalLoop(static_cast<pa_threaded_mainloop *>(l)); }, loop);
  pa_buffer_attr attr;
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kBufferMs * 1000, &format));
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                    PA_STREAM_ADJUST_LATENCY | PA_STREAM_NOT_MONOTONIC);
  bool ready = pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) == 0;
  while (ready) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state))
      ready = false;
    else
      pa_threaded_mainloop_wait(loop);
  }
  written_ = 0;
  heard_ = 0;
  if (!ready) {
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  return ready;
}

void DeviceOutput::close() {
  if (!stream_) return;
  Locked lock(server_.loop());
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);  // what the server still holds is dropped
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

std::int64_t DeviceOutput::bytesFree() {
  if (!stream_) return 0;
  Locked lock(server_.loop());
  const std::size_t n = pa_stream_writable_size(stream_);
  return n == static_cast<std::size_t>(-1) ? 0 : static_cast<std::int64_t>(n);
}

std::int64_t DeviceOutput::write(const char *data, std::int64_t bytes) {
  if (!stream_) return 0;
  const std::int64_t frame = 2 * channels_;
  bytes -= bytes % frame;
  Locked lock(server_.loop());
  if (bytes <= 0 || pa_stream_write(stream_, data, static_cast<std::size_t>(bytes), nullptr, 0, PA_SEEK_RELATIVE) < 0)
    return 0;
  written_ += bytes / frame;
  return bytes;
}

// The stream's clock: the time of the sample being played, the server's
// latency taken into account.
std::int64_t DeviceOutput::samplesHeard() {
  if (!stream_) return heard_;
  Locked lock(server_.loop());
  pa_usec_t usec = 0;
  if (pa_stream_get_time(stream_, &usec) == 0)
    heard_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(usec) * rate_ / 1000000, heard_, written_);
  return heard_;
}

void DeviceOutput::cork(bool on) {
  if (!stream_) return;
  Locked lock(server_.loop());
  await(server_.loop(), pa_stream_cork(stream_, on ? 1 : 0, operationDone, server_.loop()));
}

void DeviceOutput::pause() { cork(true); }

void DeviceOutput::resume() {
  cork(false);
  // A stream corked before it had all it waits for starts at once.
  Locked lock(server_.loop());
  if (stream_) await(server_.loop(), pa_stream_trigger(stream_, operationDone, server_.loop()));
}

void DeviceOutput::flush() {
  close();
  start();
}

}  // namespace audio
