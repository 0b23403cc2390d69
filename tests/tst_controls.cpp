#include <QApplication>
#include <QCursor>
#include <QSignalSpy>
#include <QtTest>

#include "FlatButton.h"
#include "FlatCheck.h"
#include "FlatEdit.h"
#include "FlatHint.h"
#include "FlatStyle.h"

using flat::GlyphLayout;

class TestControls : public QObject {
  Q_OBJECT

  QWidget *window_ = nullptr;

  void pointAt(QWidget *w, QPoint pos) {
    QCursor::setPos(w->mapToGlobal(pos) + QPoint(1, 1));
    QCursor::setPos(w->mapToGlobal(pos));
    QCoreApplication::processEvents();
  }
  void pointAway() {
    QCursor::setPos(window_->mapToGlobal(QPoint(390, 290)));
    QCoreApplication::processEvents();
  }

 private slots:
  void init() {
    window_ = new QWidget;
    window_->resize(400, 300);
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
  }
  void cleanup() { delete window_; }

  void layout_data() {
    QTest::addColumn<GlyphLayout>("layout");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QSize>("text");
    QTest::addColumn<QPoint>("glyph");
    QTest::addColumn<QPoint>("caption");
    // A 100 x 40 client with a 20 x 16 glyph.
    QTest::newRow("top, margin -1") << GlyphLayout::Top << -1 << 4 << QSize(30, 10) << QPoint(40, 5) << QPoint(35, 25);
    QTest::newRow("left, margin -1") << GlyphLayout::Left << -1 << 4 << QSize(30, 10) << QPoint(23, 12)
                                     << QPoint(47, 15);
    QTest::newRow("left, both -1") << GlyphLayout::Left << -1 << -1 << QSize(30, 10) << QPoint(16, 12)
                                   << QPoint(52, 15);
    QTest::newRow("right, spacing -1") << GlyphLayout::Right << 5 << -1 << QSize(30, 10) << QPoint(75, 12)
                                       << QPoint(23, 15);
    QTest::newRow("bottom, fixed") << GlyphLayout::Bottom << 2 << 3 << QSize(30, 10) << QPoint(40, 22) << QPoint(35, 9);
    QTest::newRow("no text: no spacing") << GlyphLayout::Top << -1 << 4 << QSize(0, 0) << QPoint(40, 12)
                                         << QPoint(50, 28);
  }
  void layout() {
    QFETCH(GlyphLayout, layout);
    QFETCH(int, margin);
    QFETCH(int, spacing);
    QFETCH(QSize, text);
    QFETCH(QPoint, glyph);
    QFETCH(QPoint, caption);
    const auto p = flat::place(QSize(100, 40), QSize(20, 16), text, layout, margin, spacing, QPoint(0, 0));
    QCOMPARE(p.glyph, glyph);
    QCOMPARE(p.text, caption);
    const auto pressed = flat::place(QSize(100, 40), QSize(20, 16), text, layout, margin, spacing, QPoint(1, 1));
    QCOMPARE(pressed.glyph, glyph + QPoint(1, 1));
  }

  void numGlyphs() {
    QCOMPARE(flat::numGlyphsFor(QSize(65, 25), 1), 1);
    QCOMPARE(flat::numGlyphsFor(QSize(65, 25), 3), 3);
    QCOMPARE(flat::numGlyphsFor(QSize(100, 25), 1), 4);
    QCOMPARE(flat::numGlyphsFor(QSize(150, 25), 2), 1);
    QCOMPARE(flat::numGlyphsFor(QSize(50, 25), 1), 2);
  }

