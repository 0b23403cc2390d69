#include "MainWindow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QStyleHints>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "AboutWindow.h"
#include "BreakpointSplitWorker.h"
#include "Convert.h"
#include "FileName.h"
#include "FitText.h"
#include "GuardedConnect.h"
#include "HelpWindow.h"
#include "OffsetDialog.h"
#include "SizeSplitWorker.h"
#include "SplitEngine.h"
#include "TimeSplitWorker.h"

TForm1 *Form1 = nullptr;

namespace {
const QString kSettingsKey = QStringLiteral("Software\\Velmora\\Tranchette");
}  // namespace

void filterNumberKey(QChar &key) {
  if (key != QChar(8) && (key < u'0' || key > u'9')) key = QChar();
}

TForm1::TForm1(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      OpenDialog(TFileDialog::Kind::Open, QStringLiteral("Select a MP3 file"),
                 QStringLiteral("MP3 File (*.mp3)|*.mp3;*.mp2;*.mp1|All Files (*.*)|*.*"), QString()),
      SaveDialog(TFileDialog::Kind::Save, QStringLiteral("Input/Select  output MP3 files"), QString(),
                 QStringLiteral("mp3")),
      CueDialog(TFileDialog::Kind::Open, QStringLiteral("Import a cue sheet"),
                QStringLiteral("Cue Sheet (*.cue)|*.cue|All Files (*.*)|*.*"), QString()),
      LabelsDialog(TFileDialog::Kind::Open, QStringLiteral("Import labels"),
                   QStringLiteral("Audacity Labels (*.txt)|*.txt|Frame List (*.csv)|*.csv|All Files (*.*)|*.*"), QString()),
      MarksDialog(TFileDialog::Kind::Save, QStringLiteral("Save the breakpoints"),
                  QStringLiteral("Cue Sheet (*.cue)|*.cue|Audacity Labels (*.txt)|*.txt|Frame List (*.csv)|*.csv"),
                  QStringLiteral("cue")),
      ChaptersDialog(TFileDialog::Kind::Save, QStringLiteral("Save a copy with chapters"),
                     QStringLiteral("MP3 File (*.mp3)|*.mp3"), QStringLiteral("mp3")) {
  Q_INIT_RESOURCE(skin);
  QApplication::setWindowIcon(programIcon());  // for every window of the program
  setupUi(this);
  dressWindow(this, QSize(539, 325));
  setAttribute(Qt::WA_AlwaysShowToolTips);  // hints also while another window is active
  // Labels take the width of their text; the time and frame displays keep
  // the room the layout gives them, as their texts change while playing.
  for (QLabel *label : findChildren<QLabel *>())
    if (!qobject_cast<TImage *>(label) && label != labHour && label != labMin && label != labSec && label != labFrame)
      label->adjustSize();
  fitTexts(this);

  FlatHint1 = new TFlatHint(this);
  XPlayer = new TXaudioPlayer(this);
  // Below the breakpoint box, where the page has room for two lines.
  labSound = new QLabel(TabSheet3);
  labSound->setObjectName(QStringLiteral("labSound"));
  labSound->setGeometry(120, 130, 233, 30);
  labSound->setWordWrap(true);
  labSound->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  labSound->hide();
  labDone_ = new QLabel(TabSheet3);
  labDone_->setObjectName(QStringLiteral("labDone"));
  labDone_->setGeometry(16, 208, 265, 13);
  labDone_->hide();
  for (QLabel *label : TabSheet3->findChildren<QLabel *>())
    if (label->text() == QStringLiteral("Click Next to create...")) labNext_ = label;
  makeMenus();

  // Files dropped anywhere on the window, the source box included, reach the window.
  setAcceptDrops(true);
  Edit1->setAcceptDrops(false);
  connect(PageControl1, &QStackedWidget::currentChanged, this, [this] { pageChanged_.start(); });

  // The three chrome images lie above the title strip.
  imgAbout->raise();
  imgMin->raise();
  imgExit->raise();

  on(butNext, &QAbstractButton::clicked, this, [this] { butNextClick(butNext); });
  on(butBack, &QAbstractButton::clicked, this, [this] { butBackClick(butBack); });
  on(butExit, &QAbstractButton::clicked, this, [this] { butExitClick(butExit); });
  on(butBrowser, &QAbstractButton::clicked, this, [this] { butBrowserClick(butBrowser); });
  on(butOutBro1, &QAbstractButton::clicked, this, [this] { butOutBro1Click(butOutBro1); });
  on(butOutBro2, &QAbstractButton::clicked, this, [this] { butOutBro2Click(butOutBro2); });
  on(butOutBro3, &QAbstractButton::clicked, this, [this] { butOutBro3Click(butOutBro3); });
  on(editLength, &TFlatEdit::keyPressed, this, [this](QChar &key) { editLengthKeyPress(editLength, key); });
  on(editSize, &TFlatEdit::keyPressed, this, [this](QChar &key) { editSizeKeyPress(editSize, key); });
  on(editPauseReach, &TFlatEdit::keyPressed, this, [](QChar &key) { filterNumberKey(key); });
  on(imgExit, &TImage::clicked, this, [this] { imgExitClick(imgExit); });
  on(imgMin, &TImage::clicked, this, [this] { imgMinClick(imgMin); });
  on(imgAbout, &TImage::clicked, this, [this] { imgAboutClick(imgAbout); });
  on(butHelp, &QAbstractButton::clicked, this, [this] { butHelpClick(butHelp); });
  on(mnuContents, &QAction::triggered, this, [this] { mnuContentsClick(mnuContents); });
  on(mnuAbout, &QAction::triggered, this, [this] { mnuAboutClick(mnuAbout); });
  // The Back button shows its hover bitmap on the method pages only.
  butBack->hoverAllowed = [this] { return PageControl1->currentWidget() != TabSheet1; };
  on(Image1, &TImage::mousePressed, this, [this](Qt::MouseButton) { Image1MouseDown(Image1); });
  on(Image1, &TImage::mouseDragged, this, [this](QPoint at) { Image1MouseDrag(at); });
  on(Image1, &TImage::mouseReleased, this, [this](Qt::MouseButton) { dragFrom_.reset(); });

  connectBreakpointPage();
  forwardToModel();

  try {
    FormCreate(this);
  } catch (const std::exception &error) {
    handleApplicationError(error);
  }
}

// What the user sets in the pages goes to the model as it is set; the
// breakpoint list shows the model's breakpoints.
void TForm1::forwardToModel() {
  const std::pair<TFlatRadioButton *, int> methods[] = {{RadioButton1, 1}, {RadioButton2, 2}, {RadioButton3, 3}};
  for (const auto &[button, method] : methods)
    connect(button, &TFlatCheckBase::clicked, this, [this, button = button, method = method] {
      if (button->isChecked()) model_.setMethod(method);
    });
  connect(chkExact, &TFlatCheckBase::clicked, this, [this] { model_.setExact(chkExact->isChecked()); });
  connect(editLength, &QLineEdit::textChanged, this, [this](const QString &text) { model_.setParameter(2, text); });
  connect(editSize, &QLineEdit::textChanged, this, [this](const QString &text) { model_.setParameter(3, text); });
  const std::pair<QLineEdit *, int> outputs[] = {{editSavePath, 1}, {editSavePath1, 2}, {editSavePath3, 3}};
  for (const auto &[box, method] : outputs) {
    model_.setOutputTemplate(method, box->text());
    connect(box, &QLineEdit::textChanged, this,
            [this, method = method](const QString &text) { model_.setOutputTemplate(method, text); });
  }
  connect(chkJoin2, &TFlatCheckBase::clicked, this, [this] { model_.setJoin(2, chkJoin2->isChecked()); });
  connect(chkPauses, &TFlatCheckBase::clicked, this, [this] { model_.setAtPauses(chkPauses->isChecked()); });
  connect(editPauseReach, &QLineEdit::textChanged, this, [this](const QString &text) { model_.setPauseReach(text); });
  connect(chkJoin3, &TFlatCheckBase::clicked, this, [this] { model_.setJoin(3, chkJoin3->isChecked()); });
  model_.setParameter(2, editLength->text());
  model_.setParameter(3, editSize->text());
  model_.setJoin(2, chkJoin2->isChecked());
  model_.setJoin(3, chkJoin3->isChecked());
  model_.setAtPauses(chkPauses->isChecked());
  model_.setPauseReach(editPauseReach->text());
  connect(&model_, &WizardModel::breakpointsChanged, this, [this] {
    showBreakpoints();
    labDone_->hide();
    if (labNext_) labNext_->show();
  });
}

// The help and breakpoint pop-up menus, and the timer of "Play 3 Secs After".
void TForm1::makeMenus() {
  HelpPopupMenu = new QMenu(this);
  mnuContents = HelpPopupMenu->addAction(QStringLiteral("Contents..."));
  mnuAbout = HelpPopupMenu->addAction(QStringLiteral("About..."));
  RightPopupMenu = new QMenu(this);
  PlayAround = RightPopupMenu->addAction(QStringLiteral("Play Around"));
  Play3SecsBefore = RightPopupMenu->addAction(QStringLiteral("Play 3 Secs Before"));
  Play3SecsAfter = RightPopupMenu->addAction(QStringLiteral("Play 3 Secs After"));
  TitleBreakpoint = RightPopupMenu->addAction(QStringLiteral("Title..."));
  RightPopupMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
  Deletethisbreakpoint = RightPopupMenu->addAction(QStringLiteral("Delete this breakpoint"));
  Deleteallbreakpoints1 = RightPopupMenu->addAction(QStringLiteral("Delete all breakpoints"));
  RightPopupMenu->addSeparator()->setObjectName(QStringLiteral("N2"));
  FindSilences = RightPopupMenu->addAction(QStringLiteral("Find Silences..."));
  MoveToPauses = RightPopupMenu->addAction(QStringLiteral("Move Breakpoints to Pauses..."));
  ImportChapters = RightPopupMenu->addAction(QStringLiteral("Import Chapters"));
  ImportCueSheet = RightPopupMenu->addAction(QStringLiteral("Import Cue Sheet..."));
  ImportLabels = RightPopupMenu->addAction(QStringLiteral("Import Labels..."));
  RightPopupMenu->addSeparator()->setObjectName(QStringLiteral("N4"));
  SaveBreakpoints = RightPopupMenu->addAction(QStringLiteral("Save Breakpoints..."));
  SaveAsChapters = RightPopupMenu->addAction(QStringLiteral("Save as Chapters..."));
  RightPopupMenu->addSeparator()->setObjectName(QStringLiteral("N3"));
  Adjust = RightPopupMenu->addAction(QStringLiteral("Advanced options..."));
  Adjust->setVisible(false);
  Timer = new QTimer(this);
  Timer->setInterval(3000);
  Timer->setTimerType(Qt::PreciseTimer);  // a coarse timer may be 150 ms off
}

TForm1::~TForm1() {
  guard([this] { FormDestroy(this); });
}

void TForm1::FormCreate(QObject *) {
  PageControl1->setCurrentWidget(TabSheet1);

  Slider = new TTrackBar1(*this, this);
  Slider->setParent(TabSheet3);
  Slider->setGeometry(24, 14, 330, 40);
  Slider->setToolTip(QStringLiteral("Drag and Seek..."));
  Slider->show();
  connectLevelStrip();

  readSettings();

  // From here on, an error in a handler ends that handler and nothing more.
  setApplicationErrorHandler([](const std::exception &) {});
}

void TForm1::openSettingsKey() {
  Registry = std::make_unique<TRegistry>();
  Registry->OpenKey(QStringLiteral("Software"), true);
  Registry->CreateKey(QStringLiteral("Velmora\\Tranchette"));
  Registry->CloseKey();
  Registry->OpenKey(kSettingsKey, false);
}

void TForm1::readSettings() {
  openSettingsKey();
  try {
    const std::int32_t top = Registry->ReadInteger(QStringLiteral("Top"));
    move(x(), top);
    const std::int32_t left = Registry->ReadInteger(QStringLiteral("Left"));
    move(left, y());
    Offset = Registry->ReadInteger(QStringLiteral("Offset"));
    FrameCorrection += Offset - 200;
    switch (Registry->ReadInteger(QStringLiteral("Method"))) {
      case 1: RadioButton1->setChecked(true); break;
      case 2: RadioButton2->setChecked(true); break;
      case 3: RadioButton3->setChecked(true); break;
      default: break;
    }
  } catch (const std::exception &) {
    centreOnShow_ = true;
    RadioButton1->setChecked(true);
  }
  // A value added later than the four: missing or unreadable, it reads as 0
  // and leaves the others standing.
  try {
    chkExact->setChecked(Registry->ReadInteger(QStringLiteral("Exact")) != 0);
  } catch (const std::exception &) {
    chkExact->setChecked(false);
  }
  try {
    chkPauses->setChecked(Registry->ReadInteger(QStringLiteral("Pauses")) != 0);
    editPauseReach->setText(QString::number(std::clamp(Registry->ReadInteger(QStringLiteral("PauseReach")), 0, 86400)));
  } catch (const std::exception &) {
  }
  // The silence search's last values (level and length in tenths), each
  // standing alone: a missing one keeps its default.
  const auto read = [this](const char *name, auto apply) {
    try {
      apply(Registry->ReadInteger(QString::fromLatin1(name)));
    } catch (const std::exception &) {
    }
  };
  read("SilenceLevel", [this](std::int32_t v) { lastSearch_.settings.levelDb = std::clamp(v, -1200, 0) / 10.0; });
  read("SilenceMin", [this](std::int32_t v) { lastSearch_.settings.minSeconds = std::clamp(v, 1, 6000) / 10.0; });
  read("SilencePieces", [this](std::int32_t v) { lastSearch_.pieces = std::clamp(v, 0, 99999); });
  read("SilenceReplace", [this](std::int32_t v) { lastSearch_.replace = v != 0; });
  // Onto a screen, or centred on the first one where no place is stored,
  // before the window is shown: a window that both the window manager and
  // the program move while it is mapped may be told it stands at 0,0
  // wherever it is; that place would be stored at the end, and the windows
  // centred over it (message boxes, questions) would open in the corner.
  if (!centreOnShow_) {
    keepOnScreen();
  } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    centreOnShow_ = false;
    const QRect s = screen->availableGeometry();
    move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
  }
}

