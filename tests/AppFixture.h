#pragma once

#include <deque>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QStyleHints>
#include <QtTest>

#include "AboutWindow.h"
#include "MainWindow.h"
#include "OffsetDialog.h"
#include "Platform.h"
#include "ProgressWindow.h"

namespace {

// Answers the program's dialogs from a script and records its messages.
class FakePlatform : public Platform {
 public:
  struct Message {
    QString text, caption;
    Icon icon;
  };
  std::deque<QString> fileAnswers;  // an empty answer cancels
  QList<Message> messages;
  QList<QUrl> opened;
  std::deque<QString> menuAnswers;
  QList<QPoint> menus;
  QPoint cursor{400, 300};
  int fileDialogs = 0;
  bool grabbedDuringDialog = false;  // a modal window would not get the mouse
  QString lastDialogTitle;

  void messageBox(QWidget *, const QString &text, const QString &caption, Icon icon) override {
    messages.append({text, caption, icon});
  }
  std::optional<QString> openFile(QWidget *, const FileDialog &d) override { return answer(d); }
  std::optional<QString> saveFile(QWidget *, const FileDialog &d) override { return answer(d); }
  // A pop-up menu triggers the entry named in menuAnswers, if any.
  void popupMenu(QMenu *menu, const QPoint &at) override {
    menus << at;
    if (menuAnswers.empty()) return;
    const QString entry = menuAnswers.front();
    menuAnswers.pop_front();
    for (QAction *a : menu->actions())
      if (a->text() == entry) a->trigger();
  }
  // A dialog of the program's own: `dialogAnswer` fills it in and says
  // whether it is accepted; none cancels it.
  std::function<bool(QDialog *)> dialogAnswer;
  QStringList dialogs;  // their titles
  bool runDialog(QDialog *dialog) override {
    dialogs << dialog->windowTitle();
    return dialogAnswer && dialogAnswer(dialog);
  }
  QPoint cursorPos() override { return cursor; }
  bool handlers = true;  // whether the desktop has a program for every file and address
  bool openUrl(const QUrl &url) override {
    opened << url;
    return handlers;
  }

 private:
  std::optional<QString> answer(const FileDialog &d) {
    ++fileDialogs;
    grabbedDuringDialog |= QWidget::mouseGrabber() != nullptr;
    lastDialogTitle = d.title;
    if (fileAnswers.empty()) return std::nullopt;
    const QString a = fileAnswers.front();
    fileAnswers.pop_front();
    if (a.isEmpty()) return std::nullopt;
    return a;
  }
};

}  // namespace

// Starts the program as main() does, with the stored settings given and a
// scripted platform; returns the platform.
inline FakePlatform *startProgram(const QVariantMap &stored = {}) {
  {
    QSettings s(QStringLiteral("Velmora"), QStringLiteral("Tranchette"));
    s.clear();
    for (auto it = stored.begin(); it != stored.end(); ++it) s.setValue(it.key(), it.value());
  }
  setApplicationErrorHandler(nullptr);
  auto fake = std::make_unique<FakePlatform>();
  FakePlatform *p = fake.get();
  setPlatform(std::move(fake));
  // Tests click Next right after a page change; the test of the double-click
  // guard sets the interval it needs.
  QGuiApplication::styleHints()->setMouseDoubleClickInterval(0);
  Form1 = new TForm1;
  Form3 = new TForm3(Form1);
  Form7 = new TForm7(Form1);
  frmAdjust = new TfrmAdjust(Form1);
  Form1->show();
  Form1->activateWindow();
  QApplication::setActiveWindow(Form1);
  return p;
}

inline void stopProgram() {
  if (QWidget *grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  delete frmAdjust;
  delete Form7;
  delete Form3;
  delete Form1;
  frmAdjust = nullptr;
  Form7 = nullptr;
  Form3 = nullptr;
  Form1 = nullptr;
}

// Points at the middle of the widget, as a hand on the mouse would, and clicks.
inline void click(QWidget *w, Qt::MouseButton button = Qt::LeftButton) {
  const QPoint centre(w->width() / 2, w->height() / 2);
  // The desktop reports a move only when the pointer's place changes.
  QCursor::setPos(w->mapToGlobal(centre) + QPoint(1, 1));
  QCursor::setPos(w->mapToGlobal(centre));
  QCoreApplication::processEvents();
  QTest::mouseClick(w, button, {}, centre);
}

// Runs `then` once the (modal) window is on the screen.
inline void whenShown(QWidget *w, std::function<void()> then) {
  auto *poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, w, then] {
    if (!w->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    then();
  });
  poll->start(10);
}
