#include "MainWindow.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <QKeySequence>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>

#include <QFileInfo>

#include "Convert.h"
#include "FileName.h"
#include "GuardedConnect.h"
#include "Marks.h"
#include "Pauses.h"
#include "OffsetDialog.h"
#include "Search.h"
#include "Sheets.h"
#include "SilenceDialog.h"
#include "SplitEngine.h"

// The breakpoint page (method 1) of the main window: the breakpoint list, the
// preview's transport and its keys.

namespace {
// A breakpoint's title, where it has one, after its frame number.
class TitledItems : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString time = index.data(kTimeRole).toString();
    if (!time.isEmpty()) option->text += QStringLiteral("  ") + time;
    const QString title = index.data(kTitleRole).toString();
    if (!title.isEmpty()) option->text += QStringLiteral("  ") + title;
  }
};
}  // namespace

// The page's controls, through the application-wide error guard.
void TForm1::connectBreakpointPage() {
  on(butAdd, &TFlatButton::mousePressed, this, [this](Qt::MouseButton b, QPoint) { butAddMouseDown(butAdd, b); });
  on(butAddPoint, &QAbstractButton::clicked, this, [this] { butAddPointClick(butAddPoint); });
  on(editBreakPoint, &TFlatEdit::keyPressed, this, [this](QChar &key) { editBreakPointKeyPress(editBreakPoint, key); });
  on(ListBox, &TListBox::mouseDown, this, [this](Qt::MouseButton b) { ListBoxMouseDown(ListBox, b); });
  on(PlayAround, &QAction::triggered, this, [this] { PlayAroundClick(PlayAround); });
  on(TitleBreakpoint, &QAction::triggered, this, [this] { TitleClick(TitleBreakpoint); });
  on(Play3SecsBefore, &QAction::triggered, this, [this] { Play3SecsBeforeClick(Play3SecsBefore); });
  on(Play3SecsAfter, &QAction::triggered, this, [this] { Play3SecsAfterClick(Play3SecsAfter); });
  on(Deletethisbreakpoint, &QAction::triggered, this, [this] { DeletethisbreakpointClick(Deletethisbreakpoint); });
  on(Deleteallbreakpoints1, &QAction::triggered, this, [this] { Deleteallbreakpoints1Click(Deleteallbreakpoints1); });
  on(Adjust, &QAction::triggered, this, [this] { AdjustClick(Adjust); });
  on(FindSilences, &QAction::triggered, this, [this] { FindSilencesClick(FindSilences); });
  on(MoveToPauses, &QAction::triggered, this, [this] { MoveToPausesClick(MoveToPauses); });
  on(ImportChapters, &QAction::triggered, this, [this] { ImportChaptersClick(ImportChapters); });
  on(ImportCueSheet, &QAction::triggered, this, [this] { ImportCueSheetClick(ImportCueSheet); });
  on(ImportLabels, &QAction::triggered, this, [this] { ImportLabelsClick(ImportLabels); });
  on(SaveBreakpoints, &QAction::triggered, this, [this] { SaveBreakpointsClick(SaveBreakpoints); });
  on(SaveAsChapters, &QAction::triggered, this, [this] { SaveAsChaptersClick(SaveAsChapters); });
  ListBox->setItemDelegate(new TitledItems(ListBox));
  // A line chosen by key or click: the frame shown goes there; Enter and a
  // double click play around it.
  on(ListBox, &QListWidget::currentRowChanged, this, [this](int) { showSelectedBreakpoint(); });
  on(ListBox, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *) { PlayAroundClick(PlayAround); });
  ListBox->installEventFilter(this);
  aroundTimer_ = new QTimer(this);
  aroundTimer_->setSingleShot(true);
  aroundTimer_->setTimerType(Qt::PreciseTimer);
  on(aroundTimer_, &QTimer::timeout, this, [this] { pause(); });
  on(Timer, &QTimer::timeout, this, [this] { TimerTimer(Timer); });
  on(XPlayer, &TXaudioPlayer::OnNotifyInputPosition, this,
     [this](QObject *sender, std::uint32_t offset, std::uint32_t range) {
       XPlayerNotifyInputPosition(sender, offset, range);
     });
  on(XPlayer, &TXaudioPlayer::OnNotifyInputTimecode, this,
     [this](QObject *sender, std::uint8_t h, std::uint8_t m, std::uint8_t sec, std::uint8_t fr) {
       XPlayerNotifyInputTimecode(sender, h, m, sec, fr);
     });
  on(XPlayer, &TXaudioPlayer::soundProblemChanged, this, [this](const QString &text) { showSoundProblem(text); });
  on(imgPlay, &TImage::clicked, this, [this] { imgPlayClick(imgPlay); });
  on(imgPu, &TImage::clicked, this, [this] { imgPuClick(imgPu); });
  on(imgFastb, &TImage::clicked, this, [this] { imgFastbClick(imgFastb); });
  on(imgFaste, &TImage::clicked, this, [this] { imgFasteClick(imgFaste); });
  on(imgFastf, &TImage::mousePressed, this, [this](Qt::MouseButton) { imgFastfMouseDown(imgFastf); });
  on(imgFastf, &TImage::mouseReleased, this, [this](Qt::MouseButton) { imgFastfMouseUp(imgFastf); });
  on(imgFastr, &TImage::mousePressed, this, [this](Qt::MouseButton) { imgFastrMouseDown(imgFastr); });
  on(imgFastr, &TImage::mouseReleased, this, [this](Qt::MouseButton) { imgFastrMouseUp(imgFastr); });
  addPreviewKeys();
}