void TForm1::writeSettings() {
  try {
    openSettingsKey();
    // In pixels of the layout, as move() takes them back at any scale.
    Registry->WriteInteger(QStringLiteral("Top"), y());
    Registry->WriteInteger(QStringLiteral("Left"), x());
    Registry->WriteInteger(QStringLiteral("Offset"), Offset);
    const WizardModel::Stored stored = model_.stored();
    if (model_.method() != 0) Registry->WriteInteger(QStringLiteral("Method"), stored.method);
    Registry->WriteInteger(QStringLiteral("Exact"), stored.exact ? 1 : 0);
    Registry->WriteInteger(QStringLiteral("Pauses"), stored.atPauses ? 1 : 0);
    Registry->WriteInteger(QStringLiteral("PauseReach"), stored.pauseReach);
    Registry->WriteInteger(QStringLiteral("SilenceLevel"), static_cast<std::int32_t>(std::lround(lastSearch_.settings.levelDb * 10)));
    Registry->WriteInteger(QStringLiteral("SilenceMin"), static_cast<std::int32_t>(std::lround(lastSearch_.settings.minSeconds * 10)));
    Registry->WriteInteger(QStringLiteral("SilencePieces"), lastSearch_.pieces);
    Registry->WriteInteger(QStringLiteral("SilenceReplace"), lastSearch_.replace ? 1 : 0);
    Registry->CloseKey();
  } catch (const std::exception &) {
    // The program ends all the same.
  }
  Registry.reset();
}

