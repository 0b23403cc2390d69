// Breakpoints found for the user: silences, cue sheets, chapters and labels,
// and the titles they bring into exact pieces; the breakpoints given back as
// a cue sheet, labels, a frame list and the chapters of a copy.
#include <mpg123.h>
#include <sys/stat.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "Id3.h"
#include "Marks.h"
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

// Breakpoints written as "frame title/performer#number", "|" between.
std::vector<found::Marker> markersFrom(const QString &text) {
  std::vector<found::Marker> markers;
  for (const QString &item : text.split(u'|')) {
    const qsizetype space = item.indexOf(u' ');
    found::Marker m{item.left(space < 0 ? item.size() : space).toLongLong(), {}, {}};
    QString rest = space < 0 ? QString() : item.mid(space + 1);
    if (const qsizetype hash = rest.lastIndexOf(u'#'); hash >= 0) {
      m.number = rest.mid(hash + 1).toInt();
      rest.truncate(hash);
    }
    m.title = rest.section(u'/', 0, 0);
    m.performer = rest.section(u'/', 1);
    markers.push_back(m);
  }
  return markers;
}

// The same, written out: the frames, and the pieces' titles and numbers.
struct Written {
  QString frames, titles, numbers;
};
Written writtenOut(const std::vector<found::Marker> &markers) {
  QStringList frames, titles, numbers;
  for (std::size_t i = 0; i < markers.size(); ++i) {
    frames << QString::number(markers[i].frame);
    if (i + 1 == markers.size()) break;
    titles << markers[i].title;
    numbers << QString::number(markers[i].number);
  }
  return {frames.join(u' '), titles.join(u'|'), numbers.join(u' ')};
}

// The frames of an ID3v2 tag as its version has their sizes (version 2.4:
// seven bits a byte), those within a CHAP frame in brackets after it; with
// "!" where the walk does not end at the padding or the tag's end, or a
// version 2.4 size has a byte of eight bits.
QString framesWalked(const QByteArray &tag) {
  const bool v4 = tag.at(3) == 4;
  const auto walk = [v4](const QByteArray &bytes, qsizetype at, const auto &self) -> QString {
    QStringList ids;
    while (at + 10 <= bytes.size() && bytes.at(at) != 0) {
      std::size_t size = 0;
      for (int i = 4; i < 8; ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(at + i));
        if (v4 && b >= 0x80) return ids.join(u' ') + QStringLiteral(" !");
        size = (size << (v4 ? 7 : 8)) | b;
      }
      if (at + 10 + static_cast<qsizetype>(size) > bytes.size()) return ids.join(u' ') + QStringLiteral(" !");
      const QByteArray id = bytes.mid(at, 4), body = bytes.mid(at + 10, static_cast<qsizetype>(size));
      ids << QString::fromLatin1(id) +
                 (id == "CHAP" ? QStringLiteral("[%1]").arg(self(body, body.indexOf('\0') + 17, self)) : QString());
      at += 10 + static_cast<qsizetype>(size);
    }
    return ids.join(u' ');
  };
  return walk(tag, 10, walk);
}

// All the samples libmpg123 decodes from a file.
QByteArray decodedByLibmpg123(const QString &path) {
  static const int initialised = mpg123_init();
  Q_UNUSED(initialised);
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle *)> mh(mpg123_new(nullptr, nullptr), mpg123_delete);
  mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  if (mpg123_open(mh.get(), QFile::encodeName(path).constData()) != MPG123_OK) return {};
  QByteArray all;
  unsigned char buffer[65536];
  std::size_t got = 0;
  int err = MPG123_OK;
  while ((err = mpg123_read(mh.get(), buffer, sizeof buffer, &got)) == MPG123_OK || err == MPG123_NEW_FORMAT)
    all.append(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(got));
  all.append(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(got));
  return err == MPG123_DONE ? all : QByteArray();
}

// What another program reads of a file: `program` and its arguments; its
// output, or a failure.
QString outputOf(const QString &program, const QStringList &args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return QStringLiteral("failed: ") + QString::fromUtf8(p.readAllStandardError());
  return QString::fromUtf8(p.readAllStandardOutput());
}

