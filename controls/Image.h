#pragma once

#include <QLabel>

// A picture that reports presses, releases and clicks, for the title strip and
// the transport and chrome images.
class TImage : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QString skin READ skin WRITE setSkin)

 public:
  explicit TImage(QWidget *parent = nullptr);
  QString skin() const { return skin_; }
  void setSkin(const QString &name);

 signals:
  void clicked();
  void mousePressed(Qt::MouseButton button);
  void mouseReleased(Qt::MouseButton button);
  // A move with a button held, in screen coordinates.
  void mouseDragged(QPoint globalPos);

 protected:
  void mousePressEvent(QMouseEvent *) override;
  void mouseReleaseEvent(QMouseEvent *) override;
  void mouseMoveEvent(QMouseEvent *) override;

 private:
  QString skin_;
};