void TForm1::showEvent(QShowEvent *e) {
  QWidget::showEvent(e);
  if (centreOnShow_) {
    centreOnShow_ = false;
    if (const QScreen *screen = this->screen()) {
      const QRect s = screen->geometry();
      move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
    }
  }
  keepOnScreen();
  if (!shownOnce_) {
    shownOnce_ = true;
    guard([this] { FormShow(this); });
  }
}

// A place stored on another screen, or at another scale, could leave the
// window partly off every screen, its buttons out of reach: it moves onto the
// screen that holds most of it (the primary one if none does), whole where
// it fits, its top-left corner first where it does not.
void TForm1::keepOnScreen() {
  const QRect window = frameGeometry();
  const QScreen *best = QGuiApplication::primaryScreen();
  qint64 most = 0;
  for (const QScreen *screen : QGuiApplication::screens()) {
    const QRect shared = screen->geometry().intersected(window);
    if (const qint64 area = qint64(shared.width()) * shared.height(); area > most) {
      most = area;
      best = screen;
    }
  }
  if (!best) return;
  const QRect room = best->availableGeometry();
  const int left = std::max(room.left(), std::min(window.left(), room.right() + 1 - window.width()));
  const int top = std::max(room.top(), std::min(window.top(), room.bottom() + 1 - window.height()));
  if (left != window.left() || top != window.top()) move(pos() + QPoint(left - window.left(), top - window.top()));
}

