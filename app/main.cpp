#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "AboutWindow.h"
#include "CommandLine.h"
#include "FileName.h"
#include "MainWindow.h"
#include "OffsetDialog.h"
#include "Platform.h"
#include "ProgressWindow.h"

namespace {
class QuitOnFirstPaint : public QObject {
 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QApplication::quit);
    return QObject::eventFilter(watched, event);
  }
};
// The end of the session (SIGHUP, SIGTERM) or Ctrl-C ends the program as
// its Exit button does, so that the settings are kept: the handler only
// writes to a socket that the event loop watches.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void quitOnSignals(QObject *parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char byte = 0;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
    QApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // One that was ignored when the program started stays ignored (nohup).
  for (int sig : {SIGHUP, SIGTERM, SIGINT}) {
    struct sigaction before {};
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);  // past a file size limit, a piece's write fails and says so
}

}  // namespace

int main(int argc, char *argv[]) {
  if (const auto status = answerOwnOptions(argc, argv)) return *status;
  try {
    QApplication app(argc, argv);
    const auto file = fileArgument(argc, argv);
    if (!file) return 2;
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    quitOnSignals(&app);
    try {
      Form1 = new TForm1;
      Form3 = new TForm3(Form1);
      Form7 = new TForm7(Form1);
      frmAdjust = new TfrmAdjust(Form1);
      // For the start-up benchmark: end once the window has been painted.
      QuitOnFirstPaint quitWhenShown;
      if (qEnvironmentVariableIsSet("TRANCHETTE_QUIT_WHEN_SHOWN")) Form1->installEventFilter(&quitWhenShown);
      // The file's name as its bytes, whatever they are.
      if (!file->isEmpty()) Form1->takeSource(decodeFileName(*file));
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
