#include <QProcess>
#include <QtTest>

#include "AppFixture.h"
#include "HeardSound.h"
#include "SoundServers.h"
#include "TestSupport.h"

// The preview as a listener meets it: the window plays through a real sound
// server (scripts/with-pulse), and what the sink played is recorded and found
// in the source, so that what the window shows is checked against what was
// heard. Skipped where no test server runs.
class TestHeard : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  FakePlatform *fake_ = nullptr;
  std::unique_ptr<heard::Reference> ref_;
  std::unique_ptr<heard::Recorder> rec_;

  // The current-frame display, read every 2 ms and stamped on the recording's clock.
  struct Shown {
    std::vector<std::pair<std::int64_t, int>> at;
    QTimer timer;
    Shown() {
      timer.setTimerType(Qt::PreciseTimer);
      QObject::connect(&timer, &QTimer::timeout, [this] {
        const int v = Form1->labFrame->text().toInt();
        if (at.empty() || at.back().second != v) at.emplace_back(heard::nowNs(), v);
      });
      timer.start(2);
    }
    std::optional<int> valueAt(std::int64_t t) const {
      std::optional<int> v;
      for (const auto &[when, value] : at)
        if (when <= t) v = value;
      return v;
    }
  };

  // The frame heard at time t, found near `hint`.
  std::optional<std::int64_t> heardFrameAt(const std::vector<float> &rec, std::int64_t t, std::int64_t hint) const {
    return heard::frameAt(*rec_, rec, *ref_, t, hint);
  }
  heard::Stretch stretchAfter(std::int64_t from, std::int64_t frame, std::int64_t radiusFrames = 40) const {
    return heard::stretchAfter(*rec_, *ref_, from, frame, radiusFrames);
  }

  void enterPage(const QString &file = QStringLiteral("heard.mp3")) {
    Form1->Edit1->setText(media(file));
    click(Form1->RadioButton1);
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
  }

  void select(int row) { Form1->ListBox->setCurrentRow(row); }

  static void wait(int ms) { QTest::qWait(ms); }

 private slots:
  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("TRANCHETTE_TEST_SINK") ||
        qEnvironmentVariable("TRANCHETTE_AUDIO_OUTPUT") == "silent")
      QSKIP("needs the private sound server of scripts/with-pulse");
    isolateSettings(settingsDir_);
    QApplication::setApplicationName(QStringLiteral("Tranchette"));
    ref_ = std::make_unique<heard::Reference>(media(QStringLiteral("heard.mp3")));
    QVERIFY(ref_->samples.size() > 65 * heard::kRate);
  }
  void init() {
    rec_ = std::make_unique<heard::Recorder>(qEnvironmentVariable("TRANCHETTE_TEST_SINK"));
    QVERIFY(rec_->running());
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowActive(Form1));
  }
  void cleanup() {
    stopProgram();
    rec_.reset();
  }

  // The frame shown is the frame heard, and a breakpoint added from it cuts
  // where the listener heard it; in mono and in stereo.
  void shownIsHeard_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("mono") << QStringLiteral("heard.mp3");
    QTest::newRow("stereo") << QStringLiteral("heard-stereo.mp3");
  }
  void shownIsHeard() {
    QFETCH(QString, file);
    ref_ = std::make_unique<heard::Reference>(media(file));
    const auto restore = qScopeGuard([this] { ref_ = std::make_unique<heard::Reference>(media("heard.mp3")); });
    Shown shown;
    const std::int64_t start = heard::nowNs();
    enterPage(file);
    wait(1200);
    const std::int64_t added = heard::nowNs();
    QTest::mousePress(Form1->butAdd, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(Form1->butAdd, Qt::LeftButton, {}, QPoint(5, 5));
    wait(1000);
    Form1->XPlayer->Pause();
    wait(200);

    const std::vector<float> rec = rec_->samples();
    std::vector<double> off;
    for (std::int64_t t = start + 700'000'000; t < start + 2'200'000'000; t += 50'000'000) {
      const auto s = shown.valueAt(t);
      if (!s) continue;
      if (const auto h = heardFrameAt(rec, t, *s)) off.push_back(std::abs(*s - *h));
    }
    QVERIFY2(off.size() > 25, qPrintable(QString::number(off.size())));
    const double median = heard::percentile(off, 0.5), p95 = heard::percentile(off, 0.95);
    QVERIFY2(median <= 1 && p95 <= 2,
             qPrintable(QStringLiteral("shown - heard: median %1, p95 %2 frames").arg(median).arg(p95)));

    QCOMPARE(Form1->ListBox->count(), 2);
    const int breakpoint = Form1->ListBox->item(1)->text().toInt();
    const auto h = heardFrameAt(rec, added, breakpoint);
    QVERIFY(h);
    QVERIFY2(std::abs(breakpoint - *h) <= 2, qPrintable(QStringLiteral("added %1, heard %2").arg(breakpoint).arg(*h)));
  }

  // A seek while playing is heard from the frame asked for, soon.
  void aSeekIsHeardFromItsFrame() {
    enterPage();
    wait(400);
    const std::int64_t asked = heard::nowNs();
    Form1->XPlayer->InputSeek(700, Form1->model().frames());
    wait(500);
    const heard::Stretch s = stretchAfter(asked, 700);
    QVERIFY(s.recStart >= 0);
    QVERIFY2(std::abs(s.firstFrame - 700) <= 1, qPrintable(QString::number(s.firstFrame)));
    const double latencyMs = (rec_->timeOf(s.recStart) - asked) / 1e6;
    QVERIFY2(latencyMs < 150, qPrintable(QStringLiteral("%1 ms").arg(latencyMs)));
  }

  // Pause and play again: the sound goes on where it stopped, nothing repeated.
  void resumeRepeatsNothing() {
    enterPage();
    wait(900);
    const std::int64_t paused = heard::nowNs();
    click(Form1->imgPu);
    wait(300);
    click(Form1->imgPlay);
    wait(500);
    const heard::Stretch before = stretchAfter(paused - 400'000'000, 15, 40);
    QVERIFY(before.recEnd > 0);
    const heard::Stretch after = stretchAfter(rec_->timeOf(before.recEnd) + 50'000'000, before.lastFrame, 10);
    QVERIFY(after.recStart > before.recEnd);
    // The server takes back what it had passed on ahead of the listener when
    // the stream is corked; its monitor has recorded that already (10 to 20 ms).
    QVERIFY2(std::abs(after.refStart - before.refEnd) < heard::kRate * 3 / 100,
             qPrintable(QStringLiteral("stopped at sample %1, went on at %2").arg(before.refEnd).arg(after.refStart)));
  }

  // Asked for while paused, the lead-in before a breakpoint plays its span
  // and stops there, also when asked for twice in a row.
  void aLeadInPlaysUpToItsBreakpoint() {
    enterPage();
    Form1->InsertBreakpoint(QStringLiteral("60"));
    select(1);
    wait(400);
    click(Form1->imgPu);
    wait(200);
    const std::int64_t asked = heard::nowNs();
    Form1->Play3SecsBeforeClick(nullptr);
    wait(50);
    Form1->Play3SecsBeforeClick(nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!Form1->PlayingToBreakpoint, 4000);
    wait(300);
    const heard::Stretch s = stretchAfter(asked + 60'000'000, 0);
    QVERIFY(s.recStart >= 0);
    QVERIFY2(s.firstFrame <= 2 && std::abs(s.lastFrame - 60) <= 2,
             qPrintable(QStringLiteral("before 60: heard %1 to %2").arg(s.firstFrame).arg(s.lastFrame)));
  }

  // Ctrl+Right, ] and Ctrl+Left play 2 s before to 2 s after the next or
  // previous breakpoint from the frame shown (77 frames each way at 38.3
  // frames a second), and stop there.
  void nextAndPreviousAreHeardAroundTheirBreakpoints() {
    enterPage();
    Form1->InsertBreakpoint(QStringLiteral("600"));
    Form1->InsertBreakpoint(QStringLiteral("1500"));
    wait(300);
    click(Form1->imgPu);
    const struct {
      QKeySequence key;
      std::int64_t first, last;
    } steps[] = {{QKeySequence(Qt::CTRL | Qt::Key_Right), 523, 676},
                 {QKeySequence(Qt::Key_BracketRight), 1423, 1576},
                 {QKeySequence(Qt::CTRL | Qt::Key_Left), 1423, 1576}};
    for (const auto &step : steps) {
      wait(200);
      const std::int64_t asked = heard::nowNs();
      QTest::keyClick(Form1, step.key[0].key(), step.key[0].keyboardModifiers());
      wait(4600);
      const heard::Stretch s = stretchAfter(asked, step.first, 20);
      QVERIFY(s.recStart >= 0);
      QVERIFY2(std::abs(s.firstFrame - step.first) <= 2 && std::abs(s.lastFrame - step.last) <= 4,
               qPrintable(QStringLiteral("%1: heard %2 to %3").arg(step.key.toString()).arg(s.firstFrame).arg(s.lastFrame)));
    }
    // Shown at its breakpoint, or passing on from it, the previous is the one before.
    const std::int64_t asked = heard::nowNs();
    QTest::keyClick(Form1, Qt::Key_Left, Qt::ControlModifier);
    QTest::keyClick(Form1, Qt::Key_Left, Qt::ControlModifier);
    wait(4600);
    const heard::Stretch s = stretchAfter(asked, 523, 20);
    QVERIFY2(std::abs(s.firstFrame - 523) <= 2, qPrintable(QString::number(s.firstFrame)));
    QCOMPARE(Form1->ListBox->currentRow(), 1);
  }

  // A machine too busy to give the program a turn for half a second: the
  // sound server plays on from what it holds, and the listener hears no gap.
  void aStallOfTheWholeProgramIsNotHeard() {
    const std::int64_t start = heard::nowNs();
    enterPage();
    wait(800);
    // The program stands still, every thread of it, and goes on.
    const int stalled = QProcess::execute(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("kill -STOP %1; sleep 0.5; kill -CONT %1").arg(getpid())});
    QCOMPARE(stalled, 0);
    const std::int64_t resumed = heard::nowNs();
    wait(800);
    const heard::Stretch s = stretchAfter(start, 0, 10);
    QVERIFY(s.recStart >= 0);
    const double afterMs = (rec_->timeOf(s.recEnd) - resumed) / 1e6;
    QVERIFY2(s.firstFrame <= 1 && afterMs > 500,
             qPrintable(QStringLiteral("heard frames %1 to %2 unbroken, to %3 ms after the stall")
                            .arg(s.firstFrame)
                            .arg(s.lastFrame)
                            .arg(afterMs)));
  }

  // The sound server goes away while the preview plays, and comes back: the
  // window says so in its page, the frame shown holds (Pause and Play do not
  // run it on, a breakpoint added is that frame), and once the server is
  // back the sound goes on from that frame by itself.
  void aServerRestartIsHeardFromTheHeldFrame() {
    if (!PrivateSoundServer::available()) QSKIP("needs pulseaudio");
    PrivateSoundServer server;
    QVERIFY(server.start());
    ScopedEnv address("PULSE_SERVER", server.address());
    rec_ = std::make_unique<heard::Recorder>(QString::fromLatin1(PrivateSoundServer::kSink));
    QVERIFY(rec_->running());
    enterPage();
    wait(900);
    QVERIFY(!Form1->labSound->isVisible());

    server.stop(SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(Form1->labSound->isVisible(), 500);
    QVERIFY2(Form1->labSound->text().contains(QStringLiteral("went away")), qPrintable(Form1->labSound->text()));
    QVERIFY(Form1->imgPlay->toolTip().contains(Form1->labSound->text()));
    QVERIFY(fake_->messages.isEmpty());  // no message box
    const int held = Form1->labFrame->text().toInt();
    QVERIFY2(held > 15, qPrintable(QString::number(held)));
    wait(200);
    click(Form1->imgPu);
    click(Form1->imgPlay);
    wait(400);
    QCOMPARE(Form1->labFrame->text().toInt(), held);
    QTest::mousePress(Form1->butAdd, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(Form1->butAdd, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(Form1->ListBox->item(Form1->ListBox->count() - 1)->text().toInt(), held);

    QVERIFY(server.start());
    rec_ = std::make_unique<heard::Recorder>(QString::fromLatin1(PrivateSoundServer::kSink));
    QVERIFY(rec_->running());
    const std::int64_t back = heard::nowNs();
    QTRY_VERIFY_WITH_TIMEOUT(!Form1->labSound->isVisible(), 3000);
    QCOMPARE(Form1->imgPlay->toolTip(), QStringLiteral("Play this mp3 file"));
    wait(900);
    QVERIFY(Form1->labFrame->text().toInt() > held + 20);
    const heard::Stretch s = stretchAfter(back, held);
    QVERIFY(s.recStart >= 0);
    QVERIFY2(std::abs(s.firstFrame - held) <= 2 && s.lastFrame > held + 20,
             qPrintable(QStringLiteral("held %1, heard %2 to %3").arg(held).arg(s.firstFrame).arg(s.lastFrame)));
  }
};

QTEST_MAIN(TestHeard)
#include "tst_heard.moc"
