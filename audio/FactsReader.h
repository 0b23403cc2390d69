#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <QObject>
#include <QString>

#include "StreamFacts.h"

namespace audio {

// Reads a file's stream facts (the frame count and the frame index) on a
// thread of its own, so that the window does not wait for a walk through a
// large file, and hands them over on the thread that created it.
class FactsReader : public QObject {
  Q_OBJECT

 public:
  // Starts reading at once.
  explicit FactsReader(const QString &path, QObject *parent = nullptr);
  // Stops a walk still going and waits for the thread.
  ~FactsReader() override;
  FactsReader(const FactsReader &) = delete;
  FactsReader &operator=(const FactsReader &) = delete;

  // Waits until the facts are read, and gives them (nothing when the file
  // could not be read after all). ready() is then not sent.
  std::shared_ptr<const StreamFacts> wait();

 signals:
  // The facts, or nothing when the file could not be read after all; sent once.
  void ready(std::shared_ptr<const audio::StreamFacts> facts);

 private:
  void deliver();

  std::atomic<bool> cancel_{false};
  std::mutex mutex_;
  std::shared_ptr<const StreamFacts> facts_;
  bool delivered_ = false;
  std::thread thread_;
};

}  // namespace audio