void TForm1::FormShow(QObject *) {
  if (!Registry) return;
  Registry->CloseKey();
  Registry.reset();
}

void TForm1::FormDestroy(QObject *) {
  stopLevelStrip();
  delete Slider;
  Slider = nullptr;
  writeSettings();
}

void TForm1::endProgram() {
  // The windows are destroyed once the event loop has returned.
  QApplication::quit();
}

void TForm1::butExitClick(QObject *) {
  if (!mayDiscardBreakpoints()) return;
  // A player that cannot start must not keep the program from ending.
  try {
    XPlayer->Stop();
    XPlayer->InputClose();
  } catch (const EXaudioException &) {
  }
  endProgram();
}

void TForm1::imgExitClick(QObject *) {
  if (!mayDiscardBreakpoints()) return;
  try {
    XPlayer->InputClose();
  } catch (const EXaudioException &) {
  }
  endProgram();
}

void TForm1::imgMinClick(QObject *) { showMinimized(); }

void TForm1::imgAboutClick(QObject *) { Form7->exec(); }

void TForm1::butHelpClick(QObject *) {
  platform().popupMenu(HelpPopupMenu, platform().cursorPos());
  butHelp->setSkin(QStringLiteral("HELP"));
}

// The help file beside the program, wherever the current folder is; where the
// desktop cannot show it, the same pages in the program's own help window.
void TForm1::mnuContentsClick(QObject *) {
  if (platform().openUrl(QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + QStringLiteral("/help.chm"))))
    return;
  if (!HelpWindow) {
    HelpWindow = new THelpWindow(this);
    HelpWindow->move(TForm7::centredOver(geometry(), HelpWindow->size()));  // at first; the user may move it
  }
  HelpWindow->Browser->setSource(THelpWindow::FirstPage);
  HelpWindow->show();
  HelpWindow->raise();
  HelpWindow->activateWindow();
}

