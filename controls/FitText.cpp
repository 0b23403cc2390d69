#include "FitText.h"

#include <algorithm>
#include <optional>

#include <QFontMetrics>
#include <QLabel>

#include "FlatButton.h"
#include "FlatCheck.h"
#include "Image.h"

namespace {

struct Text {
  QWidget *widget;
  QString text;
  int before = 0, after = 0;  // room the widget keeps beside its text
  bool grows = false;         // a label as wide as its text
};

std::optional<Text> textOf(QWidget *w) {
  if (auto *label = qobject_cast<QLabel *>(w); label && !qobject_cast<TImage *>(w) && !label->text().isEmpty())
    return Text{w, label->text(), 0, 0, label->width() == label->sizeHint().width()};
  if (auto *check = qobject_cast<TFlatCheckBase *>(w); check && !check->text().isEmpty())
    return Text{w, check->text(), 16, 1};
  if (auto *button = qobject_cast<TFlatButton *>(w); button && !button->text().isEmpty())
    return Text{w, button->text(), 1, 1};
  return std::nullopt;
}

int widthOf(const QFont &font, const QString &text) {
  return QFontMetrics(font).boundingRect(QRect(), Qt::TextShowMnemonic, text).width();
}

}  // namespace

void fitTexts(QWidget *window) {
  QList<Text> texts;
  for (QWidget *w : window->findChildren<QWidget *>())
    if (w->window() == window)
      if (auto text = textOf(w)) texts << *text;
  for (const Text &t : texts) {
    const QRect at = t.widget->geometry();
    int room = t.grows ? QWIDGETSIZE_MAX : at.width() - t.before - t.after;
    // A text to its right on the same line ends its room, a pixel before.
    for (const Text &other : texts) {
      const QRect there = other.widget->geometry();
      if (other.widget->parentWidget() == t.widget->parentWidget() && there.left() > at.left() &&
          there.top() < at.bottom() && there.bottom() > at.top())
        room = std::min(room, there.left() - at.left() - t.before - 1);
    }
    QFont font = t.widget->font();
    for (int stretch = 95; widthOf(font, t.text) > room && stretch >= 65; stretch -= 5) font.setStretch(stretch);
    if (font == t.widget->font()) continue;
    t.widget->setFont(font);
    if (t.grows) t.widget->adjustSize();
  }
}
