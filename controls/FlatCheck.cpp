#include "FlatCheck.h"

#include <QPainter>

TFlatCheckBase::TFlatCheckBase(bool round, QWidget *parent) : QAbstractButton(parent), round_(round) {
  setCheckable(true);
  setMouseTracking(true);
}

TFlatCheckBox::TFlatCheckBox(QWidget *parent) : TFlatCheckBase(false, parent) {}

TFlatRadioButton::TFlatRadioButton(QWidget *parent) : TFlatCheckBase(true, parent) { setAutoExclusive(true); }

void TFlatCheckBase::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const QColor face = isDown()                       ? ColorDown
                      : (hasFocus() || mouseIn_)     ? ColorFocused
                                                     : palette().color(QPalette::Window);
  const QColor mark = isEnabled() ? ColorMark : palette().color(QPalette::Dark);
  if (round_) {
    const QRect box(1, 3, 10, 10);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(face);
    p.setPen(ColorBorder);
    p.drawEllipse(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
    if (isChecked()) {
      p.setPen(Qt::NoPen);
      p.setBrush(mark);
      p.drawEllipse(QRectF(box.left() + 3, box.top() + 3, 4, 4));
    }
    p.setRenderHint(QPainter::Antialiasing, false);
  } else {
    const QRect box(1, 3, 11, 11);
    p.fillRect(box, face);
    p.setPen(ColorBorder);
    p.drawRect(box.adjusted(0, 0, -1, -1));
    if (isChecked()) {
      p.setPen(mark);
      const QPoint o = box.topLeft();
      const int lines[6][4] = {{2, 4, 6, 8}, {2, 5, 5, 8}, {2, 6, 5, 9}, {8, 2, 4, 6}, {8, 3, 4, 7}, {8, 4, 5, 7}};
      for (const auto &l : lines) p.drawLine(o + QPoint(l[0], l[1]), o + QPoint(l[2], l[3]));
    }
  }
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(rect().adjusted(16, 1, -1, -1), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
             text());
}

void TFlatCheckBase::enterEvent(QEnterEvent *) {
  mouseIn_ = true;
  update();
}

void TFlatCheckBase::leaveEvent(QEvent *) {
  mouseIn_ = false;
  update();
}
