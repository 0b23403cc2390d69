#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include "FlatStyle.h"

class TFlatHint;

// The hint window: a borderless window with a coloured strip and an arrow on
// the side towards the pointer, placed by the quarter of the screen the
// pointer is in. It never takes the activation.
class TFlatHintWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TFlatHintWindow(const TFlatHint &style);
  // Shows `text` for a pointer at `pointer` (screen coordinates).
  void activateHint(const QString &text, QPoint pointer);
  const QString &text() const { return text_; }
  flat::Quarter quarter() const { return quarter_; }

 protected:
  void paintEvent(QPaintEvent *) override;

 private:
  const TFlatHint &style_;
  QString text_;
  flat::Quarter quarter_ = flat::Quarter::TopLeft;
};

// Placed on a window, it makes the flat hint window the application's: every
// hint (tool tip) is shown there, 500 ms after the pointer stops over a
// control, and hidden after 5000 ms.
class TFlatHint : public QObject {
  Q_OBJECT

 public:
  explicit TFlatHint(QObject *parent = nullptr);
  ~TFlatHint() override;

  QColor ColorBackground{Qt::white};
  QColor ColorBorder{Qt::black};
  QColor ColorArrowBackground{255, 210, 83};
  QColor ColorArrow{Qt::black};
  int MaxHintWidth = 200;
  QFont Font;

  static constexpr int kHintPause = 500;
  static constexpr int kHintShortPause = 25;
  static constexpr int kHintHidePause = 5000;

  TFlatHintWindow *window() const { return window_; }

 signals:
  // Before a hint is shown; the text may be changed.
  void OnShowHint(QString &text, QWidget *control);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  TFlatHintWindow *window_;
  QTimer hide_;
};
