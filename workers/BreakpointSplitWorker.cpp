#include "BreakpointSplitWorker.h"

#include <QLineEdit>
#include <QListWidget>

#include "FlatCheck.h"

void TSplitThread_1::DoSplit() {
  const SplitPage page = host_.page(1);
  QStringList breakpoints;
  for (int i = 0; i < page.breakpoints->count(); ++i) breakpoints << page.breakpoints->item(i)->text();
  if (breakpoints.size() < 2) return;
  showProgress(true);
  ProgressReporter reporter;
  const split::Outcome outcome = split::splitAtBreakpoints(host_.GetSourceFile(), host_.GetFrameCount(), breakpoints,
                                                           page.savePath->text(), reporter, page.exact->isChecked());
  if (!cancelled(outcome) && outcome.completed) hideProgress();
}
