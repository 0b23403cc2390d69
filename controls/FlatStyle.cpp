#include "FlatStyle.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace flat {
namespace {
constexpr int kHlsMax = 240;
constexpr int kRgbMax = 255;

int hueToRgb(int n1, int n2, int hue) {
  if (hue < 0) hue += kHlsMax;
  if (hue > kHlsMax) hue -= kHlsMax;
  if (hue < kHlsMax / 6) return n1 + (((n2 - n1) * hue + (kHlsMax / 12)) / (kHlsMax / 6));
  if (hue < kHlsMax / 2) return n2;
  if (hue < (kHlsMax * 2) / 3) return n1 + (((n2 - n1) * (((kHlsMax * 2) / 3) - hue) + (kHlsMax / 12)) / (kHlsMax / 6));
  return n1;
}
}  // namespace

Hls toHls(const QColor &c) {
  const int r = c.red(), g = c.green(), b = c.blue();
  const int cMax = std::max({r, g, b}), cMin = std::min({r, g, b});
  Hls out;
  out.l = (((cMax + cMin) * kHlsMax) + kRgbMax) / (2 * kRgbMax);
  if (cMax == cMin) {
    out.s = 0;
    out.h = kHlsMax * 2 / 3;
    return out;
  }
  if (out.l <= kHlsMax / 2)
    out.s = (((cMax - cMin) * kHlsMax) + ((cMax + cMin) / 2)) / (cMax + cMin);
  else
    out.s = (((cMax - cMin) * kHlsMax) + ((2 * kRgbMax - cMax - cMin) / 2)) / (2 * kRgbMax - cMax - cMin);
  const int rd = (((cMax - r) * (kHlsMax / 6)) + ((cMax - cMin) / 2)) / (cMax - cMin);
  const int gd = (((cMax - g) * (kHlsMax / 6)) + ((cMax - cMin) / 2)) / (cMax - cMin);
  const int bd = (((cMax - b) * (kHlsMax / 6)) + ((cMax - cMin) / 2)) / (cMax - cMin);
  if (r == cMax)
    out.h = bd - gd;
  else if (g == cMax)
    out.h = (kHlsMax / 3) + rd - bd;
  else
    out.h = ((2 * kHlsMax) / 3) + gd - rd;
  if (out.h < 0) out.h += kHlsMax;
  if (out.h > kHlsMax) out.h -= kHlsMax;
  return out;
}

QColor fromHls(const Hls &hls) {
  if (hls.s == 0) {
    const int v = (hls.l * kRgbMax) / kHlsMax;
    return QColor(v, v, v);
  }
  const int m2 = hls.l <= kHlsMax / 2 ? (hls.l * (kHlsMax + hls.s) + (kHlsMax / 2)) / kHlsMax
                                      : hls.l + hls.s - ((hls.l * hls.s) + (kHlsMax / 2)) / kHlsMax;
  const int m1 = 2 * hls.l - m2;
  auto channel = [&](int hue) {
    return std::clamp((hueToRgb(m1, m2, hue) * kRgbMax + (kHlsMax / 2)) / kHlsMax, 0, 255);
  };
  return QColor(channel(hls.h + kHlsMax / 3), channel(hls.h), channel(hls.h - kHlsMax / 3));
}

QColor lighten(const QColor &c, int amount) {
  if (amount == 0) return c;
  Hls hls = toHls(c);
  hls.l += amount;
  if (hls.l >= 235) hls.l = 234;
  return fromHls(hls);
}

QColor darken(const QColor &c, int amount) {
  if (amount == 0) return c;
  Hls hls = toHls(c);
  hls.l = std::max(0, hls.l - amount);
  return fromHls(hls);
}

Placement place(QSize client, QSize glyph, QSize text, GlyphLayout layout, int margin, int spacing, QPoint pressed) {
  if (glyph.width() == 0 || text.width() == 0) spacing = 0;
  const bool horizontal = layout == GlyphLayout::Left || layout == GlyphLayout::Right;
  const int along = horizontal ? client.width() : client.height();
  const int glyphAlong = horizontal ? glyph.width() : glyph.height();
  const int textAlong = horizontal ? text.width() : text.height();
  if (margin == -1 && spacing == -1) {
    margin = spacing = (along - glyphAlong - textAlong) / 3;
  } else if (margin == -1) {
    margin = (along - glyphAlong - spacing - textAlong + 1) / 2;
  } else if (spacing == -1) {
    spacing = (along - margin - glyphAlong - textAlong) / 2;
  }
  int glyphAt, textAt;
  if (layout == GlyphLayout::Left || layout == GlyphLayout::Top) {
    glyphAt = margin;
    textAt = glyphAt + glyphAlong + spacing;
  } else {
    glyphAt = along - margin - glyphAlong;
    textAt = glyphAt - spacing - textAlong;
  }
  Placement p;
  if (horizontal) {
    p.glyph = QPoint(glyphAt, (client.height() - glyph.height() + 1) / 2);
    p.text = QPoint(textAt, (client.height() - text.height() + 1) / 2);
  } else {
    p.glyph = QPoint((client.width() - glyph.width() + 1) / 2, glyphAt);
    p.text = QPoint((client.width() - text.width() + 1) / 2, textAt);
  }
  p.glyph += pressed;
  p.text += pressed;
  return p;
}

