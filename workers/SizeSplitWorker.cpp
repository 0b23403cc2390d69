#include "SizeSplitWorker.h"

#include <QLineEdit>

#include "FlatCheck.h"

void TSplitThread_3::DoSplit() {
  const SplitPage page = host_.page(3);
  if (page.parameter->text().isEmpty()) return;
  showProgress(false);
  ProgressReporter reporter;
  const split::Outcome outcome = split::splitBySize(host_.GetSourceFile(), page.parameter->text(),
                                                    page.savePath->text(), reporter, page.exact->isChecked());
  if (cancelled(outcome) || !outcome.completed) return;
  hideProgress();
  writeJoin(outcome, page.join->isChecked(), page.exact->isChecked());
}
