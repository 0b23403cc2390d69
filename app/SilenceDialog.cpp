#include "SilenceDialog.h"

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QSpinBox>

#include "FitText.h"
#include "FlatButton.h"
#include "FlatCheck.h"
#include "Platform.h"

namespace {
QDoubleSpinBox *numberBox(QWidget *parent, const QRect &at, double least, double most, double step, double value,
                          const QString &suffix) {
  auto *box = new QDoubleSpinBox(parent);
  box->setGeometry(at);
  box->setRange(least, most);
  box->setSingleStep(step);
  box->setDecimals(1);
  box->setValue(value);
  box->setSuffix(suffix);
  box->setAlignment(Qt::AlignRight);
  return box;
}
}  // namespace

TfrmSilences::TfrmSilences(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mainWindow_(mainWindow) {
  setWindowTitle(QStringLiteral("Find Silences"));
  const found::SilenceSettings defaults;
  auto *level = new QLabel(QStringLiteral("Silence is sound below:"), this);
  level->setGeometry(16, 16, 130, 21);
  editLevel = numberBox(this, QRect(152, 14, 90, 23), -120, 0, 1, defaults.levelDb, QStringLiteral(" dB"));
  auto *length = new QLabel(QStringLiteral("For at least:"), this);
  length->setGeometry(16, 50, 130, 21);
  editLength = numberBox(this, QRect(152, 48, 90, 23), 0.1, 600, 0.5, defaults.minSeconds, QStringLiteral(" s"));
  auto *pieces = new QLabel(QStringLiteral("Pieces wanted:"), this);
  pieces->setGeometry(16, 84, 130, 21);
  editPieces = new QSpinBox(this);
  editPieces->setGeometry(152, 82, 90, 23);
  editPieces->setRange(0, 99999);
  editPieces->setSpecialValueText(QStringLiteral(" "));  // 0: every silence
  editPieces->setAlignment(Qt::AlignRight);
  editPieces->setToolTip(QStringLiteral("Empty: a breakpoint at every silence; N: at the N-1 longest"));
  chkReplace = new TFlatCheckBox(this);
  chkReplace->setGeometry(16, 116, 230, 17);
  chkReplace->setText(QStringLiteral("Replace the breakpoints found before"));
  chkReplace->setChecked(true);
  level->setBuddy(editLevel);
  length->setBuddy(editLength);
  pieces->setBuddy(editPieces);
  butOK = new TFlatButton(this);
  butOK->setGeometry(56, 150, 65, 25);
  butOK->setSkin(QStringLiteral("OK"));
  butCancel = new TFlatButton(this);
  butCancel->setGeometry(136, 150, 65, 25);
  butCancel->setSkin(QStringLiteral("CANCEL"));
  dressWindow(this, QSize(258, 182));
  fitTexts(this);
  connect(butOK, &QAbstractButton::clicked, this, &QDialog::accept);
  connect(butCancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

void TfrmSilences::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (mainWindow_)
    move(mainWindow_->x() + (mainWindow_->width() - width()) / 2,
         mainWindow_->y() + (mainWindow_->height() - height()) / 2);
  editLevel->setFocus();
}

void TfrmSilences::keyPressEvent(QKeyEvent *e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

TfrmSilences::Search TfrmSilences::search() const {
  return {{editLevel->value(), editLength->value()}, editPieces->value(), chkReplace->isChecked()};
}

void TfrmSilences::setSearch(const Search &search) {
  editLevel->setValue(search.settings.levelDb);
  editLength->setValue(search.settings.minSeconds);
  editPieces->setValue(search.pieces);
  chkReplace->setChecked(search.replace);
}