int numGlyphsFor(QSize glyph, int current) {
  if (glyph.height() <= 0 || glyph.width() % glyph.height() != 0) return current;
  const int cells = glyph.width() / glyph.height();
  return cells > 4 ? 1 : cells;
}

namespace {

// Draws `image` at `at`, leaving out every pixel of the transparent colour.
void drawTransparent(QPainter &p, QPoint at, const QImage &image, QRgb transparent) {
  QImage copy = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < copy.height(); ++y) {
    auto *line = reinterpret_cast<QRgb *>(copy.scanLine(y));
    for (int x = 0; x < copy.width(); ++x)
      if ((line[x] & 0xFFFFFF) == (transparent & 0xFFFFFF)) line[x] = 0;
  }
  p.drawImage(at, copy);
}

// The disabled look of a one-cell glyph: its shape embossed on button face.
QImage emboss(const QImage &cell, QRgb transparent, const ButtonLook &look) {
  QImage out(cell.size(), QImage::Format_RGB32);
  out.fill(look.btnFace);
  auto stamp = [&](QPoint offset, const QColor &colour) {
    for (int y = 0; y < cell.height(); ++y)
      for (int x = 0; x < cell.width(); ++x) {
        const QPoint at = QPoint(x, y) + offset;
        if ((cell.pixel(x, y) & 0xFFFFFF) != (transparent & 0xFFFFFF) && out.rect().contains(at))
          out.setPixel(at, colour.rgb());
      }
  };
  stamp({1, 1}, look.btnHighlight);
  stamp({0, 0}, look.btnShadow);
  return out;
}

// A caption; a disabled one is drawn twice, in highlight one pixel down and
// right, then in shadow in place.
void drawCaption(QPainter &p, const QRect &bounds, int flags, const QString &caption, bool disabled,
                 const QColor &text, const QColor &highlight, const QColor &shadow) {
  if (disabled) {
    p.setPen(highlight);
    p.drawText(bounds.translated(1, 1), flags, caption);
    p.setPen(shadow);
  } else {
    p.setPen(text);
  }
  p.drawText(bounds, flags, caption);
}

int cellFor(ButtonState state, int numGlyphs) {
  switch (numGlyphs) {
    case 2: return state == ButtonState::Disabled ? 1 : 0;
    case 3: return state == ButtonState::Up ? 0 : state == ButtonState::Disabled ? 1 : 2;
    case 4: return static_cast<int>(state);
    default: return 0;
  }
}

}  // namespace

