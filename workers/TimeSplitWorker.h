#pragma once

#include "SplitWorker.h"

// The worker of the split by time.
class TSplitThread_2 : public SplitWorker {
  Q_OBJECT

 public:
  // Starts at once; the object deletes itself when the split is done.
  TSplitThread_2(QWidget *hostWindow, SplitRequest request) : SplitWorker(hostWindow, std::move(request)) {
    start(QThread::LowestPriority);
  }

 protected:
  split::Outcome DoSplit(split::Reporter &reporter) override;
};
