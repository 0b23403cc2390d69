#include "FactsReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <QScopeGuard>

#include "FileName.h"

namespace audio {

namespace {
struct Cancelled {};
}  // namespace

FactsReader::FactsReader(const QString &path, QObject *parent) : QObject(parent) {
  thread_ = std::thread([this, name = encodeFileName(path).toStdString()] {
    std::shared_ptr<const StreamFacts> facts;
    try {
      // The walk is stopped between two reads; libmpg123's scan of a stream
      // the walk does not take is not, and runs to its end.
      const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        const auto closing = qScopeGuard([fd] { ::close(fd); });
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        facts = std::make_shared<const StreamFacts>(
            readStreamFacts(name, fd, [this](std::int64_t, const unsigned char *, std::size_t) {
              if (cancel_) throw Cancelled{};
            }));
      }
    } catch (const Cancelled &) {
      return;
    } catch (const StreamError &) {
    }
    {
      std::lock_guard lock(mutex_);
      facts_ = std::move(facts);
    }
    QMetaObject::invokeMethod(this, &FactsReader::deliver, Qt::QueuedConnection);
  });
}

FactsReader::~FactsReader() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const StreamFacts> FactsReader::wait() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  delivered_ = true;
  return facts_;
}

void FactsReader::deliver() {
  std::shared_ptr<const StreamFacts> facts;
  {
    std::lock_guard lock(mutex_);
    if (delivered_) return;
    delivered_ = true;
    facts = facts_;
  }
  emit ready(facts);
}

}  // namespace audio