QImage renderButton(const ButtonLook &look) {
  QImage img(look.size * look.dpr, QImage::Format_RGB32);
  img.setDevicePixelRatio(look.dpr);
  QPainter p(&img);
  ButtonState state = look.state;
  if (look.enabled && state == ButtonState::Disabled)
    state = look.groupedDown ? ButtonState::Exclusive : ButtonState::Up;
  if (!look.enabled) state = ButtonState::Disabled;
  const bool in = look.mouseInControl;

  QColor face = look.color;
  if (state == ButtonState::Up && in) face = look.colorFocused;
  if (state == ButtonState::Down) face = look.colorDown;
  if (state == ButtonState::Exclusive) face = in ? look.colorFocused : look.colorDown;
  p.fillRect(QRect(QPoint(), look.size), face);

  QColor topLeft = look.colorBorder, bottomRight = look.colorBorder;
  if (state == ButtonState::Up && in) {
    topLeft = look.colorHighLight;
    bottomRight = look.colorShadow;
  } else if (state == ButtonState::Down || state == ButtonState::Exclusive) {
    topLeft = look.colorShadow;
    bottomRight = look.colorHighLight;
  }
  const int w = look.size.width(), h = look.size.height();
  p.setPen(topLeft);
  p.drawLine(0, 0, w - 1, 0);
  p.drawLine(0, 0, 0, h - 1);
  p.setPen(bottomRight);
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);

  const int cells = std::max(1, look.numGlyphs);
  // The glyph's cells in device pixels, and in pixels of the layout.
  const QSize cellPixels = look.glyph.isNull() ? QSize(0, 0) : QSize(look.glyph.width() / cells, look.glyph.height());
  const QSize glyphSize = cellPixels / look.glyph.devicePixelRatio();
  const QFontMetrics fm(look.font);
  const QSize textSize =
      look.caption.isEmpty() ? QSize(0, 0) : fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, look.caption);
  const QPoint pressed = state == ButtonState::Down || state == ButtonState::Exclusive ? QPoint(1, 1) : QPoint(0, 0);
  const Placement at = place(look.size, glyphSize, textSize, look.layout, look.margin, look.spacing, pressed);

  if (!look.glyph.isNull()) {
    const QImage glyph = look.glyph.toImage();
    QRgb transparent = glyph.pixel(0, glyph.height() - 1);
    QImage cell = glyph.copy(cellFor(state, cells) * cellPixels.width(), 0, cellPixels.width(), cellPixels.height());
    if (cells == 1 && state == ButtonState::Disabled) {
      cell = emboss(cell, transparent, look);
      transparent = cell.pixel(0, cell.height() - 1);
    }
    cell.setDevicePixelRatio(look.glyph.devicePixelRatio());
    drawTransparent(p, at.glyph, cell, transparent);
  }
  if (!look.caption.isEmpty()) {
    p.setFont(look.font);
    drawCaption(p, QRect(at.text, textSize), Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                look.caption, state == ButtonState::Disabled, look.text, look.btnHighlight, look.btnShadow);
  }
  const int inset = qRound(2 * look.dpr);
  if (look.focusCue) drawFocusCue(img, img.rect().adjusted(inset, inset, -inset, -inset), look.text);
  return img;
}

void drawFocusCue(QImage &img, const QRect &r, const QColor &colour) {
  // Every other pixel along the edges, as the desktop draws a focus frame.
  auto dot = [&](int x, int y) {
    if ((x + y) % 2 == 0 && img.rect().contains(x, y)) img.setPixel(x, y, colour.rgb());
  };
  for (int x = r.left(); x <= r.right(); ++x) {
    dot(x, r.top());
    dot(x, r.bottom());
  }
  for (int y = r.top(); y <= r.bottom(); ++y) {
    dot(r.left(), y);
    dot(r.right(), y);
  }
}

void FocusCue::focusIn(Qt::FocusReason reason) {
  if (reason == Qt::MouseFocusReason)
    shown_ = false;
  else if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
    shown_ = true;
}

void FocusCue::focusOut(Qt::FocusReason reason) {
  if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) shown_ = false;
}

QImage renderCheck(const CheckLook &look) {
  QImage img(look.size, QImage::Format_RGB32);
  img.fill(look.color);
  QPainter p(&img);
  const int side = look.round ? 10 : 11;
  const QRect box(look.rightLayout ? look.size.width() - 1 - side : 1, 3, side, side);
  QColor fill = look.color;
  if (look.focused || look.mouseIn) fill = look.pressed ? look.colorDown : look.colorFocused;
  const QColor mark = look.enabled ? look.colorMark : look.btnShadow;
  if (look.round) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(look.colorBorder);
    p.setBrush(fill);
    p.drawEllipse(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
    p.setRenderHint(QPainter::Antialiasing, false);
    if (look.checked) p.fillRect(QRect(box.topLeft() + QPoint(3, 3), QSize(4, 4)), mark);
  } else {
    p.fillRect(box, fill);
    p.setPen(look.colorBorder);
    p.drawRect(box.adjusted(0, 0, -1, -1));
    if (look.checked) {
      // Six one-pixel lines, each drawn up to but not including its end point.
      static constexpr int lines[6][4] = {{2, 4, 6, 8}, {2, 5, 5, 8}, {2, 6, 5, 9},
                                          {8, 2, 4, 6}, {8, 3, 4, 7}, {8, 4, 5, 7}};
      for (const auto &l : lines) {
        const int steps = std::abs(l[2] - l[0]);
        const int dx = l[2] > l[0] ? 1 : -1, dy = l[3] > l[1] ? 1 : -1;
        for (int i = 0; i < steps; ++i) img.setPixel(box.topLeft() + QPoint(l[0] + i * dx, l[1] + i * dy), mark.rgb());
      }
    }
  }
  QRect text = img.rect().adjusted(1, 1, -1, -1);
  if (look.rightLayout)
    text.setRight(text.right() - 15);
  else
    text.setLeft(16);
  const int flags =
      Qt::TextWordWrap | Qt::TextShowMnemonic | Qt::AlignVCenter | (look.rightLayout ? Qt::AlignRight : Qt::AlignLeft);
  p.setFont(look.font);
  drawCaption(p, text, flags, look.caption, !look.enabled, look.text, look.btnHighlight, look.btnShadow);
  if (look.focusCue) {
    const QRect used = QFontMetrics(look.font).boundingRect(text, flags, look.caption);
    drawFocusCue(img, used.adjusted(-1, 0, 1, 0).intersected(img.rect()), look.text);
  }
  return img;
}

