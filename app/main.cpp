#include <QApplication>
#include <QTimer>

#include "Platform.h"
#include "Unit1.h"
#include "Unit10.h"
#include "Unit6.h"
#include "Unit7.h"

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
      Form1->show();
      // For the start-up benchmark: end as soon as the window has been shown.
      if (qEnvironmentVariableIsSet("TRANCHETTE_QUIT_WHEN_SHOWN")) QTimer::singleShot(0, &app, &QApplication::quit);
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
