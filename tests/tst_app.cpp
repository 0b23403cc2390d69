#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

#include <deque>
#include <limits>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QUrl>
#include <QStyleHints>
#include <QtTest>

#include "AboutWindow.h"
#include "AppFixture.h"
#include "BreakpointSplitWorker.h"
#include "CommandLine.h"
#include "FileName.h"
#include "HelpWindow.h"
#include "MainWindow.h"
#include "ManualClock.h"
#include "Marks.h"
#include "OffsetDialog.h"
#include "ProgressWindow.h"
#include "SilenceDialog.h"
#include "SizeSplitWorker.h"
#include "StreamFacts.h"
#include "TestSupport.h"
#include "TimeSplitWorker.h"

// A stored place that is not there.
constexpr int kNone = std::numeric_limits<int>::min();

class TestApp : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  QTemporaryDir work_;
  FakePlatform *fake_ = nullptr;

  void start(const QVariantMap &stored = {}) {
    fake_ = startProgram(stored);
    QVERIFY(QTest::qWaitForWindowActive(Form1));
  }
  void stop() { stopProgram(); }

  QVariant stored(const QString &name) {
    QSettings s(QStringLiteral("Velmora"), QStringLiteral("Tranchette"));
    return s.value(name);
  }

  void next(const QString &source, TFlatRadioButton *method) {
    Form1->Edit1->setText(source);
    click(method);
    click(Form1->butNext);
  }

  // What a program prints, where it ends with status 0.
  static std::optional<QString> run(const QString &program, const QStringList &arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
  }

  // A copy of a test MP3 in the work folder, which is also the current folder.
  QString copyOf(const QString &name) {
    const QString path = QDir::current().filePath(name);
    QFile::remove(path);
    QFile::copy(media(name), path);
    return path;
  }

  // The list's frames and the titles beside them.
  static QString listed() {
    QStringList frames;
    for (int i = 0; i < Form1->ListBox->count(); ++i) frames << Form1->ListBox->item(i)->text();
    return frames.join(u' ');
  }
  static QString titled() {
    QStringList titles;
    for (int i = 0; i < Form1->ListBox->count(); ++i) titles << Form1->ListBox->item(i)->data(kTitleRole).toString();
    return titles.join(u'|');
  }
  // The program's own questions, answered `yes` from here on; their texts.
  QStringList asked_;
  void answer(bool yes) {
    fake_->dialogAnswer = [this, yes](QDialog *d) {
      asked_ << d->findChild<QLabel *>()->text();
      return yes;
    };
  }
  // The breakpoint page of a copy of chapters.mp3, its chapters in the list:
  // 0 "Opening", 767 "Middle: ü Ω", 1570 "End" (all by "Reader"), 2095.
  void openChapters() {
    start();
    asked_.clear();
    answer(false);
    next(copyOf(QStringLiteral("chapters.mp3")), Form1->RadioButton1);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    Form1->ImportChapters->trigger();
    QCOMPARE(listed(), QStringLiteral("0 767 1570 2095"));
  }

 private slots:
  void initTestCase() {
    isolateSettings(settingsDir_);
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
  }
  // Every test works in a fresh current folder.
  void init() {
    static int n = 0;
    const QString folder = work_.filePath(QString::number(++n));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
  }
  void cleanup() {
    stop();
    setPlatform(nullptr);
    qputenv("TRANCHETTE_AUDIO_OUTPUT", "silent");
  }

  void firstStartOpensCentredWithMethod1() {
    start();
    QCOMPARE(Form1->size(), QSize(539, 325));
    QVERIFY(Form1->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(Form1->windowTitle(), QStringLiteral("Tranchette "));
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    QVERIFY(Form1->RadioButton1->isChecked());
    const QRect screen = Form1->screen()->geometry();
    QCOMPARE(Form1->pos(), QPoint((screen.width() - 539) / 2, (screen.height() - 325) / 2));
    QCOMPARE(Form1->Offset, 200);
    QCOMPARE(Form1->FrameCorrection, 0);
    QVERIFY(fake_->messages.isEmpty());
    // Every window shows the program's icon, from 16 to 256 pixels.
    QCOMPARE(Form3->windowIcon().availableSizes().constFirst(), QSize(16, 16));
    QCOMPARE(Form1->windowIcon().availableSizes().constLast(), QSize(256, 256));
  }

  void layoutIsAsDrawn_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("page control") << "PageControl1" << QRect(152, 24, 369, 249) << "";
    QTest::newRow("source box") << "Edit1" << QRect(16, 48, 265, 17) << "";
    QTest::newRow("browse") << "butBrowser" << QRect(288, 48, 65, 25) << "";
    QTest::newRow("method 1") << "RadioButton1" << QRect(16, 128, 201, 17) << "Method 1  (by selections)";
    QTest::newRow("method 2") << "RadioButton2" << QRect(16, 152, 169, 17) << "Method 2  (by time)";
    QTest::newRow("method 3") << "RadioButton3" << QRect(16, 176, 169, 17) << "Method 3  (by size)";
    QTest::newRow("exact") << "chkExact" << QRect(16, 200, 185, 17) << "Exact cuts (on frames, gapless)";
    QTest::newRow("help") << "butHelp" << QRect(176, 288, 65, 25) << "";
    QTest::newRow("back") << "butBack" << QRect(280, 288, 65, 25) << "";
    QTest::newRow("next") << "butNext" << QRect(352, 288, 65, 25) << "";
    QTest::newRow("exit") << "butExit" << QRect(464, 288, 57, 25) << "";
    QTest::newRow("close image") << "imgExit" << QRect(515, -1, 15, 23) << "";
    QTest::newRow("length") << "editLength" << QRect(16, 48, 105, 17) << "60";
    QTest::newRow("size") << "editSize" << QRect(16, 48, 105, 17) << "1000";
    QTest::newRow("join 2") << "chkJoin2" << QRect(16, 136, 137, 17) << "Create \"Join\" Batch File";
    QTest::newRow("list") << "ListBox" << QRect(16, 104, 97, 97) << "";
    QTest::newRow("add point") << "butAddPoint" << QRect(272, 104, 89, 19) << "&Add a breakpoint";
    QTest::newRow("output 1") << "editSavePath" << QRect(120, 184, 233, 17) << "Split-%track%.mp3";
    QTest::newRow("output 3") << "editSavePath3" << QRect(16, 112, 249, 17) << "Split-%track%.mp3";
  }
  void layoutIsAsDrawn() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    start();
    auto *w = Form1->findChild<QWidget *>(name);
    QVERIFY(w);
    if (auto *edit = qobject_cast<TFlatEdit *>(w))  // edit boxes fit their font
      geometry.setHeight(edit->fontMetrics().height() + 6);
    QCOMPARE(w->geometry(), geometry);
    if (auto *b = qobject_cast<QAbstractButton *>(w)) QCOMPARE(b->text(), text);
    if (auto *e = qobject_cast<QLineEdit *>(w)) QCOMPARE(e->text(), text);
    QCOMPARE(Form1->Slider->geometry(), QRect(24, 14, 330, 40));
    QCOMPARE(Form1->Slider->parentWidget(), Form1->TabSheet3);
    QCOMPARE(Form1->Edit1->toolTip(), QStringLiteral("Input an MP3 file with full path"));
    QCOMPARE(Form1->butNext->toolTip(), QStringLiteral("Click to continue"));
  }

  // At any scale (the tests run at 1x, and at 2x on a real display, under a
  // window manager that places the window too): the window whole on the
  // screen whatever place was stored, the skin drawn for the screen's
  // density, not blown up from 1x, the title strip's name whole in its
  // middle, and the place stored at the end where the window stands, in
  // pixels of the layout.
  void sharpAndOnScreenAtAnyScale_data() {
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("left");
    QTest::newRow("far off every screen") << 5000 << -4000;
    // 640 pixels of the layout wide at 2x: a place from a session at 1x.
    QTest::newRow("past the right edge at 2x") << 120 << 110;
    // The first start: centred before it is shown, or the window manager
    // and the program cross, and the toolkit takes the window for one at 0,0.
    QTest::newRow("nothing stored") << kNone << kNone;
  }
  void sharpAndOnScreenAtAnyScale() {
    QFETCH(int, top);
    QFETCH(int, left);
    const QVariantMap place =
        top == kNone ? QVariantMap{} : QVariantMap{{"Top", top}, {"Left", left}, {"Offset", 200}, {"Method", 1}};
    const bool display = QGuiApplication::platformName() == QStringLiteral("xcb");
    QProcess wm;
    if (display) {
      wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
      QVERIFY(wm.waitForStarted());
      QTRY_VERIFY(run(QStringLiteral("wmctrl"), {QStringLiteral("-m")}).has_value());
    }
    const auto endWm = qScopeGuard([&] {
      wm.terminate();
      wm.waitForFinished(5000);
    });
    start(place);
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    QTRY_VERIFY2(Form1->screen()->availableGeometry().contains(Form1->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2").arg(Form1->x()).arg(Form1->y())));
    const qreal dpr = Form1->devicePixelRatioF();
    for (QWidget *skinned : std::initializer_list<QWidget *>{Form1->butNext, Form1->Image1}) {
      const QImage drawn = skinned->grab().toImage();
      QCOMPARE(drawn.size(), skinned->size() * dpr);
      if (dpr < 2) continue;
      // A 1x bitmap blown up fills every 2x2 block with one colour.
      int mixed = 0;
      for (int y = 0; y + 1 < drawn.height(); y += 2)
        for (int x = 0; x + 1 < drawn.width(); x += 2)
          mixed += drawn.pixel(x, y) != drawn.pixel(x + 1, y) || drawn.pixel(x, y) != drawn.pixel(x, y + 1) ||
                   drawn.pixel(x, y) != drawn.pixel(x + 1, y + 1);
      QVERIFY2(mixed > drawn.width() / 2, qPrintable(skinned->objectName()));
    }
    // The name's dark pixels: clear of every edge, as far from the left as
    // from the right, and as wide as the 1x strip's name, twice over at 2x.
    auto darkPixels = [](const QImage &img) {
      QRect r;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          if (qGray(img.pixel(x, y)) < 128) r |= QRect(x, y, 1, 1);
      return r;
    };
    const QImage title = Form1->Image1->grab().toImage();
    const QRect name = darkPixels(title);
    const QString where = QStringLiteral("the name at %1,%2 %3x%4 of %5x%6")
                              .arg(name.x())
                              .arg(name.y())
                              .arg(name.width())
                              .arg(name.height())
                              .arg(title.width())
                              .arg(title.height());
    QVERIFY2(name.top() > 0 && name.bottom() < title.height() - 1, qPrintable(where));
    QVERIFY2(std::abs(name.left() - (title.width() - 1 - name.right())) <= 2 * dpr, qPrintable(where));
    const QRect at1x = darkPixels(QImage(QStringLiteral(":/skin/TITLE.bmp")));
    QVERIFY2(at1x.width() > 50, qPrintable(QString::number(at1x.width())));
    QVERIFY2(std::abs(name.width() - at1x.width() * dpr) <= 2 * dpr, qPrintable(where));
    // Where the window stands, as the display has it (in its own pixels).
    // Whether the window manager and the program cross each other depends
    // on the moment: on a display, a few starts from the same place.
    for (int round = 0; round < (display ? 4 : 1); ++round) {
      if (round > 0) {
        start(place);
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
      }
      QPoint shown = Form1->pos();
      if (display) {
        QTest::qWait(500);  // the window manager done placing it
        const auto geometry = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                              QStringLiteral("--shell"), QString::number(Form1->winId())});
        QVERIFY(geometry);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("X=(-?\\d+)\\s+Y=(-?\\d+)")).match(*geometry);
        QVERIFY2(m.hasMatch(), qPrintable(*geometry));
        shown = QPoint(qRound(m.captured(1).toInt() / dpr), qRound(m.captured(2).toInt() / dpr));
        // Where the toolkit has it too: what it centres message boxes over.
        QCOMPARE(Form1->mapToGlobal(QPoint(0, 0)), shown);
      }
      stop();
      QCOMPARE(QPoint(stored(QStringLiteral("Left")).toInt(), stored(QStringLiteral("Top")).toInt()), shown);
    }
  }

  // Every text of every window shows whole, in whatever sans font the
  // desktop has (the tests run with the fonts the layout was drawn for, and
  // without them): none is cut short, none overlaps another.
  void everyTextShowsWhole() {
    start();
    QStringList problems;
    for (QWidget *window : std::initializer_list<QWidget *>{Form1, Form3, Form7, frmAdjust}) {
      struct Text {
        QWidget *widget;
        QRect drawn;  // where its text is, in its parent
      };
      QList<Text> texts;
      for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->window() != window) continue;
        const QFontMetrics fm(w->font());
        QString text;
        int before = 0, after = 0;  // room the widget keeps beside its text
        if (auto *label = qobject_cast<QLabel *>(w); label && !qobject_cast<TImage *>(w)) {
          text = label->text();
        } else if (auto *check = qobject_cast<TFlatCheckBase *>(w)) {
          text = check->text();
          before = 16;
          after = 1;
        } else if (auto *button = qobject_cast<TFlatButton *>(w)) {
          text = button->text();
          before = after = 1;
        }
        if (text.isEmpty() || w->isHidden()) continue;
        const QSize need = fm.boundingRect(QRect(), Qt::TextShowMnemonic, text).size();
        const QString name = window->objectName() + u'.' + w->objectName();
        if (need.width() > w->width() - before - after || fm.height() > w->height())
          problems << QStringLiteral("%1 \"%2\" needs %3x%4, has %5x%6")
                          .arg(name, text)
                          .arg(need.width() + before + after)
                          .arg(fm.height())
                          .arg(w->width())
                          .arg(w->height());
        texts.append({w, QRect(w->geometry().topLeft() + QPoint(before, 0), QSize(need.width(), w->height()))});
      }
      for (qsizetype i = 0; i < texts.size(); ++i)
        for (qsizetype j = i + 1; j < texts.size(); ++j)
          if (texts[i].widget->parentWidget() == texts[j].widget->parentWidget() &&
              texts[i].drawn.intersects(texts[j].drawn))
            problems << QStringLiteral("%1 and %2 overlap").arg(texts[i].widget->objectName(), texts[j].widget->objectName());
    }
    QVERIFY2(problems.isEmpty(), qPrintable(QFontInfo(Form1->font()).family() + u'\n' + problems.join(u'\n')));
  }

  void storedSettingsAreApplied_data() {
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<bool>("centred");
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("correction");
    QTest::newRow("all four") << QVariantMap{{"Top", 40}, {"Left", 30}, {"Offset", 250}, {"Method", 2}} << false << 2
                              << 50;
    QTest::newRow("method 3") << QVariantMap{{"Top", 40}, {"Left", 30}, {"Offset", 200}, {"Method", 3}} << false << 3
                              << 0;
    QTest::newRow("method 0 checks none")
        << QVariantMap{{"Top", 40}, {"Left", 30}, {"Offset", 200}, {"Method", 0}} << false << 0 << 0;
    QTest::newRow("method 4 checks none")
        << QVariantMap{{"Top", 40}, {"Left", 30}, {"Offset", 200}, {"Method", 4}} << false << 0 << 0;
    QTest::newRow("no offset: centred, method 1")
        << QVariantMap{{"Top", 40}, {"Left", 30}, {"Method", 3}} << true << 1 << 0;
    QTest::newRow("offset not an integer")
        << QVariantMap{{"Top", 40}, {"Left", 30}, {"Offset", "x"}, {"Method", 3}} << true << 1 << 0;
  }
  void storedSettingsAreApplied() {
    QFETCH(QVariantMap, settings);
    QFETCH(bool, centred);
    QFETCH(int, method);
    QFETCH(int, correction);
    start(settings);
    if (!centred) QCOMPARE(Form1->pos(), QPoint(30, 40));
    if (centred) QCOMPARE(Form1->pos().x(), (Form1->screen()->geometry().width() - 539) / 2);
    QCOMPARE(Form1->RadioButton1->isChecked(), method == 1);
    QCOMPARE(Form1->RadioButton2->isChecked(), method == 2);
    QCOMPARE(Form1->RadioButton3->isChecked(), method == 3);
    QCOMPARE(Form1->FrameCorrection, correction);
    QVERIFY(fake_->messages.isEmpty());
  }

  void settingsAreSavedAtTheEnd() {
    start({{"Top", 40}, {"Left", 30}, {"Offset", 250}, {"Method", 1}});
    Form1->move(60, 70);
    click(Form1->RadioButton3);
    stop();
    QCOMPARE(stored(QStringLiteral("Top")).toInt(), 70);
    QCOMPARE(stored(QStringLiteral("Left")).toInt(), 60);
    QCOMPARE(stored(QStringLiteral("Offset")).toInt(), 250);
    QCOMPARE(stored(QStringLiteral("Method")).toInt(), 3);
  }

  // "Exact" came after the four values: missing, it reads as 0 and the
  // others still count; it is stored at the end like them.
  void exactIsAFifthStoredValue_data() {
    QTest::addColumn<QVariant>("exact");
    QTest::addColumn<bool>("checked");
    QTest::newRow("missing") << QVariant() << false;
    QTest::newRow("0") << QVariant(0) << false;
    QTest::newRow("1") << QVariant(1) << true;
    QTest::newRow("not a number") << QVariant(QStringLiteral("x")) << false;
  }
  void exactIsAFifthStoredValue() {
    QFETCH(QVariant, exact);
    QFETCH(bool, checked);
    QVariantMap settings{{"Top", 40}, {"Left", 30}, {"Offset", 250}, {"Method", 2}};
    if (exact.isValid()) settings.insert(QStringLiteral("Exact"), exact);
    start(settings);
    QCOMPARE(Form1->chkExact->isChecked(), checked);
    QVERIFY(Form1->RadioButton2->isChecked());
    QCOMPARE(Form1->Offset, 250);
    click(Form1->chkExact);
    stop();
    QCOMPARE(stored(QStringLiteral("Exact")).toInt(), checked ? 0 : 1);
    QCOMPARE(stored(QStringLiteral("Method")).toInt(), 2);
  }

  // The window's exact cuts are the CLI's, byte for byte, join files included.
  void exactSplitFromTheWindowIsTheClis() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 2}, {"Exact", 1}});
    const QString source = copyOf(QStringLiteral("vbr-xing.mp3"));
    Form1->Edit1->setText(source);
    click(Form1->butNext);
    Form1->editLength->setText(QStringLiteral("2.5"));
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread2, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QVERIFY(fake_->messages.isEmpty());

    const QString window = QDir::currentPath();
    QDir().mkpath(QStringLiteral("cli"));
    QProcess cli;
    cli.setWorkingDirectory(QStringLiteral("cli"));
    cli.start(qEnvironmentVariable("TRANCHETTE_CLI"), {"time", "2.5", "--exact", "--join", "-q", source});
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 0);
    const QStringList written = QDir(QStringLiteral("cli")).entryList(QDir::Files, QDir::Name);
    QCOMPARE(written.size(), 6);  // four pieces and two join files
    for (const QString &name : written)
      QVERIFY2(readAll(QDir(window).filePath(name)) == readAll(QDir(QStringLiteral("cli")).filePath(name)),
               qPrintable(name));
  }

  void noMethodCheckedStoresNoMethod() {
    start({{"Top", 40}, {"Left", 30}, {"Offset", 200}, {"Method", 0}});
    Form1->Edit1->setText(media(QStringLiteral("cbr-info.mp3")));
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    QCOMPARE(Form1->model().source(), media(QStringLiteral("cbr-info.mp3")));
    Form1->move(5, 6);
    stop();
    QCOMPARE(stored(QStringLiteral("Top")).toInt(), 6);
    QCOMPARE(stored(QStringLiteral("Method")).toInt(), 0);  // left as it was
  }

  void aSettingsStoreThatCannotBeCreatedIsReported() {
    const QString folder = settingsDir_.filePath(QStringLiteral("Velmora"));
    QDir(folder).removeRecursively();
    writeFile(folder, "in the way");
    setApplicationErrorHandler(nullptr);
    auto fake = std::make_unique<FakePlatform>();
    fake_ = fake.get();
    setPlatform(std::move(fake));
    Form1 = new TForm1;
    QFile::remove(folder);
    QCOMPARE(fake_->messages.size(), 1);
    QCOMPARE(fake_->messages[0].caption, QStringLiteral("Tranchette"));
    QCOMPARE(fake_->messages[0].icon, Platform::Icon::Error);
    QVERIFY(!Form1->RadioButton1->isChecked() && !Form1->RadioButton2->isChecked() &&
            !Form1->RadioButton3->isChecked());
    QCOMPARE(Form1->Offset, 200);
  }

  void nextWithoutASourceAsksForOne() {
    start();
    fake_->fileAnswers.push_back(media(QStringLiteral("cbr-info.mp3")));
    click(Form1->butNext);
    QCOMPARE(fake_->messages.size(), 1);
    QCOMPARE(fake_->messages[0].text, QStringLiteral("You should select an MP3 file first."));
    QCOMPARE(fake_->messages[0].caption, QStringLiteral("Note"));
    QCOMPARE(fake_->messages[0].icon, Platform::Icon::Information);
    QCOMPARE(fake_->lastDialogTitle, QStringLiteral("Select a MP3 file"));
    QCOMPARE(Form1->Edit1->text(), QDir::toNativeSeparators(media(QStringLiteral("cbr-info.mp3"))));
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    // The confirmed file's folder is now the current one.
    QCOMPARE(QDir::currentPath(), QFileInfo(media(QStringLiteral("cbr-info.mp3"))).absolutePath());

    // Cancelling keeps what the box holds, a name typed by hand included.
    Form1->Edit1->setText(QStringLiteral("typed by hand"));
    click(Form1->butBrowser);
    QCOMPARE(Form1->Edit1->text(), QStringLiteral("typed by hand"));
  }

  void cancellingTheOpenDialogKeepsTheSource() {
    start();
    Form1->Edit1->setText(QStringLiteral("typed"));
    click(Form1->butBrowser);
    QCOMPARE(Form1->Edit1->text(), QStringLiteral("typed"));
    // The image button held the mouse while the pointer was over it, and let
    // go of it before the dialog opened.
    QCOMPARE(fake_->fileDialogs, 1);
    QVERIFY(!fake_->grabbedDuringDialog);
  }

  void method1EntryPreparesThePreview() {
    audio::ManualClock::start();
    const auto realTime = qScopeGuard([] { audio::ManualClock::stop(); });
    start();
    next(media(QStringLiteral("cbr-info.mp3")), Form1->RadioButton1);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    QCOMPARE(Form1->model().frames(), 384);
    QCOMPARE(Form1->model().totalTimeMs(), 10000);
    QCOMPARE(Form1->Slider->maximum(), 384);
    QCOMPARE(Form1->Slider->tickInterval(), 38);
    QCOMPARE(Form1->ListBox->count(), 1);
    QCOMPARE(Form1->ListBox->item(0)->text(), QStringLiteral("0"));
    QCOMPARE(Form1->editSavePath->text(), QStringLiteral("cbr-info-%track%.mp3"));
    QCOMPARE(Form1->model().joinName(), QStringLiteral("cbr-info"));
    audio::ManualClock::play(*Form1->XPlayer, 1000);  // playing
    QCOMPARE(Form1->labFrame->text(), QStringLiteral("39"));

    click(Form1->butBack);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    QCOMPARE(Form1->ListBox->count(), 0);
    click(Form1->butNext);
    QCOMPARE(Form1->ListBox->count(), 1);
  }

  void method2And3Entries() {
    start();
    next(media(QStringLiteral("vbr-xing.mp3")), Form1->RadioButton3);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet4);
    QCOMPARE(Form1->model().frames(), 0);
    QCOMPARE(Form1->model().totalTimeMs(), 0);
    QCOMPARE(Form1->editSavePath3->text(), QStringLiteral("vbr-xing-%track%.mp3"));
    click(Form1->butBack);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    click(Form1->RadioButton2);
    QVERIFY(!Form1->RadioButton3->isChecked());
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet2);
    QCOMPARE(Form1->model().totalTimeMs(), 10000);
    QCOMPARE(Form1->model().frames(), 384);
    QCOMPARE(Form1->editSavePath1->text(), QStringLiteral("vbr-xing-%track%.mp3"));
  }

  // A source that cannot be read, or holds no MPEG audio, gets a Note and
  // keeps page 1, whatever the method.
  void aSourceThatCannotServeGetsANote_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("reason");  // empty: the page is entered
    const QString text = media(QStringLiteral("text.mp3"));
    QTest::newRow("missing, method 1") << QStringLiteral("missing.mp3") << 1 << "the file does not exist";
    QTest::newRow("missing, method 3") << QStringLiteral("missing.mp3") << 3 << "the file does not exist";
    QTest::newRow("blanks are a name") << QStringLiteral("   ") << 3 << "the file does not exist";
    QTest::newRow("folder, method 3") << QStringLiteral(".") << 3 << "it is a folder";
    QTest::newRow("text, method 1") << text << 1 << "not an MPEG audio file";
    QTest::newRow("text, method 2") << text << 2 << "not an MPEG audio file";
    QTest::newRow("empty, method 2") << QStringLiteral("empty.mp3") << 2 << "the file is empty";
    QTest::newRow("text, method 3") << text << 3 << "not an MPEG audio file";
    QTest::newRow("MPEG audio, method 3") << media(QStringLiteral("cbr-info.mp3")) << 3 << "";
    // Refused at once: opening a FIFO without a writer would wait for ever.
    QTest::newRow("FIFO, method 2") << QStringLiteral("fifo.mp3") << 2 << "it is a FIFO, not a regular file";
    QTest::newRow("FIFO, method 3") << QStringLiteral("fifo.mp3") << 3 << "it is a FIFO, not a regular file";
  }
  void aSourceThatCannotServeGetsANote() {
    QFETCH(QString, source);
    QFETCH(int, method);
    QFETCH(QString, reason);
    writeFile(QStringLiteral("empty.mp3"), {});
    QCOMPARE(::mkfifo("fifo.mp3", 0600), 0);
    start();
    TFlatRadioButton *radios[] = {Form1->RadioButton1, Form1->RadioButton2, Form1->RadioButton3};
    next(source, radios[method - 1]);
    if (reason.isEmpty()) {
      QVERIFY(fake_->messages.isEmpty());
      QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet4);
      return;
    }
    QCOMPARE(fake_->messages.size(), 1);
    QCOMPARE(fake_->messages[0].text, QStringLiteral("The file \"%1\" cannot be split: %2.").arg(source, reason));
    QCOMPARE(fake_->messages[0].caption, QStringLiteral("Note"));
    QCOMPARE(fake_->messages[0].icon, Platform::Icon::Information);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    QVERIFY(!Form1->XPlayer->isStarted());
    QCOMPARE(Form1->model().joinName(), QString());
    QCOMPARE(Form1->ListBox->count(), 0);
  }

  // The second click of a double click on Next lands on the page just entered.
  void aDoubleClickOnNextDoesNotSplit() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 3}});
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(400);
    Form1->Edit1->setText(copyOf(QStringLiteral("cbr-info.mp3")));
    click(Form1->butNext);
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet4);
    QVERIFY(!Form1->SplitThread3);
    click(Form1->butBack);  // a page change too
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    QTest::qWait(450);
    click(Form1->butNext);
    QTest::qWait(450);
    click(Form1->butNext);
    QVERIFY(Form1->SplitThread3);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QVERIFY(QFileInfo::exists(QStringLiteral("cbr-info-001.mp3")));
  }

  // A name that is not UTF-8, as the system allows: from the command line
  // through the page entry and the split to pieces named after its bytes.
  void aNameThatIsNotUtf8IsSplit() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 2}});
    const QByteArray bytes("caf\xe9 live.mp3");
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("copy.mp3")));
    QCOMPARE(::rename("copy.mp3", bytes.constData()), 0);
    Form1->takeSource(decodeFileName(bytes));
    click(Form1->butNext);
    QVERIFY2(fake_->messages.isEmpty(), qPrintable(fake_->messages.value(0).text));
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet2);
    QCOMPARE(Form1->model().totalTimeMs(), 10000);
    Form1->editLength->setText(QStringLiteral("4"));
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread2, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QVERIFY2(fake_->messages.isEmpty(), qPrintable(fake_->messages.value(0).text));
    struct stat st {};
    QCOMPARE(::stat("caf\xe9 live-003.mp3", &st), 0);
  }

  // Given to the program or dropped, a file is chosen as in the Open
  // dialog: its folder becomes the current one, so that the pieces land
  // beside it, and the output box's hint names that folder.
  void aFileGivenToTheProgramIsTheSource() {
    start();
    const QString home = QDir::currentPath();
    QDir().mkpath(QStringLiteral("Music"));
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("Music/song.mp3")));
    Form1->takeSource(QStringLiteral("Music/song.mp3"));
    const QString music = QDir(home).filePath(QStringLiteral("Music"));
    QCOMPARE(Form1->Edit1->text(), QDir::toNativeSeparators(music + QStringLiteral("/song.mp3")));
    QCOMPARE(QDir::currentPath(), music);
    click(Form1->RadioButton3);
    click(Form1->butNext);
    QCOMPARE(Form1->editSavePath3->toolTip(), QStringLiteral("The pieces go to the folder ") + QDir::toNativeSeparators(music));
    Form1->editSize->setText(QStringLiteral("100"));
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QVERIFY(QFileInfo::exists(music + QStringLiteral("/song-001.mp3")));
    QVERIFY(QFileInfo::exists(music + QStringLiteral("/Join_song.sh")));
    QCOMPARE(QDir(home).entryList(QDir::Files), QStringList());
    click(Form1->butBack);
    QDir::setCurrent(home);

    // Dropped on the source box, the file reaches the window.
    QDir().mkpath(QStringLiteral("Drops"));
    const QString dropped = QDir(home).filePath(QStringLiteral("Drops/cbr-info.mp3"));
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), dropped));
    auto drop = [](QWidget *on, const QString &path) {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(path)});
      const QPoint at = on->rect().center();
      QWidget *target = on;
      while (target && !target->acceptDrops()) target = target->parentWidget();
      if (!target) return false;
      QDragEnterEvent enter(on->mapTo(target, at), Qt::CopyAction, &data, Qt::LeftButton, {});
      QApplication::sendEvent(target, &enter);
      if (!enter.isAccepted()) return false;
      QDropEvent release(QPointF(on->mapTo(target, at)), Qt::CopyAction, &data, Qt::LeftButton, {});
      QApplication::sendEvent(target, &release);
      return release.isAccepted();
    };
    QVERIFY(drop(Form1->Edit1, dropped));
    QCOMPARE(Form1->Edit1->text(), QDir::toNativeSeparators(dropped));
    QCOMPARE(QDir::currentPath(), QFileInfo(dropped).absolutePath());
    click(Form1->RadioButton3);
    click(Form1->butNext);
    QVERIFY(!drop(Form1->editSize, QDir::current().filePath(QStringLiteral("other.mp3"))));  // page 1 only
    QCOMPARE(Form1->Edit1->text(), QDir::toNativeSeparators(dropped));
  }

  // The window program answers the usual options without opening a window,
  // and takes a file whose name begins with "-" after "--".
  void commandLine() {
    for (const char *option : {"--help", "--version"}) {
      QProcess app;
      app.start(qEnvironmentVariable("TRANCHETTE_APP"), {QString::fromLatin1(option)});
      QVERIFY(app.waitForFinished(5000));
      QCOMPARE(app.exitCode(), 0);
      const QString out = QString::fromLocal8Bit(app.readAllStandardOutput());
      QVERIFY2(out.startsWith(option == QByteArray("--help") ? QStringLiteral("Usage: tranchette ")
                                                             : QStringLiteral("tranchette 1.")),
               qPrintable(out));
    }
    auto file = [](std::initializer_list<const char *> args) {
      std::vector<QByteArray> bytes{"tranchette"};
      for (const char *a : args) bytes.emplace_back(a);
      std::vector<char *> argv;
      for (QByteArray &b : bytes) argv.push_back(b.data());
      return fileArgument(static_cast<int>(argv.size()), argv.data());
    };
    QCOMPARE(file({"--", "-odd.mp3"}), QByteArray("-odd.mp3"));
    QCOMPARE(file({"song.mp3"}), QByteArray("song.mp3"));
    QCOMPARE(file({}), QByteArray());
    QCOMPARE(file({"--bogus", "song.mp3"}), std::nullopt);
  }

  // The desktop's own Open dialog: its filters shown by the names they are
  // given, and no file of the user's written but the program's settings.
  void theRealOpenDialog() {
    setPlatform(nullptr);
    TFileDialog open(TFileDialog::Kind::Open, QStringLiteral("Select a MP3 file"),
                     QStringLiteral("MP3 File (*.mp3)|*.mp3;*.mp2;*.mp1|All Files (*.*)|*.*"), QString());
    QStringList filters;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
      if (!dialog) return;
      auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
      for (int i = 0; types && i < types->count(); ++i) filters << types->itemText(i);
      dialog->reject();
    });
    poll.start(10);
    QVERIFY(!open.Execute(nullptr));
    QCOMPARE(filters, (QStringList{"MP3 File (*.mp3)", "All Files (*.*)"}));
    QCOMPARE(QDir(settingsDir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
  }

  void numberBoxesTakeDigitsOnly() {
    start();
    Form1->editLength->clear();
    QTest::keyClicks(Form1->editLength, QStringLiteral("1a2"));
    QCOMPARE(Form1->editLength->text(), QStringLiteral("12"));
    QTest::keyClicks(Form1->editLength, QStringLiteral("-. "));
    QTest::keyClick(Form1->editLength, Qt::Key_Return);
    QCOMPARE(Form1->editLength->text(), QStringLiteral("12"));
    QTest::keyClick(Form1->editLength, Qt::Key_Backspace);
    QCOMPARE(Form1->editLength->text(), QStringLiteral("1"));
    Form1->editSize->clear();
    QTest::keyClicks(Form1->editSize, QStringLiteral("x9,8"));
    QCOMPARE(Form1->editSize->text(), QStringLiteral("98"));
  }

  void outputBrowsers() {
    start();
    next(media(QStringLiteral("cbr-info.mp3")), Form1->RadioButton3);
    // Cancelled: the box keeps its template.
    click(Form1->butOutBro3);
    QCOMPARE(Form1->editSavePath3->text(), QStringLiteral("cbr-info-%track%.mp3"));
    QCOMPARE(fake_->lastDialogTitle, QStringLiteral("Input/Select  output MP3 files"));

    const QString here = QDir::currentPath();
    const QString out = QDir(here).filePath(QStringLiteral("Out.d/mix"));
    QDir().mkpath(QFileInfo(out).path());
    fake_->fileAnswers.push_back(out);  // the default extension is added
    click(Form1->butOutBro3);
    QCOMPARE(Form1->editSavePath3->text(), QDir::toNativeSeparators(out) + QStringLiteral("-%track%.mp3"));
    QCOMPARE(Form1->model().joinName(), QStringLiteral("cbr-info"));
    QCOMPARE(QDir::currentPath(), QFileInfo(out).absolutePath());
    QDir::setCurrent(here);

    // Cancelled after a name was chosen: the box keeps that name too.
    click(Form1->butOutBro3);
    QCOMPARE(Form1->editSavePath3->text(), QDir::toNativeSeparators(out) + QStringLiteral("-%track%.mp3"));
    QCOMPARE(Form1->editSavePath3->toolTip(), QStringLiteral("The pieces go to the folder ") + QDir::toNativeSeparators(QFileInfo(out).absolutePath()));
  }

  void nextOnAMethodPageNeedsANumberOtherThan0() {
    start();
    next(copyOf(QStringLiteral("cbr-info.mp3")), Form1->RadioButton2);
    Form1->editLength->setText(QStringLiteral("000"));
    click(Form1->butNext);
    QVERIFY(!Form1->SplitThread2);
    Form1->editLength->setText(QStringLiteral("pasted"));
    click(Form1->butNext);
    QVERIFY(!Form1->SplitThread2);
    QVERIFY(fake_->messages.isEmpty());
  }

  void splitBySizeFromTheWindow() {
    start({{"Top", 196}, {"Left", 196}, {"Offset", 200}, {"Method", 3}});
    const QString source = copyOf(QStringLiteral("cbr-info.mp3"));
    Form1->Edit1->setText(source);
    click(Form1->butNext);
    Form1->editSize->setText(QStringLiteral("50"));
    QSignalSpy shown(Form3->Progress, &QProgressBar::valueChanged);
    click(Form1->butNext);
    QVERIFY(Form1->SplitThread3);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(Form3->pos(), QPoint(346, 296));
    QVERIFY(!Form3->isVisible());
    QCOMPARE(Form3->Progress->maximum(), 3);
    QCOMPARE(Form3->Progress->value(), 3);
    QByteArray joined;
    for (const char *p : {"cbr-info-001.mp3", "cbr-info-002.mp3", "cbr-info-003.mp3", "cbr-info-004.mp3"})
      joined += readAll(QString::fromLatin1(p));
    QCOMPARE(readAll(QStringLiteral("cbr-info-001.mp3")).size(), 51200);
    QVERIFY(joined == readAll(source));
    QCOMPARE(readAll(QStringLiteral("Join_cbr-info.bat")),
             QByteArray("copy /b cbr-info-001.mp3+cbr-info-002.mp3+cbr-info-003.mp3+cbr-info-004.mp3 cbr-info.mp3"));
  }

  void splitByTimeFromTheWindow() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 2}});
    const QString source = copyOf(QStringLiteral("vbr-xing.mp3"));
    QFile::remove(QStringLiteral("Join_vbr-xing.bat"));
    Form1->Edit1->setText(source);
    click(Form1->butNext);
    // The split takes the playing time read on entering the page and does not
    // walk the file again: by now it holds no MPEG audio.
    writeFile(source, patternBytes(QFileInfo(source).size()));
    Form1->editLength->setText(QStringLiteral("4"));
    click(Form1->chkJoin2);  // no batch file
    QVERIFY(!Form1->chkJoin2->isChecked());
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread2, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    // 4 s of 10000 ms.
    const qint64 size = QFileInfo(source).size();
    const qint64 piece = size * 4000 / 10000;
    QCOMPARE(readAll(QStringLiteral("vbr-xing-001.mp3")).size(), piece);
    QCOMPARE(readAll(QStringLiteral("vbr-xing-003.mp3")).size(), size - 2 * piece);
    QVERIFY(!QFileInfo::exists(QStringLiteral("Join_vbr-xing.bat")));
    QCOMPARE(Form3->pos(), QPoint(160, 110));
  }

  void splitAtBreakpointsFromTheWindow() {
    start();
    const QString source = copyOf(QStringLiteral("cbr-noinfo.mp3"));
    next(source, Form1->RadioButton1);
    // The frame count read on entering the page serves: no second walk.
    writeFile(source, patternBytes(QFileInfo(source).size()));
    Form1->InsertBreakpoint(QStringLiteral("96"));
    Form1->InsertBreakpoint(QStringLiteral("192"));
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread1, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    const QByteArray bytes = readAll(source);  // 160496 bytes, 384 frames
    QVERIFY(readAll(QStringLiteral("cbr-noinfo-001.mp3")) == bytes.left(40124));
    QVERIFY(readAll(QStringLiteral("cbr-noinfo-002.mp3")) == bytes.mid(40124, 80248 - 40124));
    QVERIFY(!QFileInfo::exists(QStringLiteral("cbr-noinfo-003.mp3")));
    QVERIFY(!Form3->isVisible());
  }

  // The breakpoint list's searches: silences, the source's chapters, a cue
  // sheet chosen or dropped on the page. Their breakpoints join the list
  // with their titles, which the split gives its exact pieces; what cannot
  // be taken says why and leaves the list as it is.
  void breakpointsFoundForTheUser() {
    start();
    const QString source = copyOf(QStringLiteral("chapters.mp3"));
    Form1->chkExact->setChecked(true);
    next(source, Form1->RadioButton1);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    Form1->InsertBreakpoint(QStringLiteral("100"));
    const auto items = [] {
      QStringList list;
      for (int i = 0; i < Form1->ListBox->count(); ++i) list << Form1->ListBox->item(i)->text();
      return list;
    };
    const auto titles = [] {
      QStringList list;
      for (int i = 0; i < Form1->ListBox->count(); ++i) list << Form1->ListBox->item(i)->data(kTitleRole).toString();
      return list;
    };
    const QStringList before = items();

    // The dialog cancelled; then the defaults: seven pauses, seven breakpoints.
    Form1->FindSilences->trigger();
    QCOMPARE(fake_->dialogs, QStringList{QStringLiteral("Find Silences")});
    QCOMPARE(items(), before);
    fake_->dialogAnswer = [](QDialog *) { return true; };
    Form1->FindSilences->trigger();
    QCOMPARE(items().size(), before.size() + 8);  // and the last frame
    QVERIFY(items().contains(QStringLiteral("100")));
    QVERIFY(!Form3->isVisible());
    const QStringList withSilences = items();
    fake_->dialogAnswer = [](QDialog *d) {
      static_cast<TfrmSilences *>(d)->editLevel->setValue(-80);
      return true;
    };
    Form1->FindSilences->trigger();
    QVERIFY(fake_->messages.last().text.contains(QStringLiteral("has no silence below -80 dB")));
    QCOMPARE(items(), withSilences);

    // The chapters, with their titles.
    Form1->Deleteallbreakpoints1Click(nullptr);
    Form1->ImportChapters->trigger();
    QCOMPARE(titles(), (QStringList{QStringLiteral("Opening"), QStringLiteral("Middle: ü Ω"), QStringLiteral("End"), QString()}));
    const QStringList chapters = items();

    // A cue sheet with a fault: its line, and nothing changes. A good one,
    // dropped on the page, replaces no title that is there.
    writeFile(QStringLiteral("bad.cue"), "FILE \"chapters.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:99:00\n");
    fake_->fileAnswers.push_back(QDir::current().filePath(QStringLiteral("bad.cue")));
    Form1->ImportCueSheet->trigger();
    QVERIFY2(fake_->messages.last().text.contains(QStringLiteral("line 3: '00:99:00' is no time")),
             qPrintable(fake_->messages.last().text));
    QCOMPARE(items(), chapters);
    writeFile(QStringLiteral("chapters.cue"), "TRACK 01 AUDIO\r\n TITLE \"First\"\r\n INDEX 01 00:00:00\r\n"
                                              "TRACK 02 AUDIO\r\n TITLE \"Second\"\r\n INDEX 01 00:10:00\r\n");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QDir::current().filePath(QStringLiteral("chapters.cue")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form1, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form1, &dropped);
    QCOMPARE(items().size(), chapters.size() + 1);
    QCOMPARE(titles().first(), QStringLiteral("Opening"));
    QVERIFY(titles().contains(QStringLiteral("Second")));

    // The split names and tags its exact pieces by the titles.
    Form1->model().clearBreakpoints();
    Form1->ImportChapters->trigger();
    Form1->editSavePath->setText(QDir::current().filePath(QStringLiteral("%track% %title%.mp3")));
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread1, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QVERIFY(QFileInfo::exists(QStringLiteral("001 Opening.mp3")));
    QVERIFY(QFileInfo::exists(QStringLiteral("003 End.mp3")));
    const QByteArray middle = readAll(QStringLiteral("002 Middle_ ü Ω.mp3"));
    const QString title = QStringLiteral("Middle: ü Ω");  // in UTF-16, as its version 2.3 tag takes it
    QVERIFY(middle.contains(QByteArray("\xFF\xFE") +
                            QByteArray(reinterpret_cast<const char *>(title.utf16()), title.size() * 2)));
  }

  // Method 1 opens a file on a guess from its first frame and reads the
  // frames meanwhile: a stream whose first frame does not tell its length
  // gets the count read, on the slider too, and a split asked for at once
  // cuts on the frames read, not on the guess.
  void aGuessedFrameCountGivesWayToTheFramesRead() {
    const std::string name = media(QStringLiteral("vbr-noxing.mp3")).toStdString();
    const auto guess = audio::guessStreamFacts(name);
    const std::int64_t frames = audio::scanWithLibmpg123(name).frames;
    QVERIFY(guess && guess->frames != frames);  // the case is worth testing
    start();
    const QString source = copyOf(QStringLiteral("vbr-noxing.mp3"));
    next(source, Form1->RadioButton1);
    QTRY_COMPARE(Form1->model().frames(), frames);
    QCOMPARE(Form1->Slider->maximum(), frames + Form1->FrameCorrection);
    click(Form1->butBack);

    // Next on the page before the frames were handed over (no event is
    // handled in between) waits for them.
    Form1->Edit1->setText(source);
    Form1->butNextClick(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    Form1->InsertBreakpoint(QStringLiteral("1000"));
    QThread::msleep(static_cast<unsigned long>(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50));
    Form1->butNextClick(Form1->butNext);
    QCOMPARE(Form1->model().frames(), frames);
    QSignalSpy done(Form1->SplitThread1, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    // The piece ends where frame 1000 begins.
    QCOMPARE(audio::readStreamFacts("vbr-noxing-001.mp3").frames, 1000);
  }

  // The breakpoints saved from the list's menu as a cue sheet, labels or a
  // frame list (by the name's extension), and read back into an empty list
  // from the menu: the same frames and titles (a frame list has none).
  // chapters.mp3's frame f begins at (1152 f - 1105) / 44100 s: 767 at
  // 20.010862 (cue 00:20:01), 1570 at 40.987188 (00:40:74), 2095 at
  // 54.701474.
  void breakpointsSavedAndTakenBack_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("titles");  // read back
    QTest::newRow("cue sheet") << "marks.cue"
                               << QByteArray("FILE \"chapters.mp3\" MP3\n  TRACK 01 AUDIO\n    TITLE \"Opening\"\n"
                                             "    PERFORMER \"Reader\"\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                                             "    TITLE \"Middle: \xC3\xBC \xCE\xA9\"\n    PERFORMER \"Reader\"\n"
                                             "    INDEX 01 00:20:01\n  TRACK 03 AUDIO\n    TITLE \"End\"\n"
                                             "    PERFORMER \"Reader\"\n    INDEX 01 00:40:74\n")
                               << QStringLiteral("Opening|Middle: ü Ω|End|");
    QTest::newRow("labels") << "marks.txt"
                            << QByteArray("0.000000\t20.010862\tOpening\n20.010862\t40.987188\tMiddle: \xC3\xBC \xCE\xA9\n"
                                          "40.987188\t54.701474\tEnd\n")
                            << QStringLiteral("Opening|Middle: ü Ω|End|");
    QTest::newRow("frame list") << "marks.csv" << QByteArray("0,767,1570,2095\n") << QStringLiteral("|||");
  }
  void breakpointsSavedAndTakenBack() {
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(QString, titles);
    openChapters();
    const QString path = QDir::current().filePath(name);
    fake_->fileAnswers.push_back(path);
    fake_->menuAnswers.push_back(QStringLiteral("Save Breakpoints..."));
    Form1->ListBoxMouseDown(Form1->ListBox, Qt::LeftButton);
    QCOMPARE(fake_->lastDialogTitle, QStringLiteral("Save the breakpoints"));
    QCOMPARE(readAll(path), file);
    QVERIFY(fake_->messages.isEmpty());
    QVERIFY(asked_.isEmpty());
    QVERIFY(!Form1->model().unused());  // saved: Back asks nothing before they go

    Form1->Deleteallbreakpoints1Click(nullptr);
    fake_->fileAnswers.push_back(path);
    (name.endsWith(u".cue") ? Form1->ImportCueSheet : Form1->ImportLabels)->trigger();
    QVERIFY(fake_->messages.isEmpty());
    QCOMPARE(listed(), QStringLiteral("0 767 1570 2095"));
    QCOMPARE(titled(), titles);

    // Saved again over itself: asked first; No leaves it as it is.
    writeFile(path, "mine");
    fake_->fileAnswers.push_back(path);
    Form1->SaveBreakpoints->trigger();
    QCOMPARE(asked_, QStringList{path + QStringLiteral(" is there already. Replace it?")});
    QCOMPARE(fake_->dialogs, QStringList{QStringLiteral("Replace")});
    QCOMPARE(readAll(path), QByteArray("mine"));
    fake_->fileAnswers.push_back(path);
    answer(true);
    Form1->SaveBreakpoints->trigger();
    QCOMPARE(readAll(path), file);
  }

  // Audacity's labels from the menu or dropped on the page: their starts
  // (and a region's end) with their texts; a file with a fault names its
  // line and leaves the list as it is; a name of another kind is not saved.
  void labelsFromTheMenuAndDropped() {
    openChapters();
    Form1->Deleteallbreakpoints1Click(nullptr);
    writeFile(QStringLiteral("bad.txt"), "0.000000\t0.000000\tA\n5.000000\t3.000000\tB\n");
    fake_->fileAnswers.push_back(QDir::current().filePath(QStringLiteral("bad.txt")));
    Form1->ImportLabels->trigger();
    QCOMPARE(fake_->lastDialogTitle, QStringLiteral("Import labels"));
    QCOMPARE(fake_->messages.last().text,
             QStringLiteral("Cannot take the labels %1: line 2: the label ends at 3.000 s, before it begins at 5.000 s. "
                            "The breakpoints stay as they are.")
                 .arg(QDir::current().filePath(QStringLiteral("bad.txt"))));
    QCOMPARE(listed(), QString());

    writeFile(QStringLiteral("song.txt"), "10.000000\t20.000000\tVerse\r\n\\\t100.000000\t3000.000000\r\n"
                                          "30.000000\t30.000000\tCaf\xE9\r\n");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QDir::current().filePath(QStringLiteral("song.txt")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form1, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form1, &dropped);
    QCOMPARE(fake_->messages.last().text, QStringLiteral("The labels are not UTF-8: they are read as Windows-1252."));
    QCOMPARE(listed(), QStringLiteral("0 384 767 1149 2095"));
    QCOMPARE(titled(), QStringLiteral("|Verse||Café|"));

    fake_->fileAnswers.push_back(QDir::current().filePath(QStringLiteral("marks.m3u")));
    Form1->SaveBreakpoints->trigger();
    QVERIFY(fake_->messages.last().text.endsWith(
        QStringLiteral("marks.m3u: name a cue sheet (.cue), Audacity labels (.txt) or a frame list (.csv).")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("marks.m3u")));
  }

  // Save as Chapters: a copy, not cut, with a chapter a piece and the
  // source's audio; its own chapters replaced, and said so. A file that is
  // there is replaced only when the user says Yes; the source never.
  void aCopyWithChapters() {
    openChapters();
    const QString source = Form1->model().source();
    const QByteArray before = readAll(source);
    Form1->model().removeBreakpoint(2);  // 1570
    const QString copy = QDir::current().filePath(QStringLiteral("with chapters.mp3"));
    fake_->fileAnswers.push_back(copy);
    fake_->menuAnswers.push_back(QStringLiteral("Save as Chapters..."));
    Form1->ListBoxMouseDown(Form1->ListBox, Qt::LeftButton);
    QCOMPARE(fake_->lastDialogTitle, QStringLiteral("Save a copy with chapters"));
    QVERIFY(!Form1->model().unused());
    QCOMPARE(fake_->messages.last().text,
             QStringLiteral("%1 holds 2 chapters, and the audio of %2 unchanged. The 3 chapters that %2 had are replaced.")
                 .arg(copy, source));
    QVERIFY(asked_.isEmpty());
    QString why;
    const auto read = found::chaptersOf(copy, *found::timelineOf(copy, &why));
    const std::vector<found::Marker> &chapters = std::get<found::Markers>(read).markers;
    QCOMPARE(chapters.size(), std::size_t{3});
    QCOMPARE(chapters[1].frame, 767);
    QCOMPARE(chapters[0].title, QStringLiteral("Opening"));
    QCOMPARE(chapters[1].title, QStringLiteral("Middle: ü Ω"));
    QCOMPARE(readAll(source), before);

    // Over a file that is there: No keeps it, Yes replaces it.
    const QByteArray written = readAll(copy);
    writeFile(copy, "mine");
    fake_->fileAnswers.push_back(copy);
    Form1->SaveAsChapters->trigger();
    QCOMPARE(asked_, QStringList{copy + QStringLiteral(" is there already. Replace it?")});
    QCOMPARE(readAll(copy), QByteArray("mine"));
    fake_->fileAnswers.push_back(copy);
    answer(true);
    Form1->SaveAsChapters->trigger();
    QVERIFY(readAll(copy) == written);

    // Over the source: refused, without a question.
    const int messages = static_cast<int>(fake_->messages.size());
    fake_->fileAnswers.push_back(source);
    Form1->SaveAsChapters->trigger();
    QCOMPARE(asked_.size(), 2);
    QCOMPARE(fake_->messages.size(), messages + 1);
    QCOMPARE(fake_->messages.last().text,
             QStringLiteral("%1 is the source itself: the chapters go into a copy of it, under another name.").arg(source));
    QCOMPARE(readAll(source), before);
  }

  // Thousands of found breakpoints go into the list in one insertion, not
  // one at a time with a repaint each (which took seconds for 2,000).
  void aSheetOfTenThousandTracksGoesInAtOnce() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 1}});
    Form1->Edit1->setText(copyOf(QStringLiteral("many-frames.mp3")));
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    QByteArray sheet = "FILE \"many-frames.mp3\" MP3\n";
    for (int k = 0; k < 10000; ++k) {
      const int at = 2 * k;  // in cue frames of 1/75 s
      sheet += QStringLiteral("TRACK %1 AUDIO\n TITLE \"T%1\"\n INDEX 01 %2:%3:%4\n")
                   .arg(k + 1)
                   .arg(at / 75 / 60, 2, 10, QLatin1Char('0'))
                   .arg(at / 75 % 60, 2, 10, QLatin1Char('0'))
                   .arg(at % 75, 2, 10, QLatin1Char('0'))
                   .toLatin1();
    }
    writeFile(QStringLiteral("many.cue"), sheet);
    fake_->fileAnswers.push_back(QDir::current().filePath(QStringLiteral("many.cue")));
    QSignalSpy inserted(Form1->ListBox->model(), &QAbstractItemModel::rowsInserted);
    Form1->ImportCueSheet->trigger();
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(Form1->ListBox->count(), 10001);  // and the end
    QCOMPARE(Form1->ListBox->item(9999)->data(kTitleRole).toString(), QStringLiteral("T10000"));
  }

  // Where the player cannot start, the page entry stops at the player, but
  // the frames are still read and the split still cuts on them.
  void withoutAPlayerTheSplitStillCutsOnTheFramesRead() {
    const std::int64_t frames = audio::scanWithLibmpg123(media(QStringLiteral("vbr-noxing.mp3")).toStdString()).frames;
    qputenv("TRANCHETTE_AUDIO_OUTPUT", "off");
    const auto restore = qScopeGuard([] { qputenv("TRANCHETTE_AUDIO_OUTPUT", "silent"); });
    start();
    const QString source = copyOf(QStringLiteral("vbr-noxing.mp3"));
    Form1->Edit1->setText(source);
    click(Form1->RadioButton1);
    QVERIFY_THROWS_EXCEPTION(EXaudioException, Form1->butNextClick(Form1->butNext));
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
    Form1->InsertBreakpoint(QStringLiteral("0"));
    Form1->InsertBreakpoint(QStringLiteral("1000"));
    QThread::msleep(static_cast<unsigned long>(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50));
    Form1->butNextClick(Form1->butNext);
    QVERIFY(Form1->SplitThread1);
    QCOMPARE(Form1->model().frames(), frames);
    QSignalSpy done(Form1->SplitThread1, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    // The entry stopped before the output name was set: the page's default.
    const QString piece = Form1->editSavePath->text().replace(QStringLiteral("%track%"), QStringLiteral("001"));
    QCOMPARE(audio::readStreamFacts(piece.toStdString()).frames, 1000);
  }

  // The progress window lets events through while a split runs; a second
  // worker's turn must still wait until the first split has ended.
  void aSecondSplitWaitsForTheFirst() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 3}});
    Form1->Edit1->setText(copyOf(QStringLiteral("cbr-info.mp3")));
    click(Form1->butNext);
    Form1->editSize->setText(QStringLiteral("50"));
    QStringList steps;  // the bar's value, and whether the window showed it
    connect(Form3->Progress, &QProgressBar::valueChanged, this,
            [&](int value) { steps << QString::number(value) + (Form3->isVisible() ? u'+' : u'-'); });
    Form1->butNextClick(nullptr);
    QPointer<QThread> first(Form1->SplitThread3);
    Form1->butNextClick(nullptr);
    QPointer<QThread> second(Form1->SplitThread3);
    QTRY_VERIFY(first.isNull() && second.isNull());
    // Each split empties the bar before the window shows it, then steps.
    QCOMPARE(steps.join(u' '), QStringLiteral("1+ 2+ 3+ 0- 1+ 2+ 3+"));
  }

  void aSplitWhoseWindowClosedFirstEndsQuietly() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 3}});
    Form1->Edit1->setText(copyOf(QStringLiteral("cbr-info.mp3")));
    click(Form1->butNext);
    Form1->butNextClick(nullptr);  // the worker waits for its turn...
    QPointer<QThread> worker(Form1->SplitThread3);
    stop();  // ...which comes after the windows are gone
    QTRY_VERIFY(worker.isNull());
    QVERIFY(!QFileInfo::exists(QStringLiteral("cbr-info-001.mp3")));
  }

  void aPieceThatCannotBeCreatedIsReported() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 3}});
    const QString source = copyOf(QStringLiteral("cbr-info.mp3"));
    Form1->Edit1->setText(source);
    click(Form1->butNext);
    Form1->editSize->setText(QStringLiteral("50"));  // three full pieces and a tail
    QDir().mkpath(QStringLiteral("cbr-info-002.mp3"));
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QDir().rmdir(QStringLiteral("cbr-info-002.mp3"));
    QCOMPARE(fake_->messages.size(), 1);
    QCOMPARE(fake_->messages[0].text,
             QStringLiteral("Cannot create file: cbr-info-002.mp3 !\r\n") +
                 QString::fromLocal8Bit(std::strerror(EISDIR)));
    QCOMPARE(fake_->messages[0].icon, Platform::Icon::None);
    QVERIFY(!Form3->isVisible());
    QVERIFY(!QFileInfo::exists(QStringLiteral("cbr-info-003.mp3")));
  }

  void backShowsItsHoverBitmapOnMethodPagesOnly() {
    start();
    const QImage back = QPixmap(QStringLiteral(":/skin/BACK.bmp")).toImage();
    const QImage back1 = QPixmap(QStringLiteral(":/skin/BACK1.bmp")).toImage();
    QTest::mouseMove(Form1->butBack, QPoint(30, 12));
    QCOMPARE(Form1->butBack->glyph().toImage(), back);
    QCOMPARE(QWidget::mouseGrabber(), Form1->butBack);
    QTest::mouseMove(Form1->butBack, QPoint(90, 12));
    next(media(QStringLiteral("cbr-info.mp3")), Form1->RadioButton3);
    // The button that holds the mouse sees the first move and lets it go.
    QTest::mouseMove(Form1->butBack, QPoint(31, 12));
    QTest::mouseMove(Form1->butBack, QPoint(30, 12));
    QCOMPARE(Form1->butBack->glyph().toImage(), back1);
    QTest::mouseMove(Form1->butBack, QPoint(-1, 12));
    QCOMPARE(Form1->butBack->glyph().toImage(), back);
    // Next restores its normal glyph first of all.
    QTest::mouseMove(Form1->butNext, QPoint(30, 12));
    QCOMPARE(Form1->butNext->glyph().toImage(), QPixmap(QStringLiteral(":/skin/NEXT1.bmp")).toImage());
    Form1->editSize->setText(QStringLiteral("0"));  // so that no split starts
    Form1->butNextClick(nullptr);
    QCOMPARE(Form1->butNext->glyph().toImage(), QPixmap(QStringLiteral(":/skin/NEXT.bmp")).toImage());
    Form1->butNext->releaseMouse();
  }

  void helpMenuAndHelpFile_data() {
    QTest::addColumn<bool>("viewer");
    QTest::newRow("the desktop shows help.chm") << true;
    QTest::newRow("no viewer: the help window") << false;
  }
  void helpMenuAndHelpFile() {
    QFETCH(bool, viewer);
    start();
    fake_->handlers = viewer;
    fake_->cursor = QPoint(321, 123);
    fake_->menuAnswers.push_back(QStringLiteral("Contents..."));
    QTest::mouseMove(Form1->butHelp, QPoint(30, 12));
    click(Form1->butHelp);
    QCOMPARE(fake_->menus, QList<QPoint>{QPoint(321, 123)});
    QCOMPARE(Form1->butHelp->glyph().toImage(), QPixmap(QStringLiteral(":/skin/HELP.bmp")).toImage());
    QCOMPARE(fake_->opened.size(), 1);
    QCOMPARE(fake_->opened[0],
             QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + QStringLiteral("/help.chm")));
    Form1->butHelp->releaseMouse();
    if (viewer) {
      QVERIFY(!Form1->HelpWindow);
      return;
    }
    // The first page, in a white window of the program's own; its links work
    // from the keyboard: Tab to the first one, Enter to follow it.
    THelpWindow *help = Form1->HelpWindow;
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->windowTitle(), QStringLiteral("Tranchette Help"));
    QCOMPARE(help->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(help->Browser->toPlainText().contains(QStringLiteral("cuts one MP3 file into smaller ones")));
    help->Browser->setFocus();
    QTest::keyClick(help->Browser, Qt::Key_Tab);
    QTest::keyClick(help->Browser, Qt::Key_Return);
    QCOMPARE(help->Browser->source(), QUrl(QStringLiteral("qrc:/help/method1.html")));
    QVERIFY(help->Browser->toPlainText().contains(QStringLiteral("Method 1")));
    // Its scroll bar's thumb shows on the white.
    help->resize(300, 200);
    QScrollBar *bar = help->Browser->verticalScrollBar();
    QTRY_VERIFY(bar->isVisible());
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    const QImage drawn = bar->grab().toImage();
    QVERIFY(!thumb.isEmpty());
    const QPoint groove(thumb.center().x(), thumb.bottom() + 20);
    QVERIFY(groove.y() < drawn.height() - 20);
    QVERIFY(qAbs(QColor(drawn.pixel(thumb.center())).lightness() - QColor(drawn.pixel(groove)).lightness()) > 10);
    // Escape closes it; Contents again shows the first page in the same window.
    QTest::keyClick(help->Browser, Qt::Key_Escape);
    QVERIFY(!help->isVisible());
    Form1->mnuContentsClick(nullptr);
    QCOMPARE(Form1->HelpWindow, help);
    QVERIFY(help->isVisible());
    QCOMPARE(help->Browser->source(), THelpWindow::FirstPage);
    help->close();
  }

  // Tab visits every control of the page and the button row in the layout's
  // order; the arrow keys and Space work the method buttons.
  void theKeyboardReachesEveryControl() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 2}});
    auto tabCycle = [] {
      QList<QWidget *> order;
      QWidget *first = QApplication::focusWidget();
      do {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget();
      } while (order.last() != first && order.size() < 20);
      return order;
    };
    Form1->Edit1->setFocus(Qt::TabFocusReason);
    QCOMPARE(tabCycle(), (QList<QWidget *>{Form1->butBrowser, Form1->RadioButton2, Form1->chkExact, Form1->butHelp,
                                           Form1->butBack, Form1->butNext, Form1->butExit, Form1->Edit1}));
    // Keyboard focus shows on an image button; a click's does not.
    Form1->butNext->setFocus(Qt::TabFocusReason);
    QVERIFY(Form1->butNext->look().focusCue);
    click(Form1->butBack);  // which does nothing on page 1
    QCOMPARE(QApplication::focusWidget(), Form1->butBack);
    QVERIFY(!Form1->butBack->look().focusCue);
    Form1->butBack->releaseMouse();

    Form1->RadioButton2->setFocus(Qt::TabFocusReason);
    QVERIFY(Form1->RadioButton2->look().focusCue);
    QTest::keyClick(Form1->RadioButton2, Qt::Key_Down);
    QVERIFY(Form1->RadioButton3->isChecked() && !Form1->RadioButton2->isChecked());
    QCOMPARE(QApplication::focusWidget(), Form1->RadioButton3);
    QTest::keyClick(Form1->RadioButton3, Qt::Key_Right);  // round to the first
    QVERIFY(Form1->RadioButton1->isChecked() && !Form1->RadioButton3->isChecked());
    QTest::keyClick(Form1->RadioButton1, Qt::Key_Up);
    QTest::keyClick(Form1->RadioButton3, Qt::Key_Left);
    QVERIFY(Form1->RadioButton2->isChecked());
    Form1->RadioButton1->setFocus(Qt::ShortcutFocusReason);  // focused, not checked
    QTest::keyClick(Form1->RadioButton1, Qt::Key_Space);
    QVERIFY(Form1->RadioButton1->isChecked() && !Form1->RadioButton2->isChecked());

    Form1->Edit1->setText(media(QStringLiteral("cbr-info.mp3")));
    QTest::keyClick(Form1->RadioButton1, Qt::Key_Down);
    Form1->butNext->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Form1->butNext, Qt::Key_Space);  // a key clicks the focused button
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet2);
    Form1->editLength->setFocus(Qt::TabFocusReason);
    QCOMPARE(tabCycle(), (QList<QWidget *>{Form1->editSavePath1, Form1->chkJoin2, Form1->butOutBro2, Form1->chkPauses,
                                           Form1->editPauseReach, Form1->butHelp, Form1->butBack, Form1->butNext,
                                           Form1->butExit, Form1->editLength}));
    QTest::keyClick(Form1->editLength, Qt::Key_Tab);
    QTest::keyClick(Form1->editSavePath1, Qt::Key_Tab);
    QVERIFY(Form1->chkJoin2->look().focusCue);
  }

  void aJoinBatchThatCannotBeWrittenIsReported() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 3}});
    Form1->Edit1->setText(copyOf(QStringLiteral("cbr-info.mp3")));
    click(Form1->butNext);
    Form1->editSize->setText(QStringLiteral("50"));
    QDir().mkpath(QStringLiteral("Join_cbr-info.bat"));  // in the batch's way
    click(Form1->butNext);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(fake_->messages.size(), 1);
    QCOMPARE(fake_->messages[0].text, QStringLiteral("Cannot write the file: Join_cbr-info.bat !\r\nIs a directory"));
    QVERIFY(QFileInfo::exists(QStringLiteral("cbr-info-004.mp3")));
  }

  void aboutWindowCentring() {
    // Halves truncate toward zero; nothing keeps the window on the screen.
    QCOMPARE(TForm7::centredOver(QRect(50, 100, 539, 325), QSize(300, 195)), QPoint(169, 165));
    QCOMPARE(TForm7::centredOver(QRect(-200, 30, 539, 325), QSize(300, 195)), QPoint(-81, 95));
    QCOMPARE(TForm7::centredOver(QRect(0, -500, 539, 325), QSize(301, 195)), QPoint(119, -435));
  }

  void aboutWindow() {
    start({{"Top", 100}, {"Left", 50}, {"Offset", 200}, {"Method", 1}});
    bool shownModally = false;
    whenShown(Form7, [&] {
      shownModally = Form7->isModal() || QApplication::activeModalWidget() == Form7;
      Form7->close();
    });
    click(Form1->imgAbout);
    QVERIFY(shownModally);
    QVERIFY(!Form7->isVisible());

    Form7->show();
    QCOMPARE(Form7->pos(), QPoint(169, 165));
    click(Form7->butWebsite);
    click(Form7->butSupport);
    QCOMPARE(fake_->opened, (QList<QUrl>{QUrl(QStringLiteral("http://www.example.org")),
                                         QUrl(QStringLiteral("mailto:support@example.org"))}));
    QVERIFY(fake_->messages.isEmpty());
    // Without a program for them, the user is shown the addresses.
    fake_->handlers = false;
    click(Form7->butWebsite);
    click(Form7->butSupport);
    QCOMPARE(fake_->messages.size(), 2);
    QVERIFY(fake_->messages[0].text.endsWith(QStringLiteral("\r\nwww.example.org")));
    QVERIFY(fake_->messages[1].text.endsWith(QStringLiteral("\r\nsupport@example.org")));
    QCOMPARE(fake_->messages[1].caption, QStringLiteral("About Tranchette"));
    QTest::keyClick(Form7->butOK, Qt::Key_T, Qt::ShiftModifier);  // the window sees keys first
    QVERIFY(!Form7->butWebsite->isVisible() && !Form7->Label4->isVisible() && !Form7->Label5->isVisible());
    QVERIFY(Form7->Label7->isVisible());
    QCOMPARE(Form7->Label7->pos(), QPoint(40, 88));
    QCOMPARE(Form7->Label7->text(), TForm7::Credits);
    QVERIFY(TForm7::Credits.startsWith(QStringLiteral("PROGRAMMER:        ")));
    QVERIFY(TForm7::Credits.contains(QStringLiteral("\r\nGRAPHICS:                ")));
    QVERIFY(TForm7::Credits.contains(QStringLiteral("\r\nSPECIAL THANKS:    ")));
    click(Form7->butOK);
    QVERIFY(!Form7->isVisible());
    QCOMPARE(Form7->butOK->glyph().toImage(), QPixmap(QStringLiteral(":/skin/OK.bmp")).toImage());
    Form7->show();  // the credits stay for the rest of the run
    QVERIFY(Form7->Label7->isVisible() && !Form7->butWebsite->isVisible());
    QTest::keyClick(Form7->butOK, Qt::Key_Escape);
    QVERIFY(!Form7->isVisible());
  }

  void titleStripAndKnobs() {
    start();
    Form1->butNext->grabMouse();
    Form1->move(100, 100);
    const QPoint grip(200, 10);
    QCursor::setPos(Form1->Image1->mapToGlobal(grip));
    QTest::mousePress(Form1->Image1, Qt::RightButton, {}, grip);  // any button
    QCOMPARE(QWidget::mouseGrabber(), nullptr);                   // the drag starts without the capture
    // Without a window manager (as here) the window follows the pointer itself.
    QTest::mouseMove(Form1->Image1, grip + QPoint(30, 20));
    QCOMPARE(Form1->pos(), QPoint(130, 120));
    QTest::mouseRelease(Form1->Image1, Qt::RightButton, {}, grip);
    const QPoint after = Form1->pos();
    Form1->Image1MouseDrag(QPoint(900, 900));  // the release ended the drag
    QCOMPARE(Form1->pos(), after);
    click(Form1->imgMin);
    QTRY_VERIFY(Form1->windowState() & Qt::WindowMinimized);
  }

  // A long recording split by time from the window. speech.mp3 (2095 frames)
  // pauses 2.5 s after each of its eight parts, the middles at 5.8, 12.9,
  // 20.0, 27.2, 34.4, 41.6 and 48.8 s: frames 224, 496, 768, 1041, 1317,
  // 1593 and 1869. "End each part at the nearest pause" and its reach outlive
  // the window; its cuts go to those middles, and a cut with none in reach
  // is named; "/N" makes N parts of equal playing time; Cancel during the
  // search for pauses writes nothing.
  void partsEndInPausesOrComeInEqualCounts() {
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 2}});
    next(copyOf(QStringLiteral("speech.mp3")), Form1->RadioButton2);
    QVERIFY(!Form1->chkPauses->isChecked());
    QCOMPARE(Form1->editPauseReach->text(), QStringLiteral("30"));
    click(Form1->chkPauses);
    Form1->editPauseReach->clear();
    QTest::keyClicks(Form1->editPauseReach, QStringLiteral("1x2"));
    stop();
    QCOMPARE(stored(QStringLiteral("Pauses")).toInt(), 1);
    QCOMPARE(stored(QStringLiteral("PauseReach")).toInt(), 12);
    start({{"Top", 10}, {"Left", 10}, {"Offset", 200}, {"Method", 2}, {"Pauses", stored(QStringLiteral("Pauses"))},
           {"PauseReach", stored(QStringLiteral("PauseReach"))}});
    QVERIFY(Form1->chkPauses->isChecked());
    QCOMPARE(Form1->editPauseReach->text(), QStringLiteral("12"));

    next(copyOf(QStringLiteral("speech.mp3")), Form1->RadioButton2);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet2);
    // The frames of each piece written, the pieces gone afterwards.
    const auto split = [this](const QString &length, bool pauses, const QString &reach) {
      Form1->editLength->setText(length);
      Form1->chkPauses->setChecked(pauses);
      Form1->editPauseReach->setText(reach);
      fake_->messages.clear();
      click(Form1->butNext);
      QSignalSpy done(Form1->SplitThread2, &QObject::destroyed);
      [&] { QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000); }();
      QStringList frames;
      for (const QString &piece : QDir().entryList({QStringLiteral("speech-*.mp3")}, QDir::Files, QDir::Name)) {
        frames << QString::number(audio::readStreamFacts(piece.toStdString()).frames);
        QFile::remove(piece);
      }
      QFile::remove(QStringLiteral("Join_speech.bat"));
      QFile::remove(QStringLiteral("Join_speech.sh"));
      return frames.join(u' ');
    };
    const auto said = [this] {
      QStringList texts;
      for (const auto &m : fake_->messages) texts << m.text;
      return texts;
    };
    QCOMPARE(split(QStringLiteral("8"), true, QStringLiteral("3")), QStringLiteral("224 272 272 273 276 276 276 226"));
    QCOMPARE(said(), QStringList());
    // At 9 s no middle is within 3 s: that cut stays where the time puts it.
    QCOMPARE(split(QStringLiteral("9"), true, QStringLiteral("3")), QStringLiteral("346 422 273 276 276 276 226"));
    QCOMPARE(said(), QStringList{QStringLiteral("1 of 6 cuts found no pause within 3 s: at 0:00:09")});
    QCOMPARE(split(QStringLiteral("/3"), false, QStringLiteral("3")), QStringLiteral("698 698 699"));
    QCOMPARE(said(), QStringList());
    for (const char *count : {"/0", "/2096", "/x"}) {
      QCOMPARE(split(QString::fromLatin1(count), false, QStringLiteral("3")), QString());
      QCOMPARE(said(), QStringList{QStringLiteral("The count of parts must be a whole number from 1 to 2095 (the "
                                                  "frames of the file), not \"%1\".")
                                       .arg(QString::fromLatin1(count))});
    }
    // Seven parts, each cut from where the equal split cuts (frames 299,
    // 598, 897, 1197, 1496, 1795) to the pause within 3 s, where there is
    // one: seven pieces, never an eighth of what is left over.
    QCOMPARE(split(QStringLiteral("/7"), true, QStringLiteral("3")), QStringLiteral("224 272 401 300 396 276 226"));
    QCOMPARE(said(), QStringList{QStringLiteral("2 of 6 cuts found no pause within 3 s: at 0:00:23, 0:00:31")});
    QVERIFY(Form1->editLength->toolTip().contains(QStringLiteral("/12 for 12 parts of equal playing time")));
    QVERIFY(Form1->chkPauses->toolTip().contains(QStringLiteral("below -45 dB for 0.5 s")));

    // Half an hour of it: Cancel while the pauses are sought.
    click(Form1->butBack);
    {
      QFile longer(QStringLiteral("speech.mp3"));
      const QByteArray once = readAll(media(QStringLiteral("speech.mp3")));
      QVERIFY(longer.open(QIODevice::WriteOnly | QIODevice::Truncate));
      for (int i = 0; i < 40; ++i) longer.write(once);
    }
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet2);
    whenShown(Form3, [] { click(Form3->butCancel); });
    QSignalSpy bar(Form3->Progress, &QProgressBar::valueChanged);
    QCOMPARE(split(QStringLiteral("8"), true, QStringLiteral("3")), QString());
    QCOMPARE(said(), QStringList{QStringLiteral("The split was cancelled before a piece was complete.")});
    for (const QList<QVariant> &moved : bar)  // the search stopped short of its end (1000)
      QVERIFY2(moved.at(0).toInt() < 1000, "the search for pauses ran on after Cancel");
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("speech.mp3")});
  }

  // "Move Breakpoints to Pauses..." on chapters.mp3 (speech.mp3's pauses,
  // above): each breakpoint but the first and last goes to the middle of
  // the nearest silence within reach, its title with it; one with none in
  // reach stays and is named; one Ctrl+Z brings them all back. Cancel
  // during the search moves nothing.
  void breakpointsMoveToPauses() {
    openChapters();
    Form1->InsertBreakpoint(QStringLiteral("200"));
    Form1->InsertBreakpoint(QStringLiteral("1000"));
    const QString before = QStringLiteral("0 200 767 1000 1570 2095");
    QCOMPARE(listed(), before);
    QString asked;
    fake_->dialogAnswer = [&asked](QDialog *d) {
      auto *input = qobject_cast<QInputDialog *>(d);
      if (!input) return false;
      asked = input->labelText();
      if (input->doubleValue() != 5) return false;  // the reach offered at first
      input->setDoubleValue(1);
      return true;
    };
    fake_->messages.clear();
    Form1->MoveToPauses->trigger();
    QVERIFY2(asked.contains(QStringLiteral("below -45 dB for 1.5 s")), qPrintable(asked));
    QCOMPARE(listed(), QStringLiteral("0 224 768 1000 1593 2095"));
    QCOMPARE(titled(), QStringLiteral("Opening||Middle: ü Ω||End|"));
    QCOMPARE(fake_->messages.size(), 1);
    QCOMPARE(fake_->messages[0].text, QStringLiteral("1 breakpoint found no pause within 1 s: 1000"));
    QApplication::setActiveWindow(Form1);
    Form1->ListBox->setFocus();
    QTest::keyClick(Form1->ListBox, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(listed(), before);
    QCOMPARE(titled(), QStringLiteral("Opening||Middle: ü Ω||End|"));

    // Half an hour of it, Cancel pressed as soon as the search shows.
    stop();
    {
      QFile longer(QStringLiteral("long.mp3"));
      const QByteArray once = readAll(media(QStringLiteral("speech.mp3")));
      QVERIFY(longer.open(QIODevice::WriteOnly | QIODevice::Truncate));
      for (int i = 0; i < 40; ++i) longer.write(once);
    }
    start();
    next(QDir::current().filePath(QStringLiteral("long.mp3")), Form1->RadioButton1);
    Form1->InsertBreakpoint(QStringLiteral("200"));
    Form1->InsertBreakpoint(QStringLiteral("1000"));
    fake_->dialogAnswer = [](QDialog *) { return true; };
    fake_->messages.clear();
    QString shownAs;
    whenShown(Form3, [&shownAs] {
      shownAs = Form3->windowTitle();
      click(Form3->butCancel);
    });
    Form1->MoveToPauses->trigger();
    QCOMPARE(shownAs, QStringLiteral("Finding pauses..."));  // not the split's "Create..."
    QCOMPARE(Form3->windowTitle(), QStringLiteral("Create..."));
    QCOMPARE(listed(), QStringLiteral("0 200 1000"));
    QVERIFY(fake_->messages.isEmpty());
    QVERIFY(!Form1->model().canUndo());
    QVERIFY(!Form3->isVisible());
  }

  void anErrorInAHandlerIsSilent() {
    start();
    next(media(QStringLiteral("cbr-info.mp3")), Form1->RadioButton2);
    Form1->editLength->setText(QStringLiteral("abc"));
    click(Form1->butNext);
    QVERIFY(fake_->messages.isEmpty());
    QVERIFY(!Form1->SplitThread2);
  }

  // Last: once the event loop has been told to quit, windows no longer activate.
  void exitEndsTheProgramEvenWithoutAPlayer_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("button");
    QTest::newRow("exit button") << QByteArray("silent") << "butExit";
    QTest::newRow("close image") << QByteArray("silent") << "imgExit";
    QTest::newRow("exit button, no player") << QByteArray("off") << "butExit";
    QTest::newRow("close image, no player") << QByteArray("off") << "imgExit";
  }
  void exitEndsTheProgramEvenWithoutAPlayer() {
    QFETCH(QByteArray, output);
    QFETCH(QString, button);
    qputenv("TRANCHETTE_AUDIO_OUTPUT", output);
    start();
    QWidget *target = Form1->findChild<QWidget *>(button);
    QTimer::singleShot(0, this, [&] { click(target); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
  }

  // The end of the session, or Ctrl-C in the terminal that started it, ends
  // the program as Exit does: status 0, settings kept.
  void signalsEndTheProgramWithItsSettings_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
  }
  void signalsEndTheProgramWithItsSettings() {
    QFETCH(int, signal);
    QTemporaryDir home;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    app.setProcessEnvironment(env);
    app.start(qEnvironmentVariable("TRANCHETTE_APP"), {});
    QVERIFY(app.waitForStarted());
    const QString stored = home.filePath(QStringLiteral("Velmora/Tranchette.conf"));
    QTest::qWait(1500);  // the window is up
    ::kill(static_cast<pid_t>(app.processId()), signal);
    QVERIFY(app.waitForFinished(5000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QSettings settings(stored, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("Method")).toInt(), 1);
  }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