Quarter quarterOf(QPoint pointer, QRect screen) {
  const bool left = pointer.x() < screen.left() + screen.width() / 2;
  const bool top = pointer.y() < screen.top() + screen.height() / 2;
  return top ? (left ? Quarter::TopLeft : Quarter::TopRight) : (left ? Quarter::BottomLeft : Quarter::BottomRight);
}

QSize hintSize(const QString &text, const QFont &font, int maxHintWidth) {
  const QRect bounds =
      QFontMetrics(font).boundingRect(QRect(0, 0, maxHintWidth - 22, 100000), Qt::TextWordWrap | Qt::AlignLeft, text);
  return {bounds.width() + 22, bounds.height() + 6};
}

QPoint hintPosition(QPoint pointer, QRect screen, QSize size) {
  switch (quarterOf(pointer, screen)) {
    case Quarter::TopLeft: return pointer + QPoint(12, 12);
    case Quarter::TopRight: return {pointer.x() - 5 - size.width(), pointer.y() + 5};
    case Quarter::BottomLeft: return {pointer.x() + 5, pointer.y() - 5 - size.height()};
    case Quarter::BottomRight: return {pointer.x() - 5 - size.width(), pointer.y() - 5 - size.height()};
  }
  return pointer;
}

QImage renderHint(const HintLook &look) {
  QImage img(look.size, QImage::Format_RGB32);
  img.fill(look.background);
  QPainter p(&img);
  const int w = look.size.width(), h = look.size.height();
  // The strip is on the side towards the pointer.
  const bool stripLeft = look.quarter == Quarter::TopLeft || look.quarter == Quarter::BottomLeft;
  const bool top = look.quarter == Quarter::TopLeft || look.quarter == Quarter::TopRight;
  const QRect strip = stripLeft ? QRect(0, 0, 14, h) : QRect(w - 14, 0, 14, h);
  p.fillRect(strip, look.arrowBackground);
  p.setPen(look.border);
  p.drawRect(0, 0, w - 1, h - 1);
  // An arrow about 8 pixels square in the strip's corner nearest the pointer,
  // pointing at it: a diagonal with its two short arms at the tip.
  const int sx = stripLeft ? 2 : w - 3, sy = top ? 2 : h - 3;  // the tip
  const int dx = stripLeft ? 1 : -1, dy = top ? 1 : -1;
  p.setPen(look.arrow);
  p.drawLine(sx, sy, sx + 7 * dx, sy + 7 * dy);
  p.drawLine(sx, sy, sx + 4 * dx, sy);
  p.drawLine(sx, sy, sx, sy + 4 * dy);
  p.setFont(look.font);
  const QRect body = stripLeft ? QRect(18, 3, w - 22, h - 6) : QRect(4, 3, w - 22, h - 6);
  p.drawText(body, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, look.text);
  return img;
}

QTimer *HoverTracker::timer() {
  if (!timer_) {
    timer_ = new QTimer(qApp);
    timer_->setInterval(100);
    QObject::connect(timer_, &QTimer::timeout, [this] { tick(); });
  }
  return timer_;
}

void HoverTarget::mouseEnter() {
  if (!widget()->isEnabled() || mouseIn_) return;
  mouseIn_ = true;
  widget()->update();
}

void HoverTarget::mouseLeave() {
  if (!widget()->isEnabled() || !mouseIn_ || keepsHover()) return;
  mouseIn_ = false;
  hoverTracker().forget(this);
  widget()->update();
}

void HoverTracker::mouseMoved(HoverTarget *control) {
  if (control == tracked_) return;
  if (QApplication::widgetAt(QCursor::pos()) != control->widget()) return;
  if (tracked_) tracked_->mouseLeave();
  if (!QApplication::activeWindow()) return;
  timer()->stop();
  tracked_ = control;
  timer()->start();
  control->mouseEnter();
}

void HoverTracker::tick() {
  if (tracked_ && QApplication::widgetAt(QCursor::pos()) != tracked_->widget()) tracked_->mouseLeave();
}

void HoverTracker::forget(HoverTarget *control) {
  if (tracked_ != control) return;
  if (timer_) timer_->stop();
  tracked_ = nullptr;
}

}  // namespace flat
