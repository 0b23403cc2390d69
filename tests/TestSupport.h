#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// The folder of MP3s made by tests/media/make-media.
inline QString media(const QString &name) { return QDir(qEnvironmentVariable("TRANCHETTE_TEST_MEDIA")).filePath(name); }

// Bytes whose value depends on their place, so that a shifted or lost byte shows.
inline QByteArray patternBytes(qint64 size) {
  QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) bytes[static_cast<qsizetype>(i)] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

inline QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whether the file takes no more disk space than its bytes fill: space set
// aside for it while it was written, and not filled, would stay taken
// unseen.
inline bool takesOnlyItsSpace(const QString &path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
  const qint64 filled = (st.st_size + st.st_blksize - 1) / st.st_blksize * st.st_blksize;
  return st.st_blocks * 512 <= filled;
}

inline void writeFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), bytes.size());
}

// Points the per-user settings store at a temporary folder for the whole test
// run, so that no test reads or writes the user's own settings.
inline void isolateSettings(const QTemporaryDir &dir) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
  qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
}
