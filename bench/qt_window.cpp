// The least a Qt Widgets program does to show a window: the reference for the
// start-up benchmark. Quits as soon as the window has been shown and painted.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  QWidget w;
  w.resize(539, 325);
  w.show();
  QTimer::singleShot(0, &app, &QApplication::quit);
  return app.exec();
}
