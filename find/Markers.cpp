#include "Markers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "FileName.h"
#include "Frame.h"
#include "SystemFiles.h"

namespace found {

std::int64_t Timeline::frameAt(double seconds) const {
  // What is heard starts with frame 0, whatever its decoder delay hides.
  if (seconds * static_cast<double>(rate) < samplesPerFrame / 2.0) return 0;
  const double raw = seconds * static_cast<double>(rate) + static_cast<double>(trimBegin);
  return std::clamp<std::int64_t>(std::llround(raw / samplesPerFrame), 0, frames);
}

double Timeline::secondsAt(std::int64_t frame) const {
  return static_cast<double>(frame * samplesPerFrame - trimBegin) / static_cast<double>(rate);
}

std::optional<Timeline> timelineOf(const QString &path, QString *error, const mpeg::FrameSeen &onFrame) {
  std::string why;
  const int fd = sys::openRegular(encodeFileName(path).constData(), &why);
  if (fd < 0) {
    if (error) *error = QString::fromLocal8Bit(why.c_str());
    return std::nullopt;
  }
  std::optional<mpeg::Stream> stream;
  mpeg::WalkError walkError;
  try {
    stream = mpeg::walk(fd, onFrame ? onFrame : [](std::int64_t, std::int64_t) {}, true, {}, &walkError);
  } catch (const mpeg::ReadError &e) {
    if (error) *error = QString::fromLocal8Bit(e.what());
  }
  ::close(fd);
  if (!stream) {
    if (error && error->isEmpty())
      *error = walkError.reason == "free format" ? QStringLiteral("it is in free format, which this program does not read")
                                                 : QStringLiteral("it is not an MPEG audio file");
    return std::nullopt;
  }
  return Timeline{stream->frames, stream->first.rate, stream->first.samples, stream->trimBegin, stream->trimEnd,
                  stream->audioEnd};
}

std::vector<Marker> withEnds(std::vector<Marker> markers, std::int64_t last) {
  markers.push_back({0, {}, {}});
  markers.push_back({last, {}, {}});
  std::stable_sort(markers.begin(), markers.end(), [](const Marker &a, const Marker &b) { return a.frame < b.frame; });
  std::vector<Marker> out;
  for (const Marker &m : markers) {
    if (!out.empty() && out.back().frame == m.frame) {
      if (out.back().title.isEmpty() && out.back().number < 0) out.back() = m;
      continue;
    }
    out.push_back(m);
  }
  return out;
}

}  // namespace found
