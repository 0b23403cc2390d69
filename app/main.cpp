#include <QApplication>
#include <QTimer>

#include "Platform.h"
#include "Unit1.h"
#include "Unit10.h"
#include "Unit6.h"
#include "Unit7.h"

namespace {
class QuitOnFirstPaint : public QObject {
 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QApplication::quit);
    return QObject::eventFilter(watched, event);
  }
};
}  // namespace

int main(int argc, char *argv[]) {
  try {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    try {
      Form1 = new TForm1;
      Form3 = new TForm3(Form1);
      Form7 = new TForm7(Form1);
      frmAdjust = new TfrmAdjust(Form1);
      // For the start-up benchmark: end once the window has been painted.
      QuitOnFirstPaint quitWhenShown;
      if (qEnvironmentVariableIsSet("TRANCHETTE_QUIT_WHEN_SHOWN")) Form1->installEventFilter(&quitWhenShown);
      Form1->openFromCommandLine(QApplication::arguments());
      Form1->show();
      app.exec();
    } catch (const std::exception &error) {
      setApplicationErrorHandler(nullptr);
      handleApplicationError(error);
    }
    delete frmAdjust;
    delete Form7;
    delete Form3;
    delete Form1;
  } catch (const std::exception &) {
    return 1;
  }
  return 0;
}
