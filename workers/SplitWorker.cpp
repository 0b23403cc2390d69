#include "SplitWorker.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "InputGate.h"
#include "Platform.h"
#include "ProgressWindow.h"

namespace {

// One split at a time: a worker holds it from its start to its end.
std::mutex turn;
// Main thread only: the gate of the split that runs, and whether the main
// window was closed during it.
std::unique_ptr<InputGate> gate;
bool closeAsked = false;

// Runs `call` on the main thread and waits for it.
template <typename Call>
void onMainThread(Call call) {
  QMetaObject::invokeMethod(qApp, [&call] { guard(call); }, Qt::BlockingQueuedConnection);
}
template <typename Call>
void onMainThreadLater(Call call) {
  QMetaObject::invokeMethod(qApp, [call] { guard(call); }, Qt::QueuedConnection);
}

int clampInt(std::int64_t v) { return static_cast<int>(std::min<std::int64_t>(v, std::numeric_limits<int>::max())); }

}  // namespace

SplitWorker::SplitWorker(QWidget *hostWindow, SplitRequest request)
    : request_(std::move(request)), hostWindow_(hostWindow) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void SplitWorker::run() {
  const std::lock_guard hold(turn);
  bool begun = false;
  onMainThread([&] { begun = begin(); });
  if (!begun) return;
  ProgressReporter reporter;
  split::Outcome outcome;
  std::exception_ptr escaped;
  try {
    outcome = DoSplit(reporter);
  } catch (...) {
    escaped = std::current_exception();  // for the main thread's handler
  }
  onMainThread([&] {
    end(outcome);
    if (escaped) std::rethrow_exception(escaped);
  });
}

bool SplitWorker::begin() {
  if (!hostWindow_ || !wanted()) return false;
  split::requestStop(false);
  closeAsked = false;
  gate = std::make_unique<InputGate>(hostWindow_, [] {
    closeAsked = true;
    Form3->butCancelClick(Form3->butCancel);
  });
  // Empty from its first picture: an exact cut reads its source before the
  // bar has a step to take, and the last split's full bar would stay meanwhile.
  Form3->Progress->setValue(Form3->Progress->minimum());
  Form3->showFree();
  return true;
}

void SplitWorker::end(const split::Outcome &outcome) {
  const bool cancelled = !outcome.completed && Form3->CancelRequested;
  if (outcome.completed || cancelled) Form3->hide();
  if (cancelled)
    tellCancelled(outcome);
  else
    writeJoin(outcome);
  if (outcome.completed && !afterword_.isEmpty() && hostWindow_ && !closeAsked)
    platform().messageBox(hostWindow_, afterword_, QString(), Platform::Icon::Information);
  gate.reset();
  split::requestStop(false);
  emit ended(outcome.completed, outcome.pieces);
  if (closeAsked && hostWindow_) hostWindow_->close();
}

void SplitWorker::showLooked(std::int64_t done, std::int64_t total) {
  // A thousand steps at most: the bar moves no finer, and the main thread is
  // not flooded.
  const int permille = total > 0 ? static_cast<int>(std::clamp<std::int64_t>(done * 1000 / total, 0, 1000)) : 0;
  if (permille == looked_) return;
  looked_ = permille;
  onMainThreadLater([permille] { Form3->setProgress(0, 1000, permille); });
}

void SplitWorker::tellCancelled(const split::Outcome &outcome) {
  if (!hostWindow_ || closeAsked) return;
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

void SplitWorker::writeJoin(const split::Outcome &outcome) {
  if (!request_.join || !outcome.completed || outcome.pieces.isEmpty()) return;
  // The pieces are written all the same; only the files that glue them are missing.
  const split::JoinFiles written = split::writeJoinFiles(outcome.pieces, request_.joinName, request_.exact);
  QStringList problems;
  if (written.skipped) problems << written.skipped->text;
  for (const split::Message &failure : written.failed) problems << failure.text;
  if (!problems.isEmpty())
    platform().messageBox(hostWindow_, problems.join(QStringLiteral("\r\n")), QString(), Platform::Icon::None);
}

void ProgressReporter::start(std::int64_t maximum) {
  onMainThreadLater([maximum] { Form3->setProgress(0, clampInt(maximum), 0); });
}
void ProgressReporter::step() {
  onMainThreadLater([] { Form3->advance(); });
}
void ProgressReporter::complete() {
  onMainThreadLater([] { Form3->setProgress(0, Form3->Progress->maximum(), Form3->Progress->maximum()); });
}

void ProgressReporter::fail(const split::Message &message) {
  onMainThread([&] {
    // Cancelled: the worker says what was left.
    if (!Form3->CancelRequested) platform().messageBox(nullptr, message.text, QString(), Platform::Icon::None);
    Form3->close();
  });
}

void ProgressReporter::notice(const split::Message &message) {
  onMainThread([&] { platform().messageBox(nullptr, message.text, QString(), Platform::Icon::None); });
}
