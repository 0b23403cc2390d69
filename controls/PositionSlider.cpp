#include "PositionSlider.h"

#include <QMouseEvent>

#include "Platform.h"

TTrackBar1::TTrackBar1(TrackBarHost &host, QWidget *parent) : QSlider(Qt::Horizontal, parent), host_(host) {
  setRange(0, 10);
  setSingleStep(1);
  setPageStep(2);
  setTickPosition(QSlider::TicksBelow);
  setMouseTracking(true);
}

void TTrackBar1::setMax(int maximum) {
  if (maximum < minimum()) return;
  setMaximum(maximum);
}

std::optional<TTrackBar1::Seek> TTrackBar1::seekForRelease(std::int32_t releaseX, int width) {
  const std::int32_t range = width - 20;
  if (releaseX > 10 && releaseX < width - 10) return Seek{static_cast<std::uint32_t>(releaseX - 10), range};
  if (releaseX <= 10 || releaseX > 10000) return Seek{1, range};
  if (releaseX >= width - 10 && releaseX < 10000) return Seek{static_cast<std::uint32_t>(width - 21), range};
  return std::nullopt;
}

// A player call that fails ends the handling of the event there, the slider's
// own handling included.
void TTrackBar1::mousePressEvent(QMouseEvent *e) {
  guard([&] {
    if (e->button() == Qt::LeftButton) {
      host_.setSliderDragging(true);
      host_.playerPause();
    }
    QSlider::mousePressEvent(e);
  });
}

void TTrackBar1::mouseMoveEvent(QMouseEvent *e) {
  guard([&] {
    host_.showFrame(QString::number(value()));
    QSlider::mouseMoveEvent(e);
  });
}

void TTrackBar1::mouseReleaseEvent(QMouseEvent *e) {
  guard([&] {
    if (e->button() == Qt::LeftButton) {
      ReleaseX = static_cast<std::int32_t>(static_cast<std::uint16_t>(static_cast<int>(e->position().x())));
      if (const auto seek = seekForRelease(ReleaseX, width())) {
        host_.playerSeek(seek->offset, seek->range);
        host_.pumpOneMessage();
      }
      host_.playerPlay();
      host_.setSliderDragging(false);
    }
    QSlider::mouseReleaseEvent(e);
  });
}
