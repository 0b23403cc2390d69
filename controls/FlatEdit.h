#pragma once

#include <QColor>
#include <QLineEdit>

// An edit box without the platform's 3-D border: a 3-pixel border drawn by
// the box (a one-pixel frame and two in the face colour) and a face that turns
// to the focused colour while it has the focus or the pointer. Its height
// follows the font: the text height plus 6.
// keyPressed() lets the owner look at (and discard) each typed character
// before the box sees it.
class TFlatEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(QColor ColorBorder READ colorBorder WRITE setColorBorder)
  Q_PROPERTY(QColor ColorFocused READ colorFocused WRITE setColorFocused)
  Q_PROPERTY(QColor ColorFlat READ colorFlat WRITE setColorFlat)

 public:
  explicit TFlatEdit(QWidget *parent = nullptr);

  QColor colorBorder() const { return border_; }
  void setColorBorder(const QColor &c);
  QColor colorFocused() const { return focused_; }
  void setColorFocused(const QColor &c);
  QColor colorFlat() const { return flat_; }
  void setColorFlat(const QColor &c);

 signals:
  // Called with the typed character; setting it to 0 discards the key.
  void keyPressed(QChar &key);

 protected:
  void keyPressEvent(QKeyEvent *) override;
  void paintEvent(QPaintEvent *) override;
  void focusInEvent(QFocusEvent *) override;
  void focusOutEvent(QFocusEvent *) override;
  void enterEvent(QEnterEvent *) override;
  void leaveEvent(QEvent *) override;
  void changeEvent(QEvent *) override;
  bool event(QEvent *) override;

 public:
  // The flat look: no focus, and the pointer elsewhere or another flat edit
  // box focused.
  bool flatLook() const;

 private:
  void fitHeight();
  void restyle();
  QColor border_{160, 150, 131};
  QColor focused_{Qt::white};
  QColor flat_{235, 234, 225};
  bool mouseIn_ = false;
};
