#include "Unit1.h"

#include <type_traits>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "Convert.h"
#include "Unit10.h"
#include "Unit2.h"
#include "Unit4.h"
#include "Unit5.h"
#include "Unit7.h"

TForm1 *Form1 = nullptr;

namespace {
const QString kSettingsKey = QStringLiteral("Software\\Velmora\\Tranchette");

// Connects a signal to a handler through the application-wide error guard.
template <typename Sender, typename Signal, typename Handler>
void on(Sender *sender, Signal signal, TForm1 *form, Handler handler) {
  QObject::connect(sender, signal, form, [=](auto &&...args) {
    guard([&] {
      if constexpr (std::is_invocable_v<Handler, decltype(args)...>)
        handler(args...);
      else
        handler();
    });
  });
}
}  // namespace

void filterNumberKey(QChar &key) {
  if (key != QChar(8) && (key < u'0' || key > u'9')) key = QChar();
}

TForm1::TForm1(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      OpenDialog(TFileDialog::Kind::Open, QStringLiteral("Select a MP3 file"),
                 QStringLiteral("MP3 File (*.mp3)|*.mp3;*.mp2;*.mp1|All Files (*.*)|*.*"), QString()),
      SaveDialog(TFileDialog::Kind::Save, QStringLiteral("Input/Select  output MP3 files"), QString(),
                 QStringLiteral("mp3")) {
  Q_INIT_RESOURCE(skin);
  setupUi(this);
  setFixedSize(539, 325);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::Base, Qt::white);
  setPalette(pal);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  setFont(f);

  XPlayer = new TXaudioPlayer(this);
  HelpPopupMenu = new QMenu(this);
  HelpPopupMenu->addAction(QStringLiteral("Contents..."))->setObjectName(QStringLiteral("mnuContents"));
  HelpPopupMenu->addAction(QStringLiteral("About..."))->setObjectName(QStringLiteral("mnuAbout"));
  RightPopupMenu = new QMenu(this);
  Timer = new QTimer(this);
  Timer->setInterval(3000);

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
  on(imgExit, &TImage::clicked, this, [this] { imgExitClick(imgExit); });
  on(imgMin, &TImage::clicked, this, [this] { imgMinClick(imgMin); });
  on(imgAbout, &TImage::clicked, this, [this] { imgAboutClick(imgAbout); });
  on(Image1, &TImage::mousePressed, this, [this](Qt::MouseButton) { Image1MouseDown(Image1); });

  try {
    FormCreate(this);
  } catch (const std::exception &error) {
    handleApplicationError(error);
  }
}

TForm1::~TForm1() { guard([this] { FormDestroy(this); }); }

void TForm1::FormCreate(QObject *) {
  PageControl1->setCurrentWidget(TabSheet1);

  Slider = new TTrackBar1(this);
  Slider->setParent(TabSheet3);
  Slider->setGeometry(24, 14, 330, 40);
  Slider->setToolTip(QStringLiteral("Drag and Seek..."));
  Slider->show();

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
}

