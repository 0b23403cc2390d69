#pragma once

#include <cstdint>
#include <memory>

#include <QWidget>

#include "FlatButton.h"
#include "FlatCheck.h"
#include "FlatEdit.h"
#include "Image.h"
#include "MPEGPLAYLib_OCX.h"
#include "Platform.h"
#include "Registry.h"
#include "SplitHost.h"
#include "Trackbar1.h"
#include "XaudioPlayer.h"
#include "ui_Unit1.h"

class QMenu;
class QTimer;
class TSplitThread_1;
class TSplitThread_2;
class TSplitThread_3;

// The wizard: the main window and hub of the program. Its controls (from the
// layout) and members are public, as the other windows and the split workers
// read and write them by name.
class TForm1 : public QWidget, public Ui::TForm1, public SplitHost {
  Q_OBJECT

 public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;

  // The main window's state.
  QString SourceFile;
  QString JoinName;
  std::int32_t FrameCount = 0;
  std::int32_t TotalTime = 0;
  std::int32_t FrameCorrection = -37;
  std::int32_t Offset = 200;
  TTrackBar1 *Slider = nullptr;
  bool SliderDragging = false;
  bool PlayingToBreakpoint = false;
  bool TrackPosition = true;
  bool FastForwarding = false;
  bool FastReversing = false;
  TSplitThread_1 *SplitThread1 = nullptr;
  TSplitThread_2 *SplitThread2 = nullptr;
  TSplitThread_3 *SplitThread3 = nullptr;
  std::unique_ptr<TRegistry> Registry;

  // Components.
  TMp3Play Mp3Play;
  TXaudioPlayer *XPlayer = nullptr;
  TFileDialog OpenDialog;
  TFileDialog SaveDialog;
  QMenu *HelpPopupMenu = nullptr;
  QMenu *RightPopupMenu = nullptr;
  QTimer *Timer = nullptr;

  // What the split workers read.
  QString GetSourceFile() const override { return SourceFile; }
  std::int32_t GetFrameCount() const override { return FrameCount; }
  std::int32_t GetTotalTime() const override { return TotalTime; }
  QString GetJoinName() const override { return JoinName; }
  QString FormatTrackNumber(std::int32_t track) const override;
  SplitPage page(int method) override;
  QWidget *hostWindow() override { return this; }

  // Handlers.
  void FormCreate(QObject *Sender);
  void FormShow(QObject *Sender);
  void FormDestroy(QObject *Sender);
  void butExitClick(QObject *Sender);
  void butNextClick(QObject *Sender);
  void butBackClick(QObject *Sender);
  void butBrowserClick(QObject *Sender);
  void butOutBro1Click(QObject *Sender);
  void butOutBro2Click(QObject *Sender);
  void butOutBro3Click(QObject *Sender);
  void editLengthKeyPress(QObject *Sender, QChar &Key);
  void editSizeKeyPress(QObject *Sender, QChar &Key);
  void imgExitClick(QObject *Sender);
  void imgMinClick(QObject *Sender);
  void imgAboutClick(QObject *Sender);
  void Image1MouseDown(QObject *Sender);

 protected:
  void showEvent(QShowEvent *) override;
  void closeEvent(QCloseEvent *) override;

 private:
  void enterMethod1();
  void enterMethod2();
  void enterMethod3();
  void buildDefaultTemplate(TFlatEdit *outputBox);
  void browseOutput(TFlatEdit *outputBox);
  void readSettings();
  void writeSettings();
  void openSettingsKey();
  void endProgram();

  bool centreOnShow_ = false;
  bool shownOnce_ = false;
};

// Number keys only: Backspace and the digits pass, every other character is discarded.
void filterNumberKey(QChar &key);

// The windows, created once at start-up in this order and alive until the end.
extern TForm1 *Form1;
