// The preview player on a real MP3: position reports a second while playing,
// the time from InputSeek to the first report at the new place, and how far
// past its breakpoint "Play 3 Secs Before" stops. Prints one line a figure.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "Unit1.h"
#include "Unit10.h"
#include "Unit6.h"
#include "Unit7.h"

namespace {
void waitFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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
  Form1 = new TForm1;
  Form3 = new TForm3(Form1);
  Form7 = new TForm7(Form1);
  frmAdjust = new TfrmAdjust(Form1);
  Form1->show();
  Form1->Edit1->setText(file);
  Form1->RadioButton1->setChecked(true);
  Form1->butNextClick(nullptr);
  Form1->FrameCorrection = 0;
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
  delete frmAdjust;
  delete Form7;
  delete Form3;
  delete Form1;
  return 0;
}
