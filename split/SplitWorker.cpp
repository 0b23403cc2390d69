#include "SplitWorker.h"

#include <limits>

#include <QAbstractButton>
#include <QApplication>

#include "Platform.h"
#include "Unit6.h"

SplitWorker::SplitWorker(SplitHost &host) : host_(host), hostWindow_(host.hostWindow()) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

namespace {
bool splitRunning = false;  // main thread only
}  // namespace

// The progress window lets paint events through during a split, and with them
// another worker's turn could come: that worker waits until the split has ended.
void SplitWorker::run() {
  bool done = false;
  while (!done) {
    QMetaObject::invokeMethod(
        qApp,
        [this, &done] {
          if (splitRunning) return;
          done = true;
          if (!hostWindow_) return;
          splitRunning = true;
          guard([this] { DoSplit(); });
          splitRunning = false;
        },
        Qt::BlockingQueuedConnection);
    if (!done) QThread::msleep(10);
  }
}

void SplitWorker::showProgress(bool repaintCancel) {
  // Empty from its first picture: an exact cut reads its source before the
  // bar has a step to take, and the last split's full bar would stay meanwhile.
  Form3->Progress->setValue(Form3->Progress->minimum());
  Form3->showBusy();
  if (repaintCancel) Form3->butCancel->repaint();
}

void SplitWorker::hideProgress() { Form3->hide(); }

void SplitWorker::writeJoin(const split::Outcome &outcome, bool wanted, bool exact) {
  if (!wanted || !outcome.completed || outcome.pieces.isEmpty()) return;
  // The pieces are written all the same; only the files that glue them are missing.
  const split::JoinFiles written = split::writeJoinFiles(outcome.pieces, host_.GetJoinName(), exact);
  for (const QString &problem : {written.skipped, written.failed})
    if (!problem.isEmpty()) platform().messageBox(hostWindow_, problem, QString(), Platform::Icon::None);
}

namespace {
int clampInt(std::int64_t v) { return static_cast<int>(std::min<std::int64_t>(v, std::numeric_limits<int>::max())); }
}  // namespace

void ProgressReporter::start(std::int64_t maximum) { Form3->setProgress(0, clampInt(maximum), 0); }
void ProgressReporter::step() { Form3->advance(); }
void ProgressReporter::complete() { Form3->setProgress(0, Form3->Progress->maximum(), Form3->Progress->maximum()); }

void ProgressReporter::fail(const split::Message &message) {
  platform().messageBox(nullptr, message.text, QString(), Platform::Icon::None);
  Form3->close();
}

void ProgressReporter::notice(const split::Message &message) {
  platform().messageBox(nullptr, message.text, QString(), Platform::Icon::None);
}
