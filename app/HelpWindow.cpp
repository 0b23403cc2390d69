#include "HelpWindow.h"

#include <QApplication>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

#include "Platform.h"

const QUrl THelpWindow::FirstPage(QStringLiteral("qrc:/help/index.html"));

THelpWindow::THelpWindow(QWidget *mainWindow) : QWidget(mainWindow, Qt::Window) {
  Q_INIT_RESOURCE(help);
  setWindowTitle(QStringLiteral("Tranchette Help"));
  // White and in the windows' font like the others, but free in size.
  dressWindow(this, QSize(520, 420));
  setMinimumSize(240, 160);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  Browser = new QTextBrowser(this);
  Browser->setFrameShape(QFrame::NoFrame);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(Browser);
  Browser->setSource(FirstPage);
  // The window's white would leave the scroll bars' thumbs white on white.
  const QPalette standard = QApplication::style()->standardPalette();
  Browser->verticalScrollBar()->setPalette(standard);
  Browser->horizontalScrollBar()->setPalette(standard);
  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
}
