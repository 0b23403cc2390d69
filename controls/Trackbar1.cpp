#include "Trackbar1.h"

TTrackBar1::TTrackBar1(QWidget *parent) : QSlider(Qt::Horizontal, parent) {
  setRange(0, 10);
  setTickPosition(QSlider::TicksBelow);
}

void TTrackBar1::setMax(int maximum) {
  if (maximum < minimum()) return;
  setMaximum(maximum);
}
