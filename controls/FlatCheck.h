#pragma once

#include <QColor>
#include <QWidget>

#include "FlatStyle.h"

class QShortcut;

// The flat check box and radio button: an 11-pixel box (a 10-pixel circle)
// beside a word-wrapped caption, lit while focused or pointed at.
class TFlatCheckBase : public QWidget, public flat::HoverTarget {
  Q_OBJECT
  Q_PROPERTY(QString text READ text WRITE setText)
  Q_PROPERTY(bool checked READ isChecked WRITE setChecked)
  Q_PROPERTY(QColor ColorBorder MEMBER ColorBorder)
  Q_PROPERTY(QColor ColorFocused MEMBER ColorFocused)
  Q_PROPERTY(QColor ColorDown MEMBER ColorDown)

 public:
  QColor ColorBorder{160, 150, 131};
  QColor ColorFocused{Qt::white};
  QColor ColorDown{217, 214, 197};
  QColor ColorMark{Qt::black};  // the check mark or the dot
  bool RightLayout = false;
  int GroupIndex = 0;

  QString text() const { return text_; }
  void setText(const QString &text);
  bool isChecked() const { return checked_; }
  virtual void setChecked(bool checked) = 0;

  bool mouseIn() const { return mouseIn_; }
  bool pressed() const { return pressed_; }
  flat::CheckLook look() const;
  QSize sizeHint() const override { return {121, 17}; }

  QWidget *widget() override { return this; }

 signals:
  void clicked();

 protected:
  TFlatCheckBase(bool round, QWidget *parent);
  ~TFlatCheckBase() override;
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void focusInEvent(QFocusEvent *) override;
  void focusOutEvent(QFocusEvent *) override;
  virtual void released(bool inside) = 0;
  virtual void accelerator() = 0;
  virtual flat::HoverTracker &tracker() const = 0;
  // Unlike a flat button, a pressed box lets go of the pointer-over mark
  // when the pointer leaves, so a press released elsewhere does not toggle it.
  flat::HoverTracker &hoverTracker() const override { return tracker(); }

  bool checked_ = false;

 private:
  bool round_;
  bool pressed_ = false;
  flat::FocusCue focusCue_;
  QString text_;
  QShortcut *shortcut_ = nullptr;
};

class TFlatCheckBox : public TFlatCheckBase {
  Q_OBJECT
 public:
  explicit TFlatCheckBox(QWidget *parent = nullptr);
  ~TFlatCheckBox() override;
  // Fires clicked() when the value changes.
  void setChecked(bool checked) override;

 protected:
  void keyPressEvent(QKeyEvent *) override;
  void released(bool inside) override;
  void accelerator() override;
  flat::HoverTracker &tracker() const override;
};

// Radio buttons with the same GroupIndex on the same parent are one group:
// checking one unchecks the others.
class TFlatRadioButton : public TFlatCheckBase {
  Q_OBJECT
 public:
  explicit TFlatRadioButton(QWidget *parent = nullptr);
  ~TFlatRadioButton() override;
  void setChecked(bool checked) override;

 protected:
  // The arrow keys check the group's previous or next button, Space the focused one.
  void keyPressEvent(QKeyEvent *) override;
  void released(bool inside) override;
  void accelerator() override;
  flat::HoverTracker &tracker() const override;
};
