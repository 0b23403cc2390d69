#pragma once

// The main window (TForm1): the wizard's four pages, the breakpoint list and
// the preview's controls, and the hub the other windows and workers read.

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QElapsedTimer>
#include <QWidget>

#include "FactsReader.h"
#include "FlatButton.h"
#include "FlatCheck.h"
#include "FlatEdit.h"
#include "FlatHint.h"
#include "Image.h"
#include "ListBox.h"
#include "Markers.h"
#include "SilenceDialog.h"
#include "Platform.h"
#include "PositionSlider.h"
#include "PreviewPlayer.h"
#include "Silences.h"
#include "Settings.h"
#include "SplitEngine.h"
#include "WizardModel.h"
#include "StreamFacts.h"
#include "ui_MainWindow.h"

class QMenu;
class QTimer;
class THelpWindow;
class TSplitThread_1;
class TSplitThread_2;
class TSplitThread_3;

// The wizard: the main window and hub of the program. Its controls (from the
// layout) and members are public, as the other windows and the split workers
// read and write them by name.
class TForm1 : public QWidget, public Ui::TForm1, public TrackBarHost {
  Q_OBJECT

 public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;

  // The wizard's state and rules: the window shows it and forwards the
  // user's actions to it.
  WizardModel &model() { return model_; }
  // The player reports the frame being heard, so only the user's adjustment
  // around 200 moves the display: FrameCorrection = Offset - 200.
  std::int32_t FrameCorrection = 0;
  std::int32_t Offset = 200;
  TTrackBar1 *Slider = nullptr;
  bool SliderDragging = false;
  bool PlayingToBreakpoint = false;
  bool TrackPosition = true;
  bool FastForwarding = false;
  bool FastReversing = false;
  // Whether method 1 measures the file's sound for the strip behind the
  // slider (the plain slider where not).
  bool LevelStrip = true;
  TSplitThread_1 *SplitThread1 = nullptr;
  TSplitThread_2 *SplitThread2 = nullptr;
  TSplitThread_3 *SplitThread3 = nullptr;
  std::unique_ptr<TRegistry> Registry;

  // Components.
  TMp3Play Mp3Play;
  TXaudioPlayer *XPlayer = nullptr;
  // Why the preview is not heard (no sound server, it went away, a seek
  // waits for the file to be read); empty and hidden while sound is heard.
  // The play image's hint says it too.
  QLabel *labSound = nullptr;
  TFileDialog OpenDialog;
  TFileDialog SaveDialog;
  TFlatHint *FlatHint1 = nullptr;
  QMenu *HelpPopupMenu = nullptr;
  QAction *mnuContents = nullptr;
  QAction *mnuAbout = nullptr;
  QMenu *RightPopupMenu = nullptr;
  QAction *PlayAround = nullptr;
  QAction *Play3SecsBefore = nullptr;
  QAction *Play3SecsAfter = nullptr;
  QAction *Deletethisbreakpoint = nullptr;
  QAction *Deleteallbreakpoints1 = nullptr;
  QAction *TitleBreakpoint = nullptr;
  QAction *Adjust = nullptr;
  QAction *FindSilences = nullptr;
  QAction *MoveToPauses = nullptr;
  QAction *ImportChapters = nullptr;
  QAction *ImportCueSheet = nullptr;
  QAction *ImportLabels = nullptr;
  QAction *SaveBreakpoints = nullptr;
  QAction *SaveAsChapters = nullptr;
  TFileDialog CueDialog;
  TFileDialog LabelsDialog;
  TFileDialog MarksDialog;
  TFileDialog ChaptersDialog;
  QTimer *Timer = nullptr;
  THelpWindow *HelpWindow = nullptr;  // made on first use

  std::int32_t GetFrameCount() const { return model_.frames(); }
  // The track text of a piece number: at least three digits.
  QString FormatTrackNumber(std::int32_t track) const { return split::formatTrackNumber(track); }

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
  void Image1MouseDrag(QPoint globalPos);
  void butHelpClick(QObject *Sender);
  void mnuContentsClick(QObject *Sender);
  void mnuAboutClick(QObject *Sender);

  // Puts a file into the source box and makes its folder the current one;
  // only while page 1 is showing.
  bool takeSource(const QString &path);
  // The folder, as a full path, that the pieces of an output template go to.
  static QString outputFolder(const QString &outputTemplate);

  // The breakpoint list.
  void InsertBreakpoint(const QString &text);
  std::int32_t GetSelectedIndex() const;
  void butAddMouseDown(QObject *Sender, Qt::MouseButton Button);
  void butAddPointClick(QObject *Sender);
  void editBreakPointKeyPress(QObject *Sender, QChar &Key);
  void ListBoxMouseDown(QObject *Sender, Qt::MouseButton Button);
  void DeletethisbreakpointClick(QObject *Sender);
  void Deleteallbreakpoints1Click(QObject *Sender);
  void AdjustClick(QObject *Sender);

