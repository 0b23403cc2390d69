#include "SplitWorker.h"

#include <limits>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QWindow>

#include "InputGate.h"
#include "Platform.h"
#include "ProgressWindow.h"

SplitWorker::SplitWorker(SplitHost &host) : host_(host), hostWindow_(host.hostWindow()) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

namespace {
// Main thread only.
bool splitRunning = false;
bool closeAsked = false;  // the main window was closed during the split

}  // namespace

// The progress window lets events through during a split, and with them
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
          split::requestStop(false);
          closeAsked = false;
          {
            InputGate gate(hostWindow_, [] {
              closeAsked = true;
              Form3->butCancelClick(Form3->butCancel);
            });
            guard([this] { DoSplit(); });
          }
          split::requestStop(false);
          splitRunning = false;
          if (closeAsked && hostWindow_) hostWindow_->close();
        },
        Qt::BlockingQueuedConnection);
    if (!done) QThread::msleep(10);
  }
}

bool SplitWorker::cancelled(const split::Outcome &outcome) {
  if (outcome.completed || !Form3->CancelRequested) return false;
  hideProgress();
  if (hostWindow_ && !closeAsked) {
    const qsizetype n = outcome.pieces.size();
    const QString folder = n > 0 ? QFileInfo(outcome.pieces.first()).absolutePath() : QString();
    const QString text = n == 0 ? QStringLiteral("The split was cancelled before a piece was complete.")
                         : QStringLiteral("The split was cancelled: %1 %2 written to the folder %3; the unfinished "
                                          "piece was removed.")
                               .arg(n)
                               .arg(n == 1 ? QStringLiteral("piece was") : QStringLiteral("pieces were"),
                                    QDir::toNativeSeparators(folder));
    platform().messageBox(hostWindow_, text, QString(), Platform::Icon::None);
  }
  return true;
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
  QStringList problems;
  if (written.skipped) problems << written.skipped->text;
  for (const split::Message &failure : written.failed) problems << failure.text;
  if (!problems.isEmpty())
    platform().messageBox(hostWindow_, problems.join(QStringLiteral("\r\n")), QString(), Platform::Icon::None);
}

namespace {
int clampInt(std::int64_t v) { return static_cast<int>(std::min<std::int64_t>(v, std::numeric_limits<int>::max())); }
}  // namespace

void ProgressReporter::start(std::int64_t maximum) { Form3->setProgress(0, clampInt(maximum), 0); }
void ProgressReporter::step() { Form3->advance(); }
void ProgressReporter::complete() { Form3->setProgress(0, Form3->Progress->maximum(), Form3->Progress->maximum()); }

void ProgressReporter::fail(const split::Message &message) {
  // Cancelled: the worker says what was left.
  if (!Form3->CancelRequested) platform().messageBox(nullptr, message.text, QString(), Platform::Icon::None);
  Form3->close();
}

void ProgressReporter::bytesCopied(std::int64_t, std::int64_t) { Form3->keepDrawn(); }

void ProgressReporter::notice(const split::Message &message) {
  platform().messageBox(nullptr, message.text, QString(), Platform::Icon::None);
}
