#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <QPoint>
#include <QString>
#include <QUrl>

class QDialog;
class QMenu;
class QWidget;

// What the program asks of the desktop: modal dialogs and message boxes, pop-up
// menus, the pointer's place and the shell. Tests put a scripted fake in place
// of the real one, so that nothing waits for a person.
class Platform {
 public:
  enum class Icon { None, Information, Error };

  struct FileDialog {
    QString title;
    QString filter;  // "Name|*.a;*.b|Other|*.*"
    QString defaultExt;
    QString fileName;  // the name last confirmed, or empty
  };

  virtual ~Platform() = default;
  virtual void messageBox(QWidget *parent, const QString &text, const QString &caption, Icon icon) = 0;
  // The confirmed full path, or nothing when cancelled.
  virtual std::optional<QString> openFile(QWidget *parent, const FileDialog &dialog) = 0;
  virtual std::optional<QString> saveFile(QWidget *parent, const FileDialog &dialog) = 0;
  // Shows the menu at a screen point and returns once it has closed (and the
  // chosen action has run).
  virtual void popupMenu(QMenu *menu, const QPoint &at) = 0;
  // Runs a dialog of the program's own modally; true when it was accepted.
  virtual bool runDialog(QDialog *dialog) = 0;
  virtual QPoint cursorPos() = 0;
  // Hands a file, web page or mail address to the desktop's program for it.
  // False when the desktop has no such program, so that the caller can fall
  // back on a way of its own.
  virtual bool openUrl(const QUrl &url) = 0;
};

// The platform in use; the desktop's own unless a test set another.
Platform &platform();
// Takes over p; nullptr puts the desktop's own back.
void setPlatform(std::unique_ptr<Platform> p);

// Qt's file dialog filter for "Name|*.a;*.b|Other|*.*".
QString qtFilter(const QString &filter);

// An open or save dialog that keeps the name last confirmed in it and, like
// the desktop's dialogs, makes the confirmed file's folder the current one.
class TFileDialog {
 public:
  enum class Kind { Open, Save };
  TFileDialog(Kind kind, QString title, QString filter, QString defaultExt);
  // True when a name was confirmed; FileName() keeps the last confirmed name.
  bool Execute(QWidget *parent);
  const QString &FileName() const { return state_.fileName; }

 private:
  Kind kind_;
  Platform::FileDialog state_;
};

// The application-wide error handler: every event handler runs through
// guard(), and an exception escaping it goes to the installed handler. Until
// one is installed, the error is shown in a message box with the application's
// title.
using ErrorHandler = std::function<void(const std::exception &)>;
void setApplicationErrorHandler(ErrorHandler handler);
void handleApplicationError(const std::exception &error);

template <typename F>
void guard(F &&handler) noexcept {
  try {
    handler();
  } catch (const std::exception &error) {
    handleApplicationError(error);
  } catch (...) {
    handleApplicationError(std::runtime_error("Unknown error"));
  }
}

// Waits for at least one event and handles what is pending. A quit request
// found there stays in force, so the program still ends.
void PumpOneMessage();

// The windows' font: the classic 8-point sans serif, or its metric twin.
class QFont;
QFont windowFont();

// Every window: white, of a fixed client size, in the windows' font.
class QSize;
void dressWindow(QWidget *window, const QSize &clientSize);

// A skin bitmap from the resources, loaded afresh on every call; on a dense
// screen, drawn at twice the size with a device pixel ratio of 2.
class QPixmap;
QPixmap skinBitmap(const QString &name);

// The program's icon, in every size the resources hold.
class QIcon;
QIcon programIcon();
