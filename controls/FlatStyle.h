#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QTimer;
class QWidget;

// Routines shared by the flat-style widgets: colours in hue, lightness and
// saturation, the glyph and caption layout, and painting as functions from a
// widget's state to an image, so that what must be exact can be checked pixel
// by pixel.
namespace flat {

// Hue, lightness and saturation, each from 0 to 240, as the desktop counts them.
struct Hls {
  int h = 0, l = 0, s = 0;
};
Hls toHls(const QColor &c);
QColor fromHls(const Hls &hls);
// Lightness plus amount, capped at 234 once the sum reaches 235; 0 leaves the colour.
QColor lighten(const QColor &c, int amount);
// Lightness minus amount, not below 0; 0 leaves the colour.
QColor darken(const QColor &c, int amount);

enum class GlyphLayout { Left, Right, Top, Bottom };

struct Placement {
  QPoint glyph;
  QPoint text;
};
// Where the glyph and the caption go in a client area. A glyph or text that is
// 0 wide makes the spacing 0; -1 for margin or spacing shares out what is left.
Placement place(QSize client, QSize glyph, QSize text, GlyphLayout layout, int margin, int spacing, QPoint pressed);

// NumGlyphs for a glyph: width / height when the width is a whole multiple of
// the height (1 when that exceeds 4); otherwise `current` is kept.
int numGlyphsFor(QSize glyph, int current);

enum class ButtonState { Up, Disabled, Down, Exclusive };

struct ButtonLook {
  QSize size{25, 25};
  ButtonState state = ButtonState::Up;
  bool enabled = true;
  bool mouseInControl = false;
  bool dragging = false;
  bool groupedDown = false;  // Down with a GroupIndex
  QColor color{Qt::white}, colorFocused{235, 234, 225}, colorDown{217, 214, 197};
  QColor colorBorder{160, 150, 131}, colorShadow{Qt::black}, colorHighLight{Qt::white};
  QColor btnFace{240, 240, 240}, btnShadow{160, 160, 160}, btnHighlight{Qt::white};
  QColor text{Qt::black};
  QPixmap glyph;
  int numGlyphs = 1;
  QString caption;
  QFont font;
  GlyphLayout layout = GlyphLayout::Top;
  int margin = -1, spacing = 4;
  bool focusCue = false;  // a dotted frame inside the border
  qreal dpr = 1;          // device pixels to a pixel of the layout
};
// The image has `dpr` device pixels to a pixel of the look's size.
QImage renderButton(const ButtonLook &look);

struct CheckLook {
  QSize size{121, 17};
  bool round = false;  // radio button
  bool checked = false, enabled = true, focused = false, mouseIn = false, pressed = false, rightLayout = false;
  QColor color{Qt::white}, colorFocused{Qt::white}, colorDown{217, 214, 197}, colorBorder{160, 150, 131};
  QColor colorMark{Qt::black}, btnShadow{160, 160, 160}, btnHighlight{Qt::white}, text{Qt::black};
  QString caption;
  QFont font;
  bool focusCue = false;  // a dotted frame around the caption
};
QImage renderCheck(const CheckLook &look);

// Whether a focused control shows that it has the focus: only once the focus
// came from the keyboard, as the desktop does. Losing the focus to another
// window and getting it back keeps the cue as it was.
class FocusCue {
 public:
  void focusIn(Qt::FocusReason reason);
  void focusOut(Qt::FocusReason reason);
  bool shown(bool hasFocus) const { return hasFocus && shown_; }

 private:
  bool shown_ = false;
};

// A one-pixel dotted frame along the edges of `r`.
void drawFocusCue(QImage &img, const QRect &r, const QColor &colour);

// The hint window.
enum class Quarter { TopLeft, TopRight, BottomLeft, BottomRight };
Quarter quarterOf(QPoint pointer, QRect screen);
QSize hintSize(const QString &text, const QFont &font, int maxHintWidth);
QPoint hintPosition(QPoint pointer, QRect screen, QSize size);

struct HintLook {
  QSize size;
  Quarter quarter = Quarter::TopLeft;
  QString text;
  QFont font;
  QColor background{Qt::white}, border{Qt::black}, arrowBackground{255, 210, 83}, arrow{Qt::black};
};
QImage renderHint(const HintLook &look);

// Hover tracking shared by all controls of one class: the control under the
// pointer is tracked, and a 100 ms timer notices when the pointer has left it.
class HoverTracker;
class HoverTarget {
 public:
  virtual ~HoverTarget() = default;
  virtual QWidget *widget() = 0;
  // The pointer came over the control, or left it: lit or not, drawn anew.
  void mouseEnter();
  void mouseLeave();

 protected:
  // The tracker of the control's class.
  virtual HoverTracker &hoverTracker() const = 0;
  // Whether it stays lit though the pointer left (a button held down does).
  virtual bool keepsHover() const { return false; }
  bool mouseIn_ = false;
};

class HoverTracker {
 public:
  // Called for every mouse move over a control of the class.
  void mouseMoved(HoverTarget *control);
  void tick();
  // Stops tracking the control (it left, was disabled or is going away).
  void forget(HoverTarget *control);
  HoverTarget *tracked() const { return tracked_; }
  QTimer *timer();

 private:
  HoverTarget *tracked_ = nullptr;
  QTimer *timer_ = nullptr;
};

}  // namespace flat
