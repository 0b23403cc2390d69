#pragma once

#include "SplitWorker.h"

// The worker of the split by selections.
class TSplitThread_1 : public SplitWorker {
  Q_OBJECT

 public:
  // Starts at once; the object deletes itself when the split is done.
  explicit TSplitThread_1(SplitHost &host) : SplitWorker(host) { start(QThread::LowestPriority); }

 protected:
  void DoSplit() override;
};
