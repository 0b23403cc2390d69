#include <QtTest>

#include "Convert.h"
#include "Platform.h"
#include "Settings.h"
#include "TestSupport.h"

class TestPlatform : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;

  QString settingsFile() const { return settingsDir_.filePath(QStringLiteral("Velmora/Tranchette.conf")); }

 private slots:
  void initTestCase() { isolateSettings(settingsDir_); }
  void init() { QFile::remove(settingsFile()); }

  void integers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "1234" << true << 1234;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("negative") << "-5" << true << -5;
    QTest::newRow("leading blank") << " 12" << true << 12;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("too large") << "2147483648" << false << 0;
    QTest::newRow("placeholder") << "-------" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
  }
  void integers() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    if (valid)
      QCOMPARE(StrToInt(text), value);
    else
      QVERIFY_THROWS_EXCEPTION(EConvertError, StrToInt(text));
  }

  void floats() {
    QCOMPARE(StrToFloat(QStringLiteral("60")), 60.0);
    QCOMPARE(StrToFloat(QStringLiteral("000")), 0.0);
    QCOMPARE(StrToFloat(QStringLiteral("2.5")), 2.5);
    QVERIFY_THROWS_EXCEPTION(EConvertError, StrToFloat(QStringLiteral("1x")));
    QVERIFY_THROWS_EXCEPTION(EConvertError, StrToFloat(QString()));
  }

  void settingsRoundTrip() {
    {
      TRegistry reg;
      QVERIFY(reg.OpenKey(QStringLiteral("Software"), true));
      reg.CreateKey(QStringLiteral("Velmora\\Tranchette"));
      reg.CloseKey();
      QVERIFY(reg.OpenKey(QStringLiteral("Software\\Velmora\\Tranchette"), false));
      reg.WriteInteger(QStringLiteral("Top"), -20);
      reg.WriteInteger(QStringLiteral("Method"), 3);
      reg.CloseKey();
    }
    QVERIFY(QFileInfo::exists(settingsFile()));
    TRegistry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Software\\Velmora\\Tranchette"), false));
    QCOMPARE(reg.ReadInteger(QStringLiteral("Top")), -20);
    QCOMPARE(reg.ReadInteger(QStringLiteral("Method")), 3);
    QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.ReadInteger(QStringLiteral("Left")));
  }

  void aValueThatIsNoIntegerCannotBeRead() {
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QTest::qWait(1100);  // the settings cache notices a change by the file time
    writeFile(settingsFile(), "[General]\nTop=high\nLeft=12\n");
    TRegistry reg;
    QVERIFY(reg.OpenKey(QStringLiteral("Software\\Velmora\\Tranchette"), false));
    QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.ReadInteger(QStringLiteral("Top")));
    QCOMPARE(reg.ReadInteger(QStringLiteral("Left")), 12);
  }

  void aKeyThatCannotBeCreatedRaises() {
    // A file where the settings folder should be: not even root can make the folder.
    const QString folder = QFileInfo(settingsFile()).path();
    QDir(folder).removeRecursively();
    writeFile(folder, "in the way");
    TRegistry reg;
    QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.CreateKey(QStringLiteral("Velmora\\Tranchette")));
    QFile::remove(folder);
  }

  void readingWithoutAnOpenKeyRaises() {
    TRegistry reg;
    QVERIFY(!reg.OpenKey(QStringLiteral("Software\\Other"), false));
    QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.ReadInteger(QStringLiteral("Top")));
    QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.WriteInteger(QStringLiteral("Top"), 1));
  }

  // The desktop's openUrl asks xdg-mime for a program first: xdg-open would
  // start (and report success) even where there is none. Both are stand-ins
  // here; the offscreen platform cannot hand anything on, so only the refusal
  // is seen.
  void theDesktopOpensNothingItHasNoProgramFor_data() {
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("type");
    QTest::newRow("help file") << QUrl::fromLocalFile(QStringLiteral("/opt/t/help.chm"))
                               << "application/vnd.ms-htmlhelp";
    QTest::newRow("web page") << QUrl(QStringLiteral("http://www.example.org")) << "x-scheme-handler/http";
    QTest::newRow("mail") << QUrl(QStringLiteral("mailto:support@example.org")) << "x-scheme-handler/mailto";
  }
  void theDesktopOpensNothingItHasNoProgramFor() {
    QFETCH(QUrl, url);
    QFETCH(QString, type);
    QTemporaryDir bin;
    const QString asked = bin.filePath(QStringLiteral("asked")), opened = bin.filePath(QStringLiteral("opened"));
    auto script = [&](const QString &name, const QString &body) {
      writeFile(bin.filePath(name), ("#!/bin/sh\n" + body + "\n").toUtf8());
      QFile::setPermissions(bin.filePath(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    script(QStringLiteral("xdg-open"), QStringLiteral("echo \"$@\" > '%1'").arg(opened));
    script(QStringLiteral("xdg-mime"), QStringLiteral("echo \"$@\" > '%1'").arg(asked));  // knows no program
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
    const bool handed = platform().openUrl(url);
    qputenv("PATH", path);
    QVERIFY(!handed);
    QCOMPARE(readAll(asked).trimmed(), QByteArray("query default ") + type.toUtf8());
    QTest::qWait(100);
    QVERIFY(!QFile::exists(opened));
  }

  void dialogFilters() {
    QCOMPARE(qtFilter(QStringLiteral("MP3 File (*.mp3)|*.mp3;*.mp2;*.mp1|All Files (*.*)|*.*")),
             QStringLiteral("MP3 File (*.mp3) (*.mp3 *.mp2 *.mp1);;All Files (*.*) (*)"));
  }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
