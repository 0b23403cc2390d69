#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include "OutputFile.h"
#include "SplitEngine.h"
#include "TestSupport.h"

namespace {

struct Recorder : split::Reporter {
  qint64 maximum = -1, position = 0;
  bool completed = false;
  QStringList written, failures, notices;
  std::function<void(const QString &)> afterPiece;
  void start(std::int64_t max) override {
    maximum = max;
    position = 0;
  }
  void step() override { ++position; }
  void complete() override {
    completed = true;
    position = maximum;
  }
  void pieceWritten(const QString &name) override {
    written << name;
    if (afterPiece) afterPiece(name);
  }
  // Temporaries still there when a failure is told: the user may end the
  // program while reading it.
  QStringList leftWhenTold;
  void fail(const split::Message &message) override {
    failures << message.text;
    leftWhenTold << QDir().entryList({QStringLiteral(".tranchette-*.part")}, QDir::Files | QDir::Hidden);
  }
  void notice(const split::Message &message) override { notices << message.text; }
  // Bytes copied: all told, and those copied ahead of the facts and kept.
  qint64 copied = 0, keptAtStart = -1;
  void bytesCopied(std::int64_t done, std::int64_t) override {
    if (maximum >= 0 && keptAtStart < 0) keptAtStart = done;
    copied = done;
  }
};

// "0:10,10:5" → pieces (offset, length).
QList<QPair<qint64, qint64>> parsePieces(const QString &text) {
  QList<QPair<qint64, qint64>> pieces;
  for (const QString &p : text.split(u',', Qt::SkipEmptyParts)) {
    const QStringList ol = p.split(u':');
    pieces.append({ol[0].toLongLong(), ol[1].toLongLong()});
  }
  return pieces;
}

}  // namespace

class TestSplit : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString src_;
  QString previousCwd_;

  // A source of `size` pattern bytes, in a fresh folder that is also the current one.
  QString makeSource(qint64 size) {
    const QString folder = dir_.filePath(QString::number(++runs_));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("live.mp3"));
    writeFile(path, patternBytes(size));
    return path;
  }
  int runs_ = 0;
  // What a split at frames or by time says of a source that is no MPEG
  // audio, such as makeSource()'s, before it cuts in proportion.
  static QString walkless(const QString &source) {
    return QStringLiteral("The frames of %1 cannot be followed (no MPEG audio frame follows another in its first "
                          "megabyte): it is cut in proportion to its size instead, and a cut may fall inside a frame.")
        .arg(source);
  }

  // Temporary pieces left in the current folder.
  static QStringList temporaries() {
    return QDir().entryList({QStringLiteral(".tranchette-*")}, QDir::Files | QDir::Hidden);
  }

  void checkPieces(const QString &source, const QString &tmpl, const QList<QPair<qint64, qint64>> &pieces) {
    const QByteArray bytes = readAll(source);
    for (int i = 0; i < pieces.size(); ++i) {
      const QString name = split::pieceName(tmpl, i + 1);
      QVERIFY2(QFileInfo::exists(name), qPrintable(name));
      const QByteArray piece = readAll(name);
      QCOMPARE(piece.size(), pieces[i].second);
      QVERIFY2(piece == bytes.mid(pieces[i].first, pieces[i].second), qPrintable(name));
      QVERIFY2(takesOnlyItsSpace(name), qPrintable(name));
    }
    QVERIFY(!QFileInfo::exists(split::pieceName(tmpl, pieces.size() + 1)));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    previousCwd_ = QDir::currentPath();
  }
  void cleanupTestCase() { QDir::setCurrent(previousCwd_); }

  void trackNumbers_data() {
    QTest::addColumn<qint64>("track");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << 1LL << "001";
    QTest::newRow("9") << 9LL << "009";
    QTest::newRow("10") << 10LL << "010";
    QTest::newRow("99") << 99LL << "099";
    QTest::newRow("100") << 100LL << "100";
    QTest::newRow("1000") << 1000LL << "1000";
    QTest::newRow("12345") << 12345LL << "12345";
  }
  void trackNumbers() {
    QFETCH(qint64, track);
    QFETCH(QString, text);
    QCOMPARE(split::formatTrackNumber(track), text);
  }

  void pieceNames_data() {
    QTest::addColumn<QString>("tmpl");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("thousandth");
    QTest::newRow("bare") << "Split-%track%.mp3"
                          << "Split-001.mp3"
                          << "Split-002.mp3"
                          << "Split-1000.mp3";
    QTest::newRow("folder") << "D:\\Music\\live-%track%.mp3"
                            << "D:\\Music\\live-001.mp3"
                            << "D:\\Music\\live-002.mp3"
                            << "D:\\Music\\live-1000.mp3";
    QTest::newRow("only track") << "%track%.mp3"
                                << "001.mp3"
                                << "002.mp3"
                                << "1000.mp3";
    QTest::newRow("twice") << "%track%-%track%.mp3"
                           << "001-%track%.mp3"
                           << "002-%track%.mp3"
                           << "1000-%track%.mp3";
    QTest::newRow("capitals are no placeholder") << "x-%TRACK%.mp3"
                                                 << "x-%TRACK%-001.mp3"
                                                 << "x-%TRACK%-002.mp3"
                                                 << "x-%TRACK%-1000.mp3";
    QTest::newRow("none: before the extension") << "/out/mix.mp3"
                                                << "/out/mix-001.mp3"
                                                << "/out/mix-002.mp3"
                                                << "/out/mix-1000.mp3";
    QTest::newRow("none, no extension, dotted folder") << "/out.d/mix"
                                                       << "/out.d/mix-001"
                                                       << "/out.d/mix-002"
                                                       << "/out.d/mix-1000";
  }
  void pieceNames() {
    QFETCH(QString, tmpl);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, thousandth);
    QCOMPARE(split::pieceName(tmpl, 1), first);
    QCOMPARE(split::pieceName(tmpl, 2), second);
    QCOMPARE(split::pieceName(tmpl, 1000), thousandth);
  }

  // Only the platform's own folder separators cut the name.
  void joinNames_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("joinName");
    QTest::newRow("folder") << "/music/Live.Set.mp3"
                            << "Live.Set";
    QTest::newRow("no extension") << "/music/track"
                                  << "track";
#ifdef Q_OS_WIN
    QTest::newRow("drive and backslashes") << "D:\\Music\\Live.Set.mp3"
                                           << "Live.Set";
    QTest::newRow("drive") << "C:concert.mp3"
                           << "concert";
#else
    QTest::newRow("colon is part of the name") << "/music/Live: Set.mp3"
                                               << "Live: Set";
    QTest::newRow("backslash is part of the name") << "/music/AC\\DC.mp3"
                                                   << "AC\\DC";