void TForm1::mnuAboutClick(QObject *) { Form7->exec(); }

void TForm1::Image1MouseDown(QObject *) {
  if (QWidget *grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  // The desktop moves the window as if its caption were dragged. Where there
  // is no window manager to ask, the window follows the pointer itself.
  QWindow *w = windowHandle();
  dragFrom_ = w && w->startSystemMove() ? std::nullopt : std::optional<QPoint>(QCursor::pos() - pos());
}

void TForm1::Image1MouseDrag(QPoint globalPos) {
  if (dragFrom_) move(globalPos - *dragFrom_);
}

// Kept as a full path, so that a later change of the current folder (by a file
// dialog) does not lose the source. A file given to the program or dropped on
// it is chosen as one confirmed in the Open dialog: its folder becomes the
// current one, where pieces named without a folder are written. (A file
// manager starts the program in the home folder.)
bool TForm1::takeSource(const QString &path) {
  if (path.isEmpty() || PageControl1->currentWidget() != TabSheet1) return false;
  // Made absolute as text: Qt's file engine would lose bytes that are not UTF-8.
  const QString full = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path);
  Edit1->setText(QDir::toNativeSeparators(full));
  [[maybe_unused]] const int moved = ::chdir(encodeFileName(full.left(full.lastIndexOf(u'/') + 1)).constData());
  return true;
}

