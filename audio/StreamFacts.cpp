#include "StreamFacts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileName.h"
#include "Frame.h"
#include "SystemFiles.h"

namespace audio {
namespace {

// Keeps at most kMaxIndex offsets: when full, every other one goes and the
// step doubles.
void addToIndex(StreamFacts &facts, std::int64_t frame, std::int64_t offset) {
  constexpr std::size_t kMaxIndex = 1 << 16;
  if (frame % facts.frameStep != 0) return;
  if (facts.frameOffsets.size() == kMaxIndex) {
    for (std::size_t i = 0; i < kMaxIndex / 2; ++i) facts.frameOffsets[i] = facts.frameOffsets[2 * i];
    facts.frameOffsets.resize(kMaxIndex / 2);
    facts.frameStep *= 2;
    if (frame % facts.frameStep != 0) return;
  }
  facts.frameOffsets.push_back(offset);
}

struct FdCloser {
  void operator()(const int *fd) const {
    ::close(*fd);
    delete fd;
  }
};

[[noreturn]] void notRegular(const std::string &path, mode_t mode) {
  throw StreamError(path + ": not a regular file but " + sys::fileKind(mode));
}

// Only a regular file is read, and opening never waits (a FIFO without a
// writer, a device): its type is checked before and after the open.
int openForReading(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) notRegular(path, st.st_mode);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw StreamError(path + ": " + std::strerror(errno));
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    notRegular(path, st.st_mode);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::optional<StreamFacts> walkFrameHeaders(const std::string &path) {
  std::unique_ptr<int, FdCloser> fd(new int(openForReading(path)));
  posix_fadvise(*fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return walkFrameHeaders(*fd);
}

std::optional<StreamFacts> walkFrameHeaders(int fd, const mpeg::BytesRead &onBytes) {
  StreamFacts facts;
  std::optional<mpeg::Stream> stream;
  try {
    stream = mpeg::walk(
        fd, [&](std::int64_t frame, std::int64_t offset) { addToIndex(facts, frame, offset); }, true, onBytes);
  } catch (const mpeg::ReadError &e) {
    throw StreamError(e.what());
  }
  if (!stream) return std::nullopt;
  facts.frames = stream->frames;
  facts.rate = stream->first.rate;
  facts.samples = stream->samples();
  if (stream->junk > 0) facts.passed.push_back({mpeg::Passed::Kind::junk, stream->firstFrame - stream->junk, stream->junk, 0});
  for (const mpeg::Passed &p : stream->passed)
    if (p.beforeFrame < stream->frames) facts.passed.push_back(p);  // the tags at the end are no news
  return facts;
}

StreamFacts scanWithLibmpg123(const std::string &path) {
  static const int initialised = mpg123_init();
  (void)initialised;
  int err = MPG123_OK;
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle *)> mh(mpg123_new(nullptr, &err), mpg123_delete);
  if (!mh) throw StreamError(path + ": " + mpg123_plain_strerror(err));
  mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, -1, 0);  // past junk of any length, as the walk

  // Open through our own descriptor, so that a missing file reports errno.
  std::unique_ptr<int, FdCloser> fd(new int(openForReading(path)));
  if (mpg123_open_fd(mh.get(), *fd) != MPG123_OK || mpg123_scan(mh.get()) != MPG123_OK)
    throw StreamError(path + ": not an MPEG audio file");
  StreamFacts facts;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(mh.get(), &facts.rate, &channels, &encoding) != MPG123_OK)
    throw StreamError(path + ": not an MPEG audio file");
  facts.frames = mpg123_framelength(mh.get());
  facts.samples = mpg123_length(mh.get());
  mpg123_close(mh.get());
  if (facts.frames <= 0) throw StreamError(path + ": not an MPEG audio file");
  // Trimming by a tag's delay and padding can leave less than nothing.
  facts.samples = std::max<std::int64_t>(facts.samples, 0);
  return facts;
}

StreamFacts readStreamFacts(const std::string &path) {
  std::unique_ptr<int, FdCloser> fd(new int(openForReading(path)));
  posix_fadvise(*fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return readStreamFacts(path, *fd, {});
}

StreamFacts readStreamFacts(const std::string &path, int fd, const mpeg::BytesRead &onBytes) {
  if (auto facts = walkFrameHeaders(fd, onBytes)) return *facts;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size == 0) throw StreamError(path + ": the file is empty");
  return scanWithLibmpg123(path);
}

std::optional<StreamFacts> guessStreamFacts(const std::string &path) {
  std::unique_ptr<int, FdCloser> fd;
  try {
    fd.reset(new int(openForReading(path)));
  } catch (const StreamError &) {
    return std::nullopt;  // the facts will say why
  }
  const auto stream = mpeg::estimate(*fd);
  if (!stream) return std::nullopt;
  StreamFacts facts;
  facts.frames = stream->frames;
  facts.rate = stream->first.rate;
  facts.samples = stream->samples();
  return facts;
}

void requireMpegAudio(const std::string &path) {
  if (!guessStreamFacts(path)) readStreamFacts(path);
}

std::int32_t clampTo32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace audio

void TMp3Play::Open(const QString &fileName, const QString &) {
  facts_.reset();
  facts_ = std::make_shared<const audio::StreamFacts>(audio::readStreamFacts(encodeFileName(fileName).toStdString()));
}

std::shared_ptr<const audio::StreamFacts> TMp3Play::Facts() const { return facts_; }

void TMp3Play::Close() { facts_.reset(); }

const audio::StreamFacts &TMp3Play::facts() const {
  if (!facts_) throw audio::StreamError("no MPEG audio file is open");
  return *facts_;
}

std::int32_t TMp3Play::FrameCount() const { return audio::clampTo32(facts().frames); }
std::int32_t TMp3Play::TotalTime() const { return audio::clampTo32(facts().totalTimeMs()); }
