#pragma once

#include <QDialog>

#include "FlatButton.h"
#include "Image.h"
#include "ui_AboutWindow.h"

// The about window: name and version, the web site and the support address,
// and the credits behind the T key.
class TForm7 : public QDialog, public Ui::TForm7 {
  Q_OBJECT

 public:
  explicit TForm7(QWidget *mainWindow);

  static const QString WebSite;
  static const QString SupportAddress;
  static const QString Credits;

  // The top-left corner that centres a window of `size` over `main`.
  static QPoint centredOver(const QRect &main, const QSize &size);

  void FormShow(QObject *Sender);
  void FormKeyDown(QObject *Sender, int Key);
  void butOKClick(QObject *Sender);
  void butWebsiteClick(QObject *Sender);
  void butSupportClick(QObject *Sender);

 protected:
  void showEvent(QShowEvent *) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void showAddress(const QString &what, const QString &address);

  QWidget *mainWindow_;
};

extern TForm7 *Form7;
