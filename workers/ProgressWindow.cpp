#include "ProgressWindow.h"

#include <QCoreApplication>
#include <QThread>
#include <QWindow>

#include "FitText.h"
#include "Platform.h"
#include "SplitEngine.h"

TForm3 *Form3 = nullptr;

TForm3::TForm3(QWidget *mainWindow)
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint), mainWindow_(mainWindow) {
  setupUi(this);
  dressWindow(this, QSize(208, 106));
  fitTexts(this);
  Progress->setRange(0, 100);
  connect(butCancel, &QAbstractButton::clicked, this, [this] { guard([this] { butCancelClick(butCancel); }); });
}

void TForm3::showEvent(QShowEvent *e) {
  QWidget::showEvent(e);
  guard([this] { FormShow(this); });
}

void TForm3::FormShow(QObject *) {
  if (mainWindow_) move(mainWindow_->x() + 150, mainWindow_->y() + 100);
}

void TForm3::butCancelClick(QObject *) {
  CancelRequested = true;
  split::requestStop();
}

// Above the main window whatever is clicked, as a dialog of it: a click on
// the main window during a split would otherwise bury the progress and its
// Cancel behind it.
void TForm3::keepAboveOwner() {
  if (!mainWindow_ || !mainWindow_->windowHandle()) return;
  winId();  // the window made, for the hint to go on
  if (windowHandle() && windowHandle()->transientParent() != mainWindow_->windowHandle())
    windowHandle()->setTransientParent(mainWindow_->windowHandle());
}

void TForm3::showBusy() {
  CancelRequested = false;
  keepAboveOwner();
  show();
  // The window system maps the window and asks for its contents a moment later.
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 500) {
    QCoreApplication::processEvents();
    if (!windowHandle()->isExposed()) QThread::msleep(2);
  }
  drawNow();
}

void TForm3::drawNow() {
  QCoreApplication::processEvents();
  lastDrawn_.start();
}

void TForm3::showFree() {
  CancelRequested = false;
  keepAboveOwner();
  show();
  raise();
}

void TForm3::setProgress(int minimum, int maximum, int position) {
  Progress->setRange(minimum, maximum);
  Progress->setValue(position);
}

void TForm3::advance() { Progress->setValue(Progress->value() + 1); }

void TForm3::keepDrawn() {
  if (isVisible() && (!lastDrawn_.isValid() || lastDrawn_.elapsed() >= kDrawInterval)) drawNow();
}
