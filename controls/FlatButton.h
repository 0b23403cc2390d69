#pragma once

#include <functional>

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

#include "FlatStyle.h"

// A flat button: a one-pixel frame and a face that light up under the pointer,
// with a glyph and/or a caption. The image buttons of the windows are flat
// buttons whose colours are all white, so that only the glyph shows; they swap
// the glyph for its hover twin while the pointer is over them.
class TFlatButton : public QAbstractButton, public flat::HoverTarget {
  Q_OBJECT
  Q_PROPERTY(QString skin READ skin WRITE setSkin)
  Q_PROPERTY(QColor ColorFocused MEMBER ColorFocused)
  Q_PROPERTY(QColor ColorDown MEMBER ColorDown)
  Q_PROPERTY(QColor ColorBorder MEMBER ColorBorder)
  Q_PROPERTY(QColor ColorShadow MEMBER ColorShadow)
  Q_PROPERTY(QColor ColorHighLight MEMBER ColorHighLight)

 public:
  using State = flat::ButtonState;

  explicit TFlatButton(QWidget *parent = nullptr);
  ~TFlatButton() override;

  // The skin bitmap of this name is the normal glyph (hover: the name with "1").
  QString skin() const { return skin_; }
  void setSkin(const QString &name);
  // Loads a skin bitmap into the glyph, afresh from the resources.
  void loadGlyph(const QString &name);
  void setGlyph(const QPixmap &glyph);
  const QPixmap &glyph() const { return glyph_; }
  // Whether the hover bitmap may be shown (the Back button on page 1 may not).
  std::function<bool()> hoverAllowed;

  int NumGlyphs = 1;
  flat::GlyphLayout Layout = flat::GlyphLayout::Top;
  int Margin = -1;
  int Spacing = 4;
  int GroupIndex = 0;
  bool AllowAllUp = false;
  bool Down() const { return down_; }
  void SetDown(bool down);

  QColor ColorFocused{235, 234, 225};
  QColor ColorDown{217, 214, 197};
  QColor ColorBorder{160, 150, 131};
  QColor ColorShadow{Qt::black};
  QColor ColorHighLight{Qt::white};

  // Advanced colours: focused, down and border follow the parent's colour.
  bool UseAdvColors() const { return useAdvColors_; }
  void setUseAdvColors(bool on);
  void setAdvColors(int focused, int down, int border);

  State state() const { return state_; }
  bool mouseInControl() const { return mouseIn_; }
  bool dragging() const { return dragging_; }
  flat::ButtonLook look() const;

  QSize sizeHint() const override { return {25, 25}; }

  QWidget *widget() override { return this; }

 signals:
  void mousePressed(Qt::MouseButton button, QPoint pos);
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void mouseDoubleClickEvent(QMouseEvent *) override;
  void focusInEvent(QFocusEvent *) override;
  void focusOutEvent(QFocusEvent *) override;
  void changeEvent(QEvent *) override;
  bool hitButton(const QPoint &) const override { return false; }

 private:
  void hoverSwap(QPoint pos);
  void applyAdvColors();
  void setState(State s);
  static flat::HoverTracker &tracker();
  flat::HoverTracker &hoverTracker() const override { return tracker(); }
  // Held down, it stays lit until released.
  bool keepsHover() const override { return dragging_; }

  QString skin_;
  QPixmap glyph_;
  State state_ = State::Up;
  bool down_ = false;
  bool dragging_ = false;
  bool useAdvColors_ = false;
  flat::FocusCue focusCue_;
  int advFocused_ = 10, advDown_ = 10, advBorder_ = 50;
};
