#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

// A flat button: a one-pixel frame and a face that light up under the pointer,
// with a glyph (a skin bitmap) and/or a caption. The image buttons of the
// windows are flat buttons whose colours are all white, so only the glyph shows.
class TFlatButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QString skin READ skin WRITE setSkin)
  Q_PROPERTY(QColor ColorFocused MEMBER ColorFocused)
  Q_PROPERTY(QColor ColorDown MEMBER ColorDown)
  Q_PROPERTY(QColor ColorBorder MEMBER ColorBorder)
  Q_PROPERTY(QColor ColorShadow MEMBER ColorShadow)
  Q_PROPERTY(QColor ColorHighLight MEMBER ColorHighLight)

 public:
  enum class Layout { GlyphLeft, GlyphRight, GlyphTop, GlyphBottom };

  explicit TFlatButton(QWidget *parent = nullptr);

  // The skin bitmap of this name becomes the glyph (loaded from the resources).
  QString skin() const { return skin_; }
  void setSkin(const QString &name);
  void setGlyph(const QPixmap &glyph);
  const QPixmap &glyph() const { return glyph_; }
  int NumGlyphs = 1;
  Layout layout = Layout::GlyphTop;
  int Margin = -1;
  int Spacing = 4;

  QColor ColorFocused{235, 234, 225};
  QColor ColorDown{217, 214, 197};
  QColor ColorBorder{160, 150, 131};
  QColor ColorShadow{Qt::black};
  QColor ColorHighLight{Qt::white};

  QSize sizeHint() const override { return {25, 25}; }

 signals:
  // Every mouse press and move, with the button and the position relative to
  // the button, before the button's own handling.
  void mousePressed(Qt::MouseButton button, QPoint pos);
  void mouseMoved(QPoint pos);

 protected:
  void paintEvent(QPaintEvent *) override;
  void enterEvent(QEnterEvent *) override;
  void leaveEvent(QEvent *) override;
  void mousePressEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;

 private:
  QString skin_;
  QPixmap glyph_;
  bool mouseInControl_ = false;
};