namespace {
QString droppedFile(const QMimeData *data) {
  const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
  if (urls.size() != 1 || !urls[0].isLocalFile()) return QString();
  // The path's own bytes, percent-encoded in the address, whatever they are.
  return decodeFileName(QByteArray::fromPercentEncoding(urls[0].path(QUrl::FullyEncoded).toLatin1()));
}
}  // namespace

namespace {
bool isCueSheet(const QString &path) { return path.endsWith(QStringLiteral(".cue"), Qt::CaseInsensitive); }
// Audacity's labels (.txt) or a frame list (.csv).
bool isLabels(const QString &path) {
  return path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive) || path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
}
}  // namespace

// A source on the first page; a cue sheet or labels on the breakpoint page.
void TForm1::dragEnterEvent(QDragEnterEvent *e) {
  const QString file = droppedFile(e->mimeData());
  if (!file.isEmpty() && (PageControl1->currentWidget() == TabSheet1 ||
                          (PageControl1->currentWidget() == TabSheet3 && (isCueSheet(file) || isLabels(file)))))
    e->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent *e) {
  const QString file = droppedFile(e->mimeData());
  if (PageControl1->currentWidget() == TabSheet3 && isCueSheet(file)) {
    e->acceptProposedAction();
    guard([&] { importCueSheet(file); });
    return;
  }
  if (PageControl1->currentWidget() == TabSheet3 && isLabels(file)) {
    e->acceptProposedAction();
    guard([&] { importLabels(file); });
    return;
  }
  if (takeSource(file)) e->acceptProposedAction();
}

void TForm1::closeEvent(QCloseEvent *e) {
  bool discard = true;
  guard([&] { discard = mayDiscardBreakpoints(); });
  if (!discard) return e->ignore();
  e->accept();
  endProgram();
}


void TForm1::butNextClick(QObject *) {
  butNext->setSkin(QStringLiteral("NEXT"));
  // The second click of a double click would land on the page the first one
  // opened, and start a split there before the user has seen it.
  if (pageChanged_.isValid() && pageChanged_.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval())
    return;
  QWidget *active = PageControl1->currentWidget();
  // Entering a page may take a while (the stream facts of a large file): a
  // click queued meanwhile counts from the end of the entry.
  const auto entered = qScopeGuard([this, active] {
    if (PageControl1->currentWidget() != active) pageChanged_.start();
  });
  if (active == TabSheet1) {
    model_.setSource(Edit1->text());
    if (const auto why = model_.whyNotNext()) {
      platform().messageBox(this, *why, QStringLiteral("Note"), Platform::Icon::Information);
      butBrowserClick(butBrowser);
      return;
    }
    const int method = model_.method();
    if (method == 0 || !sourceServes(method)) return;
    if (method == 1) enterMethod1();
    if (method == 2) enterMethod2();
    if (method == 3) enterMethod3();
  } else if (active == TabSheet2) {
    // "/N" asks for N equal parts: the split says what is wrong with N.
    if (!editLength->text().trimmed().startsWith(u'/') && StrToFloat(editLength->text()) == 0) return;
    SplitThread2 = new TSplitThread_2(this, model_.request(2));
  } else if (active == TabSheet4) {
    if (StrToFloat(editSize->text()) == 0) return;
    SplitThread3 = new TSplitThread_3(this, model_.request(3));
  } else if (active == TabSheet3) {
    // The cuts need the frames as they are, not as guessed.
    if (factsReader_) applyFacts(factsReader_->wait());
    // Pieces that a split just wrote from these very breakpoints: asked first.
    if (!model_.unused() && labDone_->isVisible() &&
        !confirm(QStringLiteral("Split again"), QStringLiteral("These breakpoints were just split: write their pieces again?"),
                 QStringLiteral("Write again"), QStringLiteral("Cancel")))
      return;
    SplitThread1 = new TSplitThread_1(this, model_.request(1));
    connect(SplitThread1, &SplitWorker::ended, this, [this](bool completed, const QStringList &pieces) {
      if (completed) showSplitDone(pieces);
    });
  }
}

