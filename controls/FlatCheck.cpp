#include "FlatCheck.h"

#include <QKeyEvent>
#include <QPainter>
#include <QShortcut>

TFlatCheckBase::TFlatCheckBase(bool round, QWidget *parent) : QWidget(parent), round_(round) {
  setMouseTracking(true);
  resize(121, 17);
}

TFlatCheckBase::~TFlatCheckBase() = default;

void TFlatCheckBase::setText(const QString &text) {
  text_ = text;
  delete shortcut_;
  shortcut_ = nullptr;
  const QKeySequence mnemonic = QKeySequence::mnemonic(text);
  if (!mnemonic.isEmpty()) {
    shortcut_ = new QShortcut(mnemonic, this);
    connect(shortcut_, &QShortcut::activated, this, [this] {
      if (isEnabled()) accelerator();
    });
  }
  update();
}

flat::CheckLook TFlatCheckBase::look() const {
  flat::CheckLook l;
  l.size = size();
  l.round = round_;
  l.checked = checked_;
  l.enabled = isEnabled();
  l.focused = hasFocus();
  l.mouseIn = mouseIn_;
  l.pressed = pressed_;
  l.rightLayout = RightLayout;
  l.color = palette().color(QPalette::Window);
  l.colorFocused = ColorFocused;
  l.colorDown = ColorDown;
  l.colorBorder = ColorBorder;
  l.colorMark = ColorMark;
  l.btnShadow = palette().color(QPalette::Dark);
  l.btnHighlight = palette().color(QPalette::Light);
  l.text = palette().color(QPalette::WindowText);
  l.caption = text_;
  l.font = font();
  l.focusCue = focusCue_.shown(hasFocus());
  return l;
}

void TFlatCheckBase::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.drawImage(0, 0, flat::renderCheck(look()));
}

void TFlatCheckBase::mousePressEvent(QMouseEvent *e) {
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  setFocus(Qt::MouseFocusReason);
  pressed_ = true;
  update();
}

void TFlatCheckBase::mouseMoveEvent(QMouseEvent *) { tracker().mouseMoved(this); }

void TFlatCheckBase::mouseReleaseEvent(QMouseEvent *e) {
  if (e->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  const QPoint pos = e->position().toPoint();
  released(pos.x() >= 0 && pos.x() <= width() && pos.y() >= 0 && pos.y() <= height());
  update();
}

void TFlatCheckBase::focusInEvent(QFocusEvent *e) {
  QWidget::focusInEvent(e);
  focusCue_.focusIn(e->reason());
  update();
}

void TFlatCheckBase::focusOutEvent(QFocusEvent *e) {
  QWidget::focusOutEvent(e);
  focusCue_.focusOut(e->reason());
  mouseIn_ = false;
  tracker().forget(this);
  update();
}

TFlatCheckBox::TFlatCheckBox(QWidget *parent) : TFlatCheckBase(false, parent) { setFocusPolicy(Qt::StrongFocus); }

TFlatCheckBox::~TFlatCheckBox() { tracker().forget(this); }

flat::HoverTracker &TFlatCheckBox::tracker() const {
  static flat::HoverTracker t;
  return t;
}

void TFlatCheckBox::setChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  update();
  emit clicked();
}

// A release toggles the box only while the pointer is over it: where the
// release is, not whether a hover was reported, which a window placed by
// the window manager may not have had yet.
void TFlatCheckBox::released(bool inside) {
  if (inside) setChecked(!checked_);
}

void TFlatCheckBox::accelerator() {
  setFocus(Qt::ShortcutFocusReason);
  setChecked(!checked_);
}

void TFlatCheckBox::keyPressEvent(QKeyEvent *e) {
  if (e->key() == Qt::Key_Space) {
    setChecked(!checked_);
    return;
  }
  TFlatCheckBase::keyPressEvent(e);
}

TFlatRadioButton::TFlatRadioButton(QWidget *parent) : TFlatCheckBase(true, parent) { setFocusPolicy(Qt::ClickFocus); }

TFlatRadioButton::~TFlatRadioButton() { tracker().forget(this); }

flat::HoverTracker &TFlatRadioButton::tracker() const {
  static flat::HoverTracker t;
  return t;
}

void TFlatRadioButton::setChecked(bool checked) {
  if (!checked) {
    checked_ = false;
    setFocusPolicy(Qt::ClickFocus);  // a tab stop only while checked
    update();
    return;
  }
  checked_ = true;
  setFocusPolicy(Qt::StrongFocus);
  if (parentWidget())
    for (TFlatRadioButton *other :
         parentWidget()->findChildren<TFlatRadioButton *>(QString(), Qt::FindDirectChildrenOnly))
      if (other != this && other->GroupIndex == GroupIndex && other->checked_) other->setChecked(false);
  update();
  emit clicked();
}

void TFlatRadioButton::keyPressEvent(QKeyEvent *e) {
  int step = 0;
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left: step = -1; break;
    case Qt::Key_Down:
    case Qt::Key_Right: step = 1; break;
    case Qt::Key_Space:
      if (!checked_) setChecked(true);
      return;
    default: TFlatCheckBase::keyPressEvent(e); return;
  }
  if (!parentWidget()) return;
  QList<TFlatRadioButton *> group;
  for (TFlatRadioButton *r : parentWidget()->findChildren<TFlatRadioButton *>(QString(), Qt::FindDirectChildrenOnly))
    if (r->GroupIndex == GroupIndex && (r == this || r->isEnabled())) group << r;
  // In the layout's order, round from the last to the first.
  const qsizetype n = group.size();
  TFlatRadioButton *target = group[(group.indexOf(this) + step + n) % n];
  target->setChecked(true);
  target->setFocus(Qt::OtherFocusReason);
}

void TFlatRadioButton::released(bool inside) {
  if (inside && !checked_) setChecked(true);
}

void TFlatRadioButton::accelerator() { setFocus(Qt::ShortcutFocusReason); }
