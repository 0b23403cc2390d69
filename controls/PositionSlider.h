#pragma once

#include <cstdint>
#include <optional>

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

 protected:
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;

 private:
  TrackBarHost &host_;
};
