#include "Image.h"

#include <QMouseEvent>

#include "Platform.h"

TImage::TImage(QWidget *parent) : QLabel(parent) {}

void TImage::setSkin(const QString &name) {
  skin_ = name;
  setPixmap(skinBitmap(name));
}

void TImage::mousePressEvent(QMouseEvent *e) {
  e->accept();
  emit mousePressed(e->button());
}

void TImage::mouseMoveEvent(QMouseEvent *e) {
  if (e->buttons() != Qt::NoButton) emit mouseDragged(e->globalPosition().toPoint());
}

void TImage::mouseReleaseEvent(QMouseEvent *e) {
  e->accept();
  emit mouseReleased(e->button());
  if (rect().contains(e->position().toPoint())) emit clicked();
}