  void advancedColours() {
    for (const QColor &c : {QColor(235, 234, 225), QColor(10, 200, 90), QColor(0, 64, 0), QColor(128, 128, 128)})
      QVERIFY(std::abs(flat::fromHls(flat::toHls(c)).red() - c.red()) <= 2);
    const QColor face(235, 234, 225);
    QCOMPARE(flat::lighten(face, 0), face);
    QCOMPARE(flat::toHls(flat::lighten(face, 50)).l, 234);  // capped once the sum reaches 235
    const int l = flat::toHls(QColor(100, 100, 100)).l;
    QCOMPARE(flat::toHls(flat::lighten(QColor(100, 100, 100), 10)).l, l + 10);
    QCOMPARE(flat::toHls(flat::darken(QColor(100, 100, 100), 500)).l, 0);
    QCOMPARE(flat::darken(QColor(100, 100, 100), 500), QColor(0, 0, 0));

    auto *b = new TFlatButton(window_);
    QPalette pal = window_->palette();
    pal.setColor(QPalette::Window, QColor(200, 200, 200));
    window_->setPalette(pal);
    b->setUseAdvColors(true);
    QCOMPARE(b->ColorFocused, flat::lighten(QColor(200, 200, 200), 10));
    QCOMPARE(b->ColorDown, flat::darken(QColor(200, 200, 200), 10));
    QCOMPARE(b->ColorBorder, flat::darken(QColor(200, 200, 200), 50));
  }

  void hintPlacement_data() {
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("quarter");
    const QSize s(100, 20);
    Q_UNUSED(s);
    QTest::newRow("top left") << QPoint(100, 100) << QPoint(112, 112) << int(flat::Quarter::TopLeft);
    QTest::newRow("top right") << QPoint(900, 100) << QPoint(795, 105) << int(flat::Quarter::TopRight);
    QTest::newRow("bottom left") << QPoint(100, 700) << QPoint(105, 675) << int(flat::Quarter::BottomLeft);
    QTest::newRow("bottom right") << QPoint(900, 700) << QPoint(795, 675) << int(flat::Quarter::BottomRight);
  }
  void hintPlacement() {
    QFETCH(QPoint, pointer);
    QFETCH(QPoint, at);
    QFETCH(int, quarter);
    const QRect screen(0, 0, 1024, 768);
    QCOMPARE(int(flat::quarterOf(pointer, screen)), quarter);
    QCOMPARE(flat::hintPosition(pointer, screen, QSize(100, 20)), at);
  }

  void hintSizeAndPaint() {
    QFont f;
    f.setPixelSize(11);
    const QSize one = flat::hintSize(QStringLiteral("Close"), f, 200);
    QCOMPARE(one.width(), QFontMetrics(f).horizontalAdvance(QStringLiteral("Close")) + 22);
    QCOMPARE(one.height(), QFontMetrics(f).height() + 6);
    const QSize wrapped =
        flat::hintSize(QStringLiteral("Input an MP3 file with full path, then choose how to split it"), f, 200);
    QVERIFY(wrapped.width() <= 200);
    QVERIFY(wrapped.height() > one.height());

    flat::HintLook look;
    look.size = QSize(80, 20);
    look.text = QStringLiteral("Hi");
    look.font = f;
    look.quarter = flat::Quarter::TopLeft;
    QImage img = flat::renderHint(look);
    QCOMPARE(img.pixelColor(0, 0), QColor(Qt::black));       // the frame
    QCOMPARE(img.pixelColor(10, 15), QColor(255, 210, 83));  // the strip, left
    QCOMPARE(img.pixelColor(70, 15), QColor(Qt::white));     // the body
    QCOMPARE(img.pixelColor(2, 2), QColor(Qt::black));       // the arrow's tip, top left
    look.quarter = flat::Quarter::BottomRight;
    img = flat::renderHint(look);
    QCOMPARE(img.pixelColor(68, 3), QColor(255, 210, 83));  // the strip, right
    QCOMPARE(img.pixelColor(77, 17), QColor(Qt::black));    // the tip, bottom right
  }

