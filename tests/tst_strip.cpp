// The strip behind the preview's slider: the level of the whole file,
// measured 50 ms at a time on two threads (found::measureLevels).
#include <cmath>
#include <map>
#include <memory>
#include <mpg123.h>

#include <QCoreApplication>
#include <QtTest>

#include "Silences.h"
#include "TestSupport.h"

namespace {

// Every window's mean square from one decode of the whole file from its
// start, on one thread: what the two halves together must give.
std::vector<double> decodedLevels(const QString &path, std::int64_t window) {
  static const int initialised = mpg123_init();
  (void)initialised;
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle *)> mh(mpg123_new(nullptr, nullptr), mpg123_delete);
  mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_param(mh.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, -1, 0);
  mpg123_format_none(mh.get());
  const long *rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i)
    mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(mh.get(), QFile::encodeName(path).constData()) != MPG123_OK) return {};
  std::vector<double> sums, samples;
  std::int64_t at = 0;
  int channels = 1;
  for (;;) {
    off_t num = 0;
    unsigned char *audio = nullptr;
    std::size_t bytes = 0;
    const int r = mpg123_decode_frame(mh.get(), &num, &audio, &bytes);
    if (r == MPG123_NEW_FORMAT) {
      long rate = 0;
      int encoding = 0;
      mpg123_getformat(mh.get(), &rate, &channels, &encoding);
      continue;
    }
    if (r != MPG123_OK) break;
    const auto *pcm = reinterpret_cast<const short *>(audio);
    for (std::size_t i = 0; i < bytes / 2 / static_cast<std::size_t>(channels); ++i, ++at) {
      double e = 0;
      for (int c = 0; c < channels; ++c) e += double(pcm[i * channels + c]) * pcm[i * channels + c];
      const auto w = static_cast<std::size_t>(at / window);
      if (sums.size() <= w) {
        sums.resize(w + 1);
        samples.resize(w + 1);
      }
      sums[w] += e / channels;
      samples[w] += 1;
    }
  }
  for (std::size_t w = 0; w < sums.size(); ++w) sums[w] /= samples[w] * 32768.0 * 32768.0;
  return sums;
}

}  // namespace

class TestStrip : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;

 private slots:
  void initTestCase() {
    isolateSettings(settingsDir_);
    QCoreApplication::setApplicationName(QStringLiteral("Tranchette"));
  }

  // Every window once, as one decode from the start gives it, the halves'
  // seam included; in parts of at most 1,024 windows.
  void levelsAreEveryWindowOnce_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<qint64>("window");
    QTest::addColumn<qint64>("windows");
    QTest::newRow("loud, quiet, loud: two halves") << "loud-quiet-loud.mp3" << 2298LL << 2205LL << 1201LL;
    QTest::newRow("speech: two halves") << "speech.mp3" << 2095LL << 2205LL << 1095LL;
    QTest::newRow("stereo, one half") << "silent-edges.mp3" << 461LL << 2205LL << 241LL;
    QTest::newRow("22.05 kHz") << "mpeg2-mono.mp3" << 270LL << 1103LL << 141LL;
  }
  void levelsAreEveryWindowOnce() {
    QFETCH(QString, file);
    QFETCH(qint64, frames);
    QFETCH(qint64, window);
    QFETCH(qint64, windows);
    std::optional<found::LevelScale> scale;
    std::map<std::int64_t, float> got;
    int parts = 0, twice = 0;
    std::size_t largest = 0;
    QString why;
    const bool decoded = found::measureLevels(
        media(file), [&](const found::LevelScale &s) { scale = s; },
        [&](std::int64_t first, std::vector<float> power) {
          ++parts;
          largest = std::max(largest, power.size());
          for (std::size_t i = 0; i < power.size(); ++i)
            twice += !got.emplace(first + static_cast<std::int64_t>(i), power[i]).second;
        },
        nullptr, &why);
    QVERIFY2(decoded, qPrintable(why));
    QVERIFY(scale);
    QCOMPARE(scale->timeline.frames, frames);
    QCOMPARE(scale->window, window);
    QCOMPARE(scale->windows, windows);
    QCOMPARE(twice, 0);
    QCOMPARE(static_cast<qint64>(got.size()), windows);
    QCOMPARE(got.begin()->first, 0);
    QCOMPARE(got.rbegin()->first, windows - 1);
    QVERIFY(largest <= 1024);
    QVERIFY(parts >= 1);
    const std::vector<double> expected = decodedLevels(media(file), window);
    QCOMPARE(static_cast<qint64>(expected.size()), windows);
    for (const auto &[w, power] : got)
      QVERIFY2(std::abs(power - expected[static_cast<std::size_t>(w)]) <= 1e-6 * expected[static_cast<std::size_t>(w)] + 1e-15,
               qPrintable(QStringLiteral("window %1: %2, not %3").arg(w).arg(power).arg(expected[static_cast<std::size_t>(w)])));
  }

  // A stop ends the measuring: nothing is measured after it, and the answer
  // is no error.
  void aStopEndsTheMeasuring_data() {
    QTest::addColumn<bool>("before");
    QTest::newRow("before it begins") << true;
    QTest::newRow("once the frames are walked") << false;
  }
  void aStopEndsTheMeasuring() {
    QFETCH(bool, before);
    std::atomic<bool> stop{before};
    bool begun = false;
    std::int64_t measured = 0;
    QString why = QStringLiteral("unchanged");
    const bool decoded = found::measureLevels(
        media(QStringLiteral("loud-quiet-loud.mp3")),
        [&](const found::LevelScale &) {
          begun = true;
          stop = true;
        },
        [&](std::int64_t, std::vector<float> power) { measured += static_cast<std::int64_t>(power.size()); },
        &stop, &why);
    QVERIFY(!decoded);
    QVERIFY(why.isEmpty());
    QCOMPARE(begun, !before);
    // Each half stops at its next frame: far from its 535 or 666 windows.
    QVERIFY2(measured < 20, qPrintable(QString::number(measured)));
  }

  void notAudioIsNoLevel() {
    QString why;
    bool begun = false;
    QVERIFY(!found::measureLevels(
        media(QStringLiteral("text.mp3")), [&](const found::LevelScale &) { begun = true; }, {}, nullptr, &why));
    QVERIFY(!begun);
    QCOMPARE(why, QStringLiteral("it is not an MPEG audio file"));
  }

};

QTEST_MAIN(TestStrip)
#include "tst_strip.moc"
