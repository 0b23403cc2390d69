#include "AboutWindow.h"

#include <QKeyEvent>
#include <QUrl>

#include "FitText.h"
#include "Platform.h"

TForm7 *Form7 = nullptr;

const QString TForm7::WebSite = QStringLiteral("www.example.org");
const QString TForm7::SupportAddress = QStringLiteral("support@example.org");
const QString TForm7::Credits = QStringLiteral(
    "PROGRAMMER:        the Tranchette developers\r\n"
    "GRAPHICS:                the Tranchette developers\r\n"
    "SPECIAL THANKS:    everyone who reported a bug");

TForm7::TForm7(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mainWindow_(mainWindow) {
  setupUi(this);
  dressWindow(this, QSize(300, 195));
  butWebsite->setText(WebSite);
  butSupport->setText(SupportAddress);
  fitTexts(this);
  // Keyboard preview: the window sees every key before its controls do.
  for (QWidget *child : findChildren<QWidget *>()) child->installEventFilter(this);
  installEventFilter(this);
  connect(butOK, &QAbstractButton::clicked, this, [this] { guard([this] { butOKClick(butOK); }); });
  connect(butWebsite, &QAbstractButton::clicked, this, [this] { guard([this] { butWebsiteClick(butWebsite); }); });
  connect(butSupport, &QAbstractButton::clicked, this, [this] { guard([this] { butSupportClick(butSupport); }); });
}

void TForm7::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  guard([this] { FormShow(this); });
}

QPoint TForm7::centredOver(const QRect &main, const QSize &size) {
  return {main.left() + main.width() / 2 - size.width() / 2, main.top() + main.height() / 2 - size.height() / 2};
}

void TForm7::FormShow(QObject *) {
  if (mainWindow_) move(centredOver(QRect(mainWindow_->pos(), mainWindow_->size()), size()));
}

bool TForm7::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress) {
    const auto *key = static_cast<QKeyEvent *>(event);
    guard([&] { FormKeyDown(this, key->key()); });
    if (key->key() == Qt::Key_Escape) {
      close();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TForm7::FormKeyDown(QObject *, int Key) {
  if (Key != Qt::Key_T) return;
  Label4->hide();
  Label5->hide();
  butWebsite->hide();
  butSupport->hide();
  Label7->show();
  Label7->move(40, Label7->y());
  Label7->setText(Credits);
  Label7->adjustSize();
}

void TForm7::butOKClick(QObject *) {
  butOK->setSkin(QStringLiteral("OK"));
  close();
}

// Where the desktop has no program for the address, the user gets the address.
void TForm7::butWebsiteClick(QObject *) {
  if (!platform().openUrl(QUrl(QStringLiteral("http://") + WebSite)))
    showAddress(QStringLiteral("Visit the web site with your web browser:"), WebSite);
}

void TForm7::butSupportClick(QObject *) {
  if (!platform().openUrl(QUrl(QStringLiteral("mailto:") + SupportAddress)))
    showAddress(QStringLiteral("Write to support with your mail program:"), SupportAddress);
}

void TForm7::showAddress(const QString &what, const QString &address) {
  platform().messageBox(this, what + QStringLiteral("\r\n") + address, windowTitle(), Platform::Icon::Information);
}
