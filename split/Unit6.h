#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include "FlatButton.h"
#include "ui_Unit6.h"

// The progress window of a split: "Please wait...", a bar and a Cancel button
// that is there to be seen (a split cannot be cancelled). It opens at a fixed
// offset from the main window's top-left corner on every show.
class TForm3 : public QWidget, public Ui::TForm3 {
  Q_OBJECT

 public:
  explicit TForm3(QWidget *mainWindow);

  void FormShow(QObject *Sender);
  void butCancelClick(QObject *Sender);

  // A split runs on the main thread, which handles no events while it copies:
  // showBusy() shows the window and lets the window system's expose and paint
  // events through until it is drawn, and every move of the bar repaints it and,
  // at most every kDrawInterval ms, lets those events through again. Input
  // stays queued until the split has ended.
  void showBusy();
  void setProgress(int minimum, int maximum, int position);
  void advance();

  static constexpr int kDrawInterval = 40;

 protected:
  void showEvent(QShowEvent *) override;

 private:
  void drawNow();

  QWidget *mainWindow_;
  QElapsedTimer lastDrawn_;
};

extern TForm3 *Form3;
