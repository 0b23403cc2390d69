#include "PositionSlider.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include "Platform.h"

namespace strip {

namespace {
constexpr double kNothing = std::numeric_limits<double>::quiet_NaN();

double decibels(double meanSquare) {
  return meanSquare > 0 ? 10 * std::log10(meanSquare) : -std::numeric_limits<double>::infinity();
}

int devicePixels(int layoutPixels, qreal dpr) { return static_cast<int>(std::lround(layoutPixels * dpr)); }
}  // namespace

std::vector<Column> columns(const Look &look) {
  std::vector<Column> out(static_cast<std::size_t>(devicePixels(look.size.width(), look.dpr)), {kNothing, kNothing});
  const double span = look.to - look.from;
  if (look.levels.empty() || look.maximum <= look.minimum || !(span > 0) || !(look.windowsPerFrame > 0)) return out;
  const double valuesPerPixel = (look.maximum - look.minimum) / span;
  const auto count = static_cast<std::int64_t>(look.levels.size());
  for (std::size_t c = 0; c < out.size(); ++c) {
    const double x0 = static_cast<double>(c) / look.dpr, x1 = static_cast<double>(c + 1) / look.dpr;
    const double v0 = std::max<double>(look.minimum, look.minimum + (x0 - look.from) * valuesPerPixel);
    const double v1 = std::min<double>(look.maximum, look.minimum + (x1 - look.from) * valuesPerPixel);
    if (!(v1 > v0)) continue;
    const auto w0 = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(v0 * look.windowsPerFrame)));
    const auto w1 = std::min<std::int64_t>(count, static_cast<std::int64_t>(std::ceil(v1 * look.windowsPerFrame)));
    double loudest = 0, sum = 0;
    std::int64_t measured = 0;
    for (std::int64_t w = w0; w < w1; ++w) {
      const double p = look.levels[static_cast<std::size_t>(w)];
      if (std::isnan(p)) continue;
      loudest = std::max(loudest, p);
      sum += p;
      ++measured;
    }
    if (measured > 0) out[c] = {decibels(loudest), decibels(sum / static_cast<double>(measured))};
  }
  return out;
}

QImage render(const Look &look) {
  QImage img(devicePixels(look.size.width(), look.dpr), devicePixels(look.size.height(), look.dpr),
             QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  img.setDevicePixelRatio(look.dpr);
  const int half = img.height() / 2;
  auto fill = [&](int c, int top, int bottom, QRgb colour) {
    if (c < 0 || c >= img.width()) return;
    for (int y = std::max(0, top); y < std::min(bottom, img.height()); ++y)
      reinterpret_cast<QRgb *>(img.scanLine(y))[c] = colour;
  };
  auto bar = [&](int c, double db, QRgb colour) {
    if (!(db > kFloorDb)) return;  // NaN, silence, or below the floor
    const auto h = static_cast<int>(std::lround((std::min(db, 0.0) - kFloorDb) / -kFloorDb * half));
    fill(c, half - h, half + h, colour);
  };
  const std::vector<Column> cols = columns(look);
  for (std::size_t c = 0; c < cols.size(); ++c) {
    bar(static_cast<int>(c), cols[c].loudestDb, kLoudest.rgb());
    bar(static_cast<int>(c), cols[c].meanDb, kMean.rgb());
  }
  // A mark stands in the layout's pixel column of its value's thumb centre.
  const double span = look.to - look.from;
  auto mark = [&](int value, int wide, QRgb colour) {
    if (look.maximum <= look.minimum || value < look.minimum || value > look.maximum) return;
    const double x = look.from + static_cast<double>(value - look.minimum) / (look.maximum - look.minimum) * span;
    const auto first = static_cast<int>(std::floor(x)) - wide / 2;
    for (int c = devicePixels(first, look.dpr); c < devicePixels(first + wide, look.dpr); ++c)
      fill(c, 0, img.height(), colour);
  };
  for (int value : look.marks) mark(value, 1, kMark.rgb());
  if (look.selected >= 0 && static_cast<std::size_t>(look.selected) < look.marks.size())
    mark(look.marks[static_cast<std::size_t>(look.selected)], 3, kSelected.rgb());
  return img;
}

}  // namespace strip

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

void TTrackBar1::beginLevels(std::int64_t windows, double windowsPerFrame) {
  // Exactly one value a window, not a vector's spare room.
  std::vector<float>(static_cast<std::size_t>(std::max<std::int64_t>(0, windows)),
                     std::numeric_limits<float>::quiet_NaN())
      .swap(levels_);
  windowsPerFrame_ = windowsPerFrame;
  measured_ = 0;
  shows_ = true;
  redrawStrip();
}

void TTrackBar1::addLevels(std::int64_t first, std::span<const float> power) {
  if (!shows_ || first < 0) return;
  const auto size = static_cast<std::int64_t>(levels_.size());
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(power.size()) && first + i < size; ++i) {
    float &slot = levels_[static_cast<std::size_t>(first + i)];
    if (std::isnan(slot)) ++measured_;
    slot = power[static_cast<std::size_t>(i)];
  }
  redrawStrip();
}

void TTrackBar1::clearLevels() {
  std::vector<float>().swap(levels_);
  windowsPerFrame_ = 0;
  measured_ = 0;
  shows_ = false;
  redrawStrip();
}

void TTrackBar1::setMarks(std::vector<int> marks, int selected) {
  if (marks == marks_ && selected == selected_) return;
  marks_ = std::move(marks);
  selected_ = selected;
  if (shows_) redrawStrip();
}

strip::Look TTrackBar1::stripLook() const {
  strip::Look look;
  look.size = size();
  look.dpr = devicePixelRatioF();
  look.levels = levels_;
  look.windowsPerFrame = windowsPerFrame_;
  look.minimum = minimum();
  look.maximum = maximum();
  // Where the style puts the thumb at either end of the range.
  QStyleOptionSlider option;
  initStyleOption(&option);
  auto centre = [&](int value) {
    option.sliderPosition = value;
    option.sliderValue = value;
    const QRect thumb = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    return thumb.left() + thumb.width() / 2.0;
  };
  look.from = centre(minimum());
  look.to = centre(maximum());
  look.marks = marks_;
  look.selected = selected_;
  return look;
}

void TTrackBar1::redrawStrip() {
  strip_ = QImage();
  update();
}

// The strip first, then the slider as ever: channel, ticks and thumb.
void TTrackBar1::paintEvent(QPaintEvent *e) {
  if (shows_) {
    if (strip_.isNull() || strip_.deviceIndependentSize() != QSizeF(size()) ||
        strip_.devicePixelRatio() != devicePixelRatioF())
      strip_ = strip::render(stripLook());
    QPainter(this).drawImage(0, 0, strip_);
  }
  QSlider::paintEvent(e);
}

// A new range (the frames read, another offset) lays the strip out anew.
void TTrackBar1::sliderChange(SliderChange change) {
  if (change == SliderRangeChange) strip_ = QImage();
  QSlider::sliderChange(change);
}
