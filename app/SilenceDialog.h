#pragma once

#include <QDialog>

#include "Silences.h"

class QDoubleSpinBox;
class TFlatButton;

// "Find Silences...": the level below which sound counts as silence and the
// shortest silence, in the offset dialog's style.
class TfrmSilences : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSilences(QWidget *mainWindow);

  found::SilenceSettings settings() const;

  QDoubleSpinBox *editLevel = nullptr;
  QDoubleSpinBox *editLength = nullptr;
  TFlatButton *butOK = nullptr;
  TFlatButton *butCancel = nullptr;

 protected:
  void showEvent(QShowEvent *) override;
  // Enter is OK, as Escape is Cancel: the flat buttons take no default.
  void keyPressEvent(QKeyEvent *) override;

 private:
  QWidget *mainWindow_;
};