// The ID3v2 tag as mutagen reads it: its version, its tables of contents,
// its chapters in the order the table lists them (start, end, title and
// performer), and a digest of each other frame.
QString mutagenReads(const QString &path) {
  static const QString script = QStringLiteral(R"(
import hashlib, sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print("version 2.%d" % t.version[1])
chapters = {c.element_id: c for c in t.getall("CHAP")}
for toc in t.getall("CTOC"):
    print("toc %s %d %s" % (toc.element_id, int(toc.flags), ",".join(toc.child_element_ids)))
    for cid in toc.child_element_ids:
        c = chapters[cid]
        text = lambda f: str(c.sub_frames[f].text[0]) if f in c.sub_frames else ""
        print("%s %d %d %x %s/%s" % (cid, c.start_time, c.end_time, c.start_offset, text("TIT2"), text("TPE1")))
for f in sorted(repr(f) for f in t.values() if f.FrameID not in ("CHAP", "CTOC")):
    print("frame", hashlib.sha256(f.encode()).hexdigest()[:16])
)");
  return outputOf(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
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

  // Every silence to the sample (in samples of what is heard), whatever the
  // count of parts the file is decoded in (MPEG-1, 2 and 2.5, mono and
  // stereo): parts begin at multiples of 64 frames, so from 1 to 8 of them
  // their seams fall inside silences, in the windows at their edges and in
  // sound. The edges are where a window's level crosses the level within a
  // block of windows judged at once (the fades: a window at a time over the
  // samples there).
  void silencesToTheSampleInAnyParts_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("edges");
    QTest::newRow("mono MPEG-1 speech") << "speech.mp3"
                                        << "202265-312150 514803-624794 828943-938970 1143673-1253726 "
                                           "1460679-1570688 1778721-1888798 2097335-2207584";
    QTest::newRow("fades out and in") << "fades.mp3" << "131776-265125";
    QTest::newRow("stereo, at the start, the middle and the end") << "silent-edges.mp3"
                                                                   << "0-88201 220500-308701 441000-529200";
    QTest::newRow("stereo floor") << "stereo-floor.mp3" << "90402-262400";
    QTest::newRow("MPEG-2 stereo") << "beeps-22k.mp3"
                                   << "28311-65105 92441-129105 156333-193089 220404-257105 284536-321105 "
                                      "348384-385105 412842-449105 476780-513105 540309-577104 604309-641104 "
                                      "668480-705089 732410-769105 796588-833105 860538-897105 924384-961344";
    // The pause ends inside the first window of a part (three of them): the
    // run the part before left open ends there, not at that window's end.
    QTest::newRow("MPEG-2.5, a pause ending at a seam") << "seam-8k.mp3" << "37513-74126";
    QTest::newRow("MPEG-2.5 stereo") << "beeps-8k.mp3"
                                     << "13605-32000 45602-64000 77723-95966 109645-128000 141715-160000 "
                                        "173790-191954 206173-224000 237676-256000 270254-288000 301605-320000 "
                                        "333609-352000 365806-383997 397602-416000 429729-448000 461602-480000";
  }
  void silencesToTheSampleInAnyParts() {
    QFETCH(QString, file);
    QFETCH(QString, edges);
    // And where the strip's levels are known: only the stretches they leave in doubt decoded.
    std::vector<float> levels;
    QString why;
    QVERIFY2(found::measureLevels(
                 media(file), [&levels](const found::LevelScale &scale) { levels.resize(scale.windows); },
                 [&levels](std::int64_t first, std::vector<float> power) {
                   std::copy(power.begin(), power.end(), levels.begin() + first);
                 },
                 nullptr, &why),
             qPrintable(why));
    for (int parts = 0; parts <= 8; ++parts) {
      const auto found = found::findSilences(media(file), {}, {}, nullptr, &why, parts, parts == 0 ? &levels : nullptr);
      QVERIFY2(found, qPrintable(why));
      QStringList got;
      for (const found::Silence &s : found->silences)
        got << QStringLiteral("%1-%2").arg(std::llround(s.start * static_cast<double>(found->timeline.rate)))
                   .arg(std::llround(s.end * static_cast<double>(found->timeline.rate)));
      QVERIFY2(got.join(u' ') == edges, qPrintable(QStringLiteral("%1 parts: %2").arg(parts).arg(got.join(u' '))));
    }
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
    const auto level = found::levelToFind(*none, strict);
    QVERIFY(level);
    QVERIFY(!found::findSilences(media(QStringLiteral("floor.mp3")), {static_cast<double>(*level), 1.5}, {}, nullptr, &why)
                 ->silences.empty());
    // Searched at that level already (or above) and nothing found: no level
    // is offered again, which would send the user round in a circle.
    QVERIFY(!found::levelToFind(*none, {static_cast<double>(*level), 1.5}));
    QVERIFY(!found::levelToFind(*none, {static_cast<double>(*level) + 3, 1.5}));
    QCOMPARE(found::levelToFind(*none, {static_cast<double>(*level) - 1, 1.5}), level);
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
    // 00:10:01 is 13 ms after 00:10:00: both begin at frame 384.
    QTest::newRow("two tracks in one frame")
        << QByteArray(file + tracks + "TRACK 04 AUDIO\n TITLE \"Four\"\n INDEX 01 00:30:00\n").replace("00:20:00", "00:10:01")
        << "0 384 1149 2095" << "1 2 4" << "One|Two|Four"
        << "Left out, as each begins on the frame of the track before it: TRACK 03 at 0:10.";
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

  // Audacity's labels as it exports them and as people have them, one class
  // a row, on speech.mp3 (t seconds is frame round((44100 t + 1105) /
  // 1152): 0.5 s is 20, 5.8 s 223, 10 s 384, 20 s 767, 26.4 s 1012, the
  // last 2095). Each label's start is a breakpoint with its text; a label's
  // end too, where the next does not begin there. What is refused names
  // its line.
  void labels_data() {
    QTest::addColumn<QByteArray>("labels");
    QTest::addColumn<QString>("frames");   // the breakpoints
    QTest::addColumn<QString>("titles");   // of the pieces, "|" between
    QTest::addColumn<QString>("numbers");  // of the pieces
    QTest::addColumn<QString>("says");     // a note, or the error
    QTest::newRow("as Audacity exports them: point and region labels, a frequency range, CRLF")
        << QByteArray("0.000000\t0.000000\tIntro\r\n10.000000\t20.000000\tVerse\r\n\\\t140.000000\t2200.000000\r\n"
                      "26.400000\t26.400000\tChorus\r\n")
        << "0 384 767 1012 2095" << "Intro|Verse||Chorus" << "-1 -1 -1 -1" << "";
    QTest::newRow("regions end to end, LF") << QByteArray("0.000000\t10.000000\tA\n10.000000\t20.000000\tB\n")
                                            << "0 384 767 2095" << "A|B|" << "-1 -1 -1" << "";
    QTest::newRow("the first label later, one without text, one without a tab before no text")
        << QByteArray("0.5\t0.5\t\n5.8\t5.8\n") << "0 20 223 2095" << "||" << "-1 -1 -1" << "";
    QTest::newRow("digits alone are the piece's number") << QByteArray("0\t0\t005\n10\t10\t006\n") << "0 384 2095" << "|"
                                                         << "5 6" << "";
    // Less than a frame apart (frame 384 begins at 10.005964 s): the second
    // would begin a piece of nothing, and is named.
    QTest::newRow("two labels in one frame") << QByteArray("0\t0\tA\n10\t10\tB\n10.001\t10.001\tC\n20\t20\tD\n")
                                             << "0 384 767 2095" << "A|B|D" << "-1 -1 -1"
                                             << "Left out, as each begins on the frame of the label before it: line 3 at "
                                                "10.001 s.";
    QTest::newRow("a control character is kept") << QByteArray("0\t0\tOne\x01Two\n") << "0 2095"
                                                 << QStringLiteral("One\x01Two") << "-1" << "";
    QTest::newRow("UTF-8 with a BOM") << QByteArray("\xEF\xBB\xBF" "0\t0\tK\xC3\xB6ln\n") << "0 2095" << QStringLiteral("Köln")
                                      << "-1" << "";
    QTest::newRow("Windows-1252") << QByteArray("0\t0\tDon\x92t \x96 Caf\xE9\n") << "0 2095"
                                  << QStringLiteral("Don\u2019t \u2013 Caf\u00e9") << "-1"
                                  << "The labels are not UTF-8: they are read as Windows-1252.";
    // Refused, naming the line.
    QTest::newRow("a cue sheet") << QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 01 AUDIO\n") << "" << "" << ""
                                 << "line 1: 'FILE \"speech.mp3\" MP3' is no label: Audacity's labels are "
                                    "start<TAB>end<TAB>text, in seconds";
    QTest::newRow("times with spaces between") << QByteArray("0.0\t0.0\tA\n00:00:05.000 00:00:06.000 Intro\n") << "" << ""
                                               << "" << "line 2: '00:00:05.000 00:00:06.000 Intro' is no label";
    QTest::newRow("a comma for a decimal point") << QByteArray("5,500000\t6,000000\tA\n") << "" << "" << ""
                                                 << "line 1: '5,500000' is no time in seconds with a decimal point";
    QTest::newRow("falling") << QByteArray("10\t10\tA\n\n5\t5\tB\n") << "" << "" << ""
                             << "line 3: the label begins at 5.000 s, no later than the label before it (10.000 s)";
    QTest::newRow("twice at one time") << QByteArray("10\t10\tA\n10\t12\tB\n") << "" << "" << ""
                                       << "line 2: the label begins at 10.000 s, no later than the label before it";
    QTest::newRow("ending before it begins") << QByteArray("10\t5\tA\n") << "" << "" << ""
                                             << "line 1: the label ends at 5.000 s, before it begins at 10.000 s";
    QTest::newRow("beginning past the end") << QByteArray("0\t0\tA\n60\t60\tLate\n") << "" << "" << ""
                                            << "line 2: the label begins at 60.000 s, past the end of the file (54.701 s)";
    QTest::newRow("ending past the end") << QByteArray("50\t70\tLong\n") << "" << "" << ""
                                         << "line 1: the label ends at 70.000 s, past the end of the file (54.701 s)";
    QTest::newRow("a frequency range first") << QByteArray("\\\t100\t200\n0\t0\tA\n") << "" << "" << ""
                                           << "line 1: '\\\t100\t200' is no label";
    QTest::newRow("negative") << QByteArray("-1.5\t2\tA\n") << "" << "" << "" << "line 1: '-1.5\t2\tA' is no label";
    QTest::newRow("no label") << QByteArray("\r\n\r\n") << "" << "" << "" << "it holds no label";
  }
  void labels() {
    QFETCH(QByteArray, labels);
    QFETCH(QString, frames);
    QFETCH(QString, titles);
    QFETCH(QString, numbers);
    QFETCH(QString, says);
    const found::Timeline t = timeline(media(QStringLiteral("speech.mp3")));
    const auto read = found::readLabels(labels);
    const auto markers = std::holds_alternative<found::LabelFile>(read)
                             ? found::markersOf(std::get<found::LabelFile>(read), t)
                             : std::variant<found::Markers, found::SheetError>(std::get<found::SheetError>(read));
    if (frames.isEmpty()) {
      QVERIFY(std::holds_alternative<found::SheetError>(markers));
      QVERIFY2(std::get<found::SheetError>(markers).message().startsWith(says),
               qPrintable(std::get<found::SheetError>(markers).message()));
      return;
    }
    if (const auto *error = std::get_if<found::SheetError>(&markers)) QFAIL(qPrintable(error->message()));
    QCOMPARE(std::get<found::Markers>(markers).notes, says.isEmpty() ? QStringList() : QStringList{says});
    const Written got = writtenOut(std::get<found::Markers>(markers).markers);
    QCOMPARE(got.frames, frames);
    QCOMPARE(got.titles, titles);
    QCOMPARE(got.numbers, numbers);
  }

  // The breakpoints written as a cue sheet, labels and a frame list, and
  // read back: the same frames and titles, whatever the kind cannot hold
  // named in a note. speech.mp3's frame f begins at (1152 f - 1105) / 44100
  // s: 78 at 2.012494 (cue 00:02:01), 384 at 10.005964 (00:10:00), 1012 at
  // 26.410862 (00:26:31), the end 2095 at 54.701474.
  void marksGoAndComeBack_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("markers");  // "frame title/performer#number", "|" between
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("frames");  // read back
    QTest::addColumn<QString>("titles");
    const QString titled = QStringLiteral("0 One/Reader|384 Two|1012|2095");
    QTest::newRow("cue sheet") << "cue" << titled
                               << QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
                                             "    PERFORMER \"Reader\"\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                                             "    TITLE \"Two\"\n    INDEX 01 00:10:00\n  TRACK 03 AUDIO\n"
                                             "    INDEX 01 00:26:31\n")
                               << "" << "0 384 1012 2095" << "One|Two|";
    QTest::newRow("labels") << "labels" << titled
                            << QByteArray("0.000000\t10.005964\tOne\n10.005964\t26.410862\tTwo\n26.410862\t54.701474\t003\n")
                            << "" << "0 384 1012 2095" << "One|Two|";
    QTest::newRow("frame list") << "frames" << titled << QByteArray("0,384,1012,2095\n") << "" << "0 384 1012 2095" << "||";
    // A list without the end: a cue sheet's last track and the labels' last
    // end take it back with the end added; a frame list as it is.
    QTest::newRow("cue sheet, no end") << "cue" << "0 A|384 B" << QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 01 AUDIO\n"
                                                                             "    TITLE \"A\"\n    INDEX 01 00:00:00\n"
                                                                             "  TRACK 02 AUDIO\n    TITLE \"B\"\n"
                                                                             "    INDEX 01 00:10:00\n")
                                       << "" << "0 384 2095" << "A|B";
    QTest::newRow("labels, no end") << "labels" << "0 A|384 B|1012" << QByteArray("0.000000\t10.005964\tA\n10.005964\t26.410862\tB\n")
                                    << "" << "0 384 1012 2095" << "A|B|";
    QTest::newRow("frame list, no end") << "frames" << "0|384" << QByteArray("0,384\n") << "" << "0 384" << "";
    // A cue sheet's numbers: the pregap piece 000 gets no TRACK 00, and
    // comes back from what plays before TRACK 01.
    QTest::newRow("cue sheet, a pregap and the sheet's numbers")
        << "cue" << "0 #0|78 One#5|384 Two#6|2095"
        << QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 05 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:02:01\n"
                      "  TRACK 06 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:10:00\n")
        << "" << "0 78 384 2095" << "|One|Two";
    QTest::newRow("labels, the sheet's numbers") << "labels" << "0 #0|78 #5|384 Two#6|2095"
                                                 << QByteArray("0.000000\t2.012494\t000\n2.012494\t10.005964\t005\n"
                                                               "10.005964\t54.701474\tTwo\n")
                                                 << "" << "0 78 384 2095" << "||Two";
    // What the kind cannot hold.
    QTest::newRow("cue sheet, quotes and a line break")
        << "cue" << "0 Say \"Hi\"|384 A\nB"
        << QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 01 AUDIO\n    TITLE \"Say 'Hi'\"\n    INDEX 01 00:00:00\n"
                      "  TRACK 02 AUDIO\n    TITLE \"A B\"\n    INDEX 01 00:10:00\n")
        << "A cue sheet holds no double quote in a text: 1 text has single quotes in their place.\n"
           "A cue sheet holds no line break in a text: 1 text has spaces in their place."
        << "0 384 2095" << "Say 'Hi'|A B";
    QTest::newRow("labels, a tab and a control character")
        << "labels" << QStringLiteral("0 A\tB|384 C\x01|2095")
        << QByteArray("0.000000\t10.005964\tA B\n10.005964\t54.701474\tC\x01\n")
        << "A label holds no tab or line break: 1 title has spaces in their place." << "0 384 2095"
        << QStringLiteral("A B|C\x01");
    // Frame 1 begins 1 ms into what is heard: the sheet's 1/75 s cannot tell
    // it from 0, and a time so near the start reads back as 0.
    QTest::newRow("cue sheet, frame 1") << "cue" << "0|1|384|2095"
                                        << QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                                      "  TRACK 02 AUDIO\n    INDEX 01 00:10:00\n")
                                        << "Left out, as the sheet's 1/75 s cannot tell them from the breakpoint before: frame 1."
                                        << "0 384 2095" << "|";
    QTest::newRow("labels, frame 1") << "labels" << "0|1|384|2095"
                                     << QByteArray("0.000000\t0.001066\t001\n0.001066\t10.005964\t002\n"
                                                   "10.005964\t54.701474\t003\n")
                                     << "Read back from labels in microseconds, these breakpoints fall on other frames: 1 as 0."
                                     << "0 384 2095" << "|";
  }
  void marksGoAndComeBack() {
    QFETCH(QString, kind);
    QFETCH(QString, markers);
    QFETCH(QByteArray, file);
    QFETCH(QString, notes);
    QFETCH(QString, frames);
    QFETCH(QString, titles);
    const QString audio = media(QStringLiteral("speech.mp3"));
    const found::Timeline t = timeline(audio);
    const found::MarksKind k = kind == u"cue"      ? found::MarksKind::cueSheet
                               : kind == u"labels" ? found::MarksKind::labels
                                                   : found::MarksKind::frameList;
    const found::MarksText marks = found::marksOf(k, markersFrom(markers), t, QStringLiteral("speech.mp3"));
    QCOMPARE(marks.bytes, file);
    QCOMPARE(marks.notes.join(u'\n'), notes);

    std::variant<found::Markers, found::SheetError> back = found::SheetError{};
    if (k == found::MarksKind::cueSheet) {
      const auto sheet = found::readCueSheet(marks.bytes);
      QVERIFY(std::holds_alternative<found::CueSheet>(sheet));
      back = found::markersOf(std::get<found::CueSheet>(sheet), t, audio);
    } else if (k == found::MarksKind::labels) {
      const auto labels = found::readLabels(marks.bytes);
      QVERIFY(std::holds_alternative<found::LabelFile>(labels));
      back = found::markersOf(std::get<found::LabelFile>(labels), t);
    } else {
      back = found::readFrameList(marks.bytes, t);
    }
    if (const auto *error = std::get_if<found::SheetError>(&back)) QFAIL(qPrintable(error->message()));
    const Written got = writtenOut(std::get<found::Markers>(back).markers);
    QCOMPARE(got.frames, frames);
    QCOMPARE(got.titles, titles);
  }

  void frameLists_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("says");  // the error, or the frames read
    QTest::newRow("with spaces and CRLF") << QByteArray("0, 384 ,2095\r\n") << "0 384 2095";
    QTest::newRow("two lines") << QByteArray("0,384\n1012\n") << "line 2: a frame list is one line of frame numbers";
    QTest::newRow("a word") << QByteArray("0,ten\n") << "line 1: 'ten' is no frame number";
    QTest::newRow("falling") << QByteArray("0,384,200\n") << "line 1: frames must rise, not 200 after 384";
    QTest::newRow("past the end") << QByteArray("0,2096\n") << "line 1: frame 2096 is past the end of the file (frame 2095)";
  }
  void frameLists() {
    QFETCH(QByteArray, list);
    QFETCH(QString, says);
    const auto read = found::readFrameList(list, timeline(media(QStringLiteral("speech.mp3"))));
    if (const auto *error = std::get_if<found::SheetError>(&read))
      QVERIFY2(error->message().startsWith(says), qPrintable(error->message()));
    else
      QCOMPARE(writtenOut(std::get<found::Markers>(read).markers).frames, says);
  }

  // A copy with chapters: its audio and all after the tag is the source's
  // byte for byte and decodes to the same samples; its tag keeps the
  // source's other frames and version (a new one is 2.3) and holds one
  // chapter a piece in an ordered top-level table, read alike by mutagen,
  // ffprobe and the program itself. Breakpoints 0, 100 and 250 (lame's
  // 1,105 samples before what is heard: 100 begins at 2587 ms, 250 at 6506
  // ms); the end is added.
  void chapterCopies_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("performer");  // the second chapter's: this many "z"
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("replaced");
    QTest::addColumn<QString>("chapters");  // as mutagen reads them, the first two
    QTest::addColumn<QString>("last");      // the third
    QTest::addColumn<QString>("frames");    // of the copy's tag, in order
    QTest::addColumn<bool>("probe");        // by ffprobe too
    const QString chapters = QStringLiteral("CTOC CHAP[TIT2 TPE1] CHAP[TIT2 TPE1] CHAP[]");
    // A performer of 130 bytes makes a frame longer than 127 bytes, where
    // the sizes of version 2.4 (seven bits a byte) and 2.3 differ.
    QTest::newRow("no tag") << "speech.mp3" << 130 << 3 << 0 << "" << "ch2 6506 54677 ffffffff /\n" << chapters << true;
    QTest::newRow("a version 2.3 tag with chapters") << "chapters.mp3" << 130 << 3 << 3 << ""
                                                     << "ch2 6506 54677 ffffffff /\n" << "TIT2 TALB " + chapters << true;
    QTest::newRow("a version 2.4 tag with nested tables") << "chapters-nested.mp3" << 2 << 4 << 5 << ""
                                                          << "ch2 6506 54677 ffffffff /\n" << chapters << true;
    // ffprobe (5.1) reads the sizes of the frames within a chapter as
    // version 2.3 has them, and loses a chapter with one of 128 bytes or
    // more in version 2.4.
    QTest::newRow("a version 2.4 tag, a long frame within a chapter")
        << "chapters-nested.mp3" << 130 << 4 << 5 << "" << "ch2 6506 54677 ffffffff /\n" << chapters << false;
    QTest::newRow("a tag with a picture") << "big-id3.mp3" << 130 << 3 << 0 << "" << "ch2 6506 10000 ffffffff /\n"
                                          << "TSSE TIT2 TPE1 TLEN APIC " + chapters << true;
    // Its checksum would no longer hold: the extended header goes.
    QTest::newRow("an extended header with a checksum") << "extended.mp3" << 130 << 3 << 0 << ""
                                                        << "ch2 6506 54677 ffffffff /\n" << "TIT2 " + chapters << true;
  }
  void chapterCopies() {
    QFETCH(QString, source);
    QFETCH(int, performer);
    QFETCH(int, version);
    QFETCH(int, replaced);
    QFETCH(QString, last);
    QFETCH(QString, frames);
    QFETCH(bool, probe);
    const QString chapters = QStringLiteral("toc toc 3 ch0,ch1,ch2\nch0 0 2587 ffffffff Opening/Reader\n"
                                            "ch1 2587 6506 ffffffff Middle: ü Ω/") +
                             QString(performer, u'z') + u'\n' + last;
    QString from = media(source);
    if (source == u"extended.mp3") {
      from = dir_.filePath(source);
      writeFile(from, QByteArray("ID3\x03\x00\x40\x00\x00\x00\x1C" "\x00\x00\x00\x0A\x80\x00\x00\x00\x00\x00\x12\x34\x56\x78"
                                 "TIT2\x00\x00\x00\x04\x00\x00\x00" "Ext",
                                 38) +
                          readAll(media(QStringLiteral("speech.mp3"))));
    }
    const QString copy = dir_.filePath(QStringLiteral("chaptered ") + source);
    QFile::remove(copy);
    const found::Timeline t = timeline(from);
    const auto written = found::writeChapters(
        from, markersFrom(QStringLiteral("0 Opening/Reader|100 Middle: ü Ω/") + QString(performer, u'z') + QStringLiteral("|250")),
        t, copy, false);
    if (const auto *error = std::get_if<QString>(&written)) QFAIL(qPrintable(*error));
    QCOMPARE(std::get<found::ChaptersWritten>(written).chapters, 3);
    QCOMPARE(std::get<found::ChaptersWritten>(written).replaced, replaced);

    const QByteArray before = readAll(from), after = readAll(copy);
    const auto tagSize = [](const QByteArray &bytes) {
      return static_cast<qsizetype>(mpeg::id3v2Size(reinterpret_cast<const unsigned char *>(bytes.constData())));
    };
    QVERIFY(tagSize(after) > 0);
    QCOMPARE(after.at(3), char(version));
    QCOMPARE(framesWalked(after.left(tagSize(after))), frames);
    QVERIFY(after.mid(tagSize(after)) == before.mid(tagSize(before)));
    QVERIFY(decodedByLibmpg123(copy) == decodedByLibmpg123(from));

    const QString read = mutagenReads(copy);
    QVERIFY2(read.startsWith(QStringLiteral("version 2.%1\n%2").arg(version).arg(chapters)), qPrintable(read));
    const auto otherFrames = [](const QString &reads) {
      return reads.split(u'\n').filter(QRegularExpression(QStringLiteral("^frame ")));
    };
    QCOMPARE(otherFrames(read), tagSize(before) > 0 ? otherFrames(mutagenReads(from)) : QStringList());

    // ffprobe names an untitled chapter by its element id.
    const QString probed = outputOf(QStringLiteral("ffprobe"),
                                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                     QStringLiteral("chapter=start:chapter_tags=title"), QStringLiteral("-of"),
                                     QStringLiteral("csv=p=0"), copy});
    if (probe) QCOMPARE(probed, QStringLiteral("0,Opening\n2587,Middle: ü Ω\n6506,ch2\n"));

    const auto back = found::chaptersOf(copy, timeline(copy));
    QVERIFY(std::holds_alternative<found::Markers>(back));
    const Written got = writtenOut(std::get<found::Markers>(back).markers);
    QCOMPARE(got.frames, QStringLiteral("0 100 250 %1").arg(t.frames));
    QCOMPARE(got.titles, QStringLiteral("Opening|Middle: ü Ω|"));
  }

  // The copy lets no one read it whom the source keeps out (under a umask
  // of 022).
  void aChapterCopyKeepsOutWhomTheSourceDoes_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("copy");
    QTest::newRow("private") << 0600 << 0600;
    QTest::newRow("the group may read") << 0640 << 0640;
    QTest::newRow("all may read and write") << 0666 << 0644;
    QTest::newRow("read-only") << 0444 << 0644;
  }
  void aChapterCopyKeepsOutWhomTheSourceDoes() {
    QFETCH(int, source);
    QFETCH(int, copy);
    QTemporaryDir work;
    const QString from = work.filePath(QStringLiteral("source.mp3")), to = work.filePath(QStringLiteral("copy.mp3"));
    QVERIFY(QFile::copy(media(QStringLiteral("speech.mp3")), from));
    QCOMPARE(::chmod(QFile::encodeName(from).constData(), static_cast<mode_t>(source)), 0);
    const mode_t umask = ::umask(022);
    const auto written = found::writeChapters(from, {{0, {}, {}}}, timeline(from), to, false);
    ::umask(umask);
    QVERIFY(std::holds_alternative<found::ChaptersWritten>(written));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(to).constData(), &st), 0);
    QCOMPARE(static_cast<int>(st.st_mode & 0777), copy);
  }

  // What a copy with chapters refuses, with nothing written: the source as
  // the output, a file that is there, a folder that is not, a tag it cannot
  // edit, more chapters than a table lists, a stop.
  void chapterCopiesRefused_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("output");  // "=": the source itself
    QTest::addColumn<int>("pieces");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<QString>("says");
    QTest::newRow("the source itself") << "speech.mp3" << "=" << 2 << false
                                       << "cannot write %1: it is the source itself, which stays as it is";
    QTest::newRow("a file that is there") << "speech.mp3" << "there.mp3" << 2 << false
                                          << "cannot write %2: it is there already";
    QTest::newRow("no such folder") << "speech.mp3" << "none/out.mp3" << 2 << false
                                    << "cannot write %2: No such file or directory";
    QTest::newRow("a version 2.2 tag") << "layer2-id3v22.mp2" << "out.mp2" << 2 << false
                                       << "cannot add chapters to %1: its ID3v2 tag (version 2.2) is of a form this "
                                          "program does not edit";
    QTest::newRow("an unsynchronised tag") << "unsynchronised.mp3" << "out.mp3" << 2 << false
                                           << "cannot add chapters to %1: its ID3v2 tag (version 2.3, unsynchronised) "
                                              "is of a form this program does not edit";
    QTest::newRow("256 chapters") << "speech.mp3" << "out.mp3" << 256 << false
                                  << "256 pieces are more chapters than a table of contents lists (255)";
    QTest::newRow("stopped") << "speech.mp3" << "out.mp3" << 2 << true
                             << "stopped before %2 was complete; nothing was written";
  }
  void chapterCopiesRefused() {
    QFETCH(QString, source);
    QFETCH(QString, output);
    QFETCH(int, pieces);
    QFETCH(bool, stop);
    QFETCH(QString, says);
    QTemporaryDir work;
    const QString from = work.filePath(source);
    if (source == u"unsynchronised.mp3")
      writeFile(from, QByteArray("ID3\x03\x00\x80\x00\x00\x00\x0B" "TIT2\x00\x00\x00\x01\x00\x00\x00", 21) +
                          readAll(media(QStringLiteral("speech.mp3"))));
    else
      QVERIFY(QFile::copy(media(source), from));
    const QString to = output == u"=" ? from : work.filePath(output);
    if (output == u"there.mp3") writeFile(to, "mine");
    const QStringList before = QDir(work.path()).entryList(QDir::Files | QDir::Hidden);
    const QByteArray sourceBytes = readAll(from);
    std::vector<found::Marker> markers;
    for (int k = 0; k < pieces; ++k) markers.push_back({k, {}, {}});
    const std::atomic<bool> stopped{stop};
    const auto written = found::writeChapters(from, markers, timeline(from), to, false, &stopped);
    QVERIFY(std::holds_alternative<QString>(written));
    QCOMPARE(std::get<QString>(written), QString(says).replace(QStringLiteral("%1"), from).replace(QStringLiteral("%2"), to));
    QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden), before);
    QVERIFY(readAll(from) == sourceBytes);
    if (output == u"there.mp3") QCOMPARE(readAll(to), QByteArray("mine"));
  }

  // A full disk: the copy fails, says why, and leaves nothing, not even a
  // temporary (a file system of 600 KB that the copy of 440 KB does not
  // fit beside 300 KB; only where one may be mounted).
  void aChapterCopyOntoAFullDisk() {
    QTemporaryDir work;
    const QString mount = work.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkdir(mount));
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                     QStringLiteral("size=600k"), QStringLiteral("tmpfs"), mount}) != 0)
      QSKIP("no tmpfs can be mounted here");
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mount}); });
    writeFile(mount + QStringLiteral("/filler"), QByteArray(300 * 1024, 'x'));
    const QString from = media(QStringLiteral("speech.mp3"));
    const QString to = mount + QStringLiteral("/chaptered.mp3");
    const auto written = found::writeChapters(from, {{0, QStringLiteral("A"), {}}, {384, {}, {}}}, timeline(from), to, false);
    QVERIFY(std::holds_alternative<QString>(written));
    QCOMPARE(std::get<QString>(written), QStringLiteral("cannot write %1: No space left on device").arg(to));
    QCOMPARE(QDir(mount).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("filler")});
    // Marks that do not fit either.
    writeFile(mount + QStringLiteral("/filler2"), QByteArray(290 * 1024, 'x'));
    QCOMPARE(found::writeWhole(mount + QStringLiteral("/marks.txt"), QByteArray(20 * 1024, 'm'), false),
             found::WriteError(QStringLiteral("No space left on device")));
    QCOMPARE(QDir(mount).entryList(QDir::Files | QDir::Hidden), (QStringList{QStringLiteral("filler"), QStringLiteral("filler2")}));
  }

 private:
  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestFind)
#include "tst_find.moc"
