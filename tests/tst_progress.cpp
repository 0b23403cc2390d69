// On a real X display (scripts/with-xvfb): the progress window must be drawn
// on the screen while the main thread is busy splitting, which the offscreen
// tests cannot see.
#include <QProcess>
#include <QProgressBar>
#include <QtTest>

#include "AppFixture.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit6.h"

class TestProgress : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  QTemporaryDir work_;

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
    {
      QFile source(QStringLiteral("long.mp3"));
      QVERIFY(source.open(QIODevice::WriteOnly) && source.resize(512LL << 20));
    }
    Form1->Edit1->setText(QDir::current().filePath(QStringLiteral("long.mp3")));
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
    stopProgram();
  }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