void TForm1::writeSettings() {
  try {
    openSettingsKey();
    Registry->WriteInteger(QStringLiteral("Top"), y());
    Registry->WriteInteger(QStringLiteral("Left"), x());
    Registry->WriteInteger(QStringLiteral("Offset"), Offset);
    const TFlatRadioButton *methods[] = {RadioButton1, RadioButton2, RadioButton3};
    for (int i = 0; i < 3; ++i)
      if (methods[i]->isChecked()) Registry->WriteInteger(QStringLiteral("Method"), i + 1);
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
  if (!shownOnce_) {
    shownOnce_ = true;
    guard([this] { FormShow(this); });
  }
}

void TForm1::FormShow(QObject *) {
  if (!Registry) return;
  Registry->CloseKey();
  Registry.reset();
}

void TForm1::FormDestroy(QObject *) {
  delete Slider;
  Slider = nullptr;
  writeSettings();
}

void TForm1::endProgram() {
  // The windows are destroyed once the event loop has returned.
  QApplication::quit();
}

void TForm1::butExitClick(QObject *) {
  // A player that cannot start must not keep the program from ending.
  try {
    XPlayer->Stop();
    XPlayer->InputClose();
  } catch (const EXaudioException &) {
  }
  endProgram();
}

void TForm1::imgExitClick(QObject *) {
  try {
    XPlayer->InputClose();
  } catch (const EXaudioException &) {
  }
  endProgram();
}

void TForm1::imgMinClick(QObject *) { showMinimized(); }

void TForm1::imgAboutClick(QObject *) { Form7->exec(); }

void TForm1::Image1MouseDown(QObject *) {
  if (QWidget *grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  if (QWindow *w = windowHandle()) w->startSystemMove();
}

void TForm1::closeEvent(QCloseEvent *e) {
  e->accept();
  endProgram();
}

QString TForm1::FormatTrackNumber(std::int32_t track) const {
  QString text = QString::number(track);
  if (text.size() == 1) return QStringLiteral("00") + text;
  if (text.size() == 2) return QStringLiteral("0") + text;
  return text;
}

SplitPage TForm1::page(int method) {
  switch (method) {
    case 1: return {nullptr, editSavePath, nullptr, ListBox};
    case 2: return {editLength, editSavePath1, chkJoin2, nullptr};
    default: return {editSize, editSavePath3, chkJoin3, nullptr};
  }
}

void TForm1::butNextClick(QObject *) {
  butNext->setSkin(QStringLiteral("NEXT"));
  QWidget *active = PageControl1->currentWidget();
  if (active == TabSheet1) {
    SourceFile = Edit1->text();
    if (SourceFile.isEmpty()) {
      platform().messageBox(this, QStringLiteral("You should select an MP3 file first."), QStringLiteral("Note"),
                            Platform::Icon::Information);
      butBrowserClick(butBrowser);
      return;
    }
    if (RadioButton1->isChecked()) enterMethod1();
    if (RadioButton2->isChecked()) enterMethod2();
    if (RadioButton3->isChecked()) enterMethod3();
  } else if (active == TabSheet2) {
    if (StrToFloat(editLength->text()) == 0) return;
    SplitThread2 = new TSplitThread_2(*this);
  } else if (active == TabSheet4) {
    if (StrToFloat(editSize->text()) == 0) return;
    SplitThread3 = new TSplitThread_3(*this);
  } else if (active == TabSheet3) {
    SplitThread1 = new TSplitThread_1(*this);
  }
}

void TForm1::enterMethod1() {
  PageControl1->setCurrentWidget(TabSheet3);
  Mp3Play.Open(SourceFile, QString());
  FrameCount = Mp3Play.FrameCount();
  TotalTime = Mp3Play.TotalTime();
  Mp3Play.Close();
  XPlayer->InputOpen(SourceFile);
  XPlayer->SetInputPositionRange(FrameCount);
  XPlayer->Play();
  Slider->setMax(FrameCount + FrameCorrection);
  Slider->setFrequency(FrameCount / 10);
  if (ListBox->count() == 0) ListBox->insertItem(0, QStringLiteral("0"));
  buildDefaultTemplate(editSavePath);
}

void TForm1::enterMethod2() {
  PageControl1->setCurrentWidget(TabSheet2);
  Mp3Play.Open(SourceFile, QString());
  TotalTime = Mp3Play.TotalTime();
  FrameCount = Mp3Play.FrameCount();
  Mp3Play.Close();
  buildDefaultTemplate(editSavePath1);
}

void TForm1::enterMethod3() {
  PageControl1->setCurrentWidget(TabSheet4);
  buildDefaultTemplate(editSavePath3);
}

void TForm1::buildDefaultTemplate(TFlatEdit *outputBox) {
  const qsizetype cut = std::max(SourceFile.lastIndexOf(u'\\'), std::max(SourceFile.lastIndexOf(u'/'),
                                                                           SourceFile.lastIndexOf(u':')));
  QString name = SourceFile.mid(cut + 1);
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  JoinName = name;
  outputBox->setText(name + QStringLiteral("-%track%.mp3"));
}

void TForm1::butBackClick(QObject *) {
  QWidget *active = PageControl1->currentWidget();
  if (active == TabSheet3) {
    XPlayer->Stop();
    XPlayer->InputClose();
    ListBox->clear();
  }
  if (active != TabSheet1) PageControl1->setCurrentWidget(TabSheet1);
}

void TForm1::butBrowserClick(QObject *) {
  OpenDialog.Execute(this);
  Edit1->setText(OpenDialog.FileName());
  butBrowser->setSkin(QStringLiteral("OPEN"));
}

void TForm1::browseOutput(TFlatEdit *outputBox) {
  SaveDialog.Execute(this);
  const QString chosen = SaveDialog.FileName();
  if (!chosen.isEmpty()) {
    // "-%track%" goes in before the extension of the file name part.
    const qsizetype nameStart = std::max(chosen.lastIndexOf(u'\\'), chosen.lastIndexOf(u'/')) + 1;
    qsizetype dot = chosen.lastIndexOf(u'.');
    if (dot < nameStart) dot = chosen.size();
    outputBox->setText(chosen.left(dot) + QStringLiteral("-%track%") + chosen.mid(dot));
  } else {
    buildDefaultTemplate(outputBox);
  }
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

void TForm1::editLengthKeyPress(QObject *, QChar &Key) { filterNumberKey(Key); }
void TForm1::editSizeKeyPress(QObject *, QChar &Key) { filterNumberKey(Key); }
