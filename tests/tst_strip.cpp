// The strip behind the preview's slider: the level of the whole file,
// measured 50 ms at a time on two threads (found::measureLevels), drawn from
// its state alone (strip::render), and in the breakpoint page, where the
// slider must answer the mouse as it does without it.
#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include <QCoreApplication>
#include <QListWidget>
#include <QScreen>
#include <QStyleOptionSlider>
#include <QStackedWidget>
#include <QtTest>

#include "AppFixture.h"
#include "MainWindow.h"
#include "OffsetDialog.h"
#include "PositionSlider.h"
#include "Silences.h"
#include "Libmpg123.h"
#include "TestSupport.h"

namespace {

constexpr float kUnmeasured = std::numeric_limits<float>::quiet_NaN();

// Every window's mean square from one decode of the whole file from its
// start, on one thread: what the two halves together must give.
std::vector<double> decodedLevels(const QString &path, std::int64_t window) {
  const Mpg123Handle mh = openLibmpg123(path, false);
  if (!mh) return {};
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

// The pixels of one column of an image, top to bottom, and of one row, left
// to right: '.' clear, 'L' the loudest's colour, 'M' the mean's, 'K' a
// mark's, 'S' the selected mark's, '?' any other.
char letter(QRgb pixel) {
  if (qAlpha(pixel) == 0) return '.';
  const QColor c = QColor::fromRgba(pixel);
  if (c == strip::kLoudest) return 'L';
  if (c == strip::kMean) return 'M';
  if (c == strip::kMark) return 'K';
  if (c == strip::kSelected) return 'S';
  return '?';
}
QString columnOf(const QImage &img, int x) {
  QString s;
  for (int y = 0; y < img.height(); ++y) s += QLatin1Char(letter(img.pixel(x, y)));
  return s;
}
QString rowOf(const QImage &img, int y) {
  QString s;
  for (int x = 0; x < img.width(); ++x) s += QLatin1Char(letter(img.pixel(x, y)));
  return s;
}

// What a slider tells the window, in order.
struct RecordingHost : TrackBarHost {
  QStringList calls;
  void setSliderDragging(bool dragging) override { calls << QStringLiteral("dragging %1").arg(dragging); }
  void showFrame(const QString &text) override { calls << QStringLiteral("frame ") + text; }
  void playerPause() override { calls << QStringLiteral("pause"); }
  void playerPlay() override { calls << QStringLiteral("play"); }
  void playerSeek(std::uint32_t offset, std::int32_t range) override {
    calls << QStringLiteral("seek %1 of %2").arg(offset).arg(range);
  }
  void pumpOneMessage() override {}
};

}  // namespace

class TestStrip : public QObject {
  Q_OBJECT

  QTemporaryDir settingsDir_;
  FakePlatform *fake_ = nullptr;

