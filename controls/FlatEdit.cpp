#include "FlatEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

TFlatEdit::TFlatEdit(QWidget *parent) : QLineEdit(parent) {
  setFrame(false);
  setTextMargins(2, 0, 2, 0);
  restyle();
}

void TFlatEdit::setColorBorder(const QColor &c) {
  border_ = c;
  update();
}
void TFlatEdit::setColorFocused(const QColor &c) {
  focused_ = c;
  restyle();
}
void TFlatEdit::setColorFlat(const QColor &c) {
  flat_ = c;
  restyle();
}

void TFlatEdit::keyPressEvent(QKeyEvent *e) {
  // Backspace and Enter count as the characters 8 and 13, the clipboard
  // shortcuts as the control characters they type; keys that type nothing
  // (arrows, Delete, Home, Tab) are not characters and pass on.
  QChar key;
  if (e->key() == Qt::Key_Backspace)
    key = QChar(8);
  else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
    key = QChar(13);
  else if (!e->text().isEmpty() && e->key() != Qt::Key_Delete && e->key() != Qt::Key_Tab && e->key() != Qt::Key_Escape)
    key = e->text().at(0);
  if (key.isNull()) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  emit keyPressed(key);
  if (key.isNull()) {
    e->accept();
    return;
  }
  QLineEdit::keyPressEvent(e);
}

void TFlatEdit::paintEvent(QPaintEvent *e) {
  QLineEdit::paintEvent(e);
  QPainter p(this);
  p.setPen(border_);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool TFlatEdit::flatLook() const {
  if (hasFocus()) return false;
  return !mouseIn_ || qobject_cast<TFlatEdit *>(QApplication::focusWidget()) != nullptr;
}

void TFlatEdit::fitHeight() { resize(width(), fontMetrics().height() + 6); }

bool TFlatEdit::event(QEvent *e) {
  if (e->type() == QEvent::Polish) fitHeight();
  return QLineEdit::event(e);
}

void TFlatEdit::changeEvent(QEvent *e) {
  QLineEdit::changeEvent(e);
  if (e->type() == QEvent::FontChange) fitHeight();
}

void TFlatEdit::restyle() {
  QPalette pal = palette();
  pal.setColor(QPalette::Base, flatLook() ? flat_ : focused_);
  setPalette(pal);
  update();
}

void TFlatEdit::focusInEvent(QFocusEvent *e) {
  QLineEdit::focusInEvent(e);
  restyle();
}
void TFlatEdit::focusOutEvent(QFocusEvent *e) {
  QLineEdit::focusOutEvent(e);
  restyle();
}
void TFlatEdit::enterEvent(QEnterEvent *e) {
  QLineEdit::enterEvent(e);
  if (!QApplication::activeWindow()) return;
  mouseIn_ = true;
  restyle();
}
void TFlatEdit::leaveEvent(QEvent *e) {
  QLineEdit::leaveEvent(e);
  mouseIn_ = false;
  restyle();
}
