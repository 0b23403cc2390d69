#include <cerrno>
#include <cstring>

#include <QProcess>
#include <QtTest>

#include "TestSupport.h"

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
  QString copyOf(const QString &name) {
    QFile::remove(name);
    QFile::copy(media(name), name);
    return name;
  }

 private slots:
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

  void infoRefusesWhatIsNoMpegAudio_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("missing") << "missing.mp3";
    QTest::newRow("empty") << "empty.mp3";
    QTest::newRow("text") << "text.mp3";
    QTest::newRow("random") << "random.mp3";
  }
  void infoRefusesWhatIsNoMpegAudio() {
    QFETCH(QString, file);
    const Result r = run({QStringLiteral("info"), media(file)});
    QCOMPARE(r.status, 1);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count(u'\n'), 1);
    QVERIFY2(r.err.contains(media(file)), qPrintable(r.err));
  }

  void usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"cut", "x.mp3"};
    QTest::newRow("info without a file") << QStringList{"info"};
    QTest::newRow("size without a file") << QStringList{"size", "100"};
    QTest::newRow("size not a number") << QStringList{"size", "lots", "x.mp3"};
    QTest::newRow("time 0") << QStringList{"time", "0", "x.mp3"};
    QTest::newRow("unknown option") << QStringList{"size", "100", "x.mp3", "--fast"};
    QTest::newRow("-o without a template") << QStringList{"size", "100", "x.mp3", "-o"};
    QTest::newRow("one breakpoint") << QStringList{"frames", "10", "x.mp3"};
    QTest::newRow("join with frames") << QStringList{"frames", "0,10", "x.mp3", "--join"};
  }
  void usageErrors() {
    QFETCH(QStringList, args);
    const Result r = run(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("--help")));
  }

  void helpDescribesEveryCommand() {
    const Result r = run({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    for (const char *word :
         {"info [--] FILE", "size KB", "time SECONDS", "frames F0,F1,...", "--join", "-q", "-o", "--version", "--  "})
      QVERIFY2(r.out.contains(QLatin1String(word)), word);
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

  void timeUsesThePlayingTime() {
    const QString source = copyOf(QStringLiteral("cbr-info.mp3"));  // 10000 ms
    QDir().mkpath(QStringLiteral("out"));
    const Result r = run({QStringLiteral("time"), QStringLiteral("3"), source, QStringLiteral("-o"),
                          QStringLiteral("out/part %track%.mp3"), QStringLiteral("--join"), QStringLiteral("-q")});
    QCOMPARE(r.status, 0);
    const qint64 piece = 160913LL * 3000 / 10000;
    QCOMPARE(readAll(QStringLiteral("out/part 001.mp3")).size(), piece);
    QCOMPARE(readAll(QStringLiteral("out/part 004.mp3")).size(), 160913 - 3 * piece);
    QCOMPARE(readAll(QStringLiteral("Join_cbr-info.bat")),
             QByteArray("copy /b \"part 001.mp3\"+\"part 002.mp3\"+\"part 003.mp3\"+\"part 004.mp3\" cbr-info.mp3"));
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

    const Result bad = run({QStringLiteral("frames"), QStringLiteral("0,20,10"), source});
    QCOMPARE(bad.status, 1);
    QVERIFY(bad.err.contains(QStringLiteral("10 follows 20")));
    const Result missing = run({QStringLiteral("size"), QStringLiteral("50"), QStringLiteral("gone.mp3")});
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.err.startsWith(QStringLiteral("tranchette-cli: gone.mp3: cannot open it: ")),
             qPrintable(missing.err));
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