  void buttonPainting() {
    flat::ButtonLook look;
    look.size = QSize(30, 20);
    look.color = QColor(1, 2, 3);
    look.mouseInControl = true;
    QImage img = flat::renderButton(look);
    QCOMPARE(img.pixelColor(0, 0), look.colorHighLight);
    QCOMPARE(img.pixelColor(29, 19), look.colorShadow);
    QCOMPARE(img.pixelColor(15, 10), look.colorFocused);
    look.mouseInControl = false;
    img = flat::renderButton(look);
    QCOMPARE(img.pixelColor(0, 0), look.colorBorder);
    QCOMPARE(img.pixelColor(15, 10), look.color);
    look.state = flat::ButtonState::Down;
    img = flat::renderButton(look);
    QCOMPARE(img.pixelColor(0, 0), look.colorShadow);
    QCOMPARE(img.pixelColor(29, 19), look.colorHighLight);
    QCOMPARE(img.pixelColor(15, 10), look.colorDown);

    // A two-cell glyph: red up, blue disabled; white is transparent.
    QImage glyph(20, 10, QImage::Format_RGB32);
    glyph.fill(Qt::white);
    for (int x = 2; x < 8; ++x) glyph.setPixelColor(x, 5, Qt::red);
    for (int x = 12; x < 18; ++x) glyph.setPixelColor(x, 5, Qt::blue);
    look.glyph = QPixmap::fromImage(glyph);
    look.numGlyphs = 2;
    look.state = flat::ButtonState::Up;
    look.size = QSize(10, 10);
    look.margin = 0;
    img = flat::renderButton(look);
    QCOMPARE(img.pixelColor(3, 5), QColor(Qt::red));
    QCOMPARE(img.pixelColor(1, 1), look.color);  // transparent pixels show the face
    look.enabled = false;
    img = flat::renderButton(look);
    QCOMPARE(img.pixelColor(3, 5), QColor(Qt::blue));

    // Keyboard focus: every other pixel of a frame two pixels inside the border,
    // in the text colour even where every other colour is white.
    flat::ButtonLook white;
    white.size = QSize(20, 12);
    white.color = white.colorFocused = white.colorDown = white.colorBorder = white.colorShadow = Qt::white;
    white.focusCue = true;
    img = flat::renderButton(white);
    QCOMPARE(img.pixelColor(2, 2), QColor(Qt::black));
    QCOMPARE(img.pixelColor(3, 2), QColor(Qt::white));
    QCOMPARE(img.pixelColor(17, 9), QColor(Qt::black));
    QCOMPARE(img.pixelColor(1, 1), QColor(Qt::white));
    QCOMPARE(img.pixelColor(10, 6), QColor(Qt::white));
  }

  void checkPainting() {
    flat::CheckLook look;
    look.checked = true;
    QImage img = flat::renderCheck(look);
    const QPoint box(1, 3);
    QCOMPARE(img.pixelColor(box + QPoint(2, 4)), QColor(Qt::black));  // a line's start
    QCOMPARE(img.pixelColor(box + QPoint(5, 7)), QColor(Qt::black));
    QCOMPARE(img.pixelColor(box + QPoint(6, 8)), look.color);  // its end is left out
    QCOMPARE(img.pixelColor(box), look.colorBorder);
    look.round = true;
    img = flat::renderCheck(look);
    for (int y = 3; y < 7; ++y)
      for (int x = 3; x < 7; ++x) QCOMPARE(img.pixelColor(box + QPoint(x, y)), QColor(Qt::black));
    QCOMPARE(img.pixelColor(box + QPoint(7, 5)), look.color);

    // Keyboard focus frames the caption, not the box.
    look.caption = QStringLiteral("Method");
    look.checked = false;
    const QImage plain = flat::renderCheck(look);
    look.focusCue = true;
    img = flat::renderCheck(look);
    QCOMPARE(img.copy(0, 0, 15, 17), plain.copy(0, 0, 15, 17));
    QVERIFY(img != plain);
  }

  void hoverEntersAndLeavesWithinATick() {
    auto *a = new TFlatButton(window_);
    a->setGeometry(10, 10, 60, 25);
    a->show();
    pointAt(a, QPoint(30, 12));
    QVERIFY(a->mouseInControl());
    pointAway();
    QTRY_VERIFY_WITH_TIMEOUT(!a->mouseInControl(), 150);
  }