  void enterPage(const QString &file) {
    Form1->Edit1->setText(media(file));
    click(Form1->RadioButton1);
    click(Form1->butNext);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet3);
  }
  // Until every window is measured and the measuring is over.
  void waitForTheStrip() {
    QTRY_VERIFY_WITH_TIMEOUT(Form1->Slider->showsLevels() && Form1->Slider->levelWindows() > 0 &&
                                 Form1->Slider->levelsMeasured() == Form1->Slider->levelWindows() &&
                                 !Form1->findChild<found::LevelReader *>(),
                             20000);
  }
  // The slider as the screen shows it (the window's own pixels where the
  // platform has them).
  QImage shown(QWidget *w) {
    QCoreApplication::processEvents();
    w->repaint();
    const QPoint at = w->mapTo(w->window(), QPoint(0, 0));
    QImage img = w->screen()->grabWindow(w->window()->winId(), at.x(), at.y(), w->width(), w->height()).toImage();
    if (img.isNull() || img.size() != w->size() * w->devicePixelRatioF()) img = w->grab().toImage();
    return img.convertToFormat(QImage::Format_RGB32);
  }
  // The slider with the strip against the slider without it and the strip
  // as strip::render draws it. Where the plain slider leaves the ground
  // showing (its top left corner's colour; the thumb aside, whose inside may
  // be of that colour too), the strip's pixels: those that differ, and those
  // the strip colours. Inside the slider's own shapes (not next to the
  // ground, where an edge is blended with what lies beneath), its pixels
  // over the strip: those that changed.
  struct Comparison {
    int mismatched = 0, strip = 0, own = 0, ownChanged = 0;
  };
  static Comparison compare(const QImage &withStrip, const QImage &without, const QImage &drawn) {
    Comparison c;
    const QRgb ground = without.pixel(0, 0);
    const QRect thumb = thumbOf(Form1->Slider);
    const QRect inside = without.rect().adjusted(1, 1, -1, -1);
    for (int y = 0; y < drawn.height(); ++y)
      for (int x = 0; x < drawn.width(); ++x) {
        bool shape = inside.contains(x, y);
        for (int dy = -1; dy <= 1 && shape; ++dy)
          for (int dx = -1; dx <= 1 && shape; ++dx) shape = without.pixel(x + dx, y + dy) != ground;
        if (shape) {
          ++c.own;
          c.ownChanged += withStrip.pixel(x, y) != without.pixel(x, y);
        }
        if (without.pixel(x, y) != ground || thumb.contains(x, y)) continue;
        const QRgb want = qAlpha(drawn.pixel(x, y)) ? drawn.pixel(x, y) | 0xff000000u : ground;
        c.strip += want != ground;
        c.mismatched += withStrip.pixel(x, y) != want;
      }
    return c;
  }
  static QRect thumbOf(const QSlider *s) {
    QStyleOptionSlider option;
    option.initFrom(s);
    option.subControls = QStyle::SC_All;
    option.orientation = s->orientation();
    option.minimum = s->minimum();
    option.maximum = s->maximum();
    option.sliderPosition = s->sliderPosition();
    option.sliderValue = s->value();
    option.tickPosition = s->tickPosition();
    option.tickInterval = s->tickInterval();
    return s->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, s);
  }
  // The slider's own pixels without the strip, and with it again.
  QImage plain() {
    TTrackBar1 *s = Form1->Slider;
    const std::vector<float> levels = s->levels();
    const double windowsPerFrame = s->stripLook().windowsPerFrame;
    s->clearLevels();
    const QImage img = shown(s);
    s->beginLevels(static_cast<std::int64_t>(levels.size()), windowsPerFrame);
    s->addLevels(0, levels);
    return img;
  }

 private slots:
  void initTestCase() {
    isolateSettings(settingsDir_);
    QCoreApplication::setApplicationName(QStringLiteral("Tranchette"));
  }
  void cleanup() {
    stopProgram();
    setPlatform(nullptr);
  }

  // The strip as a function of its state. A column of 20 pixels: bars
  // about its middle, 10 pixels each way at 0 dB, none at -60 dB.
  void columnsAtKnownLevels_data() {
    QTest::addColumn<QList<float>>("levels");
    QTest::addColumn<double>("windowsPerFrame");
    QTest::addColumn<QString>("column");  // the first one, top to bottom
    QTest::newRow("full scale") << QList<float>{1.0f} << 1.0 << "MMMMMMMMMMMMMMMMMMMM";
    QTest::newRow("-30 dB") << QList<float>{0.001f} << 1.0 << ".....MMMMMMMMMM.....";
    QTest::newRow("-12 dB") << QList<float>{0.0630957f} << 1.0 << "..MMMMMMMMMMMMMMMM..";
    QTest::newRow("-54 dB: one pixel each way") << QList<float>{3.98107e-6f} << 1.0 << ".........MM.........";
    QTest::newRow("-60 dB: nothing") << QList<float>{1e-6f} << 1.0 << "....................";
    QTest::newRow("louder than full scale") << QList<float>{2.0f} << 1.0 << "MMMMMMMMMMMMMMMMMMMM";
    QTest::newRow("silence") << QList<float>{0.0f} << 1.0 << "....................";
    QTest::newRow("not measured") << QList<float>{kUnmeasured} << 1.0 << "....................";
    // Two windows a frame: the loudest at 0 dB, the mean (-3 dB) over it.
    QTest::newRow("loudest and mean") << QList<float>{1.0f, 0.0f} << 2.0 << "LMMMMMMMMMMMMMMMMMML";
    QTest::newRow("-20 dB and -40 dB") << QList<float>{0.01f, 0.0001f} << 2.0 << "...LMMMMMMMMMMMML...";
    QTest::newRow("one loud window in ten: -10 dB")
        << QList<float>{1.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0} << 10.0 << "LLMMMMMMMMMMMMMMMMLL";
    QTest::newRow("an unmeasured window counts for nothing") << QList<float>{0.001f, kUnmeasured} << 2.0
                                                             << ".....MMMMMMMMMM.....";
  }
  void columnsAtKnownLevels() {
    QFETCH(QList<float>, levels);
    QFETCH(double, windowsPerFrame);
    QFETCH(QString, column);
    strip::Look look;
    look.size = QSize(4, 20);
    look.levels = std::span<const float>(levels.constData(), static_cast<std::size_t>(levels.size()));
    look.windowsPerFrame = windowsPerFrame;
    look.minimum = 0;
    look.maximum = 4;
    look.from = 0;
    look.to = 4;
    const QImage img = strip::render(look);
    QCOMPARE(img.size(), QSize(4, 20));
    QCOMPARE(columnOf(img, 0), column);
    QCOMPARE(columnOf(img, 1), QStringLiteral("...................."));  // frame 1 has no windows
  }

  // Which windows a column takes: those of the values its pixels span, as
  // the thumb's centre stands, within the slider's range; a range grown by
  // the offset spreads the same windows over fewer columns.
  void columnsSpanTheRange_data() {
    QTest::addColumn<int>("maximum");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<QString>("row");  // left to right: M loud, q quiet, L both, . nothing
    // Eight windows, one a frame: loud, quiet, by turns.
    QTest::newRow("a frame a column") << 8 << 0.0 << 8.0 << "MqMqMqMq....";
    QTest::newRow("two frames a column") << 16 << 0.0 << 8.0 << "LLLL........";
    QTest::newRow("the thumb's centre 2 pixels in") << 8 << 2.0 << 10.0 << "..MqMqMqMq..";
    QTest::newRow("half a frame a column") << 4 << 0.0 << 8.0 << "MMqqMMqq....";
    QTest::newRow("a range short of the file") << 6 << 2.0 << 8.0 << "..MqMqMq....";
  }
  void columnsSpanTheRange() {
    QFETCH(int, maximum);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QString, row);
    // Loud windows at 0 dB, quiet ones at -40 dB; a column that holds both
    // shows the loudest about its -3 dB mean.
    const std::vector<float> levels{1.0f, 1e-4f, 1.0f, 1e-4f, 1.0f, 1e-4f, 1.0f, 1e-4f};
    strip::Look look;
    look.size = QSize(12, 20);
    look.levels = levels;
    look.windowsPerFrame = 1;
    look.minimum = 0;
    look.maximum = maximum;
    look.from = from;
    look.to = to;
    const QImage img = strip::render(look);
    // A loud column is the mean's colour to the top; a quiet one only about
    // the middle; one of both the loudest's colour at the top.
    QString got;
    for (int x = 0; x < img.width(); ++x) {
      const char top = letter(img.pixel(x, 0)), middle = letter(img.pixel(x, 10));
      got += QLatin1Char(top == 'M' ? 'M' : top == 'L' ? 'L' : middle == 'M' ? 'q' : '.');
    }
    QCOMPARE(got, row);
  }

  void marks_data() {
    QTest::addColumn<QList<int>>("marks");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("row");  // the top row, left to right
    // Values 0 to 10 from pixel 1 to pixel 11.
    QTest::newRow("none selected") << QList<int>{0, 5, 10} << -1 << ".K....K....K";
    QTest::newRow("the second selected") << QList<int>{0, 5, 10} << 1 << ".K...SSS...K";
    QTest::newRow("the first selected") << QList<int>{0, 5, 10} << 0 << "SSS...K....K";
    QTest::newRow("outside the range") << QList<int>{-3, 11} << -1 << "............";
    QTest::newRow("no such selection") << QList<int>{5} << 4 << "......K.....";
    QTest::newRow("none") << QList<int>{} << -1 << "............";
  }
  void marks() {
    QFETCH(QList<int>, marks);
    QFETCH(int, selected);
    QFETCH(QString, row);
    const std::vector<float> levels(10, 1.0f);
    strip::Look look;
    look.size = QSize(12, 20);
    look.levels = levels;
    look.windowsPerFrame = 1;
    look.minimum = 0;
    look.maximum = 10;
    look.from = 1;
    look.to = 11;
    look.marks.assign(marks.begin(), marks.end());
    look.selected = selected;
    const QImage img = strip::render(look);
    QCOMPARE(rowOf(img, 0).replace(u'M', u'.'), row);
    // The whole height, over the sound.
    QCOMPARE(rowOf(img, 19).replace(u'M', u'.'), row);
  }

  // At twice the density: a column a device pixel, the marks as wide as at 1x.
  void twiceTheDensity() {
    const std::vector<float> levels{1.0f, 0.001f};
    strip::Look look;
    look.size = QSize(4, 10);
    look.dpr = 2;
    look.levels = levels;
    look.windowsPerFrame = 1;
    look.minimum = 0;
    look.maximum = 4;
    look.from = 0;
    look.to = 4;
    look.marks = {3};
    const QImage img = strip::render(look);
    QCOMPARE(img.size(), QSize(8, 20));
    QCOMPARE(img.devicePixelRatio(), 2.0);
    QCOMPARE(columnOf(img, 0), QStringLiteral("MMMMMMMMMMMMMMMMMMMM"));
    QCOMPARE(columnOf(img, 1), QStringLiteral("MMMMMMMMMMMMMMMMMMMM"));
    QCOMPARE(columnOf(img, 2), QStringLiteral(".....MMMMMMMMMM....."));
    QCOMPARE(rowOf(img, 0), QStringLiteral("MM....KK"));
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

  // Loud, quiet, loud, measured and drawn 330 x 40 as the page lays it out
  // (the thumb's centre from pixel 10 to pixel 320): -9 dB is 17 pixels each
  // way from the middle, -42 dB 6.
  void aFileLoudQuietLoudDrawn() {
    std::vector<float> levels;
    found::LevelScale scale;
    QString why;
    QVERIFY(found::measureLevels(
        media(QStringLiteral("loud-quiet-loud.mp3")),
        [&](const found::LevelScale &s) {
          scale = s;
          levels.assign(static_cast<std::size_t>(s.windows), kUnmeasured);
        },
        [&](std::int64_t first, std::vector<float> power) {
          std::copy(power.begin(), power.end(), levels.begin() + first);
        },
        nullptr, &why));
    strip::Look look;
    look.levels = levels;
    look.windowsPerFrame = double(scale.timeline.samplesPerFrame) / double(scale.window);
    look.minimum = 0;
    look.maximum = static_cast<int>(scale.timeline.frames);
    look.from = 10;
    look.to = 320;
    const QImage img = strip::render(look);
    QCOMPARE(img.size(), QSize(330, 40));
    const QString loud = QStringLiteral("...MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM...");
    const QString quiet = QStringLiteral("..............MMMMMMMMMMMM..............");
    const QString none = QString(40, u'.');
    // 0 to 30 s: columns 10 to 165; 30 to 40 s: 165 to 217; then to 320.
    for (int x : {11, 60, 120, 163, 219, 270, 319}) QCOMPARE(columnOf(img, x), loud);
    for (int x : {168, 190, 214}) QCOMPARE(columnOf(img, x), quiet);
    for (int x : {0, 9, 321, 329}) QCOMPARE(columnOf(img, x), none);
    // Where loud gives way to quiet, a column holds both: the loudest at
    // -9 dB about a mean between the two.
    QCOMPARE(columnOf(img, 165).count(u'L') + columnOf(img, 166).count(u'L') > 0, true);
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

  // The strip in the page: drawn behind the slider's own pixels, exactly as
  // strip::render draws it, wherever the slider leaves the ground showing;
  // the breakpoints marked, the list's current one stronger.
  void theStripInTheWindow() {
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    enterPage(QStringLiteral("loud-quiet-loud.mp3"));
    waitForTheStrip();
    Form1->model().insertBreakpoint(600);
    Form1->model().insertBreakpoint(1500);
    Form1->ListBox->setCurrentRow(2);
    QCOMPARE(Form1->Slider->marks(), (std::vector<int>{0, 600, 1500}));
    QCOMPARE(Form1->Slider->selectedMark(), 2);
    holdStill();
    const QImage withStrip = shown(Form1->Slider);
    const QImage without = plain();
    const strip::Look look = Form1->Slider->stripLook();
    QCOMPARE(look.maximum, 2298);
    const QImage drawn = strip::render(look);
    QCOMPARE(withStrip.size(), drawn.size());
    const QRgb ground = without.pixel(0, 0);
    const Comparison c = compare(withStrip, without, drawn);
    QCOMPARE(c.mismatched, 0);
    QVERIFY2(c.strip > 330 * 10, qPrintable(QString::number(c.strip)));
    QVERIFY2(c.own > 300, qPrintable(QString::number(c.own)));
    QCOMPARE(c.ownChanged, 0);
    // The loud columns reach 3 pixels from the top and 36, the quiet ones 25
    // (below the channel), the marks the top row.
    const int loudColumn = static_cast<int>(look.from + 300 / 2298.0 * (look.to - look.from));
    const int quietColumn = static_cast<int>(look.from + 1300 / 2298.0 * (look.to - look.from));
    QCOMPARE(QColor(withStrip.pixel(loudColumn, 3)), strip::kMean);
    QCOMPARE(QColor(withStrip.pixel(loudColumn, 2)).rgb(), ground);
    QCOMPARE(QColor(withStrip.pixel(loudColumn, 36)), strip::kMean);
    QCOMPARE(QColor(withStrip.pixel(loudColumn, 37)).rgb(), ground);
    QCOMPARE(QColor(withStrip.pixel(quietColumn, 25)), strip::kMean);
    QCOMPARE(QColor(withStrip.pixel(quietColumn, 26)).rgb(), ground);
    const auto markColumn = [&](int value) { return static_cast<int>(look.from + value / 2298.0 * (look.to - look.from)); };
    QCOMPARE(QColor(withStrip.pixel(markColumn(600), 0)), strip::kMark);
    QCOMPARE(QColor(withStrip.pixel(markColumn(1500) - 1, 0)), strip::kSelected);
    QCOMPARE(QColor(withStrip.pixel(markColumn(1500) + 1, 0)), strip::kSelected);
  }

  // The offset moves the range's end, and the strip with it: the file's
  // frames over fewer columns, none past its end.
  void theStripFollowsTheOffset() {
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    enterPage(QStringLiteral("loud-quiet-loud.mp3"));
    waitForTheStrip();
    holdStill();
    // Row 3: the top of the loud bars. The thumb's centre runs from 7.5 to
    // 322.5: frame 1,148 (30 s) and the end of the file, 2,298, are at
    // columns 164.9 and 322.5 of 2,298 frames; at 158.4 and 309.4 of 2,398.
    QCOMPARE(Form1->Slider->stripLook().from, 7.5);
    QCOMPARE(Form1->Slider->stripLook().to, 322.5);
    auto top = [this] {
      const QImage img = shown(Form1->Slider);
      QString row;
      const QRgb ground = img.pixel(0, 0);
      for (int x : {155, 160, 163, 300, 309, 311, 318})
        row += QLatin1Char(img.pixel(x, 3) == ground ? '.' : letter(img.pixel(x, 3)));
      return row;
    };
    QCOMPARE(top(), QStringLiteral("MMMMMMM"));
    frmAdjust->show();
    frmAdjust->TrackBar1->setValue(300);
    click(frmAdjust->butOK);
    QCOMPARE(Form1->FrameCorrection, 100);
    QCOMPARE(Form1->Slider->maximum(), 2398);
    holdStill();
    QCOMPARE(top(), QStringLiteral("M..MM.."));
    const QImage withStrip = shown(Form1->Slider);
    const QImage without = plain();
    const Comparison c = compare(withStrip, without, strip::render(Form1->Slider->stripLook()));
    QCOMPARE(c.mismatched, 0);
    QCOMPARE(c.ownChanged, 0);
  }

  // The slider answers the mouse as it does without the strip: the same
  // calls to the window, the same values, the same channel, ticks and thumb.
  void clickAndDragAsWithoutTheStrip_data() {
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("move");
    QTest::addColumn<int>("release");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QList<int>>("values");  // after the press, the move, the release
    QTest::newRow("a click") << 165 << 165 << 165
                             << QStringList{"frame 0", "dragging 1", "pause", "seek 155 of 310", "play", "dragging 0"}
                             << QList<int>{0, 0, 0};
    // A move shows the value before it moves the thumb.
    QTest::newRow("the thumb dragged")
        << 8 << 165 << 165
        << QStringList{"frame 0", "dragging 1", "pause", "frame 0", "seek 155 of 310", "play", "dragging 0"}
        << QList<int>{0, 1145, 1145};
    QTest::newRow("at the left end") << 5 << 5 << 5
                                     << QStringList{"frame 0", "dragging 1", "pause", "seek 1 of 310", "play", "dragging 0"}
                                     << QList<int>{0, 0, 0};
    QTest::newRow("the thumb dragged past the right end")
        << 8 << 400 << 400
        << QStringList{"frame 0", "dragging 1", "pause", "frame 0", "seek 309 of 310", "play", "dragging 0"}
        << QList<int>{0, 2298, 2298};
    QTest::newRow("pressed on the channel, released on a mark")
        << 150 << 60 << 60
        << QStringList{"frame 0", "dragging 1", "pause", "frame 0", "seek 50 of 310", "play", "dragging 0"}
        << QList<int>{0, 0, 0};
  }
  void clickAndDragAsWithoutTheStrip() {
    QFETCH(int, press);
    QFETCH(int, move);
    QFETCH(int, release);
    QFETCH(QStringList, calls);
    QFETCH(QList<int>, values);
    QWidget window;
    window.resize(350, 100);
    RecordingHost plainHost, stripHost;
    TTrackBar1 plainSlider(plainHost, &window), stripSlider(stripHost, &window);
    plainSlider.setGeometry(10, 5, 330, 40);
    stripSlider.setGeometry(10, 55, 330, 40);
    const std::vector<float> loud(1201, 0.125f);
    stripSlider.beginLevels(1201, 1152.0 / 2205);
    stripSlider.addLevels(0, loud);
    stripSlider.setMarks({0, 600, 1500}, 1);
    for (TTrackBar1 *s : {&plainSlider, &stripSlider}) {
      s->setMax(2298);
      s->setFrequency(229);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QList<int> seen[2];
    for (int i = 0; i < 2; ++i) {
      TTrackBar1 *s = i == 0 ? &plainSlider : &stripSlider;
      QTest::mousePress(s, Qt::LeftButton, {}, QPoint(press, 20));
      seen[i] << s->value();
      QTest::mouseMove(s, QPoint(move, 20));
      seen[i] << s->value();
      QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(release, 20));
      seen[i] << s->value();
    }
    QCOMPARE(plainHost.calls, calls);
    QCOMPARE(seen[0], values);
    QCOMPARE(stripHost.calls, plainHost.calls);
    QCOMPARE(seen[1], seen[0]);
    QCOMPARE(stripSlider.ReleaseX, plainSlider.ReleaseX);
    // The slider's own pixels, drawn over the strip as without it: those
    // that stay the same on another ground (an edge blended with what lies
    // beneath does not).
    const QImage a = plainSlider.grab().toImage(), b = stripSlider.grab().toImage();
    QPalette black = plainSlider.palette();
    black.setColor(QPalette::Window, Qt::black);
    plainSlider.setPalette(black);
    const QImage onBlack = plainSlider.grab().toImage();
    int own = 0, changed = 0;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) == onBlack.pixel(x, y)) {
          ++own;
          changed += b.pixel(x, y) != a.pixel(x, y);
        }
    QVERIFY2(own > 500, qPrintable(QString::number(own)));
    QCOMPARE(changed, 0);
  }

  // In the page: a press pauses, the release seeks to the point under the
  // pointer and plays on from there.
  void aReleaseOnTheStripSeeksThereAndPlays() {
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    enterPage(QStringLiteral("loud-quiet-loud.mp3"));
    waitForTheStrip();
    QList<std::uint32_t> positions;
    connect(Form1->XPlayer, &TXaudioPlayer::OnNotifyInputPosition, this,
            [&positions](QObject *, std::uint32_t offset, std::uint32_t) { positions << offset; });
    TTrackBar1 *slider = Form1->Slider;
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(60, 20));
    QVERIFY(Form1->SliderDragging);
    QTest::mouseMove(slider, QPoint(165, 20));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(165, 20));
    QVERIFY(!Form1->SliderDragging);
    QCOMPARE(slider->ReleaseX, 165);
    // 155 of 310: frame 1,149 of 2,298, and playing on from there.
    QTRY_VERIFY(!positions.isEmpty() && positions.last() >= 1149 && positions.last() < 1200);
    const std::uint32_t at = positions.last();
    QTRY_VERIFY(positions.last() > at);
  }

  // Back stops the measuring at once, and the slider is plain again;
  // entering anew measures the new file alone.
  void backStopsTheMeasuring() {
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    // Twenty minutes: long enough to be measuring still when Back comes.
    QTemporaryDir dir;
    const QString longer = dir.filePath(QStringLiteral("twenty.mp3"));
    writeFile(longer, readAll(media(QStringLiteral("loud-quiet-loud.mp3"))).repeated(20));
    Form1->Edit1->setText(longer);
    click(Form1->RadioButton1);
    click(Form1->butNext);
    QTRY_VERIFY(Form1->findChild<found::LevelReader *>());
    QTRY_VERIFY(Form1->Slider->levelsMeasured() > 0);
    QVERIFY(Form1->Slider->levelsMeasured() < Form1->Slider->levelWindows());
    click(Form1->butBack);
    QCOMPARE(Form1->PageControl1->currentWidget(), Form1->TabSheet1);
    QVERIFY(!Form1->findChild<found::LevelReader *>());
    QVERIFY(!Form1->Slider->showsLevels());
    QTest::qWait(300);
    QVERIFY(!Form1->Slider->showsLevels());
    enterPage(QStringLiteral("silent-edges.mp3"));
    waitForTheStrip();
    QCOMPARE(Form1->Slider->levelWindows(), 241);
  }

  // Without the strip, or where the file cannot be decoded, the slider is
  // plain.
  void otherwiseThePlainSlider_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("strip");
    QTest::newRow("the strip turned off") << "loud-quiet-loud.mp3" << false;
    QTest::newRow("free format, which the frame walk does not read") << "free-format.mp3" << true;
  }
  void otherwiseThePlainSlider() {
    QFETCH(QString, file);
    QFETCH(bool, strip);
    fake_ = startProgram();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    Form1->LevelStrip = strip;
    enterPage(file);
    QTest::qWait(600);
    QTRY_VERIFY(!Form1->findChild<found::LevelReader *>());
    QVERIFY(!Form1->Slider->showsLevels());
    QCOMPARE(Form1->Slider->levelWindows(), 0);
  }

 private:
  // The thumb at the start, and staying there while the pixels are compared.
  void holdStill() {
    Form1->XPlayer->Pause();
    Form1->XPlayer->InputSeek(0, Form1->model().frames());
    QTest::qWait(100);
    Form1->TrackPosition = false;
    Form1->Slider->setValue(0);
  }
};

QTEST_MAIN(TestStrip)
#include "tst_strip.moc"
