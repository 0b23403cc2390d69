#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include "FlatButton.h"
#include "ui_ProgressWindow.h"

// The progress window of a split: "Please wait...", a bar and a Cancel button
// that stops the split after the piece being written (whose unfinished file
// goes). It opens at a fixed offset from the main window's top-left corner on
// every show.
class TForm3 : public QWidget, public Ui::TForm3 {
  Q_OBJECT

 public:
  explicit TForm3(QWidget *mainWindow);

  void FormShow(QObject *Sender);
  void butCancelClick(QObject *Sender);

  // A split runs on a thread of its own while the main thread goes on
  // handling events: showFree() shows the window, and the bar moves by
  // setProgress() and advance(). The split's worker keeps the input of
  // every other window out meanwhile, so that only Cancel can be pressed.
  void showFree();
  void setProgress(int minimum, int maximum, int position);
  void advance();
  // A search waits on the main thread, which handles no events meanwhile:
  // showBusy() shows the window and lets the window system's events through
  // until it is drawn, and keepDrawn() lets them through again at most
  // every kDrawInterval ms.
  void showBusy();
  void keepDrawn();

  // Whether Cancel was pressed since the window was last shown busy.
  bool CancelRequested = false;

  static constexpr int kDrawInterval = 40;

 protected:
  void showEvent(QShowEvent *) override;

 private:
  void keepAboveOwner();
  void drawNow();

  QWidget *mainWindow_;
  QElapsedTimer lastDrawn_;
};

extern TForm3 *Form3;
