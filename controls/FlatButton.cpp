#include "FlatButton.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>

#include "Platform.h"

TFlatButton::TFlatButton(QWidget *parent) : QAbstractButton(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void TFlatButton::setSkin(const QString &name) {
  skin_ = name;
  setGlyph(skinBitmap(name));
}

void TFlatButton::setGlyph(const QPixmap &glyph) {
  glyph_ = glyph;
  if (!glyph.isNull() && glyph.height() > 0 && glyph.width() % glyph.height() == 0) {
    const int cells = glyph.width() / glyph.height();
    NumGlyphs = cells > 4 ? 1 : cells;
  }
  update();
}

void TFlatButton::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const bool down = isDown();
  const QRect r = rect();
  const QColor face = down ? ColorDown : mouseInControl_ ? ColorFocused : palette().color(QPalette::Window);
  p.fillRect(r, face);
  const QColor topLeft = down ? ColorShadow : mouseInControl_ ? ColorHighLight : ColorBorder;
  const QColor bottomRight = down ? ColorHighLight : mouseInControl_ ? ColorShadow : ColorBorder;
  p.setPen(topLeft);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(bottomRight);
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());

  const int offset = down ? 1 : 0;
  const QSize glyphSize = glyph_.isNull() ? QSize() : QSize(glyph_.width() / std::max(1, NumGlyphs), glyph_.height());
  const QString caption = text();
  const QSize textSize = caption.isEmpty() ? QSize() : fontMetrics().size(Qt::TextShowMnemonic, caption);
  const int spacing = glyphSize.width() == 0 || textSize.width() == 0 ? 0 : Spacing;
  // Glyph above the text, both centred across; the margin splits what is left.
  const int free = height() - glyphSize.height() - spacing - textSize.height();
  const int margin = Margin == -1 ? (free + 1) / 2 : Margin;
  if (!glyph_.isNull()) {
    const QPoint at((width() - glyphSize.width() + 1) / 2 + offset, margin + offset);
    QPixmap cell = glyph_.copy(0, 0, glyphSize.width(), glyphSize.height());
    const QImage image = cell.toImage();
    cell.setMask(QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, image.height() - 1), Qt::MaskInColor)));
    p.drawPixmap(at, cell);
  }
  if (!caption.isEmpty()) {
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    const QRect textRect((width() - textSize.width() + 1) / 2 + offset,
                         margin + glyphSize.height() + spacing + offset, textSize.width(), textSize.height());
    p.drawText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine, caption);
  }
}

void TFlatButton::enterEvent(QEnterEvent *) {
  mouseInControl_ = true;
  update();
}

void TFlatButton::leaveEvent(QEvent *) {
  mouseInControl_ = false;
  update();
}

void TFlatButton::mousePressEvent(QMouseEvent *e) {
  emit mousePressed(e->button(), e->position().toPoint());
  if (e->button() == Qt::LeftButton) QAbstractButton::mousePressEvent(e);
}

void TFlatButton::mouseMoveEvent(QMouseEvent *e) {
  emit mouseMoved(e->position().toPoint());
  QAbstractButton::mouseMoveEvent(e);
}
