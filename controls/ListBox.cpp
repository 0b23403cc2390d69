#include "ListBox.h"

#include <QMouseEvent>

void TListBox::mousePressEvent(QMouseEvent *e) {
  QListWidget::mousePressEvent(e);
  emit mouseDown(e->button());
}