// Checks that the source can be split by the method before its page is
// entered; if not, a Note names the file and the reason. Methods 1 and 2 need
// the stream facts, which are read here and left open for the entry; method 3
// cuts the bytes of any file.
bool TForm1::sourceServes(int method) {
  // By the name's own bytes, so that any name the system allows is found.
  const QString &source = model_.source();
  const QByteArray name = encodeFileName(source);
  struct stat st {};
  QString reason;
  if (::stat(name.constData(), &st) != 0) {
    reason = errno == ENOENT ? QStringLiteral("the file does not exist") : QString::fromLocal8Bit(std::strerror(errno));
  } else if (S_ISDIR(st.st_mode)) {
    reason = QStringLiteral("it is a folder");
  } else if (const auto kind = split::notRegularKind(source)) {
    // A FIFO or a device: opening it could wait for ever.
    reason = QStringLiteral("it is %1, not a regular file").arg(*kind);
  } else if (const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC); fd < 0) {
    reason = QString::fromLocal8Bit(std::strerror(errno));
  } else {
    ::close(fd);
    guessed_.reset();
    // However large the file, method 1 opens at once on a guess from its
    // first frame; enterMethod1 has the frames read meanwhile.
    if (method == 1)
      if (const auto guess = audio::guessStreamFacts(name.toStdString()))
        guessed_ = std::make_shared<const audio::StreamFacts>(*guess);
    if (!guessed_) {
      try {
        // Method 3 cuts bytes, but of MPEG audio only: a quick look will do.
        if (method == 3)
          audio::requireMpegAudio(name.toStdString());
        else
          Mp3Play.Open(source, QString());
      } catch (const audio::StreamError &error) {
        reason = QString::fromLocal8Bit(error.what());
        const QString prefix = source + QStringLiteral(": ");
        if (reason.startsWith(prefix)) reason.remove(0, prefix.size());
      }
    }
  }
  if (reason.isEmpty()) return true;
  reason[0] = reason[0].toLower();
  platform().messageBox(this, QStringLiteral("The file \"%1\" cannot be split: %2.").arg(source, reason),
                        QStringLiteral("Note"), Platform::Icon::Information);
  return false;
}

void TForm1::enterMethod1() {
  PageControl1->setCurrentWidget(TabSheet3);
  std::shared_ptr<const audio::StreamFacts> facts;
  factsReader_.reset();
  if (guessed_) {
    // Played at once on the guess; the frames and their index follow.
    facts = std::exchange(guessed_, nullptr);
    model_.setFacts(audio::clampTo32(facts->frames), audio::clampTo32(facts->totalTimeMs()));
    factsReader_ = std::make_unique<audio::FactsReader>(model_.source());
    on(factsReader_.get(), &audio::FactsReader::ready, this,
       [this](std::shared_ptr<const audio::StreamFacts> read) { applyFacts(read); });
  } else {
    model_.setFacts(Mp3Play.FrameCount(), Mp3Play.TotalTime());
    facts = Mp3Play.Facts();  // the player seeks with the walk's frame index
    Mp3Play.Close();
  }
  XPlayer->InputOpen(model_.source(), facts, factsReader_ != nullptr);
  XPlayer->SetInputPositionRange(model_.frames());
  play();
  Slider->setMax(model_.frames() + FrameCorrection);
  Slider->setFrequency(model_.frames() / 10);
  model_.enter(1);
  setOutputTemplate(editSavePath, model_.outputTemplate(1));
  startLevelStrip();
}

