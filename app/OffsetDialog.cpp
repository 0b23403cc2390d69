#include "OffsetDialog.h"

#include "FitText.h"
#include "MainWindow.h"
#include "Platform.h"

TfrmAdjust *frmAdjust = nullptr;

TfrmAdjust::TfrmAdjust(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mainWindow_(mainWindow) {
  setupUi(this);
  dressWindow(this, QSize(258, 136));
  fitTexts(this);
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { guard([this] { TrackBar1Change(TrackBar1); }); });
  connect(butOK, &QAbstractButton::clicked, this, [this] { guard([this] { butOKClick(butOK); }); });
  connect(butReset, &QAbstractButton::clicked, this, [this] { guard([this] { butResetClick(butReset); }); });
  connect(butCancel, &QAbstractButton::clicked, this, [this] { guard([this] { butCancelClick(butCancel); }); });
}

void TfrmAdjust::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (mainWindow_)
    move(mainWindow_->x() + (mainWindow_->width() - width()) / 2,
         mainWindow_->y() + (mainWindow_->height() - height()) / 2);
  guard([this] { FormShow(this); });
}

void TfrmAdjust::FormShow(QObject *) {
  butOK->setSkin(QStringLiteral("OK"));
  butCancel->setSkin(QStringLiteral("CANCEL"));
  butReset->setSkin(QStringLiteral("RESET"));
  TrackBar1->setValue(Form1->Offset);
  Label1->setText(QString::number(TrackBar1->value() - 200));
}

void TfrmAdjust::TrackBar1Change(QObject *) { Label1->setText(QString::number(TrackBar1->value() - 200)); }

void TfrmAdjust::butResetClick(QObject *) { TrackBar1->setValue(200); }

void TfrmAdjust::butOKClick(QObject *) {
  Form1->Offset = TrackBar1->value();
  Form1->FrameCorrection = Form1->Offset - 200;
  Form1->Slider->setMax(Form1->GetFrameCount() + Form1->FrameCorrection);
  close();
}

void TfrmAdjust::butCancelClick(QObject *) { close(); }
