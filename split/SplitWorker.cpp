#include "SplitWorker.h"

#include <limits>

#include <QAbstractButton>
#include <QApplication>

#include "Platform.h"
#include "Unit6.h"

SplitWorker::SplitWorker(SplitHost &host) : host_(host), hostWindow_(host.hostWindow()) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void SplitWorker::run() {
  QMetaObject::invokeMethod(
      qApp,
      [this] {
        if (hostWindow_) guard([this] { DoSplit(); });
      },
      Qt::BlockingQueuedConnection);
}

void SplitWorker::showProgress(bool repaintCancel) {
  Form3->show();
  if (repaintCancel) Form3->butCancel->repaint();
}

void SplitWorker::hideProgress() { Form3->hide(); }

void SplitWorker::writeJoin(const split::Outcome &outcome, bool wanted) {
  if (!wanted || !outcome.completed || outcome.pieces.isEmpty()) return;
  if (const auto problem = split::writeJoinFiles(outcome.pieces, host_.GetJoinName()))
    platform().messageBox(nullptr, *problem, QString(), Platform::Icon::None);
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
