#pragma once

#include <QTextBrowser>
#include <QWidget>

// The help's pages, built into the program, in a window of their own: where
// the desktop has no viewer for help.chm, Help -> Contents opens this instead.
class THelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit THelpWindow(QWidget *mainWindow);

  static const QUrl FirstPage;
  QTextBrowser *Browser = nullptr;
};
