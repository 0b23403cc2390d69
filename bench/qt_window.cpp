// The least a Qt Widgets program does to show a window: the reference for the
// start-up benchmark.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // Ends once the window has been painted, as Tranchette does for the benchmark.
  struct Window : QWidget {
    void paintEvent(QPaintEvent *) override { QTimer::singleShot(0, qApp, &QApplication::quit); }
  } w;
  w.resize(539, 325);
  w.show();
  return app.exec();
}
