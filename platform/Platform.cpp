#include "Platform.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPixmap>
#include <QProcess>
#include <QSettings>
#include <QStringList>

namespace {

// A modal window must get the mouse, whatever button held it.
void releaseCapture() {
  if (QWidget *grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

class DesktopPlatform final : public Platform {
 public:
  void messageBox(QWidget *parent, const QString &text, const QString &caption, Icon icon) override {
    releaseCapture();
    QMessageBox box(parent);
    box.setIcon(icon == Icon::Information ? QMessageBox::Information
                : icon == Icon::Error     ? QMessageBox::Critical
                                          : QMessageBox::NoIcon);
    box.setWindowTitle(caption.isEmpty() ? QApplication::applicationDisplayName() : caption);
    box.setText(text);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);  // addresses can be copied
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
  }

  std::optional<QString> openFile(QWidget *parent, const FileDialog &dialog) override {
    return run(parent, dialog, QFileDialog::AcceptOpen);
  }
  std::optional<QString> saveFile(QWidget *parent, const FileDialog &dialog) override {
    return run(parent, dialog, QFileDialog::AcceptSave);
  }

  void popupMenu(QMenu *menu, const QPoint &at) override {
    releaseCapture();
    menu->exec(at);
  }
  bool runDialog(QDialog *dialog) override {
    releaseCapture();
    return dialog->exec() == QDialog::Accepted;
  }
  QPoint cursorPos() override { return QCursor::pos(); }
  bool openUrl(const QUrl &url) override { return hasHandler(url) && QDesktopServices::openUrl(url); }

 private:
  // The desktop starts xdg-open, which succeeds in starting even where no
  // program is set up for the file's type or the address's scheme: ask first.
  static bool hasHandler(const QUrl &url) {
#ifdef Q_OS_WIN
    Q_UNUSED(url);
    return true;
#else
    const QString type = url.isLocalFile() ? QMimeDatabase().mimeTypeForFile(url.toLocalFile()).name()
                                           : QStringLiteral("x-scheme-handler/") + url.scheme();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
      return false;
    return !query.readAllStandardOutput().trimmed().isEmpty();
#endif
  }

  static std::optional<QString> run(QWidget *parent, const FileDialog &d, QFileDialog::AcceptMode mode) {
    releaseCapture();
    const NoDialogSettings noSettings;
    QFileDialog dialog(parent, d.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The filters show by their names alone, as they are named.
    // Where a file stands under the name, the program asks what it would do to it.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                      QFileDialog::DontConfirmOverwrite);
    if (!d.filter.isEmpty()) dialog.setNameFilter(qtFilter(d.filter));
    if (!d.defaultExt.isEmpty()) dialog.setDefaultSuffix(d.defaultExt);
    if (!d.fileName.isEmpty()) dialog.selectFile(d.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
  }

  // Qt's file dialog keeps its own settings (the folders last visited, its
  // size) in the user's QtProject.conf. The program writes no file of the
  // user's but its own settings: while a dialog lives, the user's settings
  // folder is one that cannot be made, so that nothing is written there.
  class NoDialogSettings {
   public:
    NoDialogSettings()
        : userFolder_(QFileInfo(QFileInfo(QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                                    QStringLiteral("o"), QStringLiteral("a"))
                                              .fileName())
                                    .path())
                          .path()) {
      QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null/none"));
    }
    ~NoDialogSettings() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userFolder_); }
    NoDialogSettings(const NoDialogSettings &) = delete;
    NoDialogSettings &operator=(const NoDialogSettings &) = delete;

   private:
    QString userFolder_;  // where <organization>/<application>.conf files go
  };
};

std::unique_ptr<Platform> &current() {
  static std::unique_ptr<Platform> p = std::make_unique<DesktopPlatform>();
  return p;
}

ErrorHandler &installedHandler() {
  static ErrorHandler handler;
  return handler;
}

}  // namespace

Platform &platform() { return *current(); }

void setPlatform(std::unique_ptr<Platform> p) { current() = p ? std::move(p) : std::make_unique<DesktopPlatform>(); }

QString qtFilter(const QString &filter) {
  const QStringList parts = filter.split(u'|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    for (QString &p : patterns)
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(u' '));
  }
  return entries.join(QStringLiteral(";;"));
}

TFileDialog::TFileDialog(Kind kind, QString title, QString filter, QString defaultExt) : kind_(kind) {
  state_.title = std::move(title);
  state_.filter = std::move(filter);
  state_.defaultExt = std::move(defaultExt);
}

bool TFileDialog::Execute(QWidget *parent) {
  const std::optional<QString> chosen =
      kind_ == Kind::Open ? platform().openFile(parent, state_) : platform().saveFile(parent, state_);
  if (!chosen || chosen->isEmpty()) return false;
  QString name = QDir::toNativeSeparators(QFileInfo(*chosen).absoluteFilePath());
  if (kind_ == Kind::Save && !state_.defaultExt.isEmpty() && QFileInfo(name).suffix().isEmpty())
    name += u'.' + state_.defaultExt;
  state_.fileName = name;
  QDir::setCurrent(QFileInfo(name).absolutePath());
  return true;
}

void setApplicationErrorHandler(ErrorHandler handler) { installedHandler() = std::move(handler); }

void handleApplicationError(const std::exception &error) {
  if (installedHandler()) {
    installedHandler()(error);
    return;
  }
  platform().messageBox(QApplication::activeWindow(), QString::fromUtf8(error.what()), QApplication::applicationName(),
                        Platform::Icon::Error);
}

void PumpOneMessage() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents); }

QPixmap skinBitmap(const QString &name) {
  // On a screen of more than one device pixel to a pixel of the layout, the
  // bitmap drawn at twice the size, shown at the size of the 1x one.
  if (qApp && qApp->devicePixelRatio() > 1) {
    QPixmap sharp(QStringLiteral(":/skin/%1@2x.bmp").arg(name));
    if (!sharp.isNull()) {
      sharp.setDevicePixelRatio(2);
      return sharp;
    }
  }
  return QPixmap(QStringLiteral(":/skin/%1.bmp").arg(name));
}

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/tranchette-%1.png").arg(size));
  return icon;
}

QFont windowFont() {
  QFont f;
  f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  f.setPixelSize(11);
  return f;
}

void dressWindow(QWidget *window, const QSize &clientSize) {
  window->setFixedSize(clientSize);
  window->setAutoFillBackground(true);
  QPalette pal = window->palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::Base, Qt::white);
  window->setPalette(pal);
  window->setFont(windowFont());
}