#endif
  }
  void joinNames() {
    QFETCH(QString, source);
    QFETCH(QString, joinName);
    QCOMPARE(split::joinNameOf(source), joinName);
  }

  void bySize_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("kb");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("pieces");
    QTest::newRow("tail") << 5000000LL << "1000" << 4LL
                          << "0:1024000,1024000:1024000,2048000:1024000,3072000:1024000,4096000:904000";
    QTest::newRow("blocks") << 10000000LL << "2048" << 4LL
                            << "0:2097152,2097152:2097152,4194304:2097152,6291456:2097152,8388608:1611392";
    QTest::newRow("smaller than a piece") << 3000000LL << "3000" << 0LL << "0:3000000";
    QTest::newRow("exact multiple") << 4096000LL << "1000" << 4LL
                                    << "0:1024000,1024000:1024000,2048000:1024000,3072000:1024000";
    QTest::newRow("one block exactly") << 2097152LL << "1024" << 2LL << "0:1048576,1048576:1048576";
    QTest::newRow("one block and 1024") << 2100000LL << "1025" << 2LL << "0:1049600,1049600:1049600,2099200:800";
  }
  void bySize() {
    QFETCH(qint64, size);
    QFETCH(QString, kb);
    QFETCH(qint64, count);
    QFETCH(QString, pieces);
    const QString source = makeSource(size);
    Recorder r;
    const split::Outcome out = split::splitBySize(source, kb, QStringLiteral("live-%track%.mp3"), r);
    QVERIFY(out.completed);
    QVERIFY(r.failures.isEmpty());
    QCOMPARE(r.maximum, count);
    QVERIFY(r.completed);
    const auto expected = parsePieces(pieces);
    QCOMPARE(out.pieces.size(), expected.size());
    QCOMPARE(r.written, out.pieces);
    checkPieces(source, QStringLiteral("live-%track%.mp3"), expected);
  }

  // Temporaries that a killed run left in the output folder go with the next
  // run into that folder, and the user hears of it; a live run's stay. A run
  // is live while it holds the flock on its mark (".tranchette-<token>.live"),
  // whatever its process number says in this PID namespace; temporaries
  // named by a process number (older runs) go by that number. A mark no one
  // holds goes once it is a minute old, never before: its maker may be about
  // to lock it.
  void temporariesOfRunsThatEndedGo_data() {
    QTest::addColumn<QString>("temporary");  // "" for none
    QTest::addColumn<QString>("mark");       // "" for none
    QTest::addColumn<bool>("held");          // the mark, by a run elsewhere
    QTest::addColumn<int>("markAgeSeconds");
    QTest::addColumn<bool>("temporaryStays");
    QTest::addColumn<bool>("markStays");
    const QString t = QStringLiteral("out/.tranchette-00c0ffee00c0ffee-7.part");
    const QString m = QStringLiteral("out/.tranchette-00c0ffee00c0ffee.live");
    QTest::newRow("held by a run in any namespace") << t << m << true << 600 << true << true;
    QTest::newRow("its run gone") << t << m << false << 600 << false << false;
    QTest::newRow("its run gone, the mark fresh") << t << m << false << 0 << false << true;
    QTest::newRow("no mark") << t << "" << false << 0 << false << false;
    QTest::newRow("a fresh mark alone") << "" << m << false << 0 << false << true;
  }
  void temporariesOfRunsThatEndedGo() {
    QFETCH(QString, temporary);
    QFETCH(QString, mark);
    QFETCH(bool, held);
    QFETCH(int, markAgeSeconds);
    QFETCH(bool, temporaryStays);
    QFETCH(bool, markStays);
    const QString source = makeSource(3000);
    QDir().mkpath(QStringLiteral("out"));
    if (!temporary.isEmpty()) writeFile(temporary, patternBytes(100));
    int holder = -1;
    if (!mark.isEmpty()) {
      writeFile(mark, QByteArray());
      const struct timeval then[2] = {{::time(nullptr) - markAgeSeconds, 0}, {::time(nullptr) - markAgeSeconds, 0}};
      QCOMPARE(::utimes(QFile::encodeName(mark).constData(), then), 0);
      if (held) {
        holder = ::open(QFile::encodeName(mark).constData(), O_RDONLY);
        QCOMPARE(::flock(holder, LOCK_EX), 0);
      }
    }
    const auto release = qScopeGuard([holder] {
      if (holder >= 0) ::close(holder);
    });
    Recorder r;
    QVERIFY(split::splitBySize(source, QStringLiteral("1"), QStringLiteral("out/p-%track%.mp3"), r).completed);
    if (!temporary.isEmpty()) QCOMPARE(QFileInfo::exists(temporary), temporaryStays);
    if (!mark.isEmpty()) QCOMPARE(QFileInfo::exists(mark), markStays);
    const bool removed = !temporary.isEmpty() && !temporaryStays;
    QCOMPARE(r.notices, removed ? QStringList{QStringLiteral("1 temporary file left in out/ by a split that was "
                                                             "stopped was removed.")}
                                : QStringList());
    // The run's own mark went with its last temporary.
    QCOMPARE(QDir(QStringLiteral("out")).entryList({QStringLiteral(".tranchette-*.live")}, QDir::Files | QDir::Hidden).size(),
             mark.isEmpty() || !markStays ? 0 : 1);
  }

  // Older runs named their temporaries by their process number: gone with
  // the process.
  void temporariesNamedByProcessGoWithIt() {
    const QString source = makeSource(3000);
    QDir().mkpath(QStringLiteral("out"));
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    QVERIFY(gone > 0);
    ::waitpid(gone, nullptr, 0);
    const QString stale = QStringLiteral("out/.tranchette-%1-7.part").arg(gone);
    const QString live = QStringLiteral("out/.tranchette-%1-2.part").arg(::getppid());
    writeFile(stale, patternBytes(100));
    writeFile(live, patternBytes(100));
    Recorder r;
    QVERIFY(split::splitBySize(source, QStringLiteral("1"), QStringLiteral("out/p-%track%.mp3"), r).completed);
    QVERIFY(!QFileInfo::exists(stale));
    QVERIFY(QFileInfo::exists(live));
    QCOMPARE(r.notices, QStringList{QStringLiteral("1 temporary file left in out/ by a split that was stopped was removed.")});
    // Once a run: the next finds nothing to say.
    Recorder again;
    QVERIFY(split::splitBySize(source, QStringLiteral("1"), QStringLiteral("out/p-%track%.mp3"), again).completed);
    QVERIFY(again.notices.isEmpty());
  }

  // The lock follows the files a run writes, not its template's text: any
  // template that names the same pieces is kept out while a run holds them.
  void templatesNamingOneSetAreKeptApart_data() {
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("refused");
    QTest::newRow("the same text") << "out/s-%track%.mp3" << true;
    QTest::newRow("with ./") << "./out/s-%track%.mp3" << true;
    QTest::newRow("through ..") << "out/../out/s-%track%.mp3" << true;
    QTest::newRow("absolute") << "{here}/out/s-%track%.mp3" << true;
    QTest::newRow("through a link") << "linked/s-%track%.mp3" << true;
    QTest::newRow("other names") << "out/t-%track%.mp3" << false;
  }
  void templatesNamingOneSetAreKeptApart() {
    QFETCH(QString, other);
    QFETCH(bool, refused);
    const QString source = makeSource(3000);
    QDir().mkpath(QStringLiteral("out"));
    QFile::link(QStringLiteral("out"), QStringLiteral("linked"));
    other.replace(QStringLiteral("{here}"), QDir::currentPath());
    split::OutputLock first;
    QVERIFY(first.take(QByteArrayLiteral("out/s-001.mp3"), QStringLiteral("out/s-%track%.mp3")));
    Recorder r;
    const split::Outcome out = split::splitBySize(source, QStringLiteral("1"), other, r);
    QCOMPARE(out.completed, !refused);
    if (refused)
      QVERIFY2(r.failures.value(0).startsWith(QStringLiteral("Another split is writing")), qPrintable(r.failures.value(0)));
  }


  // Two runs never write the same names at once: the second is refused at
  // once, before it writes anything, and the first goes on. The lock is
  // the folder's where the pieces go, whatever folder each run is started
  // from: runs of one template from two folders write other files.
  // Templates are relative to the folder a run starts from ("a" or "b");
  // "@" stands for the folder "out" beside them.
  void twoRunsIntoTheSameNamesNeverMix_data() {
    QTest::addColumn<QString>("heldFrom");
    QTest::addColumn<QString>("held");  // the template whose lock is held
    QTest::addColumn<QString>("runFrom");
    QTest::addColumn<QString>("run");  // the run's template
    QTest::addColumn<bool>("refused");
    QTest::newRow("the same names") << "a" << "s-%track%.mp3" << "a" << "s-%track%.mp3" << true;
    QTest::newRow("other names in the same folder") << "a" << "s-%track%.mp3" << "a" << "t-%track%.mp3" << false;
    QTest::newRow("the same folder from another") << "a" << "@/s-%track%.mp3" << "b" << "@/s-%track%.mp3" << true;
    QTest::newRow("the same template in another folder") << "a" << "s-%track%.mp3" << "b" << "s-%track%.mp3" << false;
  }
  void twoRunsIntoTheSameNamesNeverMix() {
    QFETCH(QString, heldFrom);
    QFETCH(QString, held);
    QFETCH(QString, runFrom);
    QFETCH(QString, run);
    QFETCH(bool, refused);
    const QString source = makeSource(5000);
    const QDir here = QDir::current();
    for (const char *folder : {"a", "b", "out"}) QVERIFY(here.mkdir(QString::fromLatin1(folder)));
    const QString out = here.filePath(QStringLiteral("out"));
    held.replace(u'@', out);
    run.replace(u'@', out);
    QDir::setCurrent(here.filePath(heldFrom));
    split::OutputLock first;
    QVERIFY(first.take(QFile::encodeName(split::pieceName(held, 1)), held));
    QDir::setCurrent(here.filePath(runFrom));
    Recorder r;
    const split::Outcome outcome = split::splitBySize(source, QStringLiteral("1"), run, r);
    QCOMPARE(outcome.completed, !refused);
    const QString firstPiece = split::pieceName(run, 1);
    if (refused) {
      QCOMPARE(r.failures, QStringList{QStringLiteral("Another split is writing %1 and the pieces after it now. Try "
                                                      "again once it has ended.")
                                           .arg(firstPiece)});
      QVERIFY(!QFileInfo::exists(firstPiece));
    } else {
      QCOMPARE(outcome.pieces.size(), 5);
    }
  }

  // An empty source has nothing to cut: that is said, not taken for success.
  void anEmptySourceIsRefused() {
    const QString source = makeSource(0);
    Recorder r;
    const split::Outcome out = split::splitBySize(source, QStringLiteral("1000"), QStringLiteral("e-%track%.mp3"), r);
    QVERIFY(!out.completed);
    QCOMPARE(r.failures, QStringList{QStringLiteral("Cannot split %1: the file is empty.").arg(source)});
  }

  void emptySizeTextDoesNothing() {
    const QString source = makeSource(1000);
    Recorder r;
    const split::Outcome out = split::splitBySize(source, QString(), QStringLiteral("p-%track%.mp3"), r);
    QVERIFY(!out.completed);
    QCOMPARE(r.maximum, -1);
    QVERIFY(r.failures.isEmpty());
  }

  void byTime_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("totalMs");
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<QString>("pieces");
    QTest::newRow("tail") << 4000000LL << 250000LL << "60"
                          << "0:960000,960000:960000,1920000:960000,2880000:960000,3840000:160000";
    QTest::newRow("truncated size")
        << 5000000LL << 312345LL << "60"
        << "0:960476,960476:960476,1920952:960476,2881428:960476,3841904:960476,4802380:197620";
    QTest::newRow("blocks") << 8000000LL << 200000LL << "120"
                            << "0:4800000,4800000:3200000";
    QTest::newRow("longer than the file") << 3000000LL << 180000LL << "300"
                                          << "0:3000000";
    QTest::newRow("past any size") << 3000000LL << 180000LL << "1e305"
                                   << "0:3000000";
    QTest::newRow("piece of one block exactly") << 2097152LL << 2000LL << "1"
                                                << "0:1048576,1048576:1048576";
    QTest::newRow("fraction") << 1000LL << 1000LL << "0.25"
                              << "0:250,250:250,500:250,750:250";
  }
  void byTime() {
    QFETCH(qint64, size);
    QFETCH(qint64, totalMs);
    QFETCH(QString, seconds);
    QFETCH(QString, pieces);
    const QString source = makeSource(size);
    Recorder r;
    const split::Outcome out = split::splitByTime(source, seconds, totalMs, QStringLiteral("t-%track%.mp3"), r);
    QVERIFY2(out.completed, qPrintable(r.failures.join(u'|')));
    QVERIFY(r.completed);
    checkPieces(source, QStringLiteral("t-%track%.mp3"), parsePieces(pieces));
  }

  void atBreakpoints_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("pieces");
    QTest::newRow("even") << 5000000LL << 10000LL << "0,2500,6000,10000"
                          << "0:1250000,1250000:1750000,3000000:2000000";
    // Contiguous: each end is computed like the next start, so no byte is lost.
    QTest::newRow("uneven") << 4000037LL << 9999LL << "0,1234,3333,7000"
                            << "0:493653,493653:839692,1333345:1466960";
    QTest::newRow("one breakpoint after 0") << 10000LL << 100LL << "0,40"
                                            << "0:4000";
    QTest::newRow("leading 0 deleted") << 10000LL << 100LL << "10,20,30"
                                       << "1000:1000,2000:1000";
    QTest::newRow("past the end holds what exists") << 10000LL << 100LL << "50,150"
                                                    << "5000:5000";
    QTest::newRow("exact block multiple") << 3145728LL << 3LL << "0,1,3"
                                          << "0:1048576,1048576:2097152";
  }
  void atBreakpoints() {
    QFETCH(qint64, size);
    QFETCH(qint64, frames);
    QFETCH(QString, list);
    QFETCH(QString, pieces);
    const QString source = makeSource(size);
    Recorder r;
    const QStringList items = list.split(u',');
    const split::Outcome out = split::splitAtBreakpoints(source, frames, items, QStringLiteral("b-%track%.mp3"), r);
    QVERIFY2(out.completed, qPrintable(r.failures.join(u'|')));
    QCOMPARE(r.maximum, items.size() - 1);
    QCOMPARE(r.position, items.size() - 1);
    checkPieces(source, QStringLiteral("b-%track%.mp3"), parsePieces(pieces));
  }

  // A split may need to read the facts it needs from the source first: the
  // bytes that reading reads are copied meanwhile into the pieces of a guess
  // at the facts. Whatever the guess, the pieces are those of the facts; a
  // right guess reads the source only once; what was copied ahead never
  // reaches a final name unless the facts confirm it, and no temporary stays.
  void piecesFollowTheFactsNotTheGuess_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<qint64>("guess");
    QTest::addColumn<qint64>("fact");  // 0: the facts cannot be had; -1: a stop is asked for instead
    QTest::addColumn<qint64>("read");  // bytes the reading of the facts reads
    QTest::addColumn<QString>("pieces");
    QTest::addColumn<qint64>("anew");  // bytes copied again once the facts are known
    const QString tenths = QStringLiteral(
        "0:10000,10000:10000,20000:10000,30000:10000,40000:10000,50000:10000,"
        "60000:10000,70000:10000,80000:10000,90000:10000");
    QTest::newRow("time, right guess") << "time"
                                       << "1" << 10000LL << 10000LL << 100000LL << tenths << 0LL;
    QTest::newRow("time, guess too long") << "time"
                                          << "1" << 12500LL << 10000LL << 100000LL << tenths << 100000LL;
    QTest::newRow("time, guess too short") << "time"
                                           << "1" << 5000LL << 10000LL << 100000LL << tenths << 100000LL;
    QTest::newRow("time, no guess") << "time"
                                    << "1" << 0LL << 10000LL << 100000LL << tenths << 100000LL;
    // A reading that gives up for another way, past its third piece.
    QTest::newRow("time, read in part") << "time"
                                        << "1" << 10000LL << 10000LL << 35000LL << tenths << 70000LL;
    QTest::newRow("time, no facts") << "time"
                                    << "1" << 10000LL << 0LL << 100000LL << "" << 0LL;
    QTest::newRow("time, stopped") << "time"
                                   << "1" << 10000LL << -1LL << 100000LL << "" << 0LL;
    QTest::newRow("frames, right guess") << "frames"
                                         << "0,100,500,1000" << 1000LL << 1000LL << 100000LL
                                         << "0:10000,10000:40000,50000:50000" << 0LL;
    QTest::newRow("frames, wrong guess") << "frames"
                                         << "0,100,500,1000" << 2000LL << 1000LL << 100000LL
                                         << "0:10000,10000:40000,50000:50000" << 100000LL;
    // Past the end either way: the first piece copied ahead is kept, the
    // empty second is not written.
    QTest::newRow("frames, kept with an empty one")
        << "frames"
        << "0,2000,3000" << 1500LL << 1000LL << 100000LL << "0:100000" << 0LL;
    QTest::newRow("frames, no facts") << "frames"
                                      << "0,100,500" << 1000LL << 0LL << 100000LL << "" << 0LL;
  }
  void piecesFollowTheFactsNotTheGuess() {
    QFETCH(QString, method);
    QFETCH(QString, parameter);
    QFETCH(qint64, guess);
    QFETCH(qint64, fact);
    QFETCH(qint64, read);
    QFETCH(QString, pieces);
    QFETCH(qint64, anew);
    const QString source = makeSource(100000);
    writeFile(QStringLiteral("p-001.mp3"), "kept unless replaced");
    // Reads as the frame walk does, in pieces of its own size.
    const auto measure = [&](int fd, const split::SourceBytes &tell) -> split::FactValue {
      char bytes[7000];
      for (qint64 at = 0; at < read;) {
        const ssize_t got = ::read(fd, bytes, static_cast<std::size_t>(std::min<qint64>(sizeof bytes, read - at)));
        if (got <= 0) return split::Message{source, QStringLiteral("unread"), QStringLiteral("unread")};
        tell(at, reinterpret_cast<const unsigned char *>(bytes), static_cast<std::size_t>(got));
        at += got;
        if (fact < 0 && at > 40000) split::requestStop();
      }
      if (fact == 0) return split::Message{source, QStringLiteral("no facts"), QStringLiteral("no facts")};
      return fact;
    };
    Recorder r;
    const split::Fact coming(measure, guess);
    const QString tmpl = QStringLiteral("p-%track%.mp3");
    const split::Outcome out = method == QLatin1String("time")
                                   ? split::splitByTime(source, parameter, coming, tmpl, r)
                                   : split::splitAtBreakpoints(source, coming, parameter.split(u','), tmpl, r);
    split::requestStop(false);
    QVERIFY(temporaries().isEmpty());
    QCOMPARE(r.leftWhenTold, QStringList());
    if (fact <= 0) {
      QVERIFY(!out.completed);
      QCOMPARE(r.failures, QStringList{fact == 0 ? QStringLiteral("no facts")
                                                 : QStringLiteral("The split was stopped; the unfinished p-005.mp3 "
                                                                  "was removed.")});
      QCOMPARE(QDir().entryList({QStringLiteral("p-*")}), QStringList{QStringLiteral("p-001.mp3")});
      QCOMPARE(readAll(QStringLiteral("p-001.mp3")), QByteArray("kept unless replaced"));
      return;
    }
    QVERIFY2(out.completed, qPrintable(r.failures.join(u'|')));
    const auto expected = parsePieces(pieces);
    checkPieces(source, tmpl, expected);
    QCOMPARE(QDir().entryList({QStringLiteral("p-*")}).size(), expected.size());
    QCOMPARE(out.pieces.size(), expected.size());
    QCOMPARE(r.position, r.maximum);
    QCOMPARE(r.copied - r.keptAtStart, anew);
  }

  void piecesConcatenateToTheSource_data() {
    QTest::addColumn<QString>("method");
    QTest::newRow("size") << "size";
    QTest::newRow("time") << "time";
  }
  void piecesConcatenateToTheSource() {
    QFETCH(QString, method);
    const QString source = makeSource(3333333);
    Recorder r;
    const split::Outcome out =
        method == QLatin1String("size")
            ? split::splitBySize(source, QStringLiteral("700"), QStringLiteral("c-%track%"), r)
            : split::splitByTime(source, QStringLiteral("7"), 61000, QStringLiteral("c-%track%"), r);
    QVERIFY(out.completed);
    QByteArray joined;
    for (const QString &p : out.pieces) joined += readAll(p);
    QVERIFY(joined == readAll(source));
  }

  void fourDigitTracksStayInOrder() {
    const QString source = makeSource(1005);
    Recorder r;
    const split::Outcome out = split::splitByTime(source, QStringLiteral("1"), 1000000, QStringLiteral("n-%track%"), r);
    QVERIFY(out.completed);
    QCOMPARE(out.pieces.size(), 1005);
    QCOMPARE(out.pieces[998], QStringLiteral("n-999"));
    QCOMPARE(out.pieces[999], QStringLiteral("n-1000"));
    const QString command = split::joinCommand(out.pieces, QStringLiteral("live"));
    QVERIFY(command.contains(QStringLiteral("+n-999+n-1000+")));
    QVERIFY(command.endsWith(QStringLiteral("+n-1005 live.mp3")));
  }

  void refusals_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("value");
    QTest::addColumn<qint64>("facts");  // frames or milliseconds
    QTest::addColumn<QString>("message");
    QTest::newRow("time 0") << "time"
                            << "60" << 0LL << "playing time is 0";
    QTest::newRow("piece truncates to 0 bytes") << "time"
                                                << "1" << 100000000LL << "no whole byte";
    QTest::newRow("pasted length") << "time"
                                   << "1x" << 1000LL << "\"1x\"";
    QTest::newRow("frames 0") << "frames"
                              << "0,10" << 0LL << "frame count is 0";
    QTest::newRow("placeholder item") << "frames"
                                      << "0,-------" << 100LL << "\"-------\" is not a frame number";
    QTest::newRow("not ascending") << "frames"
                                   << "0,30,20" << 100LL << "20 follows 30";
    QTest::newRow("duplicate") << "frames"
                               << "0,007,7" << 100LL << "7 follows 7";
    QTest::newRow("negative") << "frames"
                              << "-5,10" << 100LL << "-5 lies before the start";
    QTest::newRow("pasted size") << "size"
                                 << "12a" << 0LL << "\"12a\"";
    QTest::newRow("size 0") << "size"
                            << "0" << 0LL << "from 1 to 2147483647";
  }
  void refusals() {
    QFETCH(QString, method);
    QFETCH(QString, value);
    QFETCH(qint64, facts);
    QFETCH(QString, message);
    const QString source = makeSource(5000);
    Recorder r;
    const QString tmpl = QStringLiteral("r-%track%.mp3");
    split::Outcome out;
    if (method == QLatin1String("time")) out = split::splitByTime(source, value, facts, tmpl, r);
    if (method == QLatin1String("size")) out = split::splitBySize(source, value, tmpl, r);
    if (method == QLatin1String("frames")) out = split::splitAtBreakpoints(source, facts, value.split(u','), tmpl, r);
    QVERIFY(!out.completed);
    QCOMPARE(r.failures.size(), 1);
    QVERIFY2(r.failures[0].contains(message), qPrintable(r.failures[0]));
    QVERIFY(!QFileInfo::exists(QStringLiteral("r-001.mp3")));
  }

  void missingSourceIsRefused() {
    makeSource(0);
    Recorder r;
    const QString missing = QDir::current().filePath(QStringLiteral("gone.mp3"));
    QVERIFY(!split::splitBySize(missing, QStringLiteral("1"), QStringLiteral("m-%track%"), r).completed);
    QCOMPARE(r.failures.size(), 1);
    QVERIFY(r.failures[0].startsWith(QStringLiteral("Cannot open the source file: ") + missing));
    QVERIFY(!QFileInfo::exists(QStringLiteral("m-001")));
  }

  void creationFailureMessages_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("failingTrack");
    QTest::addColumn<QString>("prefix");
    // 5000000 bytes: by size 1000 KB gives four full pieces and a tail.
    QTest::newRow("size, small pieces") << "size"
                                        << "1000" << 3 << "Cannot create file: ";
    QTest::newRow("size, large pieces") << "size"
                                        << "2000" << 2 << "Can not create file: ";
    QTest::newRow("size, the tail") << "size"
                                    << "1000" << 5 << "Can not create file: ";
    QTest::newRow("time, small pieces") << "time"
                                        << "1" << 2 << "Cannot create file: ";
    QTest::newRow("time, large pieces") << "time"
                                        << "3" << 1 << "Can not create file: ";
    QTest::newRow("time, the tail") << "time"
                                    << "2" << 3 << "Can not create file: ";
    QTest::newRow("breakpoints") << "frames"
                                 << "0,10,20,30" << 2 << "Cannot create the file: ";
  }
  void creationFailureMessages() {
    QFETCH(QString, method);
    QFETCH(QString, value);
    QFETCH(int, failingTrack);
    QFETCH(QString, prefix);
    const QString source = makeSource(5000000);
    // A folder where the piece should go: the file cannot be created.
    const QString blocked = QStringLiteral("f-%1.mp3").arg(split::formatTrackNumber(failingTrack));
    QVERIFY(QDir().mkdir(blocked));
    Recorder r;
    const QString tmpl = QDir::current().filePath(QStringLiteral("f-%track%.mp3"));
    split::Outcome out;
    // 5000000 bytes over 5 s: one second is 1000000 bytes.
    if (method == QLatin1String("size")) out = split::splitBySize(source, value, tmpl, r);
    if (method == QLatin1String("time")) out = split::splitByTime(source, value, 5000, tmpl, r);
    if (method == QLatin1String("frames")) out = split::splitAtBreakpoints(source, 30, value.split(u','), tmpl, r);
    QVERIFY(!out.completed);
    QCOMPARE(out.pieces.size(), failingTrack - 1);
    QCOMPARE(r.failures,
             QStringList{prefix + QDir::current().filePath(blocked) +
                         QStringLiteral(" !\r\n") +
                         QString::fromLocal8Bit(std::strerror(EISDIR))});
    for (int k = 1; k < failingTrack; ++k) QVERIFY(QFileInfo(split::pieceName(tmpl, k)).isFile());
    QVERIFY(!QFileInfo::exists(split::pieceName(tmpl, failingTrack + 1)));
  }

  // A source that another program truncates during the split.
  void aSourceThatShrinksStopsTheRun() {
    const QString source = makeSource(5000);
    Recorder r;
    r.afterPiece = [&](const QString &) { QFile::resize(source, 2500); };
    const split::Outcome out = split::splitBySize(source, QStringLiteral("1"), QStringLiteral("s-%track%"), r);
    QVERIFY(!out.completed);
    QCOMPARE(out.pieces, (QStringList{QStringLiteral("s-001"), QStringLiteral("s-002")}));
    QCOMPARE(r.failures.size(), 1);
    QVERIFY2(r.failures[0].startsWith(QStringLiteral("Cannot read the source file: ") + source),
             qPrintable(r.failures[0]));
    QVERIFY2(r.failures[0].contains(QStringLiteral("byte 2500 of the 5000")), qPrintable(r.failures[0]));
    QVERIFY(!QFileInfo::exists(QStringLiteral("s-003")));
    QCOMPARE(temporaries(), QStringList());
    QCOMPARE(r.leftWhenTold, QStringList());
  }

  // Cut short while its frames are counted: the count is the shorter file's,
  // the offsets the longer's. No piece may come of that, not even one that
  // the shorter file still holds.
  void aSourceThatShrinksWhileCountedStopsTheRun() {
    const QString source = makeSource(100000);
    const auto measure = [&](int fd, const split::SourceBytes &tell) -> split::FactValue {
      char bytes[7000];
      qint64 at = 0;
      for (ssize_t got; (got = ::read(fd, bytes, sizeof bytes)) > 0; at += got) {
        tell(at, reinterpret_cast<const unsigned char *>(bytes), static_cast<std::size_t>(got));
        if (at == 0) QFile::resize(source, 60000);
      }
      return at / 10;  // frames of 10 bytes, as far as read
    };
    Recorder r;
    const split::Outcome out = split::splitAtBreakpoints(source, split::Fact(measure, 10000),
                                                         {"0", "1000", "3000", "6000"}, QStringLiteral("c-%track%"), r);
    QVERIFY(!out.completed);
    QCOMPARE(r.failures, QStringList{QStringLiteral("Cannot read the source file: %1 !\r\nIt ended at byte 60000 of "
                                                    "the 100000 it had when the split began.")
                                         .arg(source)});
    QCOMPARE(QDir().entryList({QStringLiteral("c-*")}), QStringList());
    QCOMPARE(temporaries(), QStringList());
    QCOMPARE(r.leftWhenTold, QStringList());
  }

  void onlyRegularFilesAreSources_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "a FIFO";
    QTest::newRow("folder") << "a folder";
    QTest::newRow("device") << "a character device";
  }
  void onlyRegularFilesAreSources() {
    QFETCH(QString, kind);
    makeSource(0);
    QString source = QDir::current().filePath(QStringLiteral("odd.mp3"));
    if (kind == QLatin1String("a FIFO")) QCOMPARE(::mkfifo(source.toLocal8Bit().constData(), 0600), 0);
    if (kind == QLatin1String("a folder")) QVERIFY(QDir().mkdir(source));
    if (kind == QLatin1String("a character device")) source = QStringLiteral("/dev/zero");
    Recorder r;
    // A FIFO without a writer would block an open that waits.
    QVERIFY(!split::splitBySize(source, QStringLiteral("1"), QStringLiteral("o-%track%"), r).completed);
    QCOMPARE(
        r.failures,
        QStringList{
            QStringLiteral("Cannot open the source file: %1 !\r\nIt is %2, not a regular file.").arg(source, kind)});
    QVERIFY(!QFileInfo::exists(QStringLiteral("o-001")));
  }

  void breakpointsPastTheEnd() {
    const QString source = makeSource(10000);  // 100 frames of 100 bytes
    Recorder r;
    const QStringList items{"0", "50", "150", "200", "9223372036854775807"};
    const split::Outcome out = split::splitAtBreakpoints(source, 100, items, QStringLiteral("p-%track%"), r);
    QVERIFY(out.completed);
    QCOMPARE(out.skipped, 2);
    checkPieces(source, QStringLiteral("p-%track%"), parsePieces(QStringLiteral("0:5000,5000:5000")));
    QCOMPARE(r.notices, (QStringList{walkless(source),
                                     QStringLiteral("The breakpoints 150, 200, 9223372036854775807 lie past the end of "
                                                    "%1, which has 100 frames.\r\nNot written, as they would hold no "
                                                    "byte: p-003, p-004.")
                                         .arg(source)}));
    // Offsets of huge frame numbers in a file of huge frame counts: no overflow.
    Recorder big;
    const split::Outcome out2 =
        split::splitAtBreakpoints(source, 9223372036854775806LL, {"4611686018427387903", "9223372036854775806"},
                                  QStringLiteral("h-%track%"), big);
    QVERIFY(out2.completed);
    QCOMPARE(big.notices, QStringList{walkless(source)});
    checkPieces(source, QStringLiteral("h-%track%"), parsePieces(QStringLiteral("5000:5000")));
  }

  void aStopRemovesTheUnfinishedPiece() {
    const QString source = makeSource(5000);
    Recorder r;
    r.afterPiece = [](const QString &) { split::requestStop(); };
    const split::Outcome out = split::splitBySize(source, QStringLiteral("2"), QStringLiteral("x-%track%"), r);
    split::requestStop(false);
    QVERIFY(!out.completed);
    QCOMPARE(out.pieces, QStringList{QStringLiteral("x-001")});
    QCOMPARE(r.failures, QStringList{QStringLiteral("The split was stopped; the unfinished x-002 was removed.")});
    QVERIFY(!QFileInfo::exists(QStringLiteral("x-002")));
    QCOMPARE(temporaries(), QStringList());
  }

  // The locked message keeps its text and ends with the system's reason.
  void creationFailuresGiveTheSystemsReason_data() {
    QTest::addColumn<QString>("tmpl");
    QTest::addColumn<int>("error");
    QTest::newRow("missing folder") << "no-such-folder/m-%track%" << ENOENT;
    QTest::newRow("name too long") << QString(300, u'n') + QStringLiteral("-%track%") << ENAMETOOLONG;
    QTest::newRow("folder is a file") << "live.mp3/m-%track%" << ENOTDIR;
  }
  void creationFailuresGiveTheSystemsReason() {
    QFETCH(QString, tmpl);
    QFETCH(int, error);
    const QString source = makeSource(3000);
    Recorder r;
    QVERIFY(!split::splitBySize(source, QStringLiteral("1"), tmpl, r).completed);
    QCOMPARE(r.failures,
             QStringList{QStringLiteral("Cannot create file: ") + split::pieceName(tmpl, 1) +
                         QStringLiteral(" !\r\n") +
                         QString::fromLocal8Bit(std::strerror(error))});
    QCOMPARE(temporaries(), QStringList());
  }

  void sourceIsNeverOverwritten() {
    const QString source = makeSource(4000);
    const QByteArray before = readAll(source);
    Recorder r;
    // The template names the source itself for piece 001.
    const split::Outcome out = split::splitBySize(source, QStringLiteral("1"), QStringLiteral("live.mp%track%"), r);
    QVERIFY(out.completed);  // "live.mp001" and on: not the source
    Recorder r2;
    QDir().rename(QStringLiteral("live.mp3"), QStringLiteral("live-001.mp3"));
    const QString renamed = QDir::current().filePath(QStringLiteral("live-001.mp3"));
    const split::Outcome out2 =
        split::splitBySize(renamed, QStringLiteral("1"), QStringLiteral("live-%track%.mp3"), r2);
    QVERIFY(!out2.completed);
    QCOMPARE(r2.failures.size(), 1);
    QVERIFY(r2.failures[0].startsWith(QStringLiteral("Cannot create file: live-001.mp3 !")));
    QVERIFY2(r2.failures[0].endsWith(QStringLiteral("\r\nIt is the source file.")), qPrintable(r2.failures[0]));
    QCOMPARE(readAll(renamed), before);
  }

  // One that another program makes there while the piece is written ahead,
  // too; and the pieces written ahead go before the user hears why.
  void aNameThatTurnsIntoNoFileIsLeftAlone() {
    const QString source = makeSource(100000);
    const auto measure = [](int fd, const split::SourceBytes &tell) -> split::FactValue {
      char bytes[7000];
      qint64 at = 0;
      for (ssize_t got; (got = ::read(fd, bytes, sizeof bytes)) > 0; at += got)
        tell(at, reinterpret_cast<const unsigned char *>(bytes), static_cast<std::size_t>(got));
      return 10000;
    };
    Recorder r;
    r.afterPiece = [](const QString &name) {
      if (name == QLatin1String("q-001.mp3")) QCOMPARE(::mkfifo("q-003.mp3", 0644), 0);
    };
    const split::Outcome out =
        split::splitByTime(source, QStringLiteral("1"), split::Fact(measure, 10000), QStringLiteral("q-%track%.mp3"), r);
    QVERIFY(!out.completed);
    QCOMPARE(out.pieces, (QStringList{QStringLiteral("q-001.mp3"), QStringLiteral("q-002.mp3")}));
    QCOMPARE(r.failures,
             QStringList{QStringLiteral("Cannot write the file: q-003.mp3 !\r\nIt is a FIFO, not a regular file.")});
    QCOMPARE(r.leftWhenTold, QStringList());
    struct stat st {};
    QVERIFY(::stat("q-003.mp3", &st) == 0 && S_ISFIFO(st.st_mode));
    QVERIFY(temporaries().isEmpty());
  }

  // Pieces of a private file are private: no one the source keeps out may
  // read them (the owner may always write them).
  void piecesKeepOutWhomTheSourceKeepsOut() {
    const QString source = makeSource(3000);
    QVERIFY(QFile::setPermissions(source, QFile::ReadOwner));
    Recorder r;
    QVERIFY(split::splitBySize(source, QStringLiteral("1"), QStringLiteral("m-%track%"), r).completed);
    for (const QString &piece : r.written) {
      struct stat st {};
      QCOMPARE(::stat(QFile::encodeName(piece).constData(), &st), 0);
      QCOMPARE(st.st_mode & 0777, 0600u);
    }
    QCOMPARE(r.written.size(), 3);
  }

  // A FIFO, device or socket under a piece's name stays what it is: no file
  // takes its place (as root, a piece named /dev/null would).
  void aNameThatIsNoFileIsLeftAlone() {
    const QString source = makeSource(3000);
    QCOMPARE(::mkfifo("n-002", 0644), 0);
    Recorder r;
    const split::Outcome out = split::splitBySize(source, QStringLiteral("1"), QStringLiteral("n-%track%"), r);
    QVERIFY(!out.completed);
    QCOMPARE(out.pieces, QStringList{QStringLiteral("n-001")});
    QCOMPARE(r.failures, QStringList{QStringLiteral("Cannot create file: n-002 !\r\nIt is a FIFO, not a regular file.")});
    struct stat st {};
    QVERIFY(::stat("n-002", &st) == 0 && S_ISFIFO(st.st_mode));
    QVERIFY(temporaries().isEmpty());
  }

  void aPieceLockedByAnotherProgramIsLeftAlone_data() {
    QTest::addColumn<bool>("recordLock");
    QTest::newRow("flock") << false;
    QTest::newRow("POSIX record lock") << true;
  }
  void aPieceLockedByAnotherProgramIsLeftAlone() {
    QFETCH(bool, recordLock);
    const QString source = makeSource(3000);
    writeFile(QStringLiteral("k-002"), QByteArray("held by another program"));
    QFile held(QStringLiteral("k-002"));
    QVERIFY(held.open(QIODevice::ReadWrite));
    pid_t holder = -1;
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    if (!recordLock) {
      QCOMPARE(::flock(held.handle(), LOCK_EX), 0);
    } else if ((holder = ::fork()) == 0) {
      // A record lock shows only to other processes: a child holds it.
      struct flock range {};
      range.l_type = F_WRLCK;
      range.l_whence = SEEK_SET;
      ::fcntl(held.handle(), F_SETLK, &range);
      (void)!::write(ready[1], "x", 1);
      ::pause();
      ::_exit(0);
    } else {
      char c;
      QCOMPARE(::read(ready[0], &c, 1), 1);
    }
    Recorder r;
    const bool completed = split::splitBySize(source, QStringLiteral("1"), QStringLiteral("k-%track%"), r).completed;
    if (holder > 0) {
      ::kill(holder, SIGKILL);
      ::waitpid(holder, nullptr, 0);
    }
    ::close(ready[0]);
    ::close(ready[1]);
    QVERIFY(!completed);
    QCOMPARE(r.failures,
             QStringList{QStringLiteral("Cannot create file: k-002 !\r\nBecause a same name file is locked by "
                                        "other application.")});
    QCOMPARE(readAll(QStringLiteral("k-002")), QByteArray("held by another program"));
    QCOMPARE(readAll(QStringLiteral("k-001")).size(), 1024);
  }

  void existingPiecesAreReplaced() {
    const QString source = makeSource(3000);
    writeFile(QStringLiteral("e-001"), QByteArray(10000, 'x'));
    Recorder r;
    QVERIFY(split::splitBySize(source, QStringLiteral("2"), QStringLiteral("e-%track%"), r).completed);
    QCOMPARE(readAll(QStringLiteral("e-001")), readAll(source).left(2048));
  }

  void fullDiskStopsWithAMessage() {
    if (geteuid() != 0) QSKIP("mounting a small file system needs root");
    const QString source = makeSource(400 * 1024);
    const QString disk = dir_.filePath(QStringLiteral("tiny"));
    QDir().mkpath(disk);
    if (::mount("tmpfs", disk.toLocal8Bit().constData(), "tmpfs", 0, "size=256k") != 0)
      QSKIP("mounting a tmpfs was refused");
    Recorder r;
    const split::Outcome out =
        split::splitBySize(source, QStringLiteral("100"), QDir(disk).filePath(QStringLiteral("d-%track%")), r);
    const QStringList written = out.pieces;
    // Only complete pieces under final names, nothing else.
    const QStringList left = QDir(disk).entryList(QDir::Files | QDir::Hidden);
    bool complete = true;
    for (const QString &name : left) complete &= QFileInfo(QDir(disk).filePath(name)).size() == 100 * 1024;
    ::umount(disk.toLocal8Bit().constData());
    QCOMPARE(left.size(), written.size());
    QVERIFY(complete);
    QVERIFY(!out.completed);
    QCOMPARE(r.failures.size(), 1);
    QVERIFY2(r.failures[0].startsWith(QStringLiteral("Cannot write the file: ")), qPrintable(r.failures[0]));
    QVERIFY(written.size() >= 1 && written.size() < 4);
  }

  // Names that would break out of the batch file's quoting, or the shell's.
  void hostileNamesInJoinFiles_data() {
    QTest::addColumn<QString>("joinName");
    QTest::addColumn<QString>("batch");    // the .bat line, or "" when refused
    QTest::addColumn<QString>("refusal");  // what the message names
    QTest::newRow("quote") << "x\" & calc & \""
                           << ""
                           << "the double quote (\")";
    QTest::newRow("line break") << "a\r\nb"
                                << ""
                                << "holds the control character U+000D,";
    QTest::newRow("exclamation") << "wow!"
                                 << ""
                                 << "the exclamation mark (!)";
    QTest::newRow("percent")
        << "%PATH%"
        << "copy /b \"%%PATH%%-001.mp3\"+\"%%PATH%%-002.mp3\"+\"%%PATH%%-003.mp3\" \"%%PATH%%.mp3\""
        << "";
    QTest::newRow("specials") << "&|<>^(),;="
                              << "copy /b \"&|<>^(),;=-001.mp3\"+\"&|<>^(),;=-002.mp3\"+\"&|<>^(),;=-003.mp3\" "
                                 "\"&|<>^(),;=.mp3\""
                              << "";
    // cmd reads the file in the console's code page unless told it is UTF-8.
    QTest::newRow("beyond ASCII") << QString::fromUtf8("caf\xc3\xa9")
                                  << QString::fromUtf8("chcp 65001 >nul\r\ncopy /b caf\xc3\xa9-001.mp3+caf\xc3\xa9-002.mp3+"
                                                       "caf\xc3\xa9-003.mp3 caf\xc3\xa9.mp3")
                                  << "";
    QTest::newRow("leading dash, apostrophe") << "-it's"
                                              << "copy /b -it's-001.mp3+-it's-002.mp3+-it's-003.mp3 -it's.mp3"
                                              << "";
  }
  void hostileNamesInJoinFiles() {
    QFETCH(QString, joinName);
    QFETCH(QString, batch);
    QFETCH(QString, refusal);
    const QString source = makeSource(3000);
    Recorder r;
    const split::Outcome out =
        split::splitBySize(source, QStringLiteral("1"), joinName + QStringLiteral("-%track%.mp3"), r);
    QCOMPARE(out.pieces.size(), 3);
    const split::JoinFiles written = split::writeJoinFiles(out.pieces, joinName);
    QVERIFY(written.failed.empty());
    const QString bat = QStringLiteral("Join_") + joinName + QStringLiteral(".bat");
    if (batch.isEmpty()) {
      QVERIFY(written.skipped);
      QVERIFY2(written.skipped->text.contains(refusal), qPrintable(written.skipped->text));
      QVERIFY(!QFileInfo::exists(bat));
      for (const QString &piece : out.pieces) QVERIFY(QFileInfo(piece).isFile());
    } else {
      QVERIFY(!written.skipped);
      QCOMPARE(QString::fromUtf8(readAll(bat)), batch);
    }
    // The shell script takes every name, and joins the pieces into the source's bytes.
    const QString script = QStringLiteral("Join_") + joinName + QStringLiteral(".sh");
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(script).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0755u);
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {script}), 0);
    QVERIFY(readAll(joinName + QStringLiteral(".mp3")) == readAll(source));
    // A piece gone: the script fails, and the file it would have replaced stays.
    QVERIFY(QFile::remove(out.pieces[1]));
    QVERIFY(QProcess::execute(QStringLiteral("sh"), {script}) != 0);
    QVERIFY(readAll(joinName + QStringLiteral(".mp3")) == readAll(source));
    QCOMPARE(QDir().entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden), QStringList());
  }

  // A name as long as a piece's may be (247 bytes, and "-001.mp3"): its join
  // script runs, though "<name>.mp3.part" would be too long a name.
  void theLongestNameStillJoins() {
    const QString source = makeSource(3000);
    const QString joinName(247, u'n');
    Recorder r;
    const split::Outcome out =
        split::splitBySize(source, QStringLiteral("1"), joinName + QStringLiteral("-%track%.mp3"), r);
    QCOMPARE(out.pieces.size(), 3);
    // "Join_<name>.bat" is a byte too long, and says so; the script is not.
    const split::JoinFiles written = split::writeJoinFiles(out.pieces, joinName);
    QCOMPARE(written.failed.size(), 1u);
    QCOMPARE(written.failed[0].file, QStringLiteral("Join_") + joinName + QStringLiteral(".bat"));
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("Join_") + joinName + QStringLiteral(".sh")}), 0);
    QVERIFY(readAll(joinName + QStringLiteral(".mp3")) == readAll(source));
  }

  void joinBatch_data() {
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("joinName");
    QTest::addColumn<QString>("command");
    QTest::newRow("three") << QStringList{"concert-001.mp3", "concert-002.mp3", "concert-003.mp3"} << "concert"
                           << "copy /b concert-001.mp3+concert-002.mp3+concert-003.mp3 concert.mp3";
    QTest::newRow("folders are left out") << QStringList{"/out/d/part-001.mp3", "/out/part-002.mp3"} << "live"
                                          << "copy /b part-001.mp3+part-002.mp3 live.mp3";
    QTest::newRow("one piece") << QStringList{"a-001.mp3"} << "a"
                               << "copy /b a-001.mp3 a.mp3";
    QTest::newRow("names the interpreter would split are quoted")
        << QStringList{"my song-001.mp3", "r&b-002.mp3", "plain-003.mp3"} << "my song"
        << "copy /b \"my song-001.mp3\"+\"r&b-002.mp3\"+plain-003.mp3 \"my song.mp3\"";
  }
  // cmd reads lines of up to 8191 characters: a longer join goes on in
  // lines that append the rest to what the lines before joined.
  void aLongJoinBatchAppendsInLinesCmdCanRead() {
    QStringList pieces;
    for (int k = 1; k <= 1200; ++k) pieces << QStringLiteral("concert %1.mp3").arg(k, 4, 10, QChar(u'0'));
    const QStringList lines = split::joinCommand(pieces, QStringLiteral("concert")).split(QStringLiteral("\r\n"));
    QVERIFY(lines.size() >= 3);
    QStringList joined;
    for (int i = 0; i < lines.size(); ++i) {
      QVERIFY2(lines[i].size() <= 8191, qPrintable(QString::number(lines[i].size())));
      QVERIFY(lines[i].startsWith(QStringLiteral("copy /b ")));
      QVERIFY(lines[i].endsWith(QStringLiteral(" concert.mp3")));
      QStringList sources = lines[i].mid(8).chopped(12).split(u'+');
      if (i > 0) QCOMPARE(sources.takeFirst(), QStringLiteral("concert.mp3"));
      joined << sources;
    }
    QCOMPARE(joined.size(), pieces.size());
    for (int k = 0; k < pieces.size(); ++k) QCOMPARE(joined[k], u'"' + pieces[k] + u'"');
  }

  void joinBatch() {
    QFETCH(QStringList, pieces);
    QFETCH(QString, joinName);
    QFETCH(QString, command);
    makeSource(0);
    auto clean = [](const split::JoinFiles &written) { return !written.skipped && written.failed.empty(); };
    QVERIFY(clean(split::writeJoinFiles(pieces, joinName)));
    QCOMPARE(QString::fromLocal8Bit(readAll(QStringLiteral("Join_") + joinName + QStringLiteral(".bat"))), command);
    // A second run replaces the file.
    QVERIFY(clean(split::writeJoinFiles({QStringLiteral("x.mp3")}, joinName)));
    QCOMPARE(readAll(QStringLiteral("Join_") + joinName + QStringLiteral(".bat")),
             QByteArray("copy /b x.mp3 ") + (joinName.contains(u' ') ? "\"" + joinName.toLocal8Bit() + ".mp3\""
                                                                     : joinName.toLocal8Bit() + ".mp3"));
  }
};

QTEST_GUILESS_MAIN(TestSplit)
#include "tst_split.moc"
