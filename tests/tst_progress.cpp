// On a real X display (scripts/with-xvfb): the progress window must be drawn
// on the screen while the main thread is busy splitting, which the offscreen
// tests cannot see.
#include <QProcess>
#include <QProgressBar>
#include <QtTest>

#include "AppFixture.h"
#include "MainWindow.h"
#include "ProgressWindow.h"
#include "SizeSplitWorker.h"
#include "TestSupport.h"

class TestProgress : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  QTemporaryDir work_;

  // MPEG audio frames, then zeros up to `size` bytes: a source that the split
  // by size takes, quick to make.
  static QString longSource(const QString &path, qint64 size) {
    QFile::remove(path);
    QFile::copy(media(QStringLiteral("cbr-noinfo.mp3")), path);
    QFile source(path);
    if (!source.open(QIODevice::ReadWrite) || !source.resize(size)) return QString();
    return QFileInfo(path).absoluteFilePath();
  }

  // The pixels in rows [top, bottom) of two images of one size that differ.
  static int differing(const QImage &a, const QImage &b, int top, int bottom) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
  }

 private slots:
  void initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "run under scripts/with-xvfb");
    isolateSettings(settingsDir_);
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
    QDir::setCurrent(work_.path());
  }

  void theProgressWindowIsDrawnWhileTheSplitRuns() {
    startProgram({{"Top", 100}, {"Left", 100}, {"Offset", 200}, {"Method", 3}});
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    // 512 MB in pieces of 1 MB: seconds of copying, the main thread busy all along.
    Form1->Edit1->setText(longSource(QStringLiteral("long.mp3"), 512LL << 20));
    Form1->butNextClick(nullptr);
    Form1->editSize->setText(QStringLiteral("1024"));
    Form1->chkJoin3->setChecked(false);

    // Screenshots of the whole screen, one after the other, until stopped.
    QDir().mkpath(QStringLiteral("shots"));
    QProcess camera;
    camera.setWorkingDirectory(QStringLiteral("shots"));
    camera.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                        QStringLiteral("i=100; while :; do import -window root s$i.png; i=$((i+1)); done")});
    QVERIFY(camera.waitForStarted());
    QTest::qWait(300);
    Form1->butNextClick(nullptr);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 60000);
    camera.kill();
    camera.waitForFinished();
    QCOMPARE(Form3->Progress->maximum(), 512);

    // The window as it draws itself, the bar empty and full, to compare with the screen.
    const QRect label(Form3->mapToGlobal(Form3->Label1->geometry().topLeft()), Form3->Label1->size());
    const QRect bar(Form3->Progress->mapToGlobal(QPoint(0, 0)), Form3->Progress->size());
    const QImage ownLabel = Form3->Label1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    Form3->Progress->setValue(0);
    const QImage empty = Form3->Progress->grab().toImage().convertToFormat(QImage::Format_RGB32);
    Form3->Progress->setValue(Form3->Progress->maximum());
    const QImage full = Form3->Progress->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int row = bar.height() / 2;
    const int fullWidth = differing(full, empty, row, row + 1);
    QVERIFY(fullWidth > bar.width() / 2);

    QList<int> widths;
    const QStringList shots = QDir(QStringLiteral("shots")).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    for (const QString &name : shots) {
      const QImage shot = QImage(QStringLiteral("shots/") + name).convertToFormat(QImage::Format_RGB32);
      if (shot.isNull() || differing(shot.copy(label), ownLabel, 0, label.height()) > 0) continue;  // not (yet) drawn
      widths << differing(shot.copy(bar), empty, row, row + 1);
    }
    qInfo() << shots.size() << "screenshots; the bar's filled width in those showing the window:" << widths;
    QVERIFY2(widths.size() >= 3, "the progress window was not seen on the screen");
    QVERIFY(std::is_sorted(widths.begin(), widths.end()));
    QVERIFY2(widths.first() < widths.last() && widths.last() <= fullWidth, "the bar did not grow on the screen");
    // A dialog of the main window, for the window manager: a click on the
    // main window leaves it above, its Cancel in sight.
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(Form3->winId()), QStringLiteral("WM_TRANSIENT_FOR")});
    QVERIFY(xprop.waitForFinished(10000));
    const QString owner = QString::fromLatin1(xprop.readAllStandardOutput()).trimmed();
    QVERIFY2(owner.endsWith(QStringLiteral("0x") + QString::number(Form1->winId(), 16)), qPrintable(owner));
    stopProgram();
  }

  // Cancel, clicked on the screen while the split runs, stops it: the pieces
  // complete stay, the unfinished one goes, no join file is written for the
  // incomplete set, and the user is told how many were written, and where.
  // The main window takes no click meanwhile; closing it cancels as well.
  void cancelStopsTheSplit_data() {
    QTest::addColumn<bool>("closeTheWindow");
    QTest::addColumn<bool>("realMessage");
    QTest::newRow("Cancel") << false << false;
    QTest::newRow("the main window closed") << true << false;
    // The message a user answers with Enter: the split's messages take input.
    QTest::newRow("Cancel, and a real message box") << false << true;
  }
  void cancelStopsTheSplit() {
    QFETCH(bool, closeTheWindow);
    QFETCH(bool, realMessage);
    FakePlatform *fake = startProgram({{"Top", 100}, {"Left", 100}, {"Offset", 200}, {"Method", 3}});
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    const QString folder = QDir::current().filePath(QStringLiteral("cancel"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    // 64 MB in pieces of 1 KB: seconds of creating files.
    Form1->Edit1->setText(longSource(folder + QStringLiteral("/long.mp3"), 64LL << 20));
    Form1->butNextClick(nullptr);
    Form1->editSize->setText(QStringLiteral("1"));
    Form1->editSavePath3->setText(folder + QStringLiteral("/long-%track%.mp3"));
    QVERIFY(Form1->chkJoin3->isChecked());
    // A hand on the mouse, once the progress window is up: a click on Next
    // (refused), then on Cancel or the main window's close.
    const QPoint next = Form1->butNext->mapToGlobal(Form1->butNext->rect().center());
    const QString script =
        QStringLiteral("w=$(xdotool search --sync --onlyvisible --name '^Create...$' | head -n 1); sleep 0.3; "
                       "xdotool mousemove %1 %2 click 1; sleep 0.2; ")
            .arg(next.x())
            .arg(next.y()) +
        (closeTheWindow ? QStringLiteral("touch close-now")
                        : QStringLiteral("eval $(xdotool getwindowgeometry --shell $w); "
                                         "xdotool mousemove $((X + 104)) $((Y + 84)) click 1")) +
        (realMessage ? QStringLiteral("; b=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tranchette$' | "
                                      "head -n 1); sleep 0.5; xdotool windowactivate --sync $b 2>/dev/null; "
                                      "xdotool windowfocus --sync $b; xdotool key Return; touch answered")
                     : QString());
    if (realMessage) setPlatform(nullptr);
    QProcess hand;
    hand.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    QVERIFY(hand.waitForStarted());
    // The window manager's close reaches the window as a close event.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (QFile::remove(QStringLiteral("close-now"))) Form1->close();
    });
    closer.start(20);
    Form1->butNextClick(nullptr);
    QSignalSpy done(Form1->SplitThread3, &QObject::destroyed);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 120000);
    QVERIFY(hand.state() == QProcess::NotRunning || hand.waitForFinished(10000));

    QDir out(folder);
    const QStringList pieces = out.entryList({QStringLiteral("long-*.mp3")}, QDir::Files, QDir::Name);
    QVERIFY2(pieces.size() < 65536, "the split was not stopped");
    for (int k = 1; k <= pieces.size(); ++k)
      QCOMPARE(QFileInfo(out.filePath(QStringLiteral("long-%1.mp3").arg(k, 3, 10, QChar(u'0')))).size(), 1024);
    QCOMPARE(out.entryList({QStringLiteral(".tranchette-*"), QStringLiteral("Join_*")}, QDir::Files | QDir::Hidden),
             QStringList());
    QVERIFY(!Form3->isVisible());
    if (closeTheWindow) {
      QVERIFY(fake->messages.isEmpty());
      QTRY_VERIFY(!Form1->isVisible());
    } else if (realMessage) {
      QVERIFY(QFile::remove(QStringLiteral("answered")));
      QVERIFY(Form1->isVisible());
    } else {
      QCOMPARE(fake->messages.size(), 1);
      QCOMPARE(fake->messages[0].text,
               QStringLiteral("The split was cancelled: %1 pieces were written to the folder %2; the unfinished piece "
                              "was removed.")
                   .arg(pieces.size())
                   .arg(folder));
      QVERIFY(Form1->isVisible());
      QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet4);
      // The click on Next during the split started nothing.
      QTest::qWait(300);
      QCOMPARE(out.entryList({QStringLiteral("long-*.mp3")}, QDir::Files).size(), pieces.size());
    }
    stopProgram();
  }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
