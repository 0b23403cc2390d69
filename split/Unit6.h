#pragma once

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

  // The bar's place is changed while the main thread copies files and paints
  // nothing else, so it is drawn at once.
  void setProgress(int minimum, int maximum, int position);
  void advance();

 protected:
  void showEvent(QShowEvent *) override;

 private:
  QWidget *mainWindow_;
};

extern TForm3 *Form3;
