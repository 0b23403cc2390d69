#include "SoundOutput.h"

#include <algorithm>
#include <chrono>

#include <pulse/pulseaudio.h>

#include <QString>

namespace audio {

namespace {

class RealTime final : public Clock {
 public:
  std::int64_t nowNs() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

const Clock &realTime() {
  static const RealTime clock;
  return clock;
}

SilentOutput::SilentOutput(int rate, int channels, const Clock &clock)
    : rate_(rate), bytesPerSample_(2 * channels), clock_(clock) {
  restartClock();
}

std::int64_t SilentOutput::clockSamples() const {
  return clockBase_ + (paused_ ? 0 : (clock_.nowNs() - started_) * rate_ / 1000000000);
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
    restartClock();
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
  restartClock();
}

void SilentOutput::flush() {
  written_ = 0;
  clockBase_ = 0;
  restartClock();
}

namespace {

class Locked {
 public:
  explicit Locked(pa_threaded_mainloop *loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~Locked() { pa_threaded_mainloop_unlock(loop_); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

 private:
  pa_threaded_mainloop *loop_;
};

// An operation whose end nobody waits for: the stream's state says the rest.
void let(pa_operation *op) {
  if (op) pa_operation_unref(op);
}

}  // namespace

bool SoundServer::silentAsked() { return qEnvironmentVariable("TRANCHETTE_AUDIO_OUTPUT") == QLatin1String("silent"); }

std::unique_ptr<SoundServer> SoundServer::start() {
  if (silentAsked()) return nullptr;
  std::unique_ptr<SoundServer> server(new SoundServer);
  server->loop_ = pa_threaded_mainloop_new();
  if (!server->loop_) return nullptr;
  server->context_ = pa_context_new(pa_threaded_mainloop_get_api(server->loop_), "Tranchette");
  if (!server->context_) return nullptr;
  // A failure to begin (no address to try) shows as the Failed state.
  pa_context_connect(server->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
  if (pa_threaded_mainloop_start(server->loop_) < 0) return nullptr;
  return server;
}

SoundServer::~SoundServer() {
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

SoundServer::State SoundServer::state() const {
  Locked lock(loop_);
  const pa_context_state_t state = pa_context_get_state(context_);
  if (state == PA_CONTEXT_READY) return State::Ready;
  return PA_CONTEXT_IS_GOOD(state) ? State::Connecting : State::Failed;
}

std::unique_ptr<DeviceOutput> DeviceOutput::open(SoundServer &server, int rate, int channels) {
  if (rate <= 0 || channels <= 0 || channels > 2 || server.state() != SoundServer::State::Ready) return nullptr;
  std::unique_ptr<DeviceOutput> out(new DeviceOutput(server, rate, channels));
  if (!out->start()) return nullptr;
  return out;
}

DeviceOutput::DeviceOutput(SoundServer &server, int rate, int channels)
    : server_(server), rate_(rate), channels_(channels) {}

DeviceOutput::~DeviceOutput() { close(); }

bool DeviceOutput::start() {
  Locked lock(server_.loop());
  written_ = 0;
  heard_ = 0;
  corked_ = false;
  asked_.start();
  pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate_), static_cast<std::uint8_t>(channels_)};
  stream_ = pa_stream_new(server_.context(), "Preview", &format, nullptr);
  if (!stream_) return false;
  pa_buffer_attr attr;
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(pa_usec_t{kBufferMs} * 1000, &format));
  attr.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(pa_usec_t{kPrebufferMs} * 1000, &format));
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  // No PA_STREAM_ADJUST_LATENCY: the buffer is the stream's own and does not
  // make the sink play further ahead.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                    PA_STREAM_NOT_MONOTONIC);
  if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) == 0) return true;
  pa_stream_unref(stream_);
  stream_ = nullptr;
  return false;
}

void DeviceOutput::close() {
  if (!stream_) return;
  Locked lock(server_.loop());
  pa_stream_disconnect(stream_);  // what the server still holds is dropped
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

bool DeviceOutput::ready() {
  if (!stream_) return false;
  Locked lock(server_.loop());
  return pa_stream_get_state(stream_) == PA_STREAM_READY;
}

std::int64_t DeviceOutput::waitingMs() { return ready() ? 0 : asked_.elapsed(); }

bool DeviceOutput::lost() {
  if (!stream_) return true;
  Locked lock(server_.loop());
  return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
         !PA_CONTEXT_IS_GOOD(pa_context_get_state(server_.context()));
}

std::int64_t DeviceOutput::bytesFree() {
  if (!stream_) return 0;
  Locked lock(server_.loop());
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) return 0;
  const std::size_t n = pa_stream_writable_size(stream_);
  return n == static_cast<std::size_t>(-1) ? 0 : static_cast<std::int64_t>(n);
}

std::int64_t DeviceOutput::write(const char *data, std::int64_t bytes) {
  if (!stream_) return 0;
  const std::int64_t frame = 2 * channels_;
  bytes -= bytes % frame;
  Locked lock(server_.loop());
  if (bytes <= 0 || pa_stream_get_state(stream_) != PA_STREAM_READY ||
      pa_stream_write(stream_, data, static_cast<std::size_t>(bytes), nullptr, 0, PA_SEEK_RELATIVE) < 0)
    return 0;
  written_ += bytes / frame;
  return bytes;
}

// The stream's clock: the time of the sample being played, the server's
// latency taken into account. Once the stream is gone, the last it told.
std::int64_t DeviceOutput::samplesHeard() {
  if (!stream_) return heard_;
  Locked lock(server_.loop());
  pa_usec_t usec = 0;
  if (pa_stream_get_state(stream_) == PA_STREAM_READY && pa_stream_get_time(stream_, &usec) == 0)
    heard_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(usec) * rate_ / 1000000, heard_, written_);
  return heard_;
}

// Corking takes effect on the stream's clock at once; the server follows.
void DeviceOutput::pause() {
  if (!stream_ || corked_) return;
  Locked lock(server_.loop());
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  corked_ = true;
  let(pa_stream_cork(stream_, 1, nullptr, nullptr));
}

void DeviceOutput::resume() {
  if (!stream_ || !corked_) return;
  Locked lock(server_.loop());
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  corked_ = false;
  let(pa_stream_cork(stream_, 0, nullptr, nullptr));
  // A stream corked before it had all it waits for starts at once.
  let(pa_stream_trigger(stream_, nullptr, nullptr));
}

void DeviceOutput::flush() {
  close();
  start();
}

}  // namespace audio