// The breakpoint list: the list box shows the model's breakpoints, decimal
// frame numbers in strictly ascending order, each title beside its frame.

void TForm1::InsertBreakpoint(const QString &text) {
  // Only non-negative decimal numbers go in: the split reads every item as one.
  if (!split::isFrameNumber(text)) return;
  model_.insertBreakpoint(StrToInt(text), text);
}

// The list made anew in one go, however many breakpoints: its current line
// stays where it was.
void TForm1::showBreakpoints() {
  const int current = ListBox->currentRow();
  const QSignalBlocker quiet(ListBox);
  ListBox->setUpdatesEnabled(false);
  ListBox->clear();
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(model_.breakpoints().size()));
  for (const Breakpoint &b : model_.breakpoints()) texts << b.text;
  ListBox->addItems(texts);
  const double msPerFrame = model_.frames() > 0 ? static_cast<double>(model_.totalTimeMs()) / model_.frames() : 1152000.0 / 44100;
  for (int i = 0; i < ListBox->count(); ++i) {
    const Breakpoint &b = model_.breakpoints()[static_cast<std::size_t>(i)];
    const auto tenths = static_cast<long long>(std::llround(static_cast<double>(b.frame) * msPerFrame / 100));
    const QString time = QStringLiteral("%1:%2:%3.%4")
                             .arg(tenths / 36000)
                             .arg(tenths / 600 % 60, 2, 10, QLatin1Char('0'))
                             .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
                             .arg(tenths % 10);
    QListWidgetItem *item = ListBox->item(i);
    item->setData(kTimeRole, time);
    if (!b.title.isEmpty()) item->setData(kTitleRole, b.title);
    item->setToolTip(b.title.isEmpty() ? QStringLiteral("%1  %2").arg(b.text, time)
                                       : QStringLiteral("%1  %2  %3").arg(b.text, time, b.title));
  }
  if (current >= 0 && ListBox->count() > 0)
    ListBox->setCurrentRow(std::min(current, ListBox->count() - 1), QItemSelectionModel::NoUpdate);
  ListBox->setUpdatesEnabled(true);
}

std::int32_t TForm1::GetSelectedIndex() const {
  const int n = ListBox->count();
  for (int i = 0; i < n; ++i)
    if (ListBox->item(i)->isSelected()) return i;
  return n;
}

std::int32_t TForm1::selectedBreakpoint() const {
  const QListWidgetItem *item = ListBox->item(GetSelectedIndex());
  if (!item) throw EConvertError("no breakpoint is selected");
  return StrToInt(item->text());
}

void TForm1::butAddMouseDown(QObject *, Qt::MouseButton) { InsertBreakpoint(labFrame->text()); }

void TForm1::butAddPointClick(QObject *) {
  const QString text = editBreakPoint->text().trimmed();
  if (text.isEmpty()) return;
  InsertBreakpoint(text);
}

void TForm1::editBreakPointKeyPress(QObject *, QChar &Key) {
  if (Key == QChar(8)) return;
  if (Key == QChar(13)) {
    butAddPointClick(nullptr);
    Key = QChar();
    return;
  }
  if (Key < u'0' || Key > u'9') Key = QChar();
}

void TForm1::ListBoxMouseDown(QObject *, Qt::MouseButton Button) {
  if (Button != Qt::LeftButton && Button != Qt::RightButton) return;
  platform().popupMenu(RightPopupMenu, platform().cursorPos());
}

// The breakpoint that takes the deleted one's place is selected, so that
// the next key goes on from there and none is passed over.
void TForm1::DeletethisbreakpointClick(QObject *) {
  const int index = GetSelectedIndex();
  if (index >= ListBox->count()) return;
  model_.remember();
  model_.removeBreakpoint(static_cast<std::size_t>(index));
  ListBox->clearSelection();
  if (ListBox->count() > 0) selectBreakpoint(std::min(index, ListBox->count() - 1));
}

void TForm1::Deleteallbreakpoints1Click(QObject *) {
  model_.remember();
  model_.clearBreakpoints();
}

void TForm1::undoBreakpoints() {
  const int row = ListBox->currentRow();
  if (model_.undo() && ListBox->count() > 0) selectBreakpoint(std::clamp(row, 0, ListBox->count() - 1));
}

void TForm1::selectBreakpoint(int row) {
  ListBox->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  ListBox->scrollToItem(ListBox->item(row));
}