// The frames of the file that method 1 opened on a guess, once read: the
// range of positions and the slider follow them, and the player seeks with
// their index. Nothing when the file could not be read after all: the guess
// stays.
void TForm1::applyFacts(std::shared_ptr<const audio::StreamFacts> facts) {
  if (factsReader_) factsReader_.release()->deleteLater();  // this may run inside its signal
  if (facts) {
    model_.setFacts(audio::clampTo32(facts->frames), audio::clampTo32(facts->totalTimeMs()));
    Slider->setMax(model_.frames() + FrameCorrection);
    Slider->setFrequency(model_.frames() / 10);
  }
  // A player that cannot start must not keep the count from the split.
  try {
    XPlayer->InputFacts(facts);
    if (facts) XPlayer->SetInputPositionRange(model_.frames());
  } catch (const EXaudioException &) {
  }
}

void TForm1::enterMethod2() {
  PageControl1->setCurrentWidget(TabSheet2);
  model_.setFacts(Mp3Play.FrameCount(), Mp3Play.TotalTime());
  Mp3Play.Close();
  model_.enter(2);
  setOutputTemplate(editSavePath1, model_.outputTemplate(2));
}

void TForm1::enterMethod3() {
  PageControl1->setCurrentWidget(TabSheet4);
  Mp3Play.Close();
  model_.enter(3);
  setOutputTemplate(editSavePath3, model_.outputTemplate(3));
}

// The box's hint names the folder the pieces go to: a name without a folder
// is written into the current one.
void TForm1::setOutputTemplate(TFlatEdit *outputBox, const QString &outputTemplate) {
  outputBox->setText(outputTemplate);
  outputBox->setToolTip(QStringLiteral("The pieces go to the folder %1").arg(QDir::toNativeSeparators(outputFolder(outputTemplate))));
}

QString TForm1::outputFolder(const QString &outputTemplate) {
  const QString name = split::pieceName(QDir::fromNativeSeparators(outputTemplate), 1);
  const QString full = QDir::isAbsolutePath(name) ? name : QDir::currentPath() + u'/' + name;
  return QDir::cleanPath(full.left(full.lastIndexOf(u'/') + 1));
}

void TForm1::butBackClick(QObject *) {
  QWidget *active = PageControl1->currentWidget();
  if (active == TabSheet3) {
    if (!mayDiscardBreakpoints()) return;
    factsReader_.reset();  // stops the walk
    stopLevelStrip();
    XPlayer->Stop();
    playing_ = false;
    XPlayer->InputClose();
    model_.back(1);
  }
  if (active != TabSheet1) PageControl1->setCurrentWidget(TabSheet1);
}

// A cancelled dialog leaves the box as it was: a path typed, dropped or
// given to the program is not lost.
void TForm1::butBrowserClick(QObject *) {
  if (OpenDialog.Execute(this)) Edit1->setText(OpenDialog.FileName());
  butBrowser->setSkin(QStringLiteral("OPEN"));
}

void TForm1::browseOutput(TFlatEdit *outputBox) {
  if (SaveDialog.Execute(this))
    setOutputTemplate(outputBox, WizardModel::templateFromChosen(SaveDialog.FileName()));
}

void TForm1::butOutBro1Click(QObject *) {
  browseOutput(editSavePath);
  butOutBro1->setSkin(QStringLiteral("BROWSER"));
}

void TForm1::butOutBro2Click(QObject *) {
  browseOutput(editSavePath1);
  butOutBro2->setSkin(QStringLiteral("BROWSER"));
}

void TForm1::butOutBro3Click(QObject *) {
  browseOutput(editSavePath3);
  butOutBro3->setSkin(QStringLiteral("BROWSER"));
}

// Seconds, or "/12" for twelve equal parts.
void TForm1::editLengthKeyPress(QObject *, QChar &Key) {
  if (Key != u'/') filterNumberKey(Key);
}
void TForm1::editSizeKeyPress(QObject *, QChar &Key) { filterNumberKey(Key); }
