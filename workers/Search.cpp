#include "Search.h"

#include <limits>
#include <thread>

#include <QLabel>
#include <QScopeGuard>
#include <QThread>

#include "InputGate.h"
#include "ProgressWindow.h"
#include "SplitEngine.h"

bool runSearch(QWidget *hostWindow, const QString &title, const std::function<void(SearchProgress &)> &work) {
  SearchProgress progress;
  std::atomic<bool> finished{false};
  bool closeAsked = false;
  std::thread worker([&] {
    work(progress);
    finished = true;
  });
  Form3->Progress->setValue(Form3->Progress->minimum());
  const QString waiting = Form3->Label1->text(), caption = Form3->windowTitle();
  const QRect place = Form3->Label1->geometry();
  Form3->setWindowTitle(title);
  Form3->Label1->setText(title);
  Form3->Label1->setGeometry(0, place.y(), Form3->width(), place.height());  // centred over the bar, whole
  Form3->Label1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  const auto restore = qScopeGuard([&] {
    Form3->setWindowTitle(caption);
    Form3->Label1->setText(waiting);
    Form3->Label1->setGeometry(place);
    Form3->Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  });
  Form3->showBusy();
  {
    InputGate gate(hostWindow, [&] {
      closeAsked = true;
      progress.stop = true;
    });
    while (!finished) {
      if (Form3->CancelRequested) progress.stop = true;
      const auto clamp = [](std::int64_t v) {
        return static_cast<int>(std::min<std::int64_t>(v, std::numeric_limits<int>::max()));
      };
      const int total = clamp(progress.total), done = clamp(progress.done);
      if (total > 0 && (Form3->Progress->maximum() != total || Form3->Progress->value() != done))
        Form3->setProgress(0, total, done);
      Form3->keepDrawn();
      QThread::msleep(10);
    }
  }
  worker.join();
  split::requestStop(false);  // Cancel asks the engine to stop as well: withdrawn, nothing of it runs
  Form3->hide();
  if (closeAsked && hostWindow) hostWindow->close();
  return !progress.stop;
}
