#pragma once

#include <QSlider>

// The position slider of the preview: a horizontal track bar whose maximum
// ignores values below its minimum.
class TTrackBar1 : public QSlider {
  Q_OBJECT

 public:
  explicit TTrackBar1(QWidget *parent = nullptr);
  // A new maximum below the minimum (0) is ignored; the position is clamped.
  void setMax(int maximum);
  void setFrequency(int frequency) { setTickInterval(frequency); }
};