// The frame shown goes to the breakpoint chosen in the list.
void TForm1::showSelectedBreakpoint() {
  const QListWidgetItem *item = ListBox->currentItem();
  if (!item || !split::isFrameNumber(item->text()) || PageControl1->currentWidget() != TabSheet3) return;
  const std::int32_t b = StrToInt(item->text());
  Slider->setValue(b);
  labFrame->setText(QString::number(b));
  XPlayer->InputSeek(static_cast<std::uint32_t>(std::max(0, b)), model_.frames());
}

void TForm1::PlayAroundClick(QObject *) {
  const QListWidgetItem *item = ListBox->item(GetSelectedIndex());
  if (!item) item = ListBox->currentItem();
  if (!item) return;
  const double framesPerSecond = model_.totalTimeMs() > 0 ? model_.frames() * 1000.0 / model_.totalTimeMs() : 44100.0 / 1152;
  const std::int32_t b = StrToInt(item->text());
  const auto lead = static_cast<std::int32_t>(std::lround(2 * framesPerSecond));
  pause();
  Timer->stop();
  XPlayer->InputSeek(static_cast<std::uint32_t>(std::max(0, b - lead)), model_.frames());
  labFrame->setText(QString::number(std::max(0, b - lead)));
  aroundTimer_->start(b < lead ? static_cast<int>((b / framesPerSecond + 2) * 1000) : 4000);
  around_ = {b, lead};
  play();
}

void TForm1::goToBreakpoint(int step) {
  std::int64_t shown = labFrame->text().toLongLong();
  // Played around, a breakpoint is shown from 2 s before it to 2 s after:
  // while that plays, it is the one chosen in the list and the frame shown is
  // that near, the next and the previous are those of the breakpoint heard.
  const int chosen = ListBox->currentRow();
  if (aroundTimer_->isActive() && chosen >= 0 && static_cast<std::size_t>(chosen) < model_.breakpoints().size() &&
      model_.breakpoints()[static_cast<std::size_t>(chosen)].frame == around_.first &&
      std::abs(shown - around_.first) <= around_.second)
    shown = around_.first;
  const std::vector<Breakpoint> &all = model_.breakpoints();
  int row = -1;
  if (step > 0) {
    const auto next = std::upper_bound(all.begin(), all.end(), shown,
                                       [](std::int64_t f, const Breakpoint &b) { return f < b.frame; });
    if (next != all.end()) row = static_cast<int>(next - all.begin());
  } else {
    const auto after = std::lower_bound(all.begin(), all.end(), shown,
                                        [](const Breakpoint &b, std::int64_t f) { return b.frame < f; });
    if (after != all.begin()) row = static_cast<int>(after - all.begin()) - 1;
  }
  if (row < 0) return;
  selectBreakpoint(row);
  PlayAroundClick(PlayAround);
  labFrame->setText(all[static_cast<std::size_t>(row)].text);  // shown at the breakpoint, heard from before it
}

void TForm1::TitleClick(QObject *) {
  const int index = GetSelectedIndex() < ListBox->count() ? GetSelectedIndex() : ListBox->currentRow();
  if (index < 0 || index >= ListBox->count()) return;
  const Breakpoint &b = model_.breakpoints()[static_cast<std::size_t>(index)];
  QInputDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("Title"));
  dialog.setLabelText(QStringLiteral("The title of the piece that begins at frame %1:").arg(b.text));
  dialog.setTextValue(b.title);
  if (!platform().runDialog(&dialog)) return;
  model_.setTitle(static_cast<std::size_t>(index), dialog.textValue().trimmed());
  selectBreakpoint(index);
}

