#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "TestSupport.h"

namespace {
QString split3(qsizetype n) { return QStringLiteral("%1").arg(n, 3, 10, QChar(u'0')); }
}  // namespace

// tranchette-cli as a black box: arguments in; files, output and status out.
class TestCli : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

  struct Result {
    int status;
    QString out, err;
  };
  Result run(const QStringList &args) {
    QProcess p;
    p.setWorkingDirectory(QDir::currentPath());
    p.start(qEnvironmentVariable("TRANCHETTE_CLI"), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
  }
  // Starts the CLI with arguments as raw bytes, stdout and stderr into the
  // given descriptors.
  static pid_t spawn(const QList<QByteArray> &args, int out, int err) {
    const QByteArray cli = QFile::encodeName(qEnvironmentVariable("TRANCHETTE_CLI"));
    std::vector<char *> argv{const_cast<char *>(cli.constData())};
    for (const QByteArray &a : args) argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, cli.constData(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  static QByteArray drain(int fd) {
    QByteArray all;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) all.append(buf, n);
    return all;
  }
  static void writeRaw(const QByteArray &path, const QByteArray &bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), bytes.size()), bytes.size());
    ::close(fd);
  }
  static QByteArray readRaw(const QByteArray &path) {
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0) return {};
    const QByteArray bytes = drain(fd);
    ::close(fd);
    return bytes;
  }

  QString copyOf(const QString &name) {
    QFile::remove(name);
    QFile::copy(media(name), name);
    return name;
  }

 private slots:
  // Qt cannot name the files whose names are not UTF-8, so rm removes them.
  void cleanupTestCase() {
    QDir::setCurrent(QDir::tempPath());
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), dir_.path()});
  }
  void init() {
    static int n = 0;
    const QString folder = dir_.filePath(QString::number(++n));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
  }

  void infoPrintsTheStreamFacts() {
    const Result r = run({QStringLiteral("info"), media(QStringLiteral("cbr-info.mp3"))});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QStringLiteral("frames: 384\ntime_ms: 10000\nbytes: 160913\n"));
    QVERIFY(r.err.isEmpty());
  }

  // Without exact cuts, a cut lands on the first byte of the frame asked
  // for (a breakpoint) or of the first frame that begins at or after each
  // multiple of the length (heard time: lame's 1,105 samples of delay
  // first): each piece holds just the frames between its cuts, as info
  // counts them, whatever a VBR stream, a 230 KB picture tag or 2 KB of junk
  // in the middle do to the proportions; the pieces of the whole file join
  // into it byte for byte.
  void byteCutsLandOnTheFrame_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("frames");  // of each piece
    QTest::addColumn<bool>("whole");      // the pieces join into the source
    for (const char *file : {"vbr-xing.mp3", "big-id3.mp3", "junk-middle.mp3"}) {
      QTest::addRow("%s at frames", file) << file << "frames 0,100,250,384"
                                          << "100 150 134" << true;
      QTest::addRow("%s by time", file) << file << "time 3"
                                        << "116 115 115 38" << true;
      QTest::addRow("%s from a frame", file) << file << "frames 100,200"
                                             << "100" << false;
    }
    QTest::newRow("past the end") << "vbr-xing.mp3"
                                  << "frames 0,383,999"
                                  << "383 1" << true;
    QTest::newRow("cbr, the second half") << "cbr-info.mp3"
                                          << "time 5"
                                          << "193 191" << true;
  }
  void byteCutsLandOnTheFrame() {
    QFETCH(QString, file);
    QFETCH(QString, command);
    QFETCH(QString, frames);
    QFETCH(bool, whole);
    const Result r = run(command.split(u' ') + QStringList{QStringLiteral("-o"), QStringLiteral("p-%track%.mp3"), media(file)});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QStringList counted;
    QByteArray joined;
    for (const QString &piece : QDir().entryList({QStringLiteral("p-*.mp3")}, QDir::Files, QDir::Name)) {
      const Result info = run({QStringLiteral("info"), piece});
      counted << info.out.section(u'\n', 0, 0).section(u' ', 1);
      joined += readAll(piece);
    }
    QCOMPARE(counted.join(u' '), frames);
    QCOMPARE(joined == readAll(media(file)), whole);
  }

  // One frame count for every command: 2 KB of junk in the middle is
  // passed over, as players pass over it, and said so.
  void junkInTheMiddleCountsAllFrames() {
    const Result info = run({QStringLiteral("info"), media(QStringLiteral("junk-middle.mp3"))});
    QCOMPARE(info.out, QStringLiteral("frames: 384\ntime_ms: 10000\nbytes: 123440\n"));
    QCOMPARE(info.err, QStringLiteral("tranchette-cli: %1: passed over 2048 bytes of junk at byte 62031, before frame 200\n")
                           .arg(media(QStringLiteral("junk-middle.mp3"))));
    const Result exact = run({QStringLiteral("frames"), QStringLiteral("0,384"), QStringLiteral("--exact"),
                              QStringLiteral("-o"), QStringLiteral("e.mp3"), media(QStringLiteral("junk-middle.mp3"))});
    QCOMPARE(exact.status, 0);
    QCOMPARE(run({QStringLiteral("info"), QStringLiteral("e-001.mp3")}).out.section(u'\n', 0, 0), QStringLiteral("frames: 384"));
    const Result silences = run({QStringLiteral("silences"), QStringLiteral("--level"), QStringLiteral("0"),
                                 media(QStringLiteral("junk-middle.mp3"))});
    QVERIFY2(silences.out.trimmed().endsWith(QStringLiteral(",384")), qPrintable(silences.out + silences.err));
  }

  // Nothing waits for ever or reads without end: a FIFO for every command
  // that opens a source or a sheet, a sheet that is a device, larger than
  // any sheet, with a line longer than any, or quoting a huge word; each
  // gets one line that quotes at most 200 characters of it.
  void nothingHangsOnWhatIsNoFile_data() {
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QByteArray>("sheet");  // written to the FIFO's place as a file, where given
    QTest::addColumn<QString>("says");
    const QStringList none;
    QTest::newRow("info, a FIFO") << QStringList{"info"} << QByteArray() << "not a regular file";
    QTest::newRow("silences, a FIFO") << QStringList{"silences"} << QByteArray() << "it is a FIFO, not a regular file";
    QTest::newRow("chapters, a FIFO") << QStringList{"frames", "--from-chapters"} << QByteArray()
                                      << "it is a FIFO, not a regular file";
    QTest::newRow("cue, a FIFO") << QStringList{"cue"} << QByteArray() << "it is a FIFO, not a regular file";
    QTest::newRow("time, a FIFO") << QStringList{"time", "10"} << QByteArray() << "not a regular file";
    QTest::newRow("cue, 2 MB") << QStringList{"cue"} << QByteArray(2 << 20, 'x')
                               << "it is larger than 1 MB, which no cue sheet is";
    QTest::newRow("cue, a long line") << QStringList{"cue"} << QByteArray("REM ") + QByteArray(70000, 'x')
                                      << "line 1: the line is longer than 64 KB";
    QTest::newRow("cue, a huge word") << QStringList{"cue"}
                                      << QByteArray("FILE a.mp3 MP3\nTRACK 01 ") + QByteArray(60000, 'y')
                                      << "line 2: TRACK 1 is yyyy";
  }
  void nothingHangsOnWhatIsNoFile() {
    QFETCH(QStringList, command);
    QFETCH(QByteArray, sheet);
    QFETCH(QString, says);
    const QString name = QStringLiteral("input");
    if (sheet.isNull())
      QCOMPARE(::mkfifo(name.toLocal8Bit().constData(), 0600), 0);
    else
      writeFile(name, sheet);
    const Result r = run(command + QStringList{name});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err.count(u'\n'), 1);
    QVERIFY2(r.err.contains(says), qPrintable(r.err.left(300)));
    QVERIFY2(r.err.size() < 400, qPrintable(r.err.left(300)));
  }
  void aSheetThatIsADeviceIsRefused() {
    const Result r = run({QStringLiteral("cue"), QStringLiteral("/dev/zero")});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, QStringLiteral("tranchette-cli: /dev/zero: cannot open it: it is a character device, not a regular file\n"));
  }

  // Long recordings: parts of about N seconds moved into the pause within
  // reach (speech.mp3's pauses are at 4.6-7.1, 11.7-14.2, ... s: their
  // middles are frames 224, 496, 768, 1041, 1317, 1593, 1869), or left where
  // the time split cuts and said so; N equal parts to the frame (2,095
  // frames in 7: 299 or 300 each).
  void longRecordingsEndInAPause_data() {
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("frames");  // of each piece, as info counts them
    QTest::addColumn<QString>("says");
    QTest::newRow("every 8 s, 3 s to a pause") << QStringList{"time", "8", "--at-pauses=3"}
                                               << "224 272 272 273 276 276 276 226" << "";
    // Pauses alike in length: the nearest, not the one 20 s on.
    QTest::newRow("every 10 s, 30 s to a pause") << QStringList{"time", "10", "--at-pauses=30"}
                                                 << "496 272 273 276 276 276 226" << "";
    QTest::newRow("every 4 s, 0.5 s to a pause") << QStringList{"time", "4", "--at-pauses=0.5"}
                                                 << "155 154 154 154 151 154 154 154 154 154 154 154 154 95"
                                                 << "12 of 13 cuts found no pause within 0.5 s: at 0:00:04, 0:00:08, "
                                                    "0:00:12, 0:00:16, 0:00:24, ";
    QTest::newRow("7 equal parts") << QStringList{"parts", "7"} << "299 299 299 300 299 299 300" << "";
    // Each cut from where the equal split cuts, not from the cut before: two
    // parts, not a third of the frames left over.
    QTest::newRow("2 parts, 3 s to a pause") << QStringList{"parts", "2", "--at-pauses=3"} << "1041 1054" << "";
    QTest::newRow("3 parts, 1 s to a pause") << QStringList{"parts", "3", "--at-pauses=1"} << "698 698 699"
                                             << "2 of 2 cuts found no pause within 1 s: at 0:00:18, 0:00:36";
    // Parts shorter than the reach: each cut looks no nearer the next than
    // halfway (1.3 s), so none takes another's pause.
    QTest::newRow("20 parts, 30 s to a pause")
        << QStringList{"parts", "20", "--at-pauses=30"}
        << "104 120 90 105 77 132 140 70 104 99 111 105 60 149 127 83 104 89 121 105"
        << "12 of 19 cuts found no pause within 1.3 s: at 0:00:02, 0:00:08, ";
    // Breakpoints moved onto the pause next to them, where one is in reach.
    QTest::newRow("snapped, 3 s") << QStringList{"frames", "0,200,500,1000,1300,2095", "--snap=3"}
                                  << "224 272 545 276 778" << "";
    QTest::newRow("snapped, 0.5 s") << QStringList{"frames", "0,200,500,1000,1300,2095", "--snap=0.5"}
                                    << "200 296 504 317 778"
                                    << "no pause within 0.5 s of breakpoints 200, 1000: left where they were";
    QTest::newRow("two snapped into one pause") << QStringList{"frames", "0,480,510,2095", "--snap=3"} << "496 1599"
                                                << "1 breakpoint fell in the same pause as another and was dropped: 510";
  }
  void longRecordingsEndInAPause() {
    QFETCH(QStringList, command);
    QFETCH(QString, frames);
    QFETCH(QString, says);
    const Result r = run(command + QStringList{QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("p-%track%.mp3"),
                                               media(QStringLiteral("speech.mp3"))});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QStringList counted;
    QByteArray joined;
    for (const QString &piece : QDir().entryList({QStringLiteral("p-*.mp3")}, QDir::Files, QDir::Name)) {
      counted << run({QStringLiteral("info"), piece}).out.section(u'\n', 0, 0).section(u' ', 1);
      joined += readAll(piece);
    }
    QCOMPARE(counted.join(u' '), frames);
    QCOMPARE(joined, readAll(media(QStringLiteral("speech.mp3"))));
    if (says.isEmpty())
      QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    else
      QVERIFY2(r.err.contains(says), qPrintable(r.err));
  }
  // The last breakpoint given stays the end of the last piece, whatever
  // pause lies near the one before it (496, past 420).
  void snappingKeepsTheEnds() {
    const Result r = run({QStringLiteral("frames"), QStringLiteral("0,400,420"), QStringLiteral("--snap=3"), QStringLiteral("-q"),
                          QStringLiteral("-o"), QStringLiteral("s-%track%.mp3"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains(QStringLiteral("no pause within 3 s of breakpoint 400: left where it was")), qPrintable(r.err));
    QCOMPARE(run({QStringLiteral("info"), QStringLiteral("s-001.mp3"), QStringLiteral("s-002.mp3")}).out.count(QStringLiteral("frames: ")), 2);
    QCOMPARE(run({QStringLiteral("info"), QStringLiteral("s-002.mp3")}).out.section(u'\n', 0, 0), QStringLiteral("frames: 20"));
  }
  // A file whose frames cannot be followed (free format) is cut in
  // proportion to its size: the few bytes left over go with the last part,
  // not into a piece of their own.
  void freeFormatLeavesNoPieceOfAFewBytes() {
    for (const auto &[seconds, sizes] :
         {std::pair{"1", "25469 25469 25469 25471"},
          std::pair{"0.5", "12734 12734 12734 12734 12734 12734 12734 12740"}}) {
      for (const QString &old : QDir().entryList({QStringLiteral("f-*.mp3")}, QDir::Files)) QFile::remove(old);
      const Result r = run({QStringLiteral("time"), QString::fromLatin1(seconds), QStringLiteral("-q"), QStringLiteral("-o"),
                            QStringLiteral("f-%track%.mp3"), media(QStringLiteral("free-format.mp3"))});
      QCOMPARE(r.status, 0);
      QStringList got;
      for (const QFileInfo &piece : QDir().entryInfoList({QStringLiteral("f-*.mp3")}, QDir::Files, QDir::Name))
        got << QString::number(piece.size());
      QCOMPARE(got.join(u' '), QString::fromLatin1(sizes));
    }
  }
  // A cut that would fall in the last frame is no cut, and no cut missed.
  void cutsMissedAreCutsMade() {
    const Result r = run({QStringLiteral("time"), QStringLiteral("0.001"), QStringLiteral("--at-pauses"), QStringLiteral("-q"),
                          QStringLiteral("-o"), QStringLiteral("p-%track%.mp3"), media(QStringLiteral("tag-at-end.mp3"))});
    QCOMPARE(r.status, 0);
    QCOMPARE(QDir().entryList({QStringLiteral("p-*.mp3")}, QDir::Files).size(), 4);
    QVERIFY2(r.err.contains(QStringLiteral(": 3 of 3 cuts found no pause within 30 s: at 0:00:00, 0:00:00, 0:00:00\n")),
             qPrintable(r.err));
  }
  void aCountOfPartsOutOfReachIsRefused() {
    for (const char *count : {"0", "2096", "x"}) {
      const Result r = run({QStringLiteral("parts"), QString::fromLatin1(count), media(QStringLiteral("speech.mp3"))});
      QCOMPARE(r.status, 2);
      QVERIFY2(r.err.contains(QStringLiteral("a whole number from 1 to 2095")), qPrintable(r.err));
    }
  }

  void infoRefusesWhatIsNoMpegAudio_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("missing") << "missing.mp3";
    QTest::newRow("empty") << "empty.mp3";
    QTest::newRow("text") << "text.mp3";
    QTest::newRow("random") << "random.mp3";
  }
  // Splits that need the facts begin copying before the facts are in: a
  // file without them still gets one line and no piece, temporary or final.
  void infoRefusesWhatIsNoMpegAudio() {
    QFETCH(QString, file);
    for (const QStringList &command :
         {QStringList{QStringLiteral("info")},
          QStringList{QStringLiteral("time"), QStringLiteral("1"), QStringLiteral("-o"), QStringLiteral("p.mp3")},
          QStringList{QStringLiteral("frames"), QStringLiteral("0,1,2"), QStringLiteral("-o"),
                      QStringLiteral("p.mp3")}}) {
      const Result r = run(command + QStringList{media(file)});
      QCOMPARE(r.status, 1);
      QVERIFY(r.out.isEmpty());
      QCOMPARE(r.err.count(u'\n'), 1);
      QVERIFY2(r.err.contains(media(file)), qPrintable(r.err));
      QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList());
    }
  }

  void usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("nothing") << QStringList{} << "";
    QTest::newRow("unknown command") << QStringList{"cut", "x.mp3", "--level", "3"} << "unknown command cut";
    QTest::newRow("info without a file") << QStringList{"info"} << "";
    QTest::newRow("size without a file") << QStringList{"size", "100"} << "";
    QTest::newRow("size not a number") << QStringList{"size", "lots", "x.mp3"} << "from 1 to 2147483647";
    QTest::newRow("size negative") << QStringList{"size", "-1", "x.mp3"} << "from 1 to 2147483647, not '-1'";
    QTest::newRow("size too large") << QStringList{"size", "2147483648", "x.mp3"} << "from 1 to 2147483647";
    QTest::newRow("time 0") << QStringList{"time", "0", "x.mp3"} << "above 0";
    QTest::newRow("breakpoint too large")
        << QStringList{"frames", "0,9223372036854775808", "x.mp3"} << "from 0 to 9223372036854775807";
    QTest::newRow("unknown option") << QStringList{"size", "100", "x.mp3", "--fast"} << "unknown option --fast";
    QTest::newRow("-o without a template") << QStringList{"size", "100", "x.mp3", "-o"} << "";
    QTest::newRow("-o empty") << QStringList{"size", "100", "x.mp3", "-o", ""} << "not an empty text";
    QTest::newRow("one breakpoint") << QStringList{"frames", "10", "x.mp3"} << "";
    QTest::newRow("breakpoints falling") << QStringList{"frames", "0,5,3", "x.mp3"} << "must rise, not 3 after 5";
    QTest::newRow("join with frames") << QStringList{"frames", "0,10", "x.mp3", "--join"} << "";
    QTest::newRow("info exact") << QStringList{"info", "--exact", "x.mp3"} << "";
    QTest::newRow("join without a name") << QStringList{"join", "a.mp3", "b.mp3"} << "-o NAME.mp3";
    QTest::newRow("join without pieces") << QStringList{"join", "-o", "x.mp3"} << "the pieces";
    QTest::newRow("silences level above 0") << QStringList{"silences", "--level", "3", "x.mp3"} << "from -120 to 0, not '3'";
    QTest::newRow("silences min not a number") << QStringList{"silences", "--min", "long", "x.mp3"} << "--min must be";
    QTest::newRow("a level at pauses, two files")
        << QStringList{"time", "10", "--at-pauses", "--level", "5", "x.mp3", "y.mp3"} << "from -120 to 0, not '5'";
    QTest::newRow("a level where no pause is looked for") << QStringList{"parts", "2", "--min", "9", "x.mp3"}
                                                          << "--level and --min go with silences, --at-pauses and --snap";
    QTest::newRow("at pauses without a length") << QStringList{"time", "--at-pauses", "x.mp3"}
                                                << "time --at-pauses takes SECONDS and FILEs";
    QTest::newRow("silences with a template") << QStringList{"silences", "-o", "p.mp3", "x.mp3"} << "";
    QTest::newRow("cue without a sheet") << QStringList{"cue"} << "one SHEET.cue";
    QTest::newRow("chapters with breakpoints") << QStringList{"frames", "--from-chapters", "0,10", "x.mp3"} << "no breakpoints";
    QTest::newRow("labels with breakpoints") << QStringList{"frames", "--from-labels", "l.txt", "0,10", "x.mp3"}
                                             << "no breakpoints";
    QTest::newRow("labels with time") << QStringList{"time", "3", "x.mp3", "--from-labels", "l.txt"}
                                      << "--from-labels goes with frames and chapters";
    QTest::newRow("marks with size") << QStringList{"size", "100", "x.mp3", "--save-marks", "m.cue"}
                                     << "--save-marks goes with frames and cue";
    QTest::newRow("marks of another kind") << QStringList{"frames", "0,10", "x.mp3", "--save-marks", "m.m3u"}
                                           << "--save-marks needs a .cue, .txt or .csv file, not 'm.m3u'";
    QTest::newRow("an unknown format") << QStringList{"silences", "--format", "xml", "x.mp3"}
                                       << "--format must be frames, cue or labels, not 'xml'";
    QTest::newRow("-v with a cue sheet") << QStringList{"silences", "-v", "--format", "cue", "x.mp3"}
                                         << "-v goes with --format frames";
    QTest::newRow("chapters without -o") << QStringList{"chapters", "0,10", "x.mp3"} << "chapters needs -o OUT.mp3";
    QTest::newRow("chapters from two") << QStringList{"chapters", "--from-cue", "s.cue", "--from-labels", "l.txt", "-o",
                                                      "o.mp3", "x.mp3"}
                                       << "chapters takes";
    QTest::newRow("chapters, one breakpoint") << QStringList{"chapters", "10", "-o", "o.mp3", "x.mp3"}
                                              << "chapters needs at least two breakpoints";
  }
  void usageErrors() {
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    const Result r = run(args);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.startsWith(QStringLiteral("tranchette-cli: ")) && r.err.contains(says), qPrintable(r.err));
    QCOMPARE(r.err.count(QStringLiteral("--help")), 1);
  }

  // Breakpoints found for the user from the terminal: the silences as a list
  // that frames takes; a cue sheet's and the chapters' titled pieces.
  void breakpointsFoundForTheUser() {
    const Result silences = run({QStringLiteral("silences"), QStringLiteral("-v"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(silences.status, 0);
    const QStringList lines = silences.out.trimmed().split(u'\n');
    QCOMPARE(lines.size(), 8);
    QVERIFY2(QRegularExpression(QStringLiteral("^silence 4\\.5\\d\\d to 7\\.0\\d\\d s, -6\\d\\.\\d dB$")).match(lines[0]).hasMatch(),
             qPrintable(lines[0]));
    const QStringList frames = lines.last().split(u',');
    QCOMPARE(frames.size(), 9);
    QCOMPARE(frames.first(), QStringLiteral("0"));
    QCOMPARE(frames.last(), QStringLiteral("2095"));
    // The list goes to frames as it is.
    const Result split = run({QStringLiteral("frames"), lines.last(), QStringLiteral("-q"), QStringLiteral("-o"),
                              QStringLiteral("s-%track%.mp3"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(split.status, 0);
    QCOMPARE(split.out.count(u'\n'), 8);
    const Result none = run({QStringLiteral("silences"), media(QStringLiteral("heard.mp3"))});
    QCOMPARE(none.status, 1);
    QVERIFY(none.out.isEmpty() && none.err.contains(QStringLiteral("no silence")));

    // A cue sheet beside its recording, whose FILE names the WAV it was made from.
    QVERIFY(QFile::copy(media(QStringLiteral("speech.mp3")), QStringLiteral("book.mp3")));
    writeFile(QStringLiteral("book.cue"), "\xEF\xBB\xBF" "FILE \"book.wav\" WAVE\r\nTRACK 01 AUDIO\r\nTITLE \"One\"\r\n"
                                          "INDEX 01 00:00:00\r\nTRACK 02 AUDIO\r\nTITLE \"Two/2\"\r\nINDEX 01 00:09:00\r\n");
    const Result cue = run({QStringLiteral("cue"), QStringLiteral("--exact"), QStringLiteral("-q"), QStringLiteral("-o"),
                            QStringLiteral("%track% %title%.mp3"), QStringLiteral("book.cue")});
    QCOMPARE(cue.status, 0);
    QCOMPARE(cue.out, QStringLiteral("001 One.mp3\n002 Two_2.mp3\n"));
    QVERIFY(cue.err.contains(QStringLiteral("The sheet's FILE names book.wav; its times are taken for book.mp3.")));
    QVERIFY(readAll(QStringLiteral("002 Two_2.mp3")).contains(QByteArray("TIT2\0\0\0\x06\0\0\0Two/2", 16)));
    // A pregap before TRACK 01 is piece 000; the tracks keep their numbers,
    // in the names and in TRCK. The FILE is a Windows path to a FLAC rip.
    writeFile(QStringLiteral("rip.cue"), "FILE \"C:\\Music\\book.flac\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\n"
                                         "INDEX 00 00:00:00\nINDEX 01 00:02:00\nTRACK 02 AUDIO\nTITLE \"Two\"\n"
                                         "INDEX 01 00:09:00\n");
    const Result rip = run({QStringLiteral("cue"), QStringLiteral("--exact"), QStringLiteral("-q"), QStringLiteral("-o"),
                            QStringLiteral("r%track% %title%.mp3"), QStringLiteral("rip.cue")});
    QCOMPARE(rip.status, 0);
    QCOMPARE(rip.out, QStringLiteral("r000.mp3\nr001 One.mp3\nr002 Two.mp3\n"));
    QCOMPARE(rip.err, QStringLiteral("tranchette-cli: rip.cue: The sheet's FILE names C:\\Music\\book.flac; its times are "
                                     "taken for book.mp3.\ntranchette-cli: rip.cue: The 0:02 before TRACK 01 is a piece of "
                                     "its own, numbered 000.\n"));
    QVERIFY(readAll(QStringLiteral("r001 One.mp3")).contains(QByteArray("TRCK\0\0\0\x04\0\0\0" "1/2", 13)));
    QVERIFY(readAll(QStringLiteral("r002 Two.mp3")).contains(QByteArray("TRCK\0\0\0\x04\0\0\0" "2/2", 13)));
    writeFile(QStringLiteral("bad.cue"), "FILE \"book.mp3\" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n");
    const Result bad = run({QStringLiteral("cue"), QStringLiteral("bad.cue")});
    QCOMPARE(bad.status, 1);
    QCOMPARE(bad.err, QStringLiteral("tranchette-cli: bad.cue: line 4: TRACK 02 has no INDEX 01\n"));
    // A FILE in a folder of the sheet's is that file, not the one of its
    // name beside the sheet, from a sheet in another folder too.
    QDir().mkpath(QStringLiteral("disc2"));
    QDir().mkpath(QStringLiteral("sheets"));
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("disc2/book.mp3")));
    const QByteArray tracks = "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n";
    writeFile(QStringLiteral("album.cue"), "FILE \"disc2/book.mp3\" MP3\n" + tracks);
    writeFile(QStringLiteral("sheets/album.cue"), "FILE \"..\\disc2\\book.mp3\" MP3\n" + tracks);
    for (const QString &sheet : {QStringLiteral("album.cue"), QStringLiteral("sheets/album.cue")}) {
      const Result r = run({QStringLiteral("cue"), QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("d%track%.mp3"), sheet});
      QVERIFY2(r.status == 0 && r.err.isEmpty(), qPrintable(r.err));
      QCOMPARE(readAll(QStringLiteral("d001.mp3")) + readAll(QStringLiteral("d002.mp3")), readAll(QStringLiteral("disc2/book.mp3")));
    }
    writeFile(QStringLiteral("gone.cue"), "FILE \"disc3/book.mp3\" MP3\n" + tracks);
    const Result gone = run({QStringLiteral("cue"), QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("g%track%.mp3"),
                             QStringLiteral("gone.cue")});
    QCOMPARE(gone.status, 0);
    QCOMPARE(gone.err, QStringLiteral("tranchette-cli: gone.cue: The sheet's FILE names disc3/book.mp3; its times are taken "
                                      "for book.mp3.\n"));

    const Result chapters = run({QStringLiteral("frames"), QStringLiteral("--from-chapters"), QStringLiteral("--exact"),
                                 QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("c-%track% %title%.mp3"),
                                 media(QStringLiteral("chapters.mp3"))});
    QCOMPARE(chapters.status, 0);
    QCOMPARE(chapters.out, QStringLiteral("c-001 Opening.mp3\nc-002 Middle_ ü Ω.mp3\nc-003 End.mp3\n"));
    const Result noChapters = run({QStringLiteral("frames"), QStringLiteral("--from-chapters"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(noChapters.status, 1);
    QVERIFY(noChapters.err.contains(QStringLiteral("holds no chapter")));
  }

  void helpDescribesEveryCommand() {
    const Result r = run({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    for (const char *word : {"info [--] FILE", "size KB", "time SECONDS", "frames F0,F1,...", "join -o NAME.mp3",
                             "--exact", "--join", "-q", "-o", "--version", "--  ", "--from-labels LABELS.txt",
                             "--save-marks MARKS", "--format frames|cue|labels", "chapters F0,F1,...", "--from-cue SHEET.cue"})
      QVERIFY2(r.out.contains(QLatin1String(word)), word);
  }

  void conventions() {
    const Result version = run({QStringLiteral("--version")});
    QCOMPARE(version.status, 0);
    QVERIFY(version.out.startsWith(QStringLiteral("tranchette-cli 1.")));

    QVERIFY(QDir().mkdir(QStringLiteral("folder.mp3")));
    QCOMPARE(::mkfifo("fifo.mp3", 0600), 0);
    for (const char *odd : {"folder.mp3", "fifo.mp3"}) {
      const QString name = QString::fromLatin1(odd);
      const Result r = run({QStringLiteral("info"), name});  // a FIFO must not block
      QCOMPARE(r.status, 1);
      QVERIFY2(r.err.startsWith(QStringLiteral("tranchette-cli: %1: not a regular file but ").arg(name)),
               qPrintable(r.err));
    }

    // After "--" a name starting with "-" is the file.
    QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("-song.mp3"));
    const Result dashed =
        run({QStringLiteral("size"), QStringLiteral("100"), QStringLiteral("--"), QStringLiteral("-song.mp3")});
    QCOMPARE(dashed.status, 0);
    QCOMPARE(dashed.out, QStringLiteral("-song-001.mp3\n-song-002.mp3\n"));
  }

  // A name that is not UTF-8 reaches the pieces and the join files unchanged.
  // On a terminal the bar counts bytes and ends full, what was copied and
  // the total in agreement, pieces copied ahead of the facts included.
  void theBarEndsFull_data() {
    QTest::addColumn<QByteArrayList>("args");
    QTest::newRow("by time") << QByteArrayList{"time", "1"};
    QTest::newRow("exact by time") << QByteArrayList{"time", "1", "--exact"};
    QTest::newRow("exact by size") << QByteArrayList{"size", "40", "--exact"};
  }
  void theBarEndsFull() {
    QFETCH(QByteArrayList, args);
    int terminal = -1, side = -1;
    QCOMPARE(::openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
    const pid_t pid =
        spawn(args + QByteArrayList{"-o", "p.mp3", "--", QFile::encodeName(media("vbr-xing.mp3"))}, side, side);
    QVERIFY(pid > 0);
    ::close(side);
    const QByteArray shown = drain(terminal);  // until the terminal's other side is gone
    ::close(terminal);
    int exit = 0;
    ::waitpid(pid, &exit, 0);
    QVERIFY(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
    const QRegularExpression counts(QStringLiteral("(\\d+) of (\\d+) bytes"));
    QRegularExpressionMatch last;
    for (auto it = counts.globalMatch(QString::fromLatin1(shown)); it.hasNext();) last = it.next();
    QVERIFY2(last.hasMatch(), shown.constData());
    QCOMPARE(last.captured(1), last.captured(2));
  }

  void namesThatAreNotUtf8() {
    QVERIFY(QDir().mkdir(QStringLiteral("in")));
    writeRaw("in/caf\xe9.mp3", readAll(media(QStringLiteral("cbr-info.mp3"))));
    int out[2], err[2];
    QCOMPARE(::pipe(out), 0);
    QCOMPARE(::pipe(err), 0);
    const pid_t pid = spawn({"time", "3", "in/caf\xe9.mp3", "--join"}, out[1], err[1]);
    QVERIFY(pid > 0);
    ::close(out[1]);
    ::close(err[1]);
    const QByteArray printed = drain(out[0]), errors = drain(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);
    ::close(err[0]);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, errors.constData());
    QCOMPARE(printed, QByteArray("caf\xe9-001.mp3\ncaf\xe9-002.mp3\ncaf\xe9-003.mp3\ncaf\xe9-004.mp3\n"));
    QCOMPARE(readRaw("Join_caf\xe9.bat"),
             QByteArray("copy /b caf\xe9-001.mp3+caf\xe9-002.mp3+caf\xe9-003.mp3+caf\xe9-004.mp3 caf\xe9.mp3"));
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sh Join_*.sh")}), 0);
    QVERIFY(readRaw("caf\xe9.mp3") == readAll(media(QStringLiteral("cbr-info.mp3"))));
  }

  // The CLI is stopped while it waits to print a piece's name: the pieces
  // it completed stay whole, the one it began goes, and it says so.
  void aSignalLeavesOnlyCompletePieces_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");  // 0: the signal was ignored, and the run completes
    QTest::newRow("SIGINT") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
    QTest::newRow("SIGQUIT") << int(SIGQUIT) << 131;
    QTest::newRow("SIGHUP under nohup") << int(SIGHUP) << 0;
  }
  void aSignalLeavesOnlyCompletePieces() {
    QFETCH(int, signal);
    QFETCH(int, status);
    writeFile(QStringLiteral("big.mp3"), patternBytes(2000 * 1024));
    int out[2], err[2];
    QCOMPARE(::pipe(out), 0);
    QCOMPARE(::pipe(err), 0);
    const int capacity = ::fcntl(out[1], F_SETPIPE_SZ, 4096);
    QVERIFY(capacity > 0);
    // A signal ignored by whoever starts the program is inherited so.
    const auto before = std::signal(signal, status == 0 ? SIG_IGN : SIG_DFL);
    const pid_t pid = spawn({"size", "1", "--any-file", "big.mp3"}, out[1], err[1]);
    std::signal(signal, before);
    QVERIFY(pid > 0);
    ::close(out[1]);
    ::close(err[1]);
    int queued = 0;
    QTRY_VERIFY_WITH_TIMEOUT((::ioctl(out[0], FIONREAD, &queued), queued > capacity - 20), 20000);
    ::kill(pid, signal);
    const QByteArray printed = drain(out[0]), errors = drain(err[0]);
    int exit = 0;
    ::waitpid(pid, &exit, 0);
    ::close(out[0]);
    ::close(err[0]);
    QVERIFY(WIFEXITED(exit));
    QCOMPARE(WEXITSTATUS(exit), status);
    const QStringList pieces = QDir().entryList({QStringLiteral("big-*.mp3")}, QDir::Files);
    if (status == 0) {
      QCOMPARE(pieces.size(), 2000);
      QVERIFY(errors.isEmpty());
      return;
    }
    QVERIFY(pieces.size() >= printed.count('\n') && pieces.size() < 2000);
    for (const QString &piece : pieces) QCOMPARE(QFileInfo(piece).size(), 1024);
    QCOMPARE(pieces.last(), QStringLiteral("big-%1.mp3").arg(split3(pieces.size())));
    QVERIFY(QDir().entryList({QStringLiteral(".tranchette-*")}, QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY2(errors.endsWith(QStringLiteral("tranchette-cli: big.mp3: %1 pieces were completed: big-001.mp3 to %2\n")
                                 .arg(pieces.size())
                                 .arg(pieces.last())
                                 .toUtf8()),
             errors.constData());
  }

  // Past a file size limit (ulimit -f) a piece cannot be written: that is
  // said, and nothing of it stays. Output that cannot be written is no
  // success either.
  void limitsOnWritingAreFailures() {
    writeFile(QStringLiteral("big.mp3"), patternBytes(300 * 1024));
    QProcess limited;
    limited.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("ulimit -f 100; exec \"$0\" \"$@\""),
                                         qEnvironmentVariable("TRANCHETTE_CLI"), QStringLiteral("size"),
                                         QStringLiteral("200"), QStringLiteral("--any-file"), QStringLiteral("big.mp3")});
    QVERIFY(limited.waitForFinished(20000));
    QCOMPARE(limited.exitStatus(), QProcess::NormalExit);
    QCOMPARE(limited.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(limited.readAllStandardError()),
             QStringLiteral("tranchette-cli: big-001.mp3: cannot write it: %1\n"
                            "tranchette-cli: big.mp3: no piece was completed\n")
                 .arg(QString::fromLocal8Bit(std::strerror(EFBIG))));
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.mp3")});

    QProcess full;
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start(qEnvironmentVariable("TRANCHETTE_CLI"), {QStringLiteral("size"), QStringLiteral("200"),
                                                         QStringLiteral("--any-file"), QStringLiteral("big.mp3")});
    QVERIFY(full.waitForFinished(20000));
    QCOMPARE(full.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(full.readAllStandardError()),
             QStringLiteral("tranchette-cli: cannot write the output: %1\n")
                 .arg(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    QCOMPARE(readAll(QStringLiteral("big-002.mp3")).size(), 100 * 1024);  // the pieces are written all the same
  }

  void sizeWritesThePiecesAndTheBatch() {
    const QString source = copyOf(QStringLiteral("cbr-info.mp3"));
    const Result r = run({QStringLiteral("size"), QStringLiteral("50"), source, QStringLiteral("--join")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QStringLiteral("cbr-info-001.mp3\ncbr-info-002.mp3\ncbr-info-003.mp3\ncbr-info-004.mp3\n"));
    QVERIFY(r.err.isEmpty());  // no bar when stderr is no terminal
    QByteArray joined;
    for (const QString &p : r.out.split(u'\n', Qt::SkipEmptyParts)) joined += readAll(p);
    QVERIFY(joined == readAll(source));
    QCOMPARE(readAll(QStringLiteral("Join_cbr-info.bat")),
             QByteArray("copy /b cbr-info-001.mp3+cbr-info-002.mp3+cbr-info-003.mp3+cbr-info-004.mp3 cbr-info.mp3"));
  }

  // Cutting bytes would cut anything: by size, a file that holds no MPEG
  // audio is refused as by the other commands, unless --any-file asks.
  void sizeTakesMpegAudioUnlessAskedForAnyFile() {
    writeFile(QStringLiteral("notes.txt"), patternBytes(5000));
    const Result refused = run({QStringLiteral("size"), QStringLiteral("1"), QStringLiteral("notes.txt")});
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.err.startsWith(QStringLiteral("tranchette-cli: notes.txt: ")) &&
                 refused.err.contains(QStringLiteral("--any-file")),
             qPrintable(refused.err));
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("notes.txt")});
    const Result cut =
        run({QStringLiteral("size"), QStringLiteral("1"), QStringLiteral("--any-file"), QStringLiteral("notes.txt")});
    QCOMPARE(cut.status, 0);
    QCOMPARE(cut.out.count(u'\n'), 5);
    // Nothing to cut is no success either.
    writeFile(QStringLiteral("empty.bin"), {});
    const Result empty =
        run({QStringLiteral("size"), QStringLiteral("1"), QStringLiteral("--any-file"), QStringLiteral("empty.bin")});
    QCOMPARE(empty.status, 1);
    QVERIFY2(empty.err.startsWith(QStringLiteral("tranchette-cli: empty.bin: cannot split it: the file is empty\n")),
             qPrintable(empty.err));
  }

  // A name that cmd cannot take gets no batch file: that is a notice, and the
  // split a success.
  void aBatchLeftOutIsANotice() {
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("wow!.mp3")));
    const Result r = run({QStringLiteral("size"), QStringLiteral("100"), QStringLiteral("wow!.mp3"), QStringLiteral("--join")});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.startsWith(QStringLiteral("tranchette-cli: Join_wow!.bat: not written: the name \"wow!-001.mp3\" holds "
                                             "the exclamation mark (!), which cmd cannot take safely\n")),
             qPrintable(r.err));
    QVERIFY(QFileInfo::exists(QStringLiteral("Join_wow!.sh")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("Join_wow!.bat")));
  }

  // A control character in a name is printed as C writes it: one name a line.
  void controlCharactersInNamesArePrintedEscaped() {
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("a\nb\tc.mp3")));
    const Result r = run({QStringLiteral("size"), QStringLiteral("100"), QStringLiteral("a\nb\tc.mp3")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QStringLiteral("a\\nb\\tc-001.mp3\na\\nb\\tc-002.mp3\n"));
    QVERIFY(QFileInfo::exists(QStringLiteral("a\nb\tc-002.mp3")));
  }

  void timeUsesThePlayingTime() {
    const QString source = copyOf(QStringLiteral("cbr-info.mp3"));  // 10000 ms
    QDir().mkpath(QStringLiteral("out"));
    const Result r = run({QStringLiteral("time"), QStringLiteral("3"), source, QStringLiteral("-o"),
                          QStringLiteral("out/part %track%.mp3"), QStringLiteral("--join"), QStringLiteral("-q")});
    QCOMPARE(r.status, 0);
    QCOMPARE(run({QStringLiteral("info"), QStringLiteral("out/part 004.mp3")}).out.section(u'\n', 0, 0),
             QStringLiteral("frames: 38"));
    QCOMPARE(readAll(QStringLiteral("Join_cbr-info.bat")),
             QByteArray("copy /b \"part 001.mp3\"+\"part 002.mp3\"+\"part 003.mp3\"+\"part 004.mp3\" cbr-info.mp3"));
    // The shell script finds the pieces in their folder.
    QFile::remove(source);
    QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("Join_cbr-info.sh")}), 0);
    QVERIFY(readAll(source) == readAll(media(QStringLiteral("cbr-info.mp3"))));
  }

  void framesCutsBetweenBreakpoints() {
    const QString source = copyOf(QStringLiteral("cbr-noinfo.mp3"));  // 160496 bytes, 384 frames
    const Result r = run({QStringLiteral("frames"), QStringLiteral("0,96,192"), source});
    QCOMPARE(r.status, 0);
    const QByteArray bytes = readAll(source);
    QVERIFY(readAll(QStringLiteral("cbr-noinfo-001.mp3")) == bytes.left(40124));
    QVERIFY(readAll(QStringLiteral("cbr-noinfo-002.mp3")) == bytes.mid(40124, 40124));
    QVERIFY(!QFileInfo::exists(QStringLiteral("Join_cbr-noinfo.bat")));
  }

  // Exact pieces and their join script, as a user runs them.
  void exactPiecesAndTheirJoin() {
    const QString source = copyOf(QStringLiteral("vbr-xing.mp3"));
    const Result r =
        run({QStringLiteral("time"), QStringLiteral("3"), QStringLiteral("--exact"), QStringLiteral("--join"), source});
    QCOMPARE(r.status, 0);
    const QStringList pieces = r.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(pieces.size(), 4);
    QCOMPARE(run({QStringLiteral("info"), pieces[1]}).out.section(u'\n', 1, 1), QStringLiteral("time_ms: 3000"));
    QCOMPARE(readAll(QStringLiteral("Join_vbr-xing.bat")),
             QByteArray("tranchette-cli join -o vbr-xing.mp3 -- vbr-xing-001.mp3 vbr-xing-002.mp3 vbr-xing-003.mp3 "
                        "vbr-xing-004.mp3"));

    // What a killed join left beside its output goes with the next join.
    QDir().mkpath(QStringLiteral("joined"));
    writeFile(QStringLiteral("joined/.tranchette-0123456789abcdef-0.part"), "half a join");
    const Result swept = run(QStringList{QStringLiteral("join"), QStringLiteral("-o"), QStringLiteral("joined/all.mp3")} + pieces);
    QCOMPARE(swept.status, 0);
    QCOMPARE(swept.err, QStringLiteral("tranchette-cli: removed 1 temporary file left in joined/ by a run that was stopped\n"));
    QCOMPARE(QDir(QStringLiteral("joined")).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("all.mp3")});

    // Not consecutive pieces: refused, naming the one out of place.
    const Result refused =
        run({QStringLiteral("join"), QStringLiteral("-o"), QStringLiteral("x.mp3"), pieces[0], pieces[2]});
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.err.startsWith(QStringLiteral("tranchette-cli: ") + pieces[2] + u':'), qPrintable(refused.err));
    QVERIFY(!QFileInfo::exists(QStringLiteral("x.mp3")));

    // The script calls tranchette-cli join, which gives back the source's frames.
    QFile::remove(source);
    QProcess sh;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), QFileInfo(qEnvironmentVariable("TRANCHETTE_CLI")).absolutePath() + u':' +
                                           env.value(QStringLiteral("PATH")));
    sh.setProcessEnvironment(env);
    sh.start(QStringLiteral("sh"), {QStringLiteral("Join_vbr-xing.sh")});
    QVERIFY(sh.waitForFinished(30000));
    QCOMPARE(sh.exitCode(), 0);
    const QByteArray original = readAll(media(QStringLiteral("vbr-xing.mp3"))), joined = readAll(source);
    QVERIFY(joined.right(original.size() - 2000) == original.right(original.size() - 2000));
    QCOMPARE(run({QStringLiteral("info"), source}).out.section(u'\n', 0, 1),
             run({QStringLiteral("info"), media(QStringLiteral("vbr-xing.mp3"))}).out.section(u'\n', 0, 1));
  }

  // The breakpoints of the silences of speech.mp3 given out in each kind of
  // marks, taken back by the command that reads it and saved again beside
  // the pieces as a frame list: the same breakpoints all the way.
  void marksGoAndComeBack_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("marks");
    QTest::addColumn<QStringList>("back");  // "%m" the marks, "%l" their text as a frame list
    QTest::newRow("labels") << "labels" << "s.txt"
                            << QStringList{"frames", "--from-labels", "%m", "-o", "p-%track%.mp3", "speech.mp3"};
    QTest::newRow("cue sheet") << "cue" << "speech.cue" << QStringList{"cue", "%m", "-o", "p-%track%.mp3"};
    QTest::newRow("frame list") << "frames" << "s.csv" << QStringList{"frames", "%l", "-o", "p-%track%.mp3", "speech.mp3"};
  }
  void marksGoAndComeBack() {
    QFETCH(QString, format);
    QFETCH(QString, marks);
    QFETCH(QStringList, back);
    copyOf(QStringLiteral("speech.mp3"));
    const Result given = run({QStringLiteral("silences"), QStringLiteral("-q"), QStringLiteral("--format"), format,
                              QStringLiteral("speech.mp3")});
    QCOMPARE(given.status, 0);
    QCOMPARE(given.err, QString());
    writeFile(marks, given.out.toUtf8());
    for (QString &arg : back) {
      if (arg == u"%m") arg = marks;
      if (arg == u"%l") arg = given.out.trimmed();
    }
    const Result taken = run(back + QStringList{QStringLiteral("-q"), QStringLiteral("--save-marks"), QStringLiteral("back.csv")});
    QCOMPARE(taken.status, 0);
    QCOMPARE(taken.out.count(u'\n'), 8);
    QCOMPARE(readAll(QStringLiteral("back.csv")), QByteArray("0,224,496,768,1041,1317,1593,1869,2095\n"));
    // A marks file that is there stays: refused before any piece is written.
    for (const QString &piece : taken.out.split(u'\n', Qt::SkipEmptyParts)) QFile::remove(piece);
    const Result again = run(back + QStringList{QStringLiteral("-q"), QStringLiteral("--save-marks"), QStringLiteral("back.csv")});
    QCOMPARE(again.status, 1);
    QCOMPARE(again.out, QString());
    QCOMPARE(again.err, QStringLiteral("tranchette-cli: back.csv: it is there already: name another file or remove it\n"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("p-001.mp3")));
  }

  // The chapters' titled pieces, their marks saved as labels (chapters.mp3:
  // 767 begins at 20.010862 s, 1570 at 40.987188, the end 2095 at
  // 54.701474); a label's control character is kept in the title and made
  // "_" in the name.
  void titledMarksFromTheTerminal() {
    const Result chapters = run({QStringLiteral("frames"), QStringLiteral("--from-chapters"), QStringLiteral("-q"),
                                 QStringLiteral("--save-marks"), QStringLiteral("c.txt"), media(QStringLiteral("chapters.mp3"))});
    QCOMPARE(chapters.status, 0);
    QCOMPARE(readAll(QStringLiteral("c.txt")),
             QByteArray("0.000000\t20.010862\tOpening\n20.010862\t40.987188\tMiddle: \xC3\xBC \xCE\xA9\n"
                        "40.987188\t54.701474\tEnd\n"));
    writeFile(QStringLiteral("odd.txt"), "0\t0\tA\x01" "B\n10\t10\tC\n");
    const Result odd = run({QStringLiteral("frames"), QStringLiteral("--from-labels"), QStringLiteral("odd.txt"),
                            QStringLiteral("--exact"), QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("%title%.mp3"),
                            QStringLiteral("--save-marks"), QStringLiteral("odd.cue"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(odd.status, 0);
    QCOMPARE(odd.out, QStringLiteral("A_B-001.mp3\nC-002.mp3\n"));
    QVERIFY(readAll(QStringLiteral("A_B-001.mp3")).contains(QByteArray("TIT2\0\0\0\x04\0\0\0A\x01" "B", 14)));
    QCOMPARE(readAll(QStringLiteral("odd.cue")), QByteArray("FILE \"speech.mp3\" MP3\n  TRACK 01 AUDIO\n    TITLE \"A\x01" "B\"\n"
                                                           "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"C\"\n"
                                                           "    INDEX 01 00:10:00\n"));
    writeFile(QStringLiteral("bad.txt"), "0\t0\tA\n10\t10\tB\n9\t9\tC\n");
    const Result bad = run({QStringLiteral("frames"), QStringLiteral("--from-labels"), QStringLiteral("bad.txt"),
                            media(QStringLiteral("speech.mp3"))});
    QCOMPARE(bad.status, 1);
    QCOMPARE(bad.err, QStringLiteral("tranchette-cli: bad.txt: line 3: the label begins at 9.000 s, no later than the "
                                     "label before it (10.000 s)\n"));
    QCOMPARE(QDir().entryList({QStringLiteral("speech*")}, QDir::Files | QDir::Hidden), QStringList());
  }

  // chapters: a copy with the chapters of a list, a cue sheet or labels,
  // which frames --from-chapters takes back with their titles; the source's
  // own chapters replaced, and said so; a file that is there, or a labels
  // file that is a FIFO, refused with nothing written.
  void chaptersFromTheTerminal() {
    const QString source = media(QStringLiteral("chapters.mp3"));
    writeFile(QStringLiteral("l.txt"), "0.000000\t10.000000\tFirst\n10.000000\t30.000000\tSecond\n");
    const Result labelled = run({QStringLiteral("chapters"), QStringLiteral("--from-labels"), QStringLiteral("l.txt"),
                                 QStringLiteral("-o"), QStringLiteral("out.mp3"), source});
    QCOMPARE(labelled.status, 0);
    QCOMPARE(labelled.out, QStringLiteral("out.mp3\n"));
    QCOMPARE(labelled.err, QStringLiteral("tranchette-cli: out.mp3: the 3 chapters that %1 had are replaced\n").arg(source));
    const Result back = run({QStringLiteral("frames"), QStringLiteral("--from-chapters"), QStringLiteral("-q"),
                             QStringLiteral("-o"), QStringLiteral("b-%track% %title%.mp3"), QStringLiteral("--save-marks"),
                             QStringLiteral("back.csv"), QStringLiteral("out.mp3")});
    QCOMPARE(back.status, 0);
    QCOMPARE(back.out, QStringLiteral("b-001 First.mp3\nb-002 Second.mp3\nb-003.mp3\n"));
    QCOMPARE(readAll(QStringLiteral("back.csv")), QByteArray("0,384,1149,2095\n"));

    writeFile(QStringLiteral("s.cue"), "FILE \"other.wav\" WAVE\nTRACK 01 AUDIO\n TITLE \"One\"\n INDEX 01 00:00:00\n"
                                       "TRACK 02 AUDIO\n TITLE \"Two\"\n INDEX 01 00:20:00\n");
    const Result sheet = run({QStringLiteral("chapters"), QStringLiteral("--from-cue"), QStringLiteral("s.cue"),
                              QStringLiteral("-o"), QStringLiteral("sheet.mp3"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(sheet.status, 0);
    QCOMPARE(sheet.err, QStringLiteral("tranchette-cli: s.cue: The sheet's FILE names other.wav; its times are taken for "
                                       "speech.mp3.\n"));
    const Result listed = run({QStringLiteral("chapters"), QStringLiteral("0,100,250"), QStringLiteral("-o"),
                               QStringLiteral("listed.mp3"), media(QStringLiteral("speech.mp3"))});
    QCOMPARE(listed.status, 0);
    QCOMPARE(listed.err, QString());
    for (const auto &[copy, frames] : {std::pair{"sheet.mp3", "0 767 2095"}, std::pair{"listed.mp3", "0 100 250 2095"}}) {
      QFile::remove(QStringLiteral("m.csv"));
      QCOMPARE(run({QStringLiteral("frames"), QStringLiteral("--from-chapters"), QStringLiteral("-q"), QStringLiteral("-o"),
                    QStringLiteral("x-%track%.mp3"), QStringLiteral("--save-marks"), QStringLiteral("m.csv"),
                    QString::fromLatin1(copy)})
                   .status,
               0);
      QCOMPARE(QString::fromLatin1(readAll(QStringLiteral("m.csv"))).trimmed().replace(u',', u' '), QString::fromLatin1(frames));
    }

    const QByteArray written = readAll(QStringLiteral("out.mp3"));
    const Result there = run({QStringLiteral("chapters"), QStringLiteral("0,100"), QStringLiteral("-o"),
                              QStringLiteral("out.mp3"), source});
    QCOMPARE(there.status, 1);
    QCOMPARE(there.err, QStringLiteral("tranchette-cli: cannot write out.mp3: it is there already\n"));
    QVERIFY(readAll(QStringLiteral("out.mp3")) == written);
    QCOMPARE(::mkfifo("fifo.txt", 0600), 0);
    const Result fifo = run({QStringLiteral("chapters"), QStringLiteral("--from-labels"), QStringLiteral("fifo.txt"),
                             QStringLiteral("-o"), QStringLiteral("new.mp3"), source});
    QCOMPARE(fifo.status, 1);
    QCOMPARE(fifo.err, QStringLiteral("tranchette-cli: fifo.txt: cannot open it: it is a FIFO, not a regular file\n"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("new.mp3")));
  }

  // Several files, each in turn under its own names: one that cannot be
  // read is told and the rest are done; names that would collide are
  // refused before anything is written; info heads each file's facts.
  void severalFilesOneAfterTheOther() {
    QDir().mkpath(QStringLiteral("a"));
    QDir().mkpath(QStringLiteral("b"));
    QVERIFY(QFile::copy(media(QStringLiteral("cbr-info.mp3")), QStringLiteral("a/book.mp3")));
    QVERIFY(QFile::copy(media(QStringLiteral("vbr-xing.mp3")), QStringLiteral("b/talk.mp3")));
    QVERIFY(QFile::copy(media(QStringLiteral("text.mp3")), QStringLiteral("bad.mp3")));
    const Result named = run({QStringLiteral("time"), QStringLiteral("5"), QStringLiteral("-o"),
                              QStringLiteral("%name% %track%.mp3"), QStringLiteral("a/book.mp3"),
                              QStringLiteral("bad.mp3"), QStringLiteral("b/talk.mp3")});
    QCOMPARE(named.status, 1);
    QCOMPARE(named.out, QStringLiteral("book 001.mp3\nbook 002.mp3\ntalk 001.mp3\ntalk 002.mp3\n"));
    QCOMPARE(named.err.count(u'\n'), 1);
    QVERIFY2(named.err.startsWith(QStringLiteral("tranchette-cli: bad.mp3: ")), qPrintable(named.err));
    QCOMPARE(readAll(QStringLiteral("book 001.mp3")) + readAll(QStringLiteral("book 002.mp3")),
             readAll(QStringLiteral("a/book.mp3")));

    QVERIFY(QFile::copy(QStringLiteral("a/book.mp3"), QStringLiteral("b/book.mp3")));
    const QStringList before = QDir().entryList(QDir::Files);
    for (const auto &[clash, says] :
         {std::pair{QStringList{QStringLiteral("-o"), QStringLiteral("p-%track%.mp3"), QStringLiteral("a/book.mp3"),
                                QStringLiteral("b/talk.mp3")},
                    "needs %name%"},
          std::pair{QStringList{QStringLiteral("a/book.mp3"), QStringLiteral("b/book.mp3")}, "same names"}}) {
      const Result r = run(QStringList{QStringLiteral("size"), QStringLiteral("50")} + clash);
      QCOMPARE(r.status, 2);
      QVERIFY2(r.err.contains(QLatin1String(says)), qPrintable(r.err));
      QCOMPARE(QDir().entryList(QDir::Files), before);
    }

    // The default names, in the current folder, whatever folder the sources are in.
    const Result plain = run({QStringLiteral("size"), QStringLiteral("100"), QStringLiteral("a/book.mp3"),
                              QStringLiteral("b/talk.mp3")});
    QCOMPARE(plain.status, 0);
    QCOMPARE(plain.out, QStringLiteral("book-001.mp3\nbook-002.mp3\ntalk-001.mp3\ntalk-002.mp3\n"));
    QVERIFY(plain.err.isEmpty());

    const Result info = run({QStringLiteral("info"), QStringLiteral("a/book.mp3"), QStringLiteral("b/talk.mp3")});
    QCOMPARE(info.status, 0);
    QCOMPARE(info.out, QStringLiteral("==> a/book.mp3 <==\nframes: 384\ntime_ms: 10000\nbytes: 160913\n\n"
                                      "==> b/talk.mp3 <==\nframes: 384\ntime_ms: 10000\nbytes: 121392\n"));

    // One FILE's piece would be named as the next FILE: that FILE stays,
    // and is split in its turn.
    QDir().mkpath(QStringLiteral("c"));
    QVERIFY(QDir::setCurrent(QStringLiteral("c")));
    QVERIFY(QFile::copy(QStringLiteral("../a/book.mp3"), QStringLiteral("x.mp3")));
    QVERIFY(QFile::copy(QStringLiteral("../b/talk.mp3"), QStringLiteral("x-001.mp3")));
    const Result next = run({QStringLiteral("time"), QStringLiteral("5"), QStringLiteral("x.mp3"), QStringLiteral("x-001.mp3")});
    QVERIFY(QDir::setCurrent(QStringLiteral("..")));
    QCOMPARE(next.status, 1);
    QCOMPARE(next.out, QStringLiteral("x-001-001.mp3\nx-001-002.mp3\n"));
    QCOMPARE(next.err, QStringLiteral("tranchette-cli: x-001.mp3: cannot create it as a piece of x.mp3: it is one of the files "
                                      "being split\n"));
    QCOMPARE(readAll(QStringLiteral("c/x-001.mp3")), readAll(QStringLiteral("b/talk.mp3")));
    // Nor as a FILE not there yet, which the first would make.
    QVERIFY(QFile::copy(QStringLiteral("a/book.mp3"), QStringLiteral("c/z.mp3")));
    const Result made = run({QStringLiteral("time"), QStringLiteral("5"), QStringLiteral("-o"), QStringLiteral("c/%name%-%track%.mp3"),
                             QStringLiteral("c/z.mp3"), QStringLiteral("c/z-001.mp3")});
    QCOMPARE(made.status, 1);
    QVERIFY2(made.err.startsWith(QStringLiteral("tranchette-cli: c/z-001.mp3: cannot create it as a piece of z.mp3: it is one "
                                                "of the files being split\n")),
             qPrintable(made.err));
    QVERIFY(!QFileInfo::exists(QStringLiteral("c/z-001.mp3")));
  }

  void aFailedSplitSaysWhyAndExits1() {
    const QString source = copyOf(QStringLiteral("cbr-info.mp3"));
    QDir().mkdir(QStringLiteral("cbr-info-002.mp3"));
    const Result r = run({QStringLiteral("size"), QStringLiteral("50"), source, QStringLiteral("--join")});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.out, QStringLiteral("cbr-info-001.mp3\n"));
    QCOMPARE(r.err, QStringLiteral("tranchette-cli: cbr-info-002.mp3: cannot create it: %1\n"
                                   "tranchette-cli: cbr-info.mp3: 1 piece was completed: cbr-info-001.mp3\n")
                        .arg(QString::fromLocal8Bit(std::strerror(EISDIR))));
    QVERIFY(!QFileInfo::exists(QStringLiteral("Join_cbr-info.bat")));

    const Result missing = run({QStringLiteral("size"), QStringLiteral("50"), QStringLiteral("gone.mp3")});
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.err.startsWith(QStringLiteral("tranchette-cli: gone.mp3: cannot open it: ")),
             qPrintable(missing.err));
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
