#pragma once

#include <QDialog>

#include "FlatButton.h"
#include "ui_OffsetDialog.h"

// "Advanced options...": the offset between the player's position and the
// displayed frame, from -200 to +200 frames.
class TfrmAdjust : public QDialog, public Ui::TfrmAdjust {
  Q_OBJECT

 public:
  explicit TfrmAdjust(QWidget *mainWindow);

  void FormShow(QObject *Sender);
  void TrackBar1Change(QObject *Sender);
  void butOKClick(QObject *Sender);
  void butResetClick(QObject *Sender);
  void butCancelClick(QObject *Sender);

 protected:
  void showEvent(QShowEvent *) override;

 private:
  QWidget *mainWindow_;
};

extern TfrmAdjust *frmAdjust;
