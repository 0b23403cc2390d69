// The preview player on a real MP3: position reports a second while playing,
// the time from InputSeek to the first report at the new place, how far past
// its breakpoint "Play 3 Secs Before" stops, and how long entering the
// breakpoint page takes with a large file. Run against a sound server with a
// null sink (scripts/with-pulse), it also records what the sink plays: the
// frame shown less the frame heard, the time from a seek to its sound, and
// the speed of a fast wind. Prints one line a figure.
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "HeardSound.h"
#include "MainWindow.h"
#include "Windows.h"
#include "StreamFacts.h"

namespace {
void waitFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}


void enterBreakpointPage(const QString &file) {
  Form1->Edit1->setText(file);
  Form1->RadioButton1->setChecked(true);
  Form1->butNextClick(nullptr);
}

// What the sink plays, against what the window shows.
void heardFigures(const QString &file) {
  const heard::Reference ref(file);
  heard::Recorder rec(qEnvironmentVariable("TRANCHETTE_TEST_SINK"));
  if (ref.samples.empty() || !rec.running()) {
    std::printf("no recording of the sound server\n");
    return;
  }
  createWindows();
  std::vector<std::pair<std::int64_t, int>> shown;  // (time, frame shown)
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const int v = Form1->labFrame->text().toInt();
    if (shown.empty() || shown.back().second != v) shown.emplace_back(heard::nowNs(), v);
  });
  poll.setTimerType(Qt::PreciseTimer);
  poll.start(2);
  const std::int64_t start = heard::nowNs();
  enterBreakpointPage(file);
  waitFor(6000);
  const std::vector<float> samples = rec.samples();
  std::vector<double> off, signedOff;
  for (std::int64_t t = start + 700'000'000; t < start + 5'800'000'000; t += 50'000'000) {
    int s = -1;
    for (const auto &[when, value] : shown)
      if (when <= t) s = value;
    if (s < 0) continue;
    if (const auto h = heard::frameAt(rec, samples, ref, t, s)) {
      off.push_back(std::abs(s - *h));
      signedOff.push_back(s - *h);
    }
  }
  std::printf("shown - heard, median: %.0f frames\n", heard::percentile(off, 0.5));
  std::printf("shown - heard, 95th percentile: %.0f frames\n", heard::percentile(off, 0.95));
  std::printf("shown - heard, with its sign, 5th to 95th percentile: %.0f to %.0f frames\n",
              heard::percentile(signedOff, 0.05), heard::percentile(signedOff, 0.95));

  std::vector<double> latencies;
  for (int i = 0; i < 10; ++i) {
    const int target = 300 + i * 97;
    const std::int64_t asked = heard::nowNs();
    Form1->XPlayer->InputSeek(static_cast<std::uint32_t>(target), Form1->model().frames());
    waitFor(400);
    const heard::Stretch s = heard::stretchAfter(rec, ref, asked, target);
    if (s.recStart >= 0 && std::abs(s.firstFrame - target) <= 1)
      latencies.push_back((rec.timeOf(s.recStart) - asked) / 1e6);
  }
  std::printf("seek to sound (median of %zu): %.1f ms\n", latencies.size(), heard::percentile(latencies, 0.5));

  Form1->XPlayer->InputSeek(0, Form1->model().frames());
  const int from = Form1->Slider->value();
  QTimer::singleShot(1500, [] { Form1->imgFastfMouseUp(Form1->imgFastf); });
  const std::int64_t held = heard::nowNs();
  Form1->imgFastfMouseDown(Form1->imgFastf);
  const double seconds = (heard::nowNs() - held) / 1e9;
  std::printf("fast wind: %.1f times the playing speed\n",
              (Form1->Slider->value() - from) / ref.framesPerSecond() / seconds);
  destroyWindows();
}
}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_preview FILE.mp3\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  const QString file = QString::fromLocal8Bit(argv[1]);

  // Reports a second while playing.
  TXaudioPlayer player;
  std::vector<std::pair<qint64, std::uint32_t>> reports;  // (ns since start, frame)
  QElapsedTimer clock;
  QObject::connect(
      &player, &TXaudioPlayer::OnNotifyInputPosition, &player,
      [&](QObject *, std::uint32_t offset, std::uint32_t) { reports.emplace_back(clock.nsecsElapsed(), offset); });
  player.InputOpen(file);
  player.SetInputPositionRange(1000000);
  clock.start();
  player.Play();
  waitFor(3000);
  std::printf("position reports a second: %.1f\n", reports.size() / (clock.nsecsElapsed() / 1e9));

  // From InputSeek to the first report at the new place.
  std::vector<double> latencies;
  for (int i = 0; i < 20; ++i) {
    const std::uint32_t target = static_cast<std::uint32_t>(100000 + i * 37000);
    reports.clear();
    const qint64 start = clock.nsecsElapsed();
    player.InputSeek(target, 1000000);
    while (reports.empty()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    latencies.push_back((reports.front().first - start) / 1e6);
  }
  player.Stop();
  std::sort(latencies.begin(), latencies.end());
  std::printf("seek to first report (median of 20): %.2f ms\n", latencies[latencies.size() / 2]);
  std::printf("seek to first report (worst of 20): %.2f ms\n", latencies.back());

  // How far past the breakpoint the lead-in preview stops, in frames.
  createWindows();
  enterBreakpointPage(file);
  int worst = 0;
  for (int breakpoint : {200, 300, 400}) {
    Form1->ListBox->clear();
    Form1->InsertBreakpoint(QString::number(breakpoint));
    Form1->ListBox->setCurrentRow(0);
    std::uint32_t last = 0;
    auto c = QObject::connect(Form1->XPlayer, &TXaudioPlayer::OnNotifyInputPosition, Form1,
                              [&](QObject *, std::uint32_t offset, std::uint32_t) { last = offset; });
    Form1->Play3SecsBeforeClick(nullptr);
    QElapsedTimer t;
    t.start();
    while (Form1->PlayingToBreakpoint && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    waitFor(300);
    QObject::disconnect(c);
    worst = std::max(worst, static_cast<int>(last) - breakpoint);
  }
  std::printf("lead-in stop past the breakpoint (worst of 3): %d frames\n", worst);
  destroyWindows();

  // Entering the breakpoint page with a large file, its pages first dropped
  // from the cache where the system lets us (a cold start): the page opens on
  // a guess and plays at once while the frames are read on another thread.
  // Measured: until the page is there, until the first position past frame
  // 0 (the first sound), and how long the frames take to read meanwhile.
  if (const QString large = qEnvironmentVariable("BENCH_LARGE_MP3"); !large.isEmpty()) {
    const QByteArray name = QFile::encodeName(large);
    auto dropCache = [&] {
      const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return false;
      ::fdatasync(fd);  // pages still to be written stay in the cache
      const bool dropped = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
      ::close(fd);
      return dropped;
    };
    for (const bool cold : {true, false}) {
      if (cold && !dropCache()) continue;
      const char *cache = cold ? "cold" : "warm";
      createWindows();
      qint64 firstSound = -1;
      QElapsedTimer entering;
      auto c = QObject::connect(Form1->XPlayer, &TXaudioPlayer::OnNotifyInputPosition, Form1,
                                [&](QObject *, std::uint32_t offset, std::uint32_t) {
                                  if (offset > 0 && firstSound < 0) firstSound = entering.elapsed();
                                });
      entering.start();
      enterBreakpointPage(large);
      const qint64 shown = entering.elapsed();
      while (firstSound < 0 && entering.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QObject::disconnect(c);
      std::printf("entering the breakpoint page with %.1f GB, %s cache: %lld ms\n", QFileInfo(large).size() / 1e9,
                  cache, static_cast<long long>(shown));
      std::printf("entering to first sound, %s cache: %lld ms\n", cache, static_cast<long long>(firstSound));
      destroyWindows();
      if (cold && !dropCache()) continue;
      QElapsedTimer walk;
      walk.start();
      audio::readStreamFacts(name.toStdString());
      std::printf("reading the frames meanwhile, %s cache: %lld ms\n", cache, static_cast<long long>(walk.elapsed()));
    }
  }

  if (!qEnvironmentVariableIsEmpty("TRANCHETTE_TEST_SINK")) heardFigures(file);
  return 0;
}