  void buttonStates() {
    auto *b = new TFlatButton(window_);
    b->setGeometry(10, 10, 60, 25);
    b->show();
    QSignalSpy clicks(b, &QAbstractButton::clicked);
    pointAt(b, QPoint(30, 12));
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(30, 12));
    QCOMPARE(b->state(), flat::ButtonState::Down);
    QVERIFY(b->dragging());
    QTest::mouseMove(b, QPoint(100, 12));
    QCOMPARE(b->state(), flat::ButtonState::Up);
    QTest::mouseMove(b, QPoint(20, 12));
    QCOMPARE(b->state(), flat::ButtonState::Down);
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(20, 12));
    QCOMPARE(b->state(), flat::ButtonState::Up);
    QCOMPARE(clicks.size(), 1);
    QVERIFY(!b->Down());  // GroupIndex 0 never stays down

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(20, 12));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(100, 12));
    QCOMPARE(clicks.size(), 1);  // released outside
    QTest::mousePress(b, Qt::RightButton, {}, QPoint(20, 12));
    QCOMPARE(b->state(), flat::ButtonState::Up);
  }

  void groupedButtons() {
    auto *a = new TFlatButton(window_);
    auto *b = new TFlatButton(window_);
    a->GroupIndex = b->GroupIndex = 1;
    a->setGeometry(10, 10, 30, 25);
    b->setGeometry(50, 10, 30, 25);
    a->show();
    b->show();
    QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(a->Down());
    QCOMPARE(a->state(), flat::ButtonState::Exclusive);
    QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(a->Down());  // not released without AllowAllUp
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(b->Down());
    QVERIFY(!a->Down());
    QCOMPARE(a->state(), flat::ButtonState::Up);
    a->AllowAllUp = true;
    a->SetDown(true);
    QVERIFY(b->AllowAllUp);  // the group takes it over
    QVERIFY(!b->Down());
    a->SetDown(false);
    QVERIFY(!a->Down());
    a->setEnabled(false);
    QCOMPARE(a->state(), flat::ButtonState::Disabled);
  }

  void checkBoxAndRadioReleases() {
    auto *c = new TFlatCheckBox(window_);
    c->setGeometry(10, 50, 121, 17);
    c->show();
    QSignalSpy clicks(c, &TFlatCheckBase::clicked);
    pointAt(c, QPoint(5, 8));
    QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(c->isChecked());
    QCOMPARE(clicks.size(), 1);
    // Pressed, left and released elsewhere: no toggle.
    QTest::mousePress(c, Qt::LeftButton, {}, QPoint(5, 8));
    pointAway();
    QTRY_VERIFY_WITH_TIMEOUT(!c->mouseIn(), 150);
    QTest::mouseRelease(c, Qt::LeftButton, {}, QPoint(300, 8));
    QVERIFY(c->isChecked());
    c->setFocus();
    QTest::keyClick(c, Qt::Key_Space);
    QVERIFY(!c->isChecked());
    // A click whose pointer the desktop never reported over the box (a
    // window the window manager placed, which the toolkit has not yet seen
    // move) toggles it all the same: the release is on it.
    pointAway();
    QTRY_VERIFY_WITH_TIMEOUT(!c->mouseIn(), 150);
    QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(c->isChecked());

    auto *r1 = new TFlatRadioButton(window_);
    auto *r2 = new TFlatRadioButton(window_);
    r1->setGeometry(10, 80, 121, 17);
    r2->setGeometry(10, 100, 121, 17);
    r1->show();
    r2->show();
    QTest::mousePress(r1, Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseRelease(r1, Qt::LeftButton, {}, QPoint(5, 40));  // outside
    QVERIFY(!r1->isChecked());
    QTest::mouseClick(r1, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(r1->isChecked());
    QTest::mouseClick(r2, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(r2->isChecked());
    QVERIFY(!r1->isChecked());
  }

  void skinBitmaps_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    for (const char *n : {"NEXT", "BACK", "OPEN", "BROWSER", "OK", "CANCEL", "RESET"})
      QTest::newRow(n) << QString::fromLatin1(n) << QSize(65, 25);
    QTest::newRow("HELP") << "HELP" << QSize(57, 25);
    QTest::newRow("EXIT") << "EXIT" << QSize(57, 25);
  }
  void skinBitmaps() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    Q_INIT_RESOURCE(skin);
    for (const QString &n : {name, name + u'1'}) {
      QFile f(QStringLiteral(":/skin/%1.bmp").arg(n));
      QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(n));
      const QByteArray header = f.read(30);
      QCOMPARE(header.left(2), QByteArray("BM"));
      QCOMPARE(static_cast<int>(static_cast<uchar>(header[28])), 24);  // bits per pixel
      QCOMPARE(QPixmap(f.fileName()).size(), size);
    }
    // The hover twin is the blue one.
    const QImage normal(QStringLiteral(":/skin/%1.bmp").arg(name));
    const QImage hover(QStringLiteral(":/skin/%1.bmp").arg(name + u'1'));
    const QColor n = normal.pixelColor(size.width() / 2, 21), h = hover.pixelColor(size.width() / 2, 21);
    QVERIFY(h.blue() > h.red() + 40);
    QVERIFY(std::abs(n.blue() - n.red()) < 20);
  }

  void imageButtonHoverSwap() {
    Q_INIT_RESOURCE(skin);
    auto *b = new TFlatButton(window_);
    b->setGeometry(10, 10, 65, 25);
    b->setSkin(QStringLiteral("NEXT"));
    b->show();
    const QImage normal = QPixmap(QStringLiteral(":/skin/NEXT.bmp")).toImage();
    const QImage hover = QPixmap(QStringLiteral(":/skin/NEXT1.bmp")).toImage();
    QVERIFY(normal != hover);
    QTest::mouseMove(b, QPoint(30, 12));
    QCOMPARE(b->glyph().toImage(), hover);
    QCOMPARE(QWidget::mouseGrabber(), b);
    QTest::mouseMove(b, QPoint(65, 25));  // one pixel beyond still counts
    QCOMPARE(b->glyph().toImage(), hover);
    QTest::mouseMove(b, QPoint(66, 12));
    QCOMPARE(b->glyph().toImage(), normal);
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    b->hoverAllowed = [] { return false; };
    QTest::mouseMove(b, QPoint(30, 12));
    QCOMPARE(b->glyph().toImage(), normal);
    QCOMPARE(QWidget::mouseGrabber(), b);  // but it holds the mouse
    b->releaseMouse();
  }

  void editLooks() {
    auto *a = new TFlatEdit(window_);
    auto *b = new TFlatEdit(window_);
    a->setGeometry(10, 150, 100, 17);
    b->setGeometry(10, 180, 100, 17);
    a->show();
    b->show();
    QCOMPARE(a->height(), a->fontMetrics().height() + 6);
    QFont big = a->font();
    big.setPixelSize(20);
    a->setFont(big);
    QCOMPARE(a->height(), QFontMetrics(big).height() + 6);
    window_->setFocus();
    QVERIFY(a->flatLook());
    a->setFocus();
    QVERIFY(!a->flatLook());
    QCOMPARE(a->palette().color(QPalette::Base), a->colorFocused());
    b->setFocus();
    QVERIFY(a->flatLook());
    QCOMPARE(a->palette().color(QPalette::Base), a->colorFlat());
  }

  void hintWindowShowsTheToolTip() {
    TFlatHint hint;
    auto *b = new TFlatButton(window_);
    b->setGeometry(10, 10, 60, 25);
    b->setToolTip(QStringLiteral("Click to continue"));
    b->show();
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), b->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(b, &help);
    QVERIFY(hint.window()->isVisible());
    QCOMPARE(hint.window()->text(), QStringLiteral("Click to continue"));
    QCOMPARE(hint.window()->size(), flat::hintSize(QStringLiteral("Click to continue"), hint.Font, 200));
    QCOMPARE(hint.window()->pos(),
             flat::hintPosition(b->mapToGlobal(QPoint(5, 5)), b->screen()->geometry(), hint.window()->size()));
    QTest::mousePress(b, Qt::RightButton, {}, QPoint(5, 5));
    QVERIFY(!hint.window()->isVisible());
  }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
