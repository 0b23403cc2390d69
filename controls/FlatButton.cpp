#include "FlatButton.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

#include "Platform.h"

flat::HoverTracker &TFlatButton::tracker() {
  static flat::HoverTracker t;
  return t;
}

TFlatButton::TFlatButton(QWidget *parent) : QAbstractButton(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  resize(25, 25);
}

TFlatButton::~TFlatButton() { tracker().forget(this); }

void TFlatButton::setSkin(const QString &name) {
  skin_ = name;
  loadGlyph(name);
}

void TFlatButton::loadGlyph(const QString &name) { setGlyph(skinBitmap(name)); }

void TFlatButton::setGlyph(const QPixmap &glyph) {
  glyph_ = glyph;
  if (!glyph.isNull()) NumGlyphs = flat::numGlyphsFor(glyph.size(), NumGlyphs);
  update();
}

void TFlatButton::setState(State s) {
  if (state_ == s) return;
  state_ = s;
  update();
}

void TFlatButton::SetDown(bool down) {
  if (GroupIndex == 0) down = false;
  if (down == down_) return;
  if (down_ && !AllowAllUp) return;
  down_ = down;
  if (down) {
    setState(State::Exclusive);
    // The others of the group go up and take this one's AllowAllUp.
    if (parentWidget())
      for (TFlatButton *other : parentWidget()->findChildren<TFlatButton *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other == this || other->GroupIndex != GroupIndex) continue;
        other->AllowAllUp = AllowAllUp;
        if (other->down_) {
          other->down_ = false;
          other->setState(State::Up);
        }
      }
  } else {
    setState(State::Up);
  }
}

void TFlatButton::setUseAdvColors(bool on) {
  useAdvColors_ = on;
  if (on) applyAdvColors();
}

void TFlatButton::setAdvColors(int focused, int down, int border) {
  advFocused_ = focused;
  advDown_ = down;
  advBorder_ = border;
  if (useAdvColors_) applyAdvColors();
}

void TFlatButton::applyAdvColors() {
  const QColor base =
      parentWidget() ? parentWidget()->palette().color(QPalette::Window) : palette().color(QPalette::Window);
  ColorFocused = flat::lighten(base, advFocused_);
  ColorDown = flat::darken(base, advDown_);
  ColorBorder = flat::darken(base, advBorder_);
  update();
}

flat::ButtonLook TFlatButton::look() const {
  flat::ButtonLook l;
  l.size = size();
  l.state = state_;
  l.enabled = isEnabled();
  l.mouseInControl = mouseIn_;
  l.dragging = dragging_;
  l.groupedDown = down_ && GroupIndex != 0;
  l.color = palette().color(QPalette::Window);
  l.colorFocused = ColorFocused;
  l.colorDown = ColorDown;
  l.colorBorder = ColorBorder;
  l.colorShadow = ColorShadow;
  l.colorHighLight = ColorHighLight;
  l.btnFace = palette().color(QPalette::Button);
  l.btnShadow = palette().color(QPalette::Dark);
  l.btnHighlight = palette().color(QPalette::Light);
  l.text = palette().color(QPalette::ButtonText);
  l.glyph = glyph_;
  l.numGlyphs = NumGlyphs;
  l.caption = text();
  l.font = font();
  l.layout = Layout;
  l.margin = Margin;
  l.spacing = Spacing;
  l.focusCue = focusCue_.shown(hasFocus());
  l.dpr = devicePixelRatioF();
  return l;
}

void TFlatButton::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.drawImage(0, 0, flat::renderButton(look()));
}

void TFlatButton::mousePressEvent(QMouseEvent *e) {
  emit mousePressed(e->button(), e->position().toPoint());
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  dragging_ = true;
  setFocus(Qt::MouseFocusReason);
  if (!down_) setState(State::Down);
}

void TFlatButton::mouseMoveEvent(QMouseEvent *e) {
  const QPoint pos = e->position().toPoint();
  tracker().mouseMoved(this);
  if (dragging_) {
    const bool inside = pos.x() >= 0 && pos.x() < width() && pos.y() >= 0 && pos.y() <= height();
    setState(down_ ? State::Exclusive : inside ? State::Down : State::Up);
  }
  if (!skin_.isEmpty()) hoverSwap(pos);
}

// Image buttons: the hover bitmap while the pointer is over the button (one
// pixel beyond the right and bottom edges still counts), holding the mouse so
// that the move that leaves is seen too.
void TFlatButton::hoverSwap(QPoint pos) {
  if (pos.x() < 0 || pos.y() < 0 || pos.x() > width() || pos.y() > height()) {
    releaseMouse();
    loadGlyph(skin_);
    update();
    return;
  }
  grabMouse();
  if (!hoverAllowed || hoverAllowed()) loadGlyph(skin_ + QLatin1Char('1'));
}

void TFlatButton::mouseReleaseEvent(QMouseEvent *e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  const QPoint pos = e->position().toPoint();
  const bool inside = pos.x() >= 0 && pos.x() < width() && pos.y() >= 0 && pos.y() <= height();
  // The click may open a modal window, which must get the mouse.
  if (inside && QWidget::mouseGrabber() == this) releaseMouse();
  if (GroupIndex == 0) {
    setState(State::Up);
    mouseIn_ = false;
    if (inside) {
      update();
      emit clicked(false);
    }
  } else if (inside) {
    SetDown(!down_);
    emit clicked(false);
  } else {
    if (down_) setState(State::Exclusive);
    update();
    mouseLeave();
  }
  // The hover state again from where the pointer is.
  if (QApplication::widgetAt(QCursor::pos()) == this) mouseEnter();
}

void TFlatButton::mouseDoubleClickEvent(QMouseEvent *e) {
  if (down_) emit doubleClicked();
  mousePressEvent(e);
}

void TFlatButton::focusInEvent(QFocusEvent *e) {
  QAbstractButton::focusInEvent(e);
  focusCue_.focusIn(e->reason());
  update();
}

void TFlatButton::focusOutEvent(QFocusEvent *e) {
  QAbstractButton::focusOutEvent(e);
  focusCue_.focusOut(e->reason());
  update();
}

void TFlatButton::changeEvent(QEvent *e) {
  QAbstractButton::changeEvent(e);
  if (e->type() == QEvent::EnabledChange) {
    if (!isEnabled()) {
      state_ = State::Disabled;
      tracker().forget(this);
      mouseIn_ = false;
    } else if (state_ == State::Disabled) {
      state_ = down_ ? State::Exclusive : State::Up;
    }
    update();
  }
  if (e->type() == QEvent::PaletteChange && useAdvColors_) applyAdvColors();
}
