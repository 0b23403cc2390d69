#include "TimeSplitWorker.h"

#include <QLineEdit>

#include "FlatCheck.h"

void TSplitThread_2::DoSplit() {
  const SplitPage page = host_.page(2);
  showProgress(true);
  ProgressReporter reporter;
  const split::Outcome outcome = split::splitByTime(host_.GetSourceFile(), page.parameter->text(), host_.GetTotalTime(),
                                                    page.savePath->text(), reporter, page.exact->isChecked());
  if (cancelled(outcome) || !outcome.completed) return;
  hideProgress();
  writeJoin(outcome, page.join->isChecked(), page.exact->isChecked());
}
