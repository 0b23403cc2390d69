#pragma once

#include <QDialog>

#include "Silences.h"

class QDoubleSpinBox;
class QSpinBox;
class TFlatCheckBox;
class TFlatButton;

// "Find Silences...": the level below which sound counts as silence and the
// shortest silence, in the offset dialog's style.
class TfrmSilences : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSilences(QWidget *mainWindow);

  // What the search asks: the silence settings, how many pieces are wanted
  // (0: a breakpoint at every silence), and whether the breakpoints an
  // earlier search found go first.
  struct Search {
    found::SilenceSettings settings;
    int pieces = 0;
    bool replace = true;
  };
  Search search() const;
  void setSearch(const Search &search);
  found::SilenceSettings settings() const { return search().settings; }

  QDoubleSpinBox *editLevel = nullptr;
  QDoubleSpinBox *editLength = nullptr;
  QSpinBox *editPieces = nullptr;
  TFlatCheckBox *chkReplace = nullptr;
  TFlatButton *butOK = nullptr;
  TFlatButton *butCancel = nullptr;

 protected:
  void showEvent(QShowEvent *) override;
  // Enter is OK, as Escape is Cancel: the flat buttons take no default.
  void keyPressEvent(QKeyEvent *) override;

 private:
  QWidget *mainWindow_;
};
