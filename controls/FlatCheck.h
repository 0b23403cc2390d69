#pragma once

#include <QAbstractButton>
#include <QColor>

// The flat check box and radio button: an 11-pixel box (a 10-pixel circle)
// at the left, framed in the border colour, and a word-wrapped caption.
class TFlatCheckBase : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QColor ColorBorder MEMBER ColorBorder)
  Q_PROPERTY(QColor ColorFocused MEMBER ColorFocused)
  Q_PROPERTY(QColor ColorDown MEMBER ColorDown)

 public:
  QColor ColorBorder{160, 150, 131};
  QColor ColorFocused{Qt::white};
  QColor ColorDown{217, 214, 197};
  QColor ColorMark{Qt::black};

  QSize sizeHint() const override { return {121, 17}; }

 protected:
  TFlatCheckBase(bool round, QWidget *parent);
  void paintEvent(QPaintEvent *) override;
  void enterEvent(QEnterEvent *) override;
  void leaveEvent(QEvent *) override;

 private:
  bool round_;
  bool mouseIn_ = false;
};

class TFlatCheckBox : public TFlatCheckBase {
  Q_OBJECT
 public:
  explicit TFlatCheckBox(QWidget *parent = nullptr);
};

// Radio buttons on the same parent form one group: checking one unchecks the others.
class TFlatRadioButton : public TFlatCheckBase {
  Q_OBJECT
 public:
  explicit TFlatRadioButton(QWidget *parent = nullptr);
};
