#pragma once

#include "SplitWorker.h"

// The worker of the split by size.
class TSplitThread_3 : public SplitWorker {
  Q_OBJECT

 public:
  // Starts at once; the object deletes itself when the split is done.
  TSplitThread_3(QWidget *hostWindow, SplitRequest request) : SplitWorker(hostWindow, std::move(request)) {
    start(QThread::LowestPriority);
  }

 protected:
  split::Outcome DoSplit(split::Reporter &reporter) override;
  bool wanted() const override { return !request_.parameter.isEmpty(); }
};
