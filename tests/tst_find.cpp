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

  // The level and the length decide: how many silences, where a row gives
  // them each as "start-end" in seconds of what is heard (to 2 ms), and the
  // first one's mean level (to 0.5 dB) where a row gives it.
  void theLevelAndLengthDecide_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("levelDb");
    QTest::addColumn<double>("minSeconds");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("edges");
    QTest::addColumn<double>("meanDb");  // 0: not looked at
    // A minute of a floor at -66 dB RMS is one silence, across the halves'
    // seam, below -45 dB, and sound above -75 dB.
    QTest::newRow("a floor below the level") << "floor.mp3" << -45.0 << 1.5 << 1 << "0.000-60.000" << -66.0;
    QTest::newRow("a floor above the level") << "floor.mp3" << -75.0 << 1.5 << 0 << "" << 0.0;
    QTest::newRow("pauses of 2.5 s are not of 3 s") << "speech.mp3" << -45.0 << 3.0 << 0 << "" << 0.0;
    QTest::newRow("noise throughout") << "heard.mp3" << -45.0 << 1.5 << 0 << "" << 0.0;
    // Two channels at -46.5 dB each: the level holds for every channel,
    // not for their sum (-43.5 dB).
    QTest::newRow("stereo floor below the level") << "stereo-floor.mp3" << -45.0 << 1.5 << 1 << "" << -46.5;
    QTest::newRow("stereo floor above the level") << "stereo-floor.mp3" << -48.0 << 1.5 << 0 << "" << 0.0;
    // The silence runs from the last sample of the fade-out at the level
    // to the first of the fade-in, not from where a 50 ms window's RMS
    // falls below it (2.965 s) nor to where it rises above it.
    QTest::newRow("fades at either end") << "fades.mp3" << -45.0 << 1.5 << 1 << "2.988-6.011" << 0.0;
  }
  void theLevelAndLengthDecide() {
    QFETCH(QString, file);
    QFETCH(double, levelDb);
    QFETCH(double, minSeconds);
    QFETCH(int, count);
    QFETCH(QString, edges);
    QFETCH(double, meanDb);
    QString why;
    const auto found = found::findSilences(media(file), {levelDb, minSeconds}, {}, nullptr, &why);
    QVERIFY2(found, qPrintable(why));
    QStringList got;
    for (const found::Silence &s : found->silences)
      got << QStringLiteral("%1-%2").arg(s.start, 0, 'f', 3).arg(s.end, 0, 'f', 3);
    QVERIFY2(got.size() == count, qPrintable(got.join(u' ')));
    const QStringList expected = edges.isEmpty() ? QStringList() : edges.split(u' ');
    for (qsizetype i = 0; i < expected.size(); ++i) {
      const QStringList a = got[i].split(u'-'), b = expected[i].split(u'-');
      QVERIFY2(std::abs(a[0].toDouble() - b[0].toDouble()) <= 0.002 && std::abs(a[1].toDouble() - b[1].toDouble()) <= 0.002,
               qPrintable(got.join(u' ')));
    }
    if (meanDb != 0)
      QVERIFY2(std::abs(found->silences[0].levelDb - meanDb) <= 0.5, qPrintable(QString::number(found->silences[0].levelDb)));
  }

  // Silences at the very start and end of a stereo file are found but part
  // nothing: the only breakpoint is the middle pause's (6 s: frame 231).
  // With none found, the quietest stretch is named, with a level that finds
  // it.
  void silencesAtTheEdgesPartNothing() {
    QString why;
    const auto edges = found::findSilences(media(QStringLiteral("silent-edges.mp3")), {}, {}, nullptr, &why);
    QVERIFY2(edges, qPrintable(why));
    QCOMPARE(edges->silences.size(), 3);
    QCOMPARE(framesOf(edges->markers), (std::vector<std::int64_t>{0, 231, 461}));
    const found::SilenceSettings strict{-75, 1.5};
    const auto none = found::findSilences(media(QStringLiteral("floor.mp3")), strict, {}, nullptr, &why);
    QVERIFY(none && none->silences.empty());
    const QString hint = found::quietestHint(*none, strict);
    QVERIFY2(QRegularExpression(QStringLiteral("^the quietest 1.5 s is at -6[4-7]\\.\\d dB, at 0:00:\\d\\d$")).match(hint).hasMatch(),
             qPrintable(hint));
    const auto level = found::levelToFind(*none);
    QVERIFY(level);
    QVERIFY(!found::findSilences(media(QStringLiteral("floor.mp3")), {static_cast<double>(*level), 1.5}, {}, nullptr, &why)
                 ->silences.empty());
  }

  // Chapters in an ID3v2 tag, wherever the tag is: their starts (speech.mp3
  // has 2,095 frames: 20 s is frame 767, 41 s 1570), their titles and
  // performers ("|" between the pieces'), and what the user is told.
  void chapters_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QString>("titles");
    QTest::addColumn<QString>("performers");
    QTest::addColumn<QString>("says");
    QTest::newRow("ID3v2.3 at the start") << "chapters.mp3" << "0 767 1570 2095"
                                          << QStringLiteral("Opening|Middle: ü Ω|End") << "Reader|Reader|Reader" << "";
    // A nested table's sub-chapters are not parts; a chapter past the end
    // is left out, and said so.
    QTest::newRow("a nested table of contents") << "chapters-nested.mp3" << "0 767 1570 2095" << "|First|Later" << "||"
                                                << "Left out, as the file ends at 0:54: the chapter \"Gone\" at 1:10.";
    QTest::newRow("ID3v2.4 after the audio, with its footer")
        << "chapters-end.mp3" << "0 767 1570 2095" << QStringLiteral("Opening|Middle Ω|End") << "||" << "";
    QTest::newRow("no tag") << "speech.mp3" << "" << "" << "" << "";
  }
  void chapters() {
    QFETCH(QString, file);
    QFETCH(QString, frames);
    QFETCH(QString, titles);
    QFETCH(QString, performers);
    QFETCH(QString, says);
    const QString source = media(file);
    const auto read = found::chaptersOf(source, timeline(source));
    if (const auto *error = std::get_if<found::SheetError>(&read)) QFAIL(qPrintable(error->message()));
    const found::Markers &m = std::get<found::Markers>(read);
    QStringList gotFrames, gotTitles, gotPerformers;
    for (std::size_t i = 0; i < m.markers.size(); ++i) {
      gotFrames << QString::number(m.markers[i].frame);
      if (i + 1 == m.markers.size()) break;
      gotTitles << m.markers[i].title;
      gotPerformers << m.markers[i].performer;
    }
    QCOMPARE(gotFrames.join(u' '), frames);
    QCOMPARE(gotTitles.join(u'|'), titles);
    QCOMPARE(gotPerformers.join(u'|'), performers);
    QCOMPARE(m.notes, says.isEmpty() ? QStringList() : QStringList{says});
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
  // Cue sheets as people have them, one class a row: what each gives,
  // written out (speech.mp3: 2,095 frames of 1,152 samples at 44.1 kHz,
  // lame's 576 samples and libmpg123's 529 before what is heard, so that
  // t seconds is frame round((44100 t + 1105) / 1152): 5.8 s is 223, 10 s
  // 384, 20 s 767, 26 s 996, 26.4 s 1012, 2 s 78). Pieces take the sheet's
  // track numbers; what plays before TRACK 01 is piece 0.
  void cueSheets_data() {
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("frames");   // the breakpoints
    QTest::addColumn<QString>("numbers");  // of the pieces
    QTest::addColumn<QString>("titles");   // of the pieces, "|" between
    QTest::addColumn<QString>("says");     // a note, or the error's start
    const QByteArray file = "FILE \"speech.mp3\" MP3\n";
    const QByteArray tracks = "TRACK 01 AUDIO\n TITLE \"One\"\n INDEX 01 00:00:00\n"
                              "TRACK 02 AUDIO\n TITLE \"Two\"\n INDEX 01 00:10:00\n"
                              "TRACK 03 AUDIO\n TITLE \"Three\"\n INDEX 01 00:20:00\n";
    const QString plain = QStringLiteral("0 384 767 2095"), oneTwoThree = QStringLiteral("1 2 3");
    const QString titles = QStringLiteral("One|Two|Three");
    const QByteArray head = "\xEF\xBB\xBFREM made by hand\r\nPERFORMER \"Reader\"\r\nTITLE \"Book\"\r\nFILE \"speech.wav\" WAVE\r\n";
    const QByteArray one = "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:00:00\r\n";
    const QByteArray two = "  TRACK 02 AUDIO\r\n    TITLE \"Two: \xC3\xBC\"\r\n    PERFORMER \"Other\"\r\n"
                           "    INDEX 00 00:05:00\r\n    INDEX 01 00:05:60\r\n";
    const QByteArray three = "  TRACK 03 AUDIO\r\n    TITLE \"Three\"\r\n    INDEX 01 00:26:30\r\n";
    QTest::newRow("UTF-8 with a BOM, CRLF, a track's INDEX 00")
        << head + one + two + three << "0 223 1012 2095" << oneTwoThree << QStringLiteral("One|Two: ü|Three")
        << "The sheet's FILE names speech.wav; its times are taken for speech.mp3.";
    QTest::newRow("LF") << file + tracks << plain << oneTwoThree << titles << "";
    QTest::newRow("CR alone") << QByteArray(file + tracks).replace('\n', '\r') << plain << oneTwoThree << titles << "";
    QTest::newRow("lower case") << QByteArray(file + tracks).replace("TRACK", "track").replace("INDEX", "index").replace("TITLE", "title")
                                << plain << oneTwoThree << titles << "";
    QTest::newRow("Windows-1252") << file + QByteArray(tracks).replace("\"Two\"", "\"Don\x92t \x96 Caf\xE9\"") << plain
                                  << oneTwoThree << QStringLiteral("One|Don\u2019t \u2013 Caf\u00e9|Three")
                                  << "The sheet is not UTF-8: it is read as Windows-1252.";
    const QString utf16 = QString::fromUtf8(file + QByteArray(tracks).replace("\"Two\"", "\"Tw\xC5\x8D\""));
    QByteArray le("\xFF\xFE"), be("\xFE\xFF");
    for (QChar c : utf16) {
      le.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
      be.append(static_cast<char>(c.unicode() >> 8)).append(static_cast<char>(c.unicode() & 0xFF));
    }
    QTest::newRow("UTF-16LE") << le << plain << oneTwoThree << QStringLiteral("One|Twō|Three") << "";
    QTest::newRow("UTF-16BE") << be << plain << oneTwoThree << QStringLiteral("One|Twō|Three") << "";
    QTest::newRow("an unknown command") << "COMPOSER \"Someone\"\n" + file + tracks << plain << oneTwoThree << titles
                                        << "Passed over what is no cue sheet command: COMPOSER (line 1).";
    QTest::newRow("mm:ss") << file + QByteArray(tracks).replace("00:20:00", "00:26") << "0 384 996 2095" << oneTwoThree
                           << titles << "1 time without frames (mm:ss) taken as whole seconds.";
    QTest::newRow("INDEX 02 is not the start")
        << file + QByteArray(tracks).replace(" INDEX 01 00:20:00", " INDEX 01 00:20:00\n INDEX 02 00:26:00") << plain
        << oneTwoThree << titles << "";
    QTest::newRow("a track past the end")
        << file + tracks + "TRACK 04 AUDIO\n TITLE \"Gone\"\n INDEX 01 01:00:00\n" << plain << oneTwoThree << titles
        << "Left out, as speech.mp3 ends at 0:54: TRACK 04 at 1:00.";
    QTest::newRow("a pregap, INDEX 00") << file + QByteArray(tracks).replace(" INDEX 01 00:00:00", " INDEX 00 00:00:00\n INDEX 01 00:02:00")
                                        << "0 78 384 767 2095" << "0 1 2 3" << "|One|Two|Three"
                                        << "The 0:02 before TRACK 01 is a piece of its own, numbered 000.";
    QTest::newRow("a pregap, INDEX 01 later") << file + QByteArray(tracks).replace("00:00:00", "00:02:00")
                                              << "0 78 384 767 2095" << "0 1 2 3" << "|One|Two|Three"
                                              << "The 0:02 before TRACK 01 is a piece of its own, numbered 000.";
    QTest::newRow("numbers from the sheet") << file + QByteArray(tracks).replace("TRACK 02", "TRACK 05").replace("TRACK 03", "TRACK 06")
                                            << plain << "1 5 6" << titles << "";
    // Refused, naming the line.
    QTest::newRow("frame 75") << file + QByteArray(tracks).replace("00:10:00", "00:10:75") << "" << "" << ""
                              << "line 7: '00:10:75' is no time mm:ss:ff";
    QTest::newRow("two FILEs") << file + tracks + "FILE \"b.mp3\" MP3\n" << "" << "" << ""
                               << "line 11: a second FILE";
    QTest::newRow("going back") << file + QByteArray(tracks).replace("00:20:00", "00:05:00") << "" << "" << ""
                                << "line 10: TRACK 03 begins no later than the track before it";
    QTest::newRow("no INDEX 01") << head + one + "  TRACK 02 AUDIO\r\n    INDEX 00 00:05:00\r\n" + three << "" << "" << ""
                                 << "line 8: TRACK 02 has no INDEX 01";
    QTest::newRow("all past the end") << file + "TRACK 01 AUDIO\n INDEX 01 02:00:00\n" << "" << "" << ""
                                      << "line 3: every track begins past the end of speech.mp3 (0:54)";
    QTest::newRow("no track") << head << "" << "" << "" << "the sheet holds no TRACK";
  }
  void cueSheets() {
    QFETCH(QByteArray, sheet);
    QFETCH(QString, frames);
    QFETCH(QString, numbers);
    QFETCH(QString, titles);
    QFETCH(QString, says);
    const QString audio = media(QStringLiteral("speech.mp3"));
    const found::Timeline t = timeline(audio);
    QCOMPARE(t.frames, 2095);
    const auto read = found::readCueSheet(sheet);
    const auto markers = std::holds_alternative<found::CueSheet>(read)
                             ? found::markersOf(std::get<found::CueSheet>(read), t, audio)
                             : std::variant<found::Markers, found::SheetError>(std::get<found::SheetError>(read));
    if (frames.isEmpty()) {
      QVERIFY(std::holds_alternative<found::SheetError>(markers));
      QVERIFY2(std::get<found::SheetError>(markers).message().startsWith(says),
               qPrintable(std::get<found::SheetError>(markers).message()));
      return;
    }
    if (const auto *error = std::get_if<found::SheetError>(&markers)) QFAIL(qPrintable(error->message()));
    const found::Markers &m = std::get<found::Markers>(markers);
    QCOMPARE(m.notes, says.isEmpty() ? QStringList() : QStringList{says});
    QStringList gotFrames, gotNumbers, gotTitles;
    for (std::size_t i = 0; i < m.markers.size(); ++i) {
      gotFrames << QString::number(m.markers[i].frame);
      if (i + 1 == m.markers.size()) break;
      gotNumbers << QString::number(m.markers[i].number);
      gotTitles << m.markers[i].title;
    }
    QCOMPARE(gotFrames.join(u' '), frames);
    QCOMPARE(gotNumbers.join(u' '), numbers);
    QCOMPARE(gotTitles.join(u'|'), titles);
  }

  // Exact pieces carry the chapters' titles (and "%title%" names them),
  // byte pieces only their names, and the join gives the source's tag back
  // byte for byte.
  void chaptersGiveTitledPieces() {
    const QString source = media(QStringLiteral("chapters.mp3"));
    const found::Timeline t = timeline(source);
    const auto read = found::chaptersOf(source, t);
    QVERIFY(std::holds_alternative<found::Markers>(read));
    const auto &markers = std::get<found::Markers>(read).markers;

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
    QCOMPARE(split::pieceName(QStringLiteral("%title%.mp3"), 3, QStringLiteral("..")), QStringLiteral("__-003.mp3"));
    // Without a title, no separator is left beside where it would be.
    QCOMPARE(split::pieceName(QStringLiteral("%track% %title%.mp3"), 2, QString()), QStringLiteral("002.mp3"));
    QCOMPARE(split::pieceName(QStringLiteral("out/%title% - %track%.mp3"), 2, QString()), QStringLiteral("out/002.mp3"));
    QCOMPARE(split::pieceName(QStringLiteral("%track%_%title%_live.mp3"), 2, QString()), QStringLiteral("002_live.mp3"));
    // No hidden file.
    QCOMPARE(split::pieceName(QStringLiteral("%title%-%track%.mp3"), 4, QStringLiteral(".profile")),
             QStringLiteral("_profile-004.mp3"));
    // A name past 255 bytes loses the end of its title, whole characters.
    const QString longName = split::pieceName(QStringLiteral("/tmp/%track% %title%.mp3"), 5, QString(200, QChar(0x00E9)));
    QCOMPARE(longName, QStringLiteral("/tmp/005 ") + QString(123, QChar(0x00E9)) + QStringLiteral(".mp3"));
  }

 private:
  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestFind)
#include "tst_find.moc"
