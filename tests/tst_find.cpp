// Breakpoints found for the user: silences, cue sheets and chapters, and the
// titles they bring into exact pieces.
#include <QTemporaryDir>
#include <QtTest>

#include "Id3.h"
#include "Sheets.h"
#include "Silences.h"
#include "SplitEngine.h"
#include "TestSupport.h"

namespace {

struct Quiet : split::Reporter {
  QStringList failures;
  void start(std::int64_t) override {}
  void step() override {}
  void complete() override {}
  void pieceWritten(const QString &) override {}
  void fail(const split::Message &m) override { failures << m.text; }
  void notice(const split::Message &) override {}
};

found::Timeline timeline(const QString &file) {
  QString why;
  const auto t = found::timelineOf(file, &why);
  if (!t) qFatal("%s: %s", qPrintable(file), qPrintable(why));
  return *t;
}

std::vector<std::int64_t> framesOf(const std::vector<found::Marker> &markers) {
  std::vector<std::int64_t> frames;
  for (const found::Marker &m : markers) frames.push_back(m.frame);
  return frames;
}

}  // namespace

class TestFind : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  // Every pause of the speech is found, its ends within a frame of where
  // the voice stops and starts again; one breakpoint sits in each. The
  // search's two halves meet inside the fourth pause, which stays one.
  void silencesAreWhereThePausesAre() {
    QFile list(media(QStringLiteral("speech-pauses.txt")));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QList<QPair<double, double>> pauses;
    for (const QByteArray &line : list.readAll().split('\n'))
      if (const auto parts = line.split(' '); parts.size() == 2) pauses.append({parts[0].toDouble(), parts[1].toDouble()});
    QCOMPARE(pauses.size(), 7);

    std::int64_t lastDone = -1, calls = 0;
    QString why;
    const auto found = found::findSilences(
        media(QStringLiteral("speech.mp3")), {}, [&](std::int64_t done, std::int64_t total) {
          QVERIFY(done >= lastDone && done <= total);
          lastDone = done;
          ++calls;
        },
        nullptr, &why);
    QVERIFY2(found, qPrintable(why));
    QVERIFY(calls > 0);
    QCOMPARE(lastDone, found->timeline.frames);
    QCOMPARE(static_cast<qsizetype>(found->silences.size()), pauses.size());
    const double frame = 1152.0 / 44100;
    for (qsizetype i = 0; i < pauses.size(); ++i) {
      const found::Silence &s = found->silences[static_cast<std::size_t>(i)];
      QVERIFY2(std::abs(s.start - pauses[i].first) < frame && std::abs(s.end - pauses[i].second) < frame,
               qPrintable(QStringLiteral("pause %1: %2 to %3, found %4 to %5")
                              .arg(i).arg(pauses[i].first).arg(pauses[i].second).arg(s.start).arg(s.end)));
      QVERIFY(s.levelDb < -60 && s.levelDb > -72);  // the floor, at -60 dB of peak: about -65 dB RMS
      const double middle = found->timeline.secondsAt(found->markers[static_cast<std::size_t>(i) + 1].frame);
      QVERIFY(middle > pauses[i].first + 1 && middle < pauses[i].second - 1);
    }
    QCOMPARE(found->markers.front().frame, 0);
    QCOMPARE(found->markers.back().frame, found->timeline.frames);
    QCOMPARE(found->markers.size(), found->silences.size() + 2);
  }

  // The level and the length decide: a floor at -66 dB RMS is silence below
  // -45 dB and sound above -75 dB; pauses of 2.5 s are not silences of 3 s.
  // A minute of the floor alone is one silence, across the halves' seam.
  void theSettingsDecide() {
    QString why;
    const auto floor = found::findSilences(media(QStringLiteral("floor.mp3")), {}, {}, nullptr, &why);
    QVERIFY2(floor && floor->silences.size() == 1, qPrintable(why));
    QCOMPARE(floor->silences[0].start, 0.0);
    QVERIFY(floor->silences[0].end > 59.9);
    QVERIFY(found::findSilences(media(QStringLiteral("floor.mp3")), {-75, 1.5}, {}, nullptr, &why)->silences.empty());
    QVERIFY(found::findSilences(media(QStringLiteral("speech.mp3")), {-45, 3}, {}, nullptr, &why)->silences.empty());
    QVERIFY(found::findSilences(media(QStringLiteral("heard.mp3")), {}, {}, nullptr, &why)->silences.empty());
  }

  // A stop ends the search with nothing and no error; a file that is no
  // MPEG audio says so.
  void aStoppedSearchGivesNothing() {
    std::atomic<bool> stop{true};
    QString why = QStringLiteral("unchanged");
    QVERIFY(!found::findSilences(media(QStringLiteral("speech.mp3")), {}, {}, &stop, &why));
    QVERIFY(why.isEmpty());
    QVERIFY(!found::findSilences(media(QStringLiteral("text.mp3")), {}, {}, nullptr, &why));
    QVERIFY(!why.isEmpty());
  }

  // Cue sheets as they come: a BOM, CRLF, a pregap (INDEX 00), a FILE that
  // names another file of the same recording; and the faults, each named
  // by its line, with no breakpoint taken.
  void cueSheets_data() {
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("says");
    const QByteArray head = "\xEF\xBB\xBFREM made by hand\r\nPERFORMER \"Reader\"\r\nTITLE \"Book\"\r\nFILE \"speech.wav\" WAVE\r\n";
    const QByteArray one = "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:00:00\r\n";
    const QByteArray two = "  TRACK 02 AUDIO\r\n    TITLE \"Two: \xC3\xBC\"\r\n    PERFORMER \"Other\"\r\n"
                           "    INDEX 00 00:05:00\r\n    INDEX 01 00:05:60\r\n";
    const QByteArray three = "  TRACK 03 AUDIO\r\n    TITLE \"Three\"\r\n    INDEX 01 00:26:30\r\n";
    QTest::newRow("good") << head + one + two + three << "";
    QTest::newRow("no INDEX 01") << head + one + "  TRACK 02 AUDIO\r\n    INDEX 00 00:05:00\r\n" + three
                                 << "line 8: TRACK 02 has no INDEX 01";
    QTest::newRow("past the end") << head + one + "  TRACK 02 AUDIO\r\n    INDEX 01 01:00:00\r\n"
                                  << "line 9: TRACK 02 begins at 1:00, past the end of speech.mp3 (0:54)";
    QTest::newRow("not rising") << head + one + two + "  TRACK 03 AUDIO\r\n    INDEX 01 00:05:00\r\n"
                                << "line 14: TRACK 03 begins no later than the track before it";
    QTest::newRow("no time") << head + "  TRACK 01 AUDIO\r\n    INDEX 01 00:61:00\r\n"
                             << "line 6: '00:61:00' is no time mm:ss:ff";
    QTest::newRow("no command") << head + one + "  TRAK 02 AUDIO\r\n" << "line 8: 'TRAK' is no cue sheet command";
    QTest::newRow("no track") << head << "the sheet holds no TRACK";
  }
  void cueSheets() {
    QFETCH(QByteArray, sheet);
    QFETCH(QString, says);
    const QString audio = media(QStringLiteral("speech.mp3"));
    const found::Timeline t = timeline(audio);
    const auto read = found::readCueSheet(sheet);
    const auto markers = std::holds_alternative<found::CueSheet>(read)
                             ? found::markersOf(std::get<found::CueSheet>(read), t, audio)
                             : std::variant<found::Markers, found::SheetError>(std::get<found::SheetError>(read));
    if (!says.isEmpty()) {
      QVERIFY(std::holds_alternative<found::SheetError>(markers));
      QVERIFY2(std::get<found::SheetError>(markers).message().startsWith(says),
               qPrintable(std::get<found::SheetError>(markers).message()));
      return;
    }
    QVERIFY(std::holds_alternative<found::Markers>(markers));
    const found::Markers &m = std::get<found::Markers>(markers);
    QCOMPARE(m.notes, QStringList{QStringLiteral("The sheet's FILE names speech.wav; its times are taken for speech.mp3.")});
    // 5.8 s (5 s and 60 of 75 frames) is sample 255,780 of what is heard,
    // 256,885 of the decoded stream (lame's 576 and libmpg123's 529 before
    // it): 222.99 frames of 1152, so frame 223. 26.4 s: 1011.58, frame 1012.
    QCOMPARE(framesOf(m.markers), (std::vector<std::int64_t>{0, 223, 1012, t.frames}));
    QCOMPARE(m.markers[0].title, QStringLiteral("One"));
    QCOMPARE(m.markers[0].performer, QStringLiteral("Reader"));
    QCOMPARE(m.markers[1].title, QStringLiteral("Two: ü"));
    QCOMPARE(m.markers[1].performer, QStringLiteral("Other"));
    QCOMPARE(m.markers[2].title, QStringLiteral("Three"));
  }

  // Chapters: their starts and titles; exact pieces carry the titles (and
  // "%title%" names them), byte pieces only their names, and the join gives
  // the source's tag back byte for byte.
  void chaptersGiveTitledPieces() {
    const QString source = media(QStringLiteral("chapters.mp3"));
    const found::Timeline t = timeline(source);
    const auto read = found::chaptersOf(source, t);
    QVERIFY(std::holds_alternative<found::Markers>(read));
    const auto &markers = std::get<found::Markers>(read).markers;
    QCOMPARE(framesOf(markers), (std::vector<std::int64_t>{0, t.frameAt(20), t.frameAt(41), t.frames}));
    QCOMPARE(markers[1].title, QStringLiteral("Middle: ü Ω"));
    QCOMPARE(markers[1].performer, QStringLiteral("Reader"));
    QVERIFY(std::get<found::Markers>(found::chaptersOf(media(QStringLiteral("speech.mp3")), t)).markers.empty());

    QDir::setCurrent(dir_.path());
    QStringList breakpoints;
    std::vector<split::PieceTitle> titles;
    for (const found::Marker &m : markers) breakpoints << QString::number(m.frame);
    for (std::size_t i = 0; i + 1 < markers.size(); ++i) titles.push_back({markers[i].title, markers[i].performer});
    for (const bool exact : {true, false}) {
      Quiet r;
      const QString tmpl = exact ? QStringLiteral("e-%track% %title%.mp3") : QStringLiteral("b-%track% %title%.mp3");
      const split::Outcome out = split::splitAtBreakpoints(source, t.frames, breakpoints, tmpl, r, exact, titles);
      QVERIFY2(out.completed, qPrintable(r.failures.join(u'\n')));
      QCOMPARE(out.pieces, (QStringList{exact ? QStringLiteral("e-001 Opening.mp3") : QStringLiteral("b-001 Opening.mp3"),
                                        exact ? QStringLiteral("e-002 Middle_ ü Ω.mp3") : QStringLiteral("b-002 Middle_ ü Ω.mp3"),
                                        exact ? QStringLiteral("e-003 End.mp3") : QStringLiteral("b-003 End.mp3")}));
      for (qsizetype k = 0; k < out.pieces.size(); ++k) {
        const QByteArray bytes = readAll(out.pieces[k]);
        const mpeg::Bytes tag(bytes.begin(), bytes.begin() + mpeg::id3v2Size(reinterpret_cast<const unsigned char *>(bytes.data())));
        const mpeg::Bytes title = mpeg::frameBody(tag, "TIT2");
        if (!exact) {  // byte ranges of the source: its own tag in the first, none after
          QCOMPARE(mpeg::bodyText(title), std::string(k == 0 ? "The Whole" : ""));
          continue;
        }
        const QString expected = titles[static_cast<std::size_t>(k)].title;
        // Latin-1 where it can, else UTF-16 with its BOM (a version 2.3 tag).
        const QString text = title[0] == 0 ? QString::fromLatin1(reinterpret_cast<const char *>(title.data() + 1),
                                                                 static_cast<qsizetype>(title.size() - 1))
                                           : QString::fromUtf16(reinterpret_cast<const char16_t *>(title.data() + 3),
                                                                static_cast<qsizetype>(title.size() - 3) / 2);
        QCOMPARE(title[0], k == 1 ? 1 : 0);
        QCOMPARE(text, expected);
        QCOMPARE(mpeg::bodyText(mpeg::frameBody(tag, "TPE1")), std::string("Reader"));
        QCOMPARE(mpeg::trackOf(tag), QStringLiteral("%1/3").arg(k + 1).toStdString());
      }
      if (exact) {
        QCOMPARE(split::joinPieces(out.pieces, QStringLiteral("joined.mp3")), std::nullopt);
        const QByteArray original = readAll(source), joined = readAll(QStringLiteral("joined.mp3"));
        const auto size = mpeg::id3v2Size(reinterpret_cast<const unsigned char *>(original.data()));
        QCOMPARE(joined.left(size), original.left(size));
      }
    }
  }

  // "%title%": what a file name cannot hold becomes "_"; without a title,
  // nothing.
  void titlesInNames() {
    QCOMPARE(split::pieceName(QStringLiteral("out/%track% - %title%.mp3"), 7, QStringLiteral("A/B: \"C\"?\t")),
             QStringLiteral("out/007 - A_B_ _C__.mp3"));
    QCOMPARE(split::pieceName(QStringLiteral("%track%%title%.mp3"), 2, QString()), QStringLiteral("002.mp3"));
    QCOMPARE(split::pieceName(QStringLiteral("%title%.mp3"), 3, QStringLiteral("..")), QStringLiteral("_-003.mp3"));
  }

 private:
  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestFind)
#include "tst_find.moc"
