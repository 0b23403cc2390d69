#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include "ManualClock.h"
#include "PreviewPlayer.h"
#include "SoundServers.h"
#include "StreamFacts.h"
#include "TestSupport.h"

class TestAudio : public QObject {
  Q_OBJECT

  // Collects the player's notifications and the thread they arrive on.
  struct Listener {
    QList<std::uint32_t> offsets;
    QList<std::uint32_t> ranges;
    QList<int> seconds;
    bool allOnMainThread = true;
    void attach(TXaudioPlayer &player) {
      QObject::connect(&player, &TXaudioPlayer::OnNotifyInputPosition, &player,
                       [this](QObject *, std::uint32_t offset, std::uint32_t range) {
                         offsets << offset;
                         ranges << range;
                         allOnMainThread &= QThread::currentThread() == QCoreApplication::instance()->thread();
                       });
      QObject::connect(
          &player, &TXaudioPlayer::OnNotifyInputTimecode, &player,
          [this](QObject *, std::uint8_t, std::uint8_t m, std::uint8_t s, std::uint8_t) { seconds << m * 60 + s; });
    }
    std::uint32_t last() const { return offsets.isEmpty() ? 0xFFFFFFFFu : offsets.last(); }
  };

 private slots:
  // The player's silent output keeps a clock the tests move.
  void initTestCase() { audio::ManualClock::start(); }