  // The preview.
  void XPlayerNotifyInputPosition(QObject *Sender, std::uint32_t Position, std::uint32_t Range);
  void XPlayerNotifyInputTimecode(QObject *Sender, std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds,
                                  std::uint8_t Fractions);
  void showSoundProblem(const QString &text);
  void imgPlayClick(QObject *Sender);
  void imgPuClick(QObject *Sender);
  void imgFastbClick(QObject *Sender);
  void imgFasteClick(QObject *Sender);
  void imgFastfMouseDown(QObject *Sender);
  void imgFastfMouseUp(QObject *Sender);
  void imgFastrMouseDown(QObject *Sender);
  void imgFastrMouseUp(QObject *Sender);
  void Play3SecsBeforeClick(QObject *Sender);
  // From 2 s before the selected breakpoint to 2 s after it.
  void PlayAroundClick(QObject *Sender);
  // The next (`step` 1) or previous (-1) breakpoint from the frame shown:
  // selected, and played around.
  std::optional<found::SilencesFound> searchSilences(const QString &title, const found::SilenceSettings &settings);
  void goToBreakpoint(int step);
  void TitleClick(QObject *Sender);
  void undoBreakpoints();
  // Asks before breakpoints that no split has used go; true to go on.
  bool mayDiscardBreakpoints();
  bool confirm(const QString &title, const QString &question, const QString &yes, const QString &no);
  void showSplitDone(const QStringList &pieces);
  void Play3SecsAfterClick(QObject *Sender);
  void TimerTimer(QObject *Sender);
  void PumpOneMessage();
  // How many times faster than playing fast forward and fast reverse wind.
  static constexpr int kWindSpeed = 20;

  // What the position slider drives.
  void setSliderDragging(bool dragging) override { SliderDragging = dragging; }
  void showFrame(const QString &text) override { labFrame->setText(text); }
  void playerPause() override { pause(); }
  void playerPlay() override { play(); }
  void playerSeek(std::uint32_t offset, std::int32_t range) override { XPlayer->InputSeek(offset, range); }
  void pumpOneMessage() override { PumpOneMessage(); }

 protected:
  void showEvent(QShowEvent *) override;
  void closeEvent(QCloseEvent *) override;
  void dragEnterEvent(QDragEnterEvent *) override;
  void dropEvent(QDropEvent *) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  bool sourceServes(int method);
  void enterMethod1();
  void enterMethod2();
  void enterMethod3();
  void setOutputTemplate(TFlatEdit *outputBox, const QString &outputTemplate);
  void browseOutput(TFlatEdit *outputBox);
  void readSettings();
  void writeSettings();
  void openSettingsKey();
  void keepOnScreen();
  void endProgram();
  void fastWind(bool &flag, int step);
  void endFastWind(bool &flag, TImage *image);
  std::int32_t selectedBreakpoint() const;
  void makeMenus();
  void connectBreakpointPage();
  void play();
  void pause();
  void addPreviewKeys();
  void seekBy(int seconds);
  void openBreakpointMenu();

  // Breakpoints found for the user: from silences, chapters, a cue sheet,
  // labels or a frame list. The list shows the model's breakpoints: frame
  // numbers as its texts, a title that came with one beside it (kTitleRole)
  // and shown after it. The breakpoints given back: as a cue sheet, labels
  // or a frame list, or as the chapters of a copy of the source.
 public:
  void FindSilencesClick(QObject *Sender);
  // Every breakpoint but the first and last onto the middle of the nearest
  // silence (as "Find Silences..." finds them) within the reach asked for.
  void MoveToPausesClick(QObject *Sender);
  void ImportChaptersClick(QObject *Sender);
  void ImportCueSheetClick(QObject *Sender);
  void importCueSheet(const QString &sheet);
  void ImportLabelsClick(QObject *Sender);
  // Audacity's labels, or a frame list (.csv).
  void importLabels(const QString &file);
  void SaveBreakpointsClick(QObject *Sender);
  void SaveAsChaptersClick(QObject *Sender);
  // Asks before a file that is there is written over; true to go on.
  bool mayReplace(const QString &file);

 private:
  void addMarkers(const std::vector<found::Marker> &markers, bool searched = false, bool remember = true);
  TfrmSilences::Search lastSearch_;
  double pauseReach_ = 5;  // how far "Move Breakpoints to Pauses..." last moved, in seconds
  void applyFacts(std::shared_ptr<const audio::StreamFacts> facts);

  void showBreakpoints();
  void selectBreakpoint(int row);
  void showSelectedBreakpoint();
  QTimer *aroundTimer_ = nullptr;
  std::pair<std::int64_t, std::int64_t> around_{};  // the breakpoint played around, and frames heard either side
  QLabel *labDone_ = nullptr;  // what the last split wrote, under the list
  QLabel *labNext_ = nullptr;  // "Click Next to create...", where labDone_ stands meanwhile
  void forwardToModel();

  // The strip behind the slider (LevelStrip.cpp): the sound of the whole
  // file, measured in the background from the first sound of method 1 on,
  // and the breakpoints.
  void connectLevelStrip();
  void startLevelStrip();
  void readLevels();
  void stopLevelStrip();
  void showMarks();

  WizardModel model_;
  std::optional<QPoint> dragFrom_;  // pointer less window origin, while dragging by hand
  bool centreOnShow_ = false;
  bool shownOnce_ = false;
  QElapsedTimer pageChanged_;  // since the last change of page
  bool playing_ = false;       // as the page last asked the player
  // Method 1 opens at once on a guess from the file's first frame, and reads
  // the frames meanwhile.
  std::shared_ptr<const audio::StreamFacts> guessed_;
  std::unique_ptr<audio::FactsReader> factsReader_;
  std::unique_ptr<found::LevelReader> levelReader_;
  QTimer *levelsDue_ = nullptr;  // the latest the measuring starts without a first sound
};

// What the breakpoint list keeps beside each frame number it shows.
constexpr int kTitleRole = Qt::UserRole + 1;
constexpr int kTimeRole = Qt::UserRole + 2;  // h:mm:ss.s

// Number keys only: Backspace and the digits pass, every other character is discarded.
void filterNumberKey(QChar &key);

// The windows, created once at start-up in this order and alive until the end.
extern TForm1 *Form1;
