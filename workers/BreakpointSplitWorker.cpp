#include "BreakpointSplitWorker.h"

#include <QLineEdit>
#include <QListWidget>

#include "FlatCheck.h"

void TSplitThread_1::DoSplit() {
  const SplitPage page = host_.page(1);
  QStringList breakpoints;
  std::vector<split::PieceTitle> titles;  // piece k: the title of breakpoint k - 1, where it has one
  for (int i = 0; i < page.breakpoints->count(); ++i) {
    const QListWidgetItem *item = page.breakpoints->item(i);
    breakpoints << item->text();
    const QVariant number = item->data(kNumberRole);
    titles.push_back({item->data(kTitleRole).toString(), item->data(kPerformerRole).toString(),
                      number.isValid() ? number.toLongLong() : -1});
  }
  if (breakpoints.size() < 2) return;
  showProgress(true);
  ProgressReporter reporter;
  const split::Outcome outcome = split::splitAtBreakpoints(host_.GetSourceFile(), host_.GetFrameCount(), breakpoints,
                                                           page.savePath->text(), reporter, page.exact->isChecked(), titles);
  if (!cancelled(outcome) && outcome.completed) hideProgress();
}
