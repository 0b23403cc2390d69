#pragma once

#include <functional>
#include <utility>

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

// While long work runs on the main thread with the progress window letting
// events through, the main window takes no input (the progress window and
// the work's messages do). Closing the main window (from the window
// manager) calls `onClose` instead, which cancels the work.
class InputGate : public QObject {
 public:
  InputGate(QWidget *hostWindow, std::function<void()> onClose)
      : hostWindow_(hostWindow), onClose_(std::move(onClose)) {
    qApp->installEventFilter(this);
  }
  ~InputGate() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Close && watched == hostWindow_) {
      onClose_();
      event->ignore();
      return true;
    }
    if (!isInput(event->type()) || !hostWindow_) return false;
    if (auto *w = qobject_cast<QWidget *>(watched)) return w->window() == hostWindow_;
    if (auto *w = qobject_cast<QWindow *>(watched)) return w == hostWindow_->windowHandle();
    return false;
  }

 private:
  static bool isInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress: case QEvent::MouseButtonRelease: case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove: case QEvent::KeyPress: case QEvent::KeyRelease: case QEvent::ShortcutOverride:
      case QEvent::Shortcut: case QEvent::Wheel: case QEvent::ContextMenu: case QEvent::DragEnter:
      case QEvent::DragMove: case QEvent::Drop: case QEvent::TouchBegin: case QEvent::TouchUpdate:
      case QEvent::TouchEnd: case QEvent::TabletPress: case QEvent::TabletRelease: case QEvent::TabletMove:
        return true;
      default:
        return false;
    }
  }
  QPointer<QWidget> hostWindow_;
  std::function<void()> onClose_;
};
