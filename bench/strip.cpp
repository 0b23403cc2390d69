// The strip behind the preview's slider, on an hour of sound: how long the
// strip takes to be complete against the silence search of the same file
// (runs interleaved); how soon the page answers input while the strip is
// measured, and while it is not; the first sound after Next with the strip and
// without it (runs interleaved); and what the strip holds, on the hour and on
// ten hours. Prints one line a figure; bench/strip judges them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "MainWindow.h"
#include "Windows.h"
#include "Silences.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// The process's resident memory now and at its peak, in KB.
long statusKb(const char *field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}


bool stripComplete() {
  return Form1->Slider->levelWindows() > 0 && Form1->Slider->levelsMeasured() == Form1->Slider->levelWindows();
}

// Input while the page plays: every 20 ms a helper thread posts a mouse move
// over the slider (which shows a frame number and moves nothing) and a probe
// behind it; the time from posting to the probe handled is the time the
// page took to answer that input.
class Answers : public QObject {
 public:
  std::vector<double> latencies;

  void start(QWidget *target) {
    // Made here, posted there: the helper thread only posts.
    for (int i = 0; i < 4000; ++i)
      moves_.push_back(new QMouseEvent(QEvent::MouseMove, QPointF(200, 20), QPointF(200, 20), Qt::NoButton,
                                       Qt::NoButton, Qt::NoModifier));
    running_ = true;
    thread_ = std::thread([this, target] {
      for (std::size_t i = 0; running_ && i < moves_.size(); ++i) {
        QCoreApplication::postEvent(target, moves_[i]);
        moves_[i] = nullptr;
        QCoreApplication::postEvent(this, new Probe(Clock::now()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  void stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    QCoreApplication::processEvents();
    for (QMouseEvent *e : moves_) delete e;
    moves_.clear();
  }

 protected:
  bool event(QEvent *e) override {
    if (e->type() != Probe::kType) return QObject::event(e);
    latencies.push_back(msSince(static_cast<Probe *>(e)->posted));
    return true;
  }

 private:
  struct Probe : QEvent {
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 7);
    explicit Probe(Clock::time_point at) : QEvent(kType), posted(at) {}
    Clock::time_point posted;
  };
  std::vector<QMouseEvent *> moves_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

struct Entry {
  double toFirstSound = -1, toComplete = -1;
  std::vector<double> answers;
  std::int64_t windows = 0;
  std::size_t heldBytes = 0;
};

// Next on page 1 with method 1 checked, the strip on or off; until the strip
// is complete (or, without it, as long as `watchMs`).
Entry enter(const QString &file, bool strip, bool answers, int watchMs) {
  Entry e;
  createWindows();
  Form1->LevelStrip = strip;
  Form1->Edit1->setText(file);
  Form1->RadioButton1->setChecked(true);
  Clock::time_point next;
  auto c = QObject::connect(Form1->XPlayer, &TXaudioPlayer::OnNotifyInputPosition, Form1,
                            [&](QObject *, std::uint32_t offset, std::uint32_t) {
                              if (offset > 0 && e.toFirstSound < 0) e.toFirstSound = msSince(next);
                            });
  Answers probe;
  next = Clock::now();
  Form1->butNextClick(nullptr);
  if (answers) probe.start(Form1->Slider);
  // The event loop as the program runs it, asleep between events (a loop
  // that polls would take a core's share from the measuring).
  QElapsedTimer t;
  t.start();
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (strip ? stripComplete() || t.elapsed() > 600000 : t.elapsed() >= watchMs) loop.quit();
  });
  check.start(10);
  loop.exec();
  if (strip && stripComplete()) e.toComplete = msSince(next);
  probe.stop();
  QObject::disconnect(&check, nullptr, &loop, nullptr);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (e.toFirstSound >= 0 || t.elapsed() > 10000) loop.quit();
  });
  loop.exec();
  QObject::disconnect(c);
  e.answers = probe.latencies;
  e.windows = Form1->Slider->levelWindows();
  e.heldBytes = Form1->Slider->levels().capacity() * sizeof(float);
  destroyWindows();
  return e;
}

double scanMs(const QString &file, const std::vector<float> *levels = nullptr) {
  const auto start = Clock::now();
  QString why;
  const auto found = found::findSilences(file, found::SilenceSettings{}, {}, nullptr, &why, 0, levels);
  if (!found) std::printf("the silence search failed: %s\n", qPrintable(why));
  return msSince(start);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_strip HOUR.mp3 [TEN-HOURS.mp3]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  const QString hour = QString::fromLocal8Bit(argv[1]);
  const int runs = std::max(1, qEnvironmentVariableIntValue("RUNS"));

  // The strip against the silence search, interleaved; input meanwhile.
  scanMs(hour);  // the file in the cache
  std::vector<double> scans, strips, answering, quiet;
  std::int64_t windows = 0;
  std::size_t held = 0;
  for (int i = 0; i < runs; ++i) {
    scans.push_back(scanMs(hour));
    const Entry e = enter(hour, true, true, 0);
    strips.push_back(e.toComplete);
    answering.insert(answering.end(), e.answers.begin(), e.answers.end());
    windows = e.windows;
    held = e.heldBytes;
    // The same input on the same page, the strip off, as long as it took.
    const Entry off = enter(hour, false, true, static_cast<int>(e.toComplete));
    quiet.insert(quiet.end(), off.answers.begin(), off.answers.end());
  }
  // A search once the strip is measured: only the stretches its levels leave in doubt.
  std::vector<float> levels;
  QString why;
  found::measureLevels(
      hour, [&levels](const found::LevelScale &scale) { levels.resize(static_cast<std::size_t>(scale.windows)); },
      [&levels](std::int64_t first, std::vector<float> power) {
        std::copy(power.begin(), power.end(), levels.begin() + first);
      },
      nullptr, &why);
  std::vector<double> afterStrip;
  for (int i = 0; i < runs; ++i) afterStrip.push_back(scanMs(hour, &levels));
  const auto plain = found::findSilences(hour, found::SilenceSettings{}, {}, nullptr, &why);
  const auto known = found::findSilences(hour, found::SilenceSettings{}, {}, nullptr, &why, 0, &levels);
  const auto edges = [](const std::optional<found::SilencesFound> &f) {
    std::vector<std::pair<double, double>> e;
    if (f)
      for (const found::Silence &s : f->silences) e.emplace_back(s.start, s.end);
    return e;
  };
  std::printf("the same %zu silences once the strip is measured: %s\n", edges(plain).size(),
              edges(plain) == edges(known) ? "yes" : "NO");
  const double scan = percentile(scans, 0.5), strip = percentile(strips, 0.5);
  std::printf("silence search once the strip is measured (median of %d): %.0f ms, %.2fx the search\n", runs,
              percentile(afterStrip, 0.5), scan > 0 ? percentile(afterStrip, 0.5) / scan : 0);
  std::printf("silence search of the hour (median of %d): %.0f ms\n", runs, scan);
  std::printf("strip complete after Next (median of %d): %.0f ms\n", runs, strip);
  std::printf("strip to search: %.2fx\n", scan > 0 ? strip / scan : 0);
  std::printf("input answered while measuring (%zu moves), median: %.1f ms\n", answering.size(),
              percentile(answering, 0.5));
  std::printf("input answered while measuring, 99th percentile: %.1f ms\n", percentile(answering, 0.99));
  std::printf("input answered while measuring, slowest: %.1f ms\n", percentile(answering, 1.0));
  std::printf("input answered without the strip (%zu moves), 99th percentile: %.1f ms, slowest: %.1f ms\n",
              quiet.size(), percentile(quiet, 0.99), percentile(quiet, 1.0));
  std::printf("the hour's strip: %lld windows of 50 ms, %zu bytes held: %.3f values a window\n",
              static_cast<long long>(windows), held,
              windows > 0 ? static_cast<double>(held) / sizeof(float) / static_cast<double>(windows) : 0.0);

  // The first sound after Next, with the strip and without, interleaved,
  // each first by turns (the second of a pair comes a little later either way).
  std::vector<double> with, without;
  for (int i = 0; i < 4 * runs + 1; ++i)
    for (const bool on : {i % 2 == 0, i % 2 != 0})
      (on ? with : without).push_back(enter(hour, on, false, 300).toFirstSound);
  const double w = percentile(with, 0.5), wo = percentile(without, 0.5);
  std::printf("first sound after Next with the strip (median of %d): %.1f ms\n", 4 * runs + 1, w);
  std::printf("first sound after Next without the strip (median of %d): %.1f ms\n", 4 * runs + 1, wo);
  std::printf("first sound, with to without: %.2fx\n", wo > 0 ? w / wo : 0);

  // Ten hours: what the strip holds, and the process's growth while it is
  // measured (its peak less what it held before).
  if (argc > 2) {
    const QString ten = QString::fromLocal8Bit(argv[2]);
    // The peak counted from here (Linux: "5" resets it to what is resident).
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKb("VmRSS:");
    const Entry e = enter(ten, true, false, 0);
    const long peak = statusKb("VmHWM:");
    std::printf("ten hours' strip: %lld windows of 50 ms, %zu bytes held (%.2f MB): %.3f values a window; complete in %.0f ms\n",
                static_cast<long long>(e.windows), e.heldBytes, static_cast<double>(e.heldBytes) / 1e6,
                e.windows > 0 ? static_cast<double>(e.heldBytes) / sizeof(float) / static_cast<double>(e.windows) : 0.0,
                e.toComplete);
    std::printf("ten hours: resident memory before %ld KB, peak while measured %ld KB: %ld KB more\n", before, peak,
                peak - before);
  }
  return 0;
}