  // The facts equal libmpg123's full scan. Plain streams are read by the
  // frame header walk itself: a walk that failed on them would hide behind
  // the scan it falls back to.
  void streamFactsMatchLibmpg123_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("walked");
    for (const char *name : {"cbr-info.mp3", "cbr-noinfo.mp3", "vbr-xing.mp3", "mpeg2-mono.mp3", "mpeg25-mono.mp3",
                             "layer2.mp2", "big-id3.mp3", "damaged-info.mp3", "info-no-lame.mp3", "crc-vbr.mp3",
                             "junk-front.mp3", "cut-mid-frame.mp3", "shine.mp3", "junk-middle.mp3"})
      QTest::newRow(name) << QString::fromLatin1(name) << true;
    // Free format is left to libmpg123.
    QTest::newRow("free-format.mp3") << QStringLiteral("free-format.mp3") << false;
  }
  void streamFactsMatchLibmpg123() {
    QFETCH(QString, file);
    QFETCH(bool, walked);
    if (!QFileInfo::exists(media(file))) QSKIP("made only where shineenc is installed");
    const std::string path = media(file).toStdString();
    const audio::StreamFacts reference = audio::scanWithLibmpg123(path);
    const auto walk = audio::walkFrameHeaders(path);
    QCOMPARE(walk.has_value(), walked);
    const audio::StreamFacts ours = walk ? *walk : audio::readStreamFacts(path);
    QCOMPARE(ours.frames, reference.frames);
    QCOMPARE(ours.samples, reference.samples);
    QCOMPARE(ours.rate, reference.rate);
    QVERIFY(ours.frames > 0);

    TMp3Play play;
    play.Open(media(file));
    QCOMPARE(play.FrameCount(), static_cast<std::int32_t>(reference.frames));
    QCOMPARE(play.TotalTime(), static_cast<std::int32_t>(reference.samples * 1000 / reference.rate));
    play.Close();
    QVERIFY_THROWS_EXCEPTION(audio::StreamError, play.FrameCount());
  }

  // The guess a split begins by while the facts are read is right for the
  // streams that LAME, ffmpeg and the MPEG-2 encoders write (tags at either
  // end, with or without an Info or Xing frame), so that nothing is copied
  // twice. (shine pads fewer frames than its bitrate asks for: its guess is
  // a frame off, and its pieces are copied again once the facts are in.)
  void guessesHitWhatEncodersWrite_data() {
    QTest::addColumn<QString>("file");
    for (const char *name : {"cbr-info.mp3", "cbr-noinfo.mp3", "vbr-xing.mp3", "abr.mp3", "vbr-48k.mp3",
                             "ffmpeg-lame.mp3", "mpeg2-mono.mp3", "mpeg2-vbr.mp3", "mpeg25-mono.mp3", "layer2.mp2",
                             "big-id3.mp3", "id3v1.mp3", "info-no-lame.mp3"})
      QTest::newRow(name) << QString::fromLatin1(name);
  }
  void guessesHitWhatEncodersWrite() {
    QFETCH(QString, file);
    const std::string path = media(file).toStdString();
    const audio::StreamFacts reference = audio::scanWithLibmpg123(path);
    const auto guess = audio::guessStreamFacts(path);
    QVERIFY(guess);
    QCOMPARE(guess->frames, reference.frames);
    QCOMPARE(guess->samples, reference.samples);
    QCOMPARE(guess->rate, reference.rate);
  }

  void notMpegAudioIsRefused_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("text") << "text.mp3";
    QTest::newRow("random bytes") << "random.mp3";
    QTest::newRow("empty") << "empty.mp3";
    QTest::newRow("missing") << "no-such-file.mp3";
  }
  void notMpegAudioIsRefused() {
    QFETCH(QString, file);
    TMp3Play play;
    QVERIFY_THROWS_EXCEPTION(audio::StreamError, play.Open(media(file)));
    try {
      audio::readStreamFacts(media(file).toStdString());
    } catch (const audio::StreamError &e) {
      QVERIFY2(QString::fromUtf8(e.what()).contains(file), e.what());
    }
  }

  // Untrusted bytes: damaged copies of real streams never crash the parser,
  // and what the header walk accepts has libmpg123's own facts.
  void damagedStreamsAreHandled() {
    QTemporaryDir dir;
    QRandomGenerator rng(20261207);
    for (const char *name : {"cbr-info.mp3", "vbr-xing.mp3", "big-id3.mp3", "layer2.mp2", "mpeg25-mono.mp3"}) {
      const QByteArray original = readAll(media(QString::fromLatin1(name)));
      for (int round = 0; round < 60; ++round) {
        QByteArray bytes = original;
        const int flips = 1 + rng.bounded(8);
        for (int i = 0; i < flips; ++i) {
          // Mostly near the start, where the tags and the first headers are.
          const int at = rng.bounded(2) ? rng.bounded(std::min<int>(bytes.size(), 4096)) : rng.bounded(bytes.size());
          bytes[at] = static_cast<char>(rng.bounded(256));
        }
        if (rng.bounded(3) == 0) bytes.truncate(rng.bounded(bytes.size()));
        const QString path = dir.filePath(QStringLiteral("damaged.mp3"));
        writeFile(path, bytes);
        try {
          const audio::StreamFacts facts = audio::readStreamFacts(path.toStdString());
          QVERIFY(facts.frames > 0);
          QVERIFY(facts.samples >= 0);
          QVERIFY(facts.rate > 0);
        } catch (const audio::StreamError &) {
        }
      }
    }
  }

  // The silent output hears what it was given at its clock's pace: never
  // more than it holds, nothing while paused, and a stretch with nothing to
  // play is not counted as heard once sound comes again.
  void theSilentOutputHearsAtItsClocksPace() {
    audio::ManualClock clock;
    audio::SilentOutput out(1000, 2, clock);  // 1000 samples a second: 1 ms a sample
    QCOMPARE(out.bytesFree(), 400);           // 100 ms of two channels, 4 bytes a sample
    const QByteArray pcm(1000, '\0');
    QCOMPARE(out.write(pcm.constData(), 1000), 400);
    QCOMPARE(out.samplesHeard(), 0);
    clock.advance(30'000'000);
    QCOMPARE(out.samplesHeard(), 30);
    QCOMPARE(out.bytesFree(), 120);
    // Run dry: what was given is heard, and the clock waits for more.
    clock.advance(200'000'000);
    QCOMPARE(out.samplesHeard(), 100);
    QCOMPARE(out.write(pcm.constData(), 200), 200);
    QCOMPARE(out.samplesHeard(), 100);
    clock.advance(10'000'000);
    QCOMPARE(out.samplesHeard(), 110);

    out.pause();
    QCOMPARE(out.bytesFree(), 0);
    clock.advance(500'000'000);
    QCOMPARE(out.samplesHeard(), 110);
    out.resume();
    QCOMPARE(out.samplesHeard(), 110);
    clock.advance(20'000'000);
    QCOMPARE(out.samplesHeard(), 130);

    out.flush();
    QCOMPARE(out.samplesHeard(), 0);
    QCOMPARE(out.bytesFree(), 400);
    clock.advance(50'000'000);
    QCOMPARE(out.samplesHeard(), 0);
  }

  // The program's silent output keeps real time: played with no test clock,
  // the frames reported follow the time that passed.
  void withoutATestClockThePlayerKeepsRealTime() {
    audio::ManualClock::stop();
    const auto restart = qScopeGuard([] { audio::ManualClock::start(); });
    TXaudioPlayer player;
    Listener l;
    l.attach(player);
    player.InputOpen(media(QStringLiteral("cbr-info.mp3")));
    player.SetInputPositionRange(384);
    QElapsedTimer clock;
    clock.start();
    player.Play();
    QTest::qWait(500);
    const qint64 elapsed = clock.elapsed();
    player.Pause();
    audio::ManualClock::settle(player);
    // 38.28 frames a second at 44.1 kHz.
    const double expected = elapsed / 1000.0 * 44100 / 1152;
    QVERIFY2(std::abs(l.last() - expected) < 5,
             qPrintable(QStringLiteral("at %1, expected %2").arg(l.last()).arg(expected)));
    // Reports come on the player's own ticks, one every 10 ms: at least ten
    // in half a second, even on a loaded machine.
    QVERIFY2(l.offsets.size() >= 10, qPrintable(QString::number(l.offsets.size())));
  }

  // The frame heard is reported on the main thread as the clock moves, and
  // holds while paused.
  void playReportsTheFrameHeardOnTheMainThread() {
    TXaudioPlayer player;
    Listener l;
    l.attach(player);
    player.InputOpen(media(QStringLiteral("cbr-info.mp3")));
    player.SetInputPositionRange(384);
    player.Play();
    audio::ManualClock::play(player, 1000);
    QCOMPARE(l.last(), 39u);
    QCOMPARE(l.ranges.last(), 384u);
    QCOMPARE(l.seconds.last(), 1);
    QVERIFY(l.allOnMainThread);

    player.Pause();
    audio::ManualClock::play(player, 500);
    QCOMPARE(l.last(), 39u);
    player.Play();
    audio::ManualClock::play(player, 1000);
    QCOMPARE(l.last(), 77u);
    QCOMPARE(l.seconds.last(), 2);

    // Played on from a seek to the end of the 10 s: the time shown is the
    // end's, as the frame is, not where the playing began.
    player.InputSeek(200, 384);
    player.Play();
    audio::ManualClock::play(player, 6000);
    QCOMPARE(l.last(), 384u);
    QCOMPARE(l.seconds.last(), 10);
  }

  void seekLandsOnTheFrameAsked_data() {
    QTest::addColumn<std::uint32_t>("offset");
    QTest::addColumn<std::int32_t>("range");
    QTest::addColumn<std::uint32_t>("frame");
    QTest::newRow("frame of frames") << 200u << 384 << 200u;
    QTest::newRow("fraction of a slider") << 155u << 310 << 192u;
    QTest::newRow("the start") << 1u << 384 << 1u;
    QTest::newRow("the end") << 384u << 384 << 384u;
    QTest::newRow("beyond the range") << 900u << 384 << 384u;
    QTest::newRow("negative made unsigned") << static_cast<std::uint32_t>(-100) << 384 << 0u;
  }
  void seekLandsOnTheFrameAsked() {
    QFETCH(std::uint32_t, offset);
    QFETCH(std::int32_t, range);
    QFETCH(std::uint32_t, frame);
    TXaudioPlayer player;
    Listener l;
    l.attach(player);
    player.InputOpen(media(QStringLiteral("cbr-info.mp3")));
    player.SetInputPositionRange(384);
    player.Pause();
    audio::ManualClock::settle(player);
    QCOMPARE(l.offsets.size(), 1);  // the pause reports where it holds
    l.offsets.clear();
    player.InputSeek(offset, range);
    audio::ManualClock::settle(player);
    // One notification after the seek, also while paused.
    QCOMPARE(l.offsets.size(), 1);
    QCOMPARE(l.last(), frame);
  }

  // Opened on a guess while the frames are read elsewhere: playing starts
  // at once, a seek near what libmpg123 has read is made, and one far beyond
  // shows its place and waits for the index, then plays from there.
  void aFarSeekWaitsForTheIndex() {
    const std::string path = media(QStringLiteral("heard.mp3")).toStdString();
    const auto guess = audio::guessStreamFacts(path);
    QVERIFY(guess);
    const auto frames = static_cast<std::int32_t>(guess->frames);
    TXaudioPlayer player;
    Listener l;
    l.attach(player);
    player.InputOpen(media(QStringLiteral("heard.mp3")), std::make_shared<const audio::StreamFacts>(*guess), true);
    player.SetInputPositionRange(frames);
    player.Play();
    audio::ManualClock::play(player, 200);
    QCOMPARE(l.last(), 8u);
    player.InputSeek(100, frames);
    audio::ManualClock::play(player, 500);
    QCOMPARE(l.last(), 119u);

    player.InputSeek(2000, frames);
    audio::ManualClock::play(player, 500);
    QCOMPARE(l.last(), 2000u);  // held, playing, and said so
    QVERIFY2(player.soundProblem().contains(QStringLiteral("Reading the file")), qPrintable(player.soundProblem()));
    player.InputFacts(std::make_shared<const audio::StreamFacts>(audio::readStreamFacts(path)));
    audio::ManualClock::play(player, 500);
    QCOMPARE(l.last(), 2019u);
    QVERIFY(player.soundProblem().isEmpty());
  }

  void positionsCountTheRange() {
    TXaudioPlayer player;
    Listener l;
    l.attach(player);
    player.InputOpen(media(QStringLiteral("cbr-info.mp3")));
    player.SetInputPositionRange(100);
    player.InputSeek(192, 384);
    audio::ManualClock::settle(player);
    QCOMPARE(l.last(), 50u);
    QCOMPARE(l.ranges.last(), 100u);
  }

  void commandsWithoutAFileAreHarmless() {
    TXaudioPlayer player;
    player.Stop();
    player.InputClose();
    player.Play();
    player.InputSeek(3, 10);
    QVERIFY(player.isStarted());
  }

  // With no sound server at all the preview plays on its clock, and says
  // once why nothing is heard.
  void noServerIsSaidOnceAndTheClockRuns() {
    QTemporaryDir dir;
    ScopedEnv output("TRANCHETTE_AUDIO_OUTPUT", QByteArray());
    ScopedEnv server("PULSE_SERVER", "unix:" + QFile::encodeName(dir.filePath(QStringLiteral("none.sock"))));
    TXaudioPlayer player;
    Listener l;
    l.attach(player);
    QSignalSpy said(&player, &TXaudioPlayer::soundProblemChanged);
    player.InputOpen(media(QStringLiteral("cbr-info.mp3")));
    player.SetInputPositionRange(384);
    player.Play();
    QTRY_VERIFY2(player.soundProblem().contains(QStringLiteral("No sound server")), qPrintable(player.soundProblem()));
    audio::ManualClock::play(player, 1000);
    QCOMPARE(l.last(), 39u);
    // Pause and play again do not say it again.
    player.Pause();
    player.Play();
    audio::ManualClock::play(player, 200);
    QCOMPARE(l.last(), 46u);
    QCOMPARE(said.size(), 1);
  }

  // A server that takes the connection and never answers holds up neither
  // the window nor its end: commands return at once, the window's thread
  // keeps turning, the player gives the server up and plays on its clock.
  void aServerThatNeverAnswersHoldsUpNothing() {
    SilentSocket silent;
    QVERIFY(silent.listening());
    ScopedEnv output("TRANCHETTE_AUDIO_OUTPUT", QByteArray());
    ScopedEnv server("PULSE_SERVER", silent.address());
    auto player = std::make_unique<TXaudioPlayer>();
    Listener l;
    l.attach(*player);
    QSignalSpy said(player.get(), &TXaudioPlayer::soundProblemChanged);

    // The longest the window's thread went without handling its events.
    qint64 longestGap = 0;
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    QTimer turn;
    turn.setTimerType(Qt::PreciseTimer);
    connect(&turn, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTurn.restart()); });
    turn.start(5);

    qint64 longestCommand = 0;
    auto timed = [&](auto command) {
      QElapsedTimer t;
      t.start();
      command();
      longestCommand = std::max(longestCommand, t.elapsed());
    };
    timed([&] { player->InputOpen(media(QStringLiteral("cbr-info.mp3"))); });
    timed([&] { player->SetInputPositionRange(384); });
    timed([&] { player->Play(); });
    QTest::qWait(100);
    timed([&] { player->Pause(); });
    timed([&] { player->InputSeek(100, 384); });
    timed([&] { player->Play(); });
    QTRY_VERIFY_WITH_TIMEOUT(player->soundProblem().contains(QStringLiteral("does not answer")), 4000);
    // Then it plays on the silent clock, from the frame sought.
    audio::ManualClock::play(*player, 500);
    QCOMPARE(l.last(), 119u);
    timed([&] { player->Stop(); });
    timed([&] { player->InputClose(); });
    timed([&] { player.reset(); });
    turn.stop();
    QVERIFY2(longestCommand < 50, qPrintable(QStringLiteral("a command took %1 ms").arg(longestCommand)));
    QVERIFY2(longestGap < 80, qPrintable(QStringLiteral("the thread stood for %1 ms").arg(longestGap)));
  }

  void aPlayerThatCannotStartRaises() {
    qputenv("TRANCHETTE_AUDIO_OUTPUT", "off");
    TXaudioPlayer player;
    QVERIFY_THROWS_EXCEPTION(EXaudioException, player.Stop());
    QVERIFY_THROWS_EXCEPTION(EXaudioException, player.InputOpen(media(QStringLiteral("cbr-info.mp3"))));
    qputenv("TRANCHETTE_AUDIO_OUTPUT", "silent");
  }
};

QTEST_GUILESS_MAIN(TestAudio)
#include "tst_audio.moc"
