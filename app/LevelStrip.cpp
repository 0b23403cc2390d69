#include "MainWindow.h"

#include <algorithm>
#include <climits>

#include <QListWidget>
#include <QStackedWidget>
#include <QTimer>

// The strip behind the breakpoint page's slider: the sound of the whole file
// and the breakpoints. The sound is measured in the background (both cores
// decoding, found::LevelReader) once the page plays: the page and its first
// sound do not wait for it, and the strip fills in as parts are measured.

namespace {
// Without a first sound (the player cannot start), the measuring starts
// this long after the page opened all the same.
constexpr int kLevelsLatestMs = 300;
}  // namespace

void TForm1::connectLevelStrip() {
  levelsDue_ = new QTimer(this);
  levelsDue_->setSingleShot(true);
  levelsDue_->setInterval(kLevelsLatestMs);
  connect(levelsDue_, &QTimer::timeout, this, [this] { readLevels(); });
  connect(XPlayer, &TXaudioPlayer::OnNotifyInputPosition, this, [this](QObject *, std::uint32_t position, std::uint32_t) {
    if (position > 0 && levelsDue_->isActive()) {
      levelsDue_->stop();
      readLevels();
    }
  });
  connect(&model_, &WizardModel::breakpointsChanged, this, [this] { showMarks(); });
  connect(ListBox, &QListWidget::currentRowChanged, this, [this] { showMarks(); });
  // Leaving the page, whichever way, stops the measuring.
  connect(PageControl1, &QStackedWidget::currentChanged, this, [this] {
    if (PageControl1->currentWidget() != TabSheet3) stopLevelStrip();
  });
}

void TForm1::startLevelStrip() {
  stopLevelStrip();
  if (LevelStrip) levelsDue_->start();
}

void TForm1::readLevels() {
  // A child of the window as well, where tests look for it.
  levelReader_ = std::make_unique<found::LevelReader>(model_.source(), this);
  connect(levelReader_.get(), &found::LevelReader::begun, this, [this](const found::LevelScale &scale) {
    Slider->beginLevels(scale.windows,
                        static_cast<double>(scale.timeline.samplesPerFrame) / static_cast<double>(scale.window));
    showMarks();
  });
  connect(levelReader_.get(), &found::LevelReader::measured, this,
          [this](qint64 first, const std::vector<float> &power) { Slider->addLevels(first, power); });
  connect(levelReader_.get(), &found::LevelReader::finished, this, [this](bool decoded) {
    if (!decoded) Slider->clearLevels();  // the plain slider
    levelReader_.release()->deleteLater();  // this runs inside its signal
  });
}

void TForm1::stopLevelStrip() {
  if (levelsDue_) levelsDue_->stop();
  levelReader_.reset();  // stops the decoding and the walk
  if (Slider) Slider->clearLevels();
}

// The breakpoints as the slider's values, and the list's current line.
void TForm1::showMarks() {
  const std::vector<Breakpoint> &breakpoints = model_.breakpoints();
  std::vector<int> marks;
  marks.reserve(breakpoints.size());
  for (const Breakpoint &b : breakpoints) marks.push_back(static_cast<int>(std::clamp<std::int64_t>(b.frame, 0, INT_MAX)));
  const int row = ListBox->currentRow();
  Slider->setMarks(std::move(marks), row >= 0 && static_cast<std::size_t>(row) < breakpoints.size() ? row : -1);
}
