#pragma once

#include <QListWidget>

// A list box that reports each mouse press after its own handling of it, so
// that the item under the pointer is already selected.
class TListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit TListBox(QWidget *parent = nullptr) : QListWidget(parent) {}

 signals:
  void mouseDown(Qt::MouseButton button);

 protected:
  void mousePressEvent(QMouseEvent *e) override;
};
