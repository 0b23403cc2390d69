#include "FlatHint.h"

#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>

namespace {
// The hint delays of the flat hint window.
class HintDelays : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                QStyleHintReturn *data) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return TFlatHint::kHintPause;
    if (hint == SH_ToolTip_FallAsleepDelay) return TFlatHint::kHintShortPause;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};
}  // namespace

TFlatHintWindow::TFlatHintWindow(const TFlatHint &style)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), style_(style) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TFlatHintWindow::activateHint(const QString &text, QPoint pointer) {
  text_ = text;
  const QScreen *screen = QGuiApplication::screenAt(pointer);
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  const QSize size = flat::hintSize(text, style_.Font, style_.MaxHintWidth);
  quarter_ = flat::quarterOf(pointer, area);
  setGeometry(QRect(flat::hintPosition(pointer, area, size), size));
  show();
  raise();
  update();
}

void TFlatHintWindow::paintEvent(QPaintEvent *) {
  flat::HintLook look;
  look.size = size();
  look.quarter = quarter_;
  look.text = text_;
  look.font = style_.Font;
  look.background = style_.ColorBackground;
  look.border = style_.ColorBorder;
  look.arrowBackground = style_.ColorArrowBackground;
  look.arrow = style_.ColorArrow;
  QPainter p(this);
  p.drawImage(0, 0, flat::renderHint(look));
}

TFlatHint::TFlatHint(QObject *parent) : QObject(parent), window_(new TFlatHintWindow(*this)) {
  Font = QApplication::font();
  hide_.setSingleShot(true);
  hide_.setInterval(kHintHidePause);
  connect(&hide_, &QTimer::timeout, window_, &QWidget::hide);
  qApp->installEventFilter(this);
  if (!dynamic_cast<HintDelays *>(QApplication::style()))
    QApplication::setStyle(new HintDelays(QStyleFactory::create(QStringLiteral("Fusion"))));
}

TFlatHint::~TFlatHint() {
  qApp->removeEventFilter(this);
  delete window_;
}

bool TFlatHint::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
    case QEvent::ToolTip: {
      auto *widget = qobject_cast<QWidget *>(watched);
      if (!widget) break;
      QString text = widget->toolTip();
      if (text.isEmpty()) {
        window_->hide();
        return true;
      }
      emit OnShowHint(text, widget);
      window_->activateHint(text, static_cast<QHelpEvent *>(event)->globalPos());
      hide_.start();
      return true;
    }
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::WindowDeactivate:
      if (window_->isVisible() && watched != window_) window_->hide();
      break;
    default: break;
  }
  return false;
}