// A question the user answers with `yes` or `no`, through the platform.
bool TForm1::confirm(const QString &title, const QString &question, const QString &yes, const QString &no) {
  QDialog dialog(this);
  dialog.setWindowTitle(title);
  auto *text = new QLabel(question, &dialog);
  text->setWordWrap(true);
  auto *buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(yes, QDialogButtonBox::AcceptRole);
  buttons->addButton(no, QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto *layout = new QVBoxLayout(&dialog);
  layout->addWidget(text);
  layout->addWidget(buttons);
  return platform().runDialog(&dialog);
}

bool TForm1::mayDiscardBreakpoints() {
  if (PageControl1->currentWidget() != TabSheet3 || !model_.unused()) return true;
  return confirm(QStringLiteral("Discard"),
                 QStringLiteral("Discard the %1 breakpoints of %2?")
                     .arg(model_.breakpoints().size())
                     .arg(split::fileNamePart(model_.source())),
                 QStringLiteral("Discard"), QStringLiteral("Keep"));
}

// After a split of this page: how many pieces went where, under the list,
// until the breakpoints change.
void TForm1::showSplitDone(const QStringList &pieces) {
  model_.markUsed();
  if (pieces.isEmpty()) return;
  const QString folder = QDir::toNativeSeparators(QFileInfo(pieces.first()).absolutePath());
  labDone_->setText(pieces.size() == 1 ? QStringLiteral("1 piece written to %1").arg(folder)
                                       : QStringLiteral("%1 pieces written to %2").arg(pieces.size()).arg(folder));
  labDone_->setToolTip(labDone_->text());
  labDone_->show();
  if (labNext_) labNext_->hide();
}

void TForm1::AdjustClick(QObject *) { frmAdjust->exec(); }

// The preview.

void TForm1::XPlayerNotifyInputPosition(QObject *, std::uint32_t position, std::uint32_t) {
  if (SliderDragging || !TrackPosition || !Slider) return;
  const std::int32_t p = static_cast<std::int32_t>(position + static_cast<std::uint32_t>(FrameCorrection));
  Slider->setValue(p);
  labFrame->setText(p < 0 ? QStringLiteral("0") : QString::number(p));
  if (PlayingToBreakpoint && p >= selectedBreakpoint()) {
    PlayingToBreakpoint = false;
    pause();
  }
}

void TForm1::XPlayerNotifyInputTimecode(QObject *, std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds,
                                        std::uint8_t) {
  auto two = [](int v) { return v < 10 ? QStringLiteral("0") + QString::number(v) : QString::number(v); };
  labHour->setText(two(Hours));
  labMin->setText(u':' + two(Minutes));
  labSec->setText(u':' + two(Seconds));
}

// Said in the window, not in a message box: the preview goes on (silently,
// or holding its place) and the user need not answer anything.
void TForm1::showSoundProblem(const QString &text) {
  labSound->setText(text);
  labSound->setVisible(!text.isEmpty());
  const QString play = QStringLiteral("Play this mp3 file");
  imgPlay->setToolTip(text.isEmpty() ? play : play + QStringLiteral("\n") + text);
}

void TForm1::imgPlayClick(QObject *) { play(); }
void TForm1::imgPuClick(QObject *) { pause(); }
void TForm1::imgFastbClick(QObject *) { XPlayer->InputSeek(1, model_.frames()); }
void TForm1::imgFasteClick(QObject *) { XPlayer->InputSeek(static_cast<std::uint32_t>(model_.frames()), model_.frames()); }

void TForm1::PumpOneMessage() { ::PumpOneMessage(); }

void TForm1::play() {
  XPlayer->Play();
  playing_ = true;
}

void TForm1::pause() {
  XPlayer->Pause();
  playing_ = false;
}

// The breakpoint page from the keyboard. The keys belong to the page while
// it shows; an edit box with the focus keeps those it edits with.
void TForm1::addPreviewKeys() {
  QList<QShortcut *> keys;
  auto key = [&](const QKeySequence &sequence, auto handler) {
    auto *shortcut = new QShortcut(sequence, this);
    shortcut->setEnabled(false);
    on(shortcut, &QShortcut::activated, this, handler);
    keys << shortcut;
  };
  key(Qt::Key_Space, [this] { playing_ ? imgPuClick(imgPu) : imgPlayClick(imgPlay); });
  key(Qt::Key_Left, [this] { seekBy(-1); });
  key(Qt::Key_Right, [this] { seekBy(+1); });
  // With the list focused, these move in the list, as they would in any.
  const auto orList = [this](Qt::Key k, std::function<void()> handler) {
    return [this, k, handler] {
      if (!ListBox->hasFocus() || ListBox->count() == 0) return handler();
      const int page = std::max(1, ListBox->viewport()->height() / std::max(1, ListBox->sizeHintForRow(0)) - 1);
      const int row = std::max(0, ListBox->currentRow());
      const int last = ListBox->count() - 1;
      selectBreakpoint(k == Qt::Key_Home     ? 0
                       : k == Qt::Key_End    ? last
                       : k == Qt::Key_PageUp ? std::max(0, row - page)
                                             : std::min(last, row + page));
    };
  };
  key(Qt::Key_PageDown, orList(Qt::Key_PageDown, [this] { seekBy(-10); }));
  key(Qt::Key_PageUp, orList(Qt::Key_PageUp, [this] { seekBy(+10); }));
  key(Qt::Key_Home, orList(Qt::Key_Home, [this] { imgFastbClick(imgFastb); }));
  key(Qt::Key_End, orList(Qt::Key_End, [this] { imgFasteClick(imgFaste); }));
  for (const QKeySequence &add : {QKeySequence(Qt::Key_Insert), QKeySequence(Qt::Key_B)})
    key(add, [this] { butAddMouseDown(butAdd, Qt::LeftButton); });
  // Alt+B, the button's own mnemonic, adds as a press on it does.
  butAdd->installEventFilter(this);
  key(Qt::Key_Delete, [this] {
    if (ListBox->item(GetSelectedIndex())) DeletethisbreakpointClick(Deletethisbreakpoint);
  });
  for (const QKeySequence &menu : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)})
    key(menu, [this] { openBreakpointMenu(); });
  for (const QKeySequence &next : {QKeySequence(Qt::CTRL | Qt::Key_Right), QKeySequence(Qt::Key_BracketRight)})
    key(next, [this] { goToBreakpoint(+1); });
  for (const QKeySequence &previous : {QKeySequence(Qt::CTRL | Qt::Key_Left), QKeySequence(Qt::Key_BracketLeft)})
    key(previous, [this] { goToBreakpoint(-1); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { undoBreakpoints(); });
  key(QKeySequence(Qt::Key_F2), [this] { TitleClick(TitleBreakpoint); });
  connect(PageControl1, &QStackedWidget::currentChanged, this, [this, keys] {
    for (QShortcut *shortcut : keys) shortcut->setEnabled(PageControl1->currentWidget() == TabSheet3);
  });
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  if (watched == butAdd && event->type() == QEvent::Shortcut) {
    guard([this] { butAddMouseDown(butAdd, Qt::LeftButton); });
    return true;
  }
  if (watched == ListBox && event->type() == QEvent::KeyPress) {
    const int k = static_cast<QKeyEvent *>(event)->key();
    if (k == Qt::Key_Return || k == Qt::Key_Enter) {
      guard([this] { PlayAroundClick(PlayAround); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// Seeks `seconds` away from the frame shown, and shows where.
void TForm1::seekBy(int seconds) {
  const double framesPerSecond = model_.totalTimeMs() > 0 ? model_.frames() * 1000.0 / model_.totalTimeMs() : 44100.0 / 1152;
  const int to = std::clamp(Slider->value() + static_cast<int>(std::lround(seconds * framesPerSecond)),
                            Slider->minimum(), Slider->maximum());
  Slider->setValue(to);
  labFrame->setText(QString::number(to));
  XPlayer->InputSeek(static_cast<std::uint32_t>(to), model_.frames());
}

// The list's menu, from the keyboard: at the selected breakpoint (the
// current one selected if none is), below its line.
void TForm1::openBreakpointMenu() {
  QListWidgetItem *item = ListBox->item(GetSelectedIndex());
  if (!item) item = ListBox->currentItem() ? ListBox->currentItem() : ListBox->item(0);
  if (!item) return;
  item->setSelected(true);
  const QRect line = ListBox->visualItemRect(item);
  platform().popupMenu(RightPopupMenu, ListBox->viewport()->mapToGlobal(line.bottomLeft()));
}

// Winds the slider at kWindSpeed times the playing speed until the button is
// released; the release arrives inside the loop and clears the flag. The
// place follows the clock, not the number of events handled, and a timer
// keeps events coming whatever the sound system posts.
void TForm1::fastWind(bool &flag, int step) {
  TrackPosition = false;
  flag = true;
  pause();
  const double framesPerSecond = model_.totalTimeMs() > 0 ? model_.frames() * 1000.0 / model_.totalTimeMs() : 44100.0 / 1152;
  const int from = Slider->value();
  QElapsedTimer held;
  held.start();
  QTimer wake;
  wake.start(15);
  for (;;) {
    PumpOneMessage();
    if (!flag) break;  // released: the player went on from the place shown
    const auto wound = static_cast<std::int64_t>(held.nsecsElapsed() * 1e-9 * framesPerSecond * kWindSpeed);
    Slider->setValue(
        static_cast<int>(std::clamp<std::int64_t>(from + step * wound, Slider->minimum(), Slider->maximum())));
    QThread::yieldCurrentThread();
    labFrame->setText(QString::number(Slider->value()));
  }
}

void TForm1::endFastWind(bool &flag, TImage *image) {
  image->releaseMouse();
  TrackPosition = true;
  flag = false;
  XPlayer->InputSeek(static_cast<std::uint32_t>(Slider->value()), model_.frames());
  play();
}

void TForm1::imgFastfMouseDown(QObject *) {
  imgFastf->grabMouse();  // a release anywhere ends the wind
  fastWind(FastForwarding, +1);
}
void TForm1::imgFastfMouseUp(QObject *) { endFastWind(FastForwarding, imgFastf); }
void TForm1::imgFastrMouseDown(QObject *) {
  imgFastr->grabMouse();
  fastWind(FastReversing, -1);
}
void TForm1::imgFastrMouseUp(QObject *) { endFastWind(FastReversing, imgFastr); }

void TForm1::Play3SecsAfterClick(QObject *) {
  const QListWidgetItem *item = ListBox->item(GetSelectedIndex());
  if (!item) return;
  pause();
  XPlayer->InputSeek(static_cast<std::uint32_t>(StrToInt(item->text())), model_.frames());
  labFrame->setText(item->text());
  if (!Timer->isActive()) Timer->start();
  play();
}

void TForm1::Play3SecsBeforeClick(QObject *) {
  if (!ListBox->item(GetSelectedIndex())) return;
  pause();
  PlayingToBreakpoint = true;
  const std::int32_t b = selectedBreakpoint();
  // A lead-in that would begin before the file begins at its start.
  XPlayer->InputSeek(b < 128 ? 0u : static_cast<std::uint32_t>(b - 128), model_.frames());
  labFrame->setText(QString::number(b - 128));
  play();
}

void TForm1::TimerTimer(QObject *) {
  Timer->stop();
  pause();
}

// Breakpoints found for the user go into the list beside those there, each
// checked by ear afterwards; a title comes with its frame where it has none.
// After a search or an import, the list has the focus, the first new
// breakpoint selected; all of it can be taken back at once.
void TForm1::addMarkers(const std::vector<found::Marker> &markers, bool searched, bool remember) {
  std::vector<std::int64_t> before;
  for (const Breakpoint &b : model_.breakpoints()) before.push_back(b.frame);
  if (remember) model_.remember();
  model_.insertBreakpoints(markers, searched);
  ListBox->setFocus();
  for (std::size_t i = 0; i < model_.breakpoints().size(); ++i)
    if (!std::binary_search(before.begin(), before.end(), model_.breakpoints()[i].frame)) {
      selectBreakpoint(static_cast<int>(i));
      break;
    }
}

// The source's silences, searched on a worker with the progress window
// titled `title`; nothing where the user cancelled, or where the search
// failed and a message said why.
std::optional<found::SilencesFound> TForm1::searchSilences(const QString &title, const found::SilenceSettings &settings) {
  const QString source = model_.source();
  // The strip's levels, once it has them all: the search then decodes only
  // the stretches they leave in doubt.
  std::vector<float> levels;
  if (Slider->showsLevels() && Slider->levelWindows() > 0 && Slider->levelsMeasured() == Slider->levelWindows())
    levels = Slider->levels();
  std::optional<found::SilencesFound> found;
  QString why;
  const bool ran = runSearch(this, title, [&](SearchProgress &progress) {
    found = found::findSilences(
        source, settings,
        [&progress](std::int64_t done, std::int64_t total) {
          progress.total = total;
          progress.done = done;
        },
        &progress.stop, &why, 0, levels.empty() ? nullptr : &levels);
  });
  if (ran && !found)
    platform().messageBox(this, QStringLiteral("Cannot search %1 for silences: %2.").arg(source, why), QString(),
                          Platform::Icon::Error);
  return ran ? found : std::nullopt;
}

void TForm1::FindSilencesClick(QObject *) {
  TfrmSilences dialog(this);
  dialog.setSearch(lastSearch_);
  if (!platform().runDialog(&dialog)) return;
  lastSearch_ = dialog.search();  // kept for the next, and in the settings
  const found::SilenceSettings settings = lastSearch_.settings;
  const QString source = model_.source();
  const std::optional<found::SilencesFound> found = searchSilences(QStringLiteral("Finding silences..."), settings);
  if (!found) return;  // cancelled or said why: nothing changes
  if (found->silences.empty()) {
    QString text = QStringLiteral("%1 has no silence below %2 dB for %3 seconds or more; the breakpoints stay as they "
                                  "are.")
                       .arg(source)
                       .arg(settings.levelDb)
                       .arg(settings.minSeconds);
    if (const auto level = found::levelToFind(*found, settings)) {
      QString hint = found::quietestHint(*found, settings);
      hint[0] = hint[0].toUpper();
      text += QStringLiteral("\n%1: try a level of %2 dB.").arg(hint).arg(*level);
    }
    platform().messageBox(this, text, QString(), Platform::Icon::Information);
    return;
  }
  // Taken back with one undo: the earlier search's breakpoints and these.
  const std::size_t before = model_.breakpoints().size();
  model_.remember();
  if (lastSearch_.replace) model_.removeSearched();
  const std::size_t kept = model_.breakpoints().size();
  const std::vector<found::Marker> markers = found::longestSilences(*found, lastSearch_.pieces);
  addMarkers(markers, true, false);
  const std::size_t added = model_.breakpoints().size() - kept;
  const std::size_t silences = found->silences.size();
  labDone_->setText(QStringLiteral("%1 silence%2, %3 new breakpoint%4")
                        .arg(silences)
                        .arg(silences == 1 ? QString() : QStringLiteral("s"))
                        .arg(added)
                        .arg(added == 1 ? QString() : QStringLiteral("s")));
  labDone_->setToolTip(before > kept ? QStringLiteral("%1 found before were replaced").arg(before - kept) : QString());
  labDone_->show();
  if (labNext_) labNext_->hide();
}

void TForm1::MoveToPausesClick(QObject *) {
  const found::SilenceSettings settings = lastSearch_.settings;
  QInputDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("Move Breakpoints to Pauses"));
  dialog.setLabelText(QStringLiteral("Each breakpoint but the first and last moves to the middle\n"
                                     "of the nearest silence: below %1 dB for %2 s or more,\n"
                                     "as Find Silences... looks for them.\n\n"
                                     "How far may a breakpoint move (seconds)?")
                          .arg(settings.levelDb)
                          .arg(settings.minSeconds));
  dialog.setInputMode(QInputDialog::DoubleInput);
  dialog.setDoubleDecimals(1);
  dialog.setDoubleRange(0.1, 3600);
  dialog.setDoubleValue(pauseReach_);
  if (!platform().runDialog(&dialog)) return;
  pauseReach_ = dialog.doubleValue();
  const std::optional<found::SilencesFound> found = searchSilences(QStringLiteral("Finding pauses..."), settings);
  if (!found) return;  // cancelled or said why: nothing moves
  const found::Snapped snapped = found::snapToPauses(*found, model_.markers(), pauseReach_);
  model_.replaceBreakpoints(snapped.markers);
  QStringList said;
  if (!snapped.unmoved.empty())
    said << QStringLiteral("%1 breakpoint%2 found no pause within %3 s: %4")
                .arg(snapped.unmoved.size())
                .arg(snapped.unmoved.size() == 1 ? QString() : QStringLiteral("s"))
                .arg(pauseReach_)
                .arg(found::framesText(snapped.unmoved));
  if (const QString merged = found::mergedBreakpoints(snapped); !merged.isEmpty()) said << merged;
  if (!said.isEmpty())
    platform().messageBox(this, said.join(u'\n'), QString(), Platform::Icon::Information);
}

namespace {
// The timeline of the source, or a message box saying why there is none.
std::optional<found::Timeline> timelineFor(QWidget *window, const QString &source) {
  QString why;
  auto t = found::timelineOf(source, &why);
  if (!t)
    platform().messageBox(window, QStringLiteral("Cannot read %1: %2.").arg(source, why), QString(),
                          Platform::Icon::Error);
  return t;
}
}  // namespace

void TForm1::ImportChaptersClick(QObject *) {
  const auto t = timelineFor(this, model_.source());
  if (!t) return;
  const auto read = found::chaptersOf(model_.source(), *t);
  if (const auto *problem = std::get_if<found::SheetError>(&read)) {
    platform().messageBox(this, QStringLiteral("Cannot read the chapters of %1: %2.").arg(model_.source(), problem->message()),
                          QString(), Platform::Icon::Error);
    return;
  }
  const found::Markers &chapters = std::get<found::Markers>(read);
  if (chapters.markers.empty()) {
    platform().messageBox(this, QStringLiteral("%1 has no chapters (its ID3v2 tag holds no CHAP frame).").arg(model_.source()),
                          QString(), Platform::Icon::Information);
    return;
  }
  if (!chapters.notes.isEmpty())
    platform().messageBox(this, chapters.notes.join(u'\n'), QString(), Platform::Icon::Information);
  addMarkers(chapters.markers);
}

void TForm1::ImportCueSheetClick(QObject *) {
  if (CueDialog.Execute(this)) importCueSheet(CueDialog.FileName());
}

void TForm1::importCueSheet(const QString &sheet) {
  const auto file = found::readSheetFile(sheet);
  if (const auto *problem = std::get_if<found::SheetError>(&file)) {
    platform().messageBox(this, QStringLiteral("Cannot take the cue sheet %1: %2.").arg(sheet, problem->message()),
                          QString(), Platform::Icon::Error);
    return;
  }
  const auto read = found::readCueSheet(std::get<QByteArray>(file));
  const auto t = std::holds_alternative<found::CueSheet>(read) ? timelineFor(this, model_.source()) : std::nullopt;
  if (std::holds_alternative<found::CueSheet>(read) && !t) return;
  const auto markers = t ? found::markersOf(std::get<found::CueSheet>(read), *t, model_.source())
                         : std::variant<found::Markers, found::SheetError>(std::get<found::SheetError>(read));
  if (const auto *problem = std::get_if<found::SheetError>(&markers)) {
    platform().messageBox(
        this, QStringLiteral("Cannot take the cue sheet %1: %2. The breakpoints stay as they are.").arg(sheet, problem->message()),
        QString(), Platform::Icon::Error);
    return;
  }
  const found::Markers &found = std::get<found::Markers>(markers);
  if (!found.notes.isEmpty())
    platform().messageBox(this, found.notes.join(u'\n'), QString(), Platform::Icon::Information);
  addMarkers(found.markers);
}

void TForm1::ImportLabelsClick(QObject *) {
  if (LabelsDialog.Execute(this)) importLabels(LabelsDialog.FileName());
}

void TForm1::importLabels(const QString &file) {
  const bool frameList = found::marksKindOf(file) == found::MarksKind::frameList;
  const QString what = frameList ? QStringLiteral("frame list") : QStringLiteral("labels");
  const auto refuse = [&](const found::SheetError &problem) {
    platform().messageBox(this,
                          QStringLiteral("Cannot take the %1 %2: %3. The breakpoints stay as they are.")
                              .arg(what, file, problem.message()),
                          QString(), Platform::Icon::Error);
  };
  const auto bytes = found::readLabelFile(file);
  if (const auto *problem = std::get_if<found::SheetError>(&bytes)) return refuse(*problem);
  const auto labels = frameList ? std::variant<found::LabelFile, found::SheetError>(found::LabelFile{})
                                : found::readLabels(std::get<QByteArray>(bytes));
  if (const auto *problem = std::get_if<found::SheetError>(&labels)) return refuse(*problem);
  const auto t = timelineFor(this, model_.source());
  if (!t) return;
  const auto markers = frameList ? found::readFrameList(std::get<QByteArray>(bytes), *t)
                                 : found::markersOf(std::get<found::LabelFile>(labels), *t);
  if (const auto *problem = std::get_if<found::SheetError>(&markers)) return refuse(*problem);
  const found::Markers &found = std::get<found::Markers>(markers);
  if (!found.notes.isEmpty())
    platform().messageBox(this, found.notes.join(u'\n'), QString(), Platform::Icon::Information);
  addMarkers(found.markers);
}

// Whether `file` may be written: it is not there, or the user would have it
// replaced.
bool TForm1::mayReplace(const QString &file) {
  struct stat st {};
  if (::stat(encodeFileName(file).constData(), &st) != 0) return true;
  return confirm(QStringLiteral("Replace"), QStringLiteral("%1 is there already. Replace it?").arg(file),
                 QStringLiteral("Replace"), QStringLiteral("Cancel"));
}

// The breakpoints, their titles with them, as the kind of file its name
// says: a cue sheet, Audacity's labels or a frame list.
void TForm1::SaveBreakpointsClick(QObject *) {
  if (model_.breakpoints().empty()) {
    platform().messageBox(this, QStringLiteral("There is no breakpoint to save."), QString(), Platform::Icon::Information);
    return;
  }
  if (!MarksDialog.Execute(this)) return;
  const QString file = MarksDialog.FileName();
  const auto kind = found::marksKindOf(file);
  if (!kind) {
    platform().messageBox(this,
                          QStringLiteral("Cannot save the breakpoints as %1: name a cue sheet (.cue), Audacity labels "
                                         "(.txt) or a frame list (.csv).")
                              .arg(file),
                          QString(), Platform::Icon::Error);
    return;
  }
  const auto t = timelineFor(this, model_.source());
  if (!t) return;
  const found::MarksText marks = found::marksOf(*kind, model_.markers(), *t, QFileInfo(model_.source()).fileName());
  if (!mayReplace(file)) return;
  if (const found::WriteError problem = found::writeWhole(file, marks.bytes, true)) {
    platform().messageBox(this, QStringLiteral("Cannot save the breakpoints in %1: %2.").arg(file, *problem), QString(),
                          Platform::Icon::Error);
    return;
  }
  model_.markUsed();  // kept: nothing to ask about before they go
  if (!marks.notes.isEmpty())
    platform().messageBox(this, marks.notes.join(u'\n'), QString(), Platform::Icon::Information);
}

// A copy of the source, not cut, with a chapter a piece.
void TForm1::SaveAsChaptersClick(QObject *) {
  if (!ChaptersDialog.Execute(this)) return;
  const QString file = ChaptersDialog.FileName();
  const QString source = model_.source();
  if (found::sameFile(file, source)) {
    platform().messageBox(this,
                          QStringLiteral("%1 is the source itself: the chapters go into a copy of it, under another "
                                         "name.")
                              .arg(file),
                          QString(), Platform::Icon::Error);
    return;
  }
  const auto t = timelineFor(this, source);
  if (!t || !mayReplace(file)) return;
  const std::vector<found::Marker> markers = model_.markers();
  std::optional<std::variant<found::ChaptersWritten, QString>> written;
  const bool ran = runSearch(this, QStringLiteral("Writing the copy with chapters..."), [&](SearchProgress &progress) {
    written = found::writeChapters(source, markers, *t, file, true, &progress.stop,
                                   [&progress](std::int64_t done, std::int64_t total) {
                                     progress.total = total;
                                     progress.done = done;
                                   });
  });
  if (!ran || !written) return;  // cancelled: nothing was written
  if (const auto *problem = std::get_if<QString>(&*written)) {
    platform().messageBox(this, QStringLiteral("No copy with chapters was written: %1.").arg(*problem), QString(),
                          Platform::Icon::Error);
    return;
  }
  const found::ChaptersWritten &done = std::get<found::ChaptersWritten>(*written);
  model_.markUsed();
  QString text = QStringLiteral("%1 holds %2 chapter%3, and the audio of %4 unchanged.")
                     .arg(file)
                     .arg(done.chapters)
                     .arg(done.chapters == 1 ? QString() : QStringLiteral("s"), source);
  if (done.replaced > 0)
    text += QStringLiteral(" The %1 chapter%2 that %3 had %4 replaced.")
                .arg(done.replaced)
                .arg(done.replaced == 1 ? QString() : QStringLiteral("s"), source,
                     done.replaced == 1 ? QStringLiteral("is") : QStringLiteral("are"));
  for (const QString &note : done.notes) text += u'\n' + note;
  platform().messageBox(this, text, QString(), Platform::Icon::Information);
}
