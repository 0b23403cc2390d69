#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <QColor>
#include <QImage>
#include <QSlider>

// What the position slider drives: the preview player and the frame display
// of the main window.
class TrackBarHost {
 public:
  virtual ~TrackBarHost() = default;
  virtual void setSliderDragging(bool dragging) = 0;
  virtual void showFrame(const QString &text) = 0;
  virtual void playerPause() = 0;
  virtual void playerPlay() = 0;
  virtual void playerSeek(std::uint32_t offset, std::int32_t range) = 0;
  virtual void pumpOneMessage() = 0;
};

// The strip behind the slider's channel and thumb: the sound of the whole
// file and the breakpoints, painted from its state alone so that tests check
// it pixel by pixel.
namespace strip {

// The skin's colours: the title strip's blue for the loudest 50 ms of a
// column, the blue of a button under the pointer for its mean, the gold of
// the side picture's scissor marks for a breakpoint and the darker gold of
// the Mp3 bubble's outline for the selected one.
inline const QColor kLoudest{214, 224, 240};
inline const QColor kMean{120, 175, 240};
inline const QColor kMark{255, 210, 83};
inline const QColor kSelected{150, 110, 0};
// The levels drawn: from the floor (nothing) to full scale (the whole height).
constexpr double kFloorDb = -60;

struct Look {
  QSize size{330, 40};  // pixels of the layout
  qreal dpr = 1;        // device pixels to a pixel: a column each
  // Each 50 ms window's mean square against full scale; NaN where not yet
  // measured. Window w begins at frame w / windowsPerFrame.
  std::span<const float> levels;
  double windowsPerFrame = 0;
  // The slider's values (frames) and where its thumb's centre stands at the
  // least and the greatest of them, in pixels of the layout.
  int minimum = 0, maximum = 0;
  double from = 10, to = 320;
  // The breakpoints, as values of the slider, and the index of the selected
  // one (-1: none).
  std::vector<int> marks;
  int selected = -1;
};

// A column of device pixels: its loudest window and the mean of its windows,
// in dB against full scale; NaN where none of its windows is measured.
struct Column {
  double loudestDb = 0, meanDb = 0;
};
// One a device pixel, from left to right: the windows of the frames whose
// values the column spans (the thumb's centre within it), within the
// slider's range.
std::vector<Column> columns(const Look &look);
// The strip on a clear ground, `dpr` device pixels to a pixel of the size:
// each column's loudest and, over it, its mean, as bars about the middle,
// from nothing at kFloorDb to the whole height at 0 dB; the marks over them,
// a column wide, the selected one three columns.
QImage render(const Look &look);

}  // namespace strip

// The position slider of the preview: a press pauses playback, a move shows
// the slider's position as the current frame, and the release seeks to the
// point under the pointer, as a fraction of the width less 10 pixels at each
// end, and plays on.
class TTrackBar1 : public QSlider {
  Q_OBJECT

 public:
  explicit TTrackBar1(TrackBarHost &host, QWidget *parent = nullptr);

  // A new maximum below the minimum (0) is ignored; the position is clamped.
  void setMax(int maximum);
  void setFrequency(int frequency) { setTickInterval(frequency); }

  // X of the last left-button release, as the low 16 bits of the coordinate.
  std::int32_t ReleaseX = 0;

  // The seek a release at client x asks for: (offset, range), or nothing.
  struct Seek {
    std::uint32_t offset;
    std::int32_t range;
  };
  static std::optional<Seek> seekForRelease(std::int32_t releaseX, int width);

  // The strip behind the channel and thumb (strip::render), laid out on the
  // slider's values as its thumb is: it follows the range. Begun with every
  // window unmeasured, it fills in as parts come; it shows (with the marks)
  // from its beginning until cleared, where the slider is plain again.
  void beginLevels(std::int64_t windows, double windowsPerFrame);
  void addLevels(std::int64_t first, std::span<const float> power);
  void clearLevels();
  bool showsLevels() const { return shows_; }
  std::int64_t levelWindows() const { return static_cast<std::int64_t>(levels_.size()); }
  std::int64_t levelsMeasured() const { return measured_; }
  const std::vector<float> &levels() const { return levels_; }
  // The breakpoints (values of the slider) and the index of the selected one.
  void setMarks(std::vector<int> marks, int selected);
  const std::vector<int> &marks() const { return marks_; }
  int selectedMark() const { return selected_; }
  // The strip's state as painted now.
  strip::Look stripLook() const;

 protected:
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void paintEvent(QPaintEvent *) override;
  void sliderChange(SliderChange change) override;

 private:
  void redrawStrip();

  TrackBarHost &host_;
  bool shows_ = false;
  std::vector<float> levels_;  // one value a 50 ms window: ten hours in 2.9 MB
  double windowsPerFrame_ = 0;
  std::int64_t measured_ = 0;
  std::vector<int> marks_;
  int selected_ = -1;
  QImage strip_;  // as last painted; null when it must be drawn again
};
