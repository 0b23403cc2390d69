#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

class QString;
class QWidget;

// Runs `work` on a thread of its own while the progress window shows how far
// it is (`done` of `total`) and its Cancel (or closing the main window)
// sets `stop`; the main window takes no input meanwhile. Returns once the
// work has ended: true when it ran to its end, false when it was cancelled.
struct SearchProgress {
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> done{0}, total{0};
};
// `title` stands over the bar meanwhile ("Finding silences...").
bool runSearch(QWidget *hostWindow, const QString &title, const std::function<void(SearchProgress &)> &work);
