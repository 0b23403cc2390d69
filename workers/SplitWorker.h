#pragma once

#include <QPointer>
#include <QThread>
#include <QWidget>

#include "SplitEngine.h"
#include "SplitRequest.h"

// A split worker: a thread started at the lowest priority that runs one
// split on itself and deletes itself once done. Splits take turns: a worker
// started while another splits waits for it. The main window takes no input
// while a split runs; the progress window (its bar, its Cancel) and the
// split's messages do. Progress comes back to the main thread as queued
// calls, messages that the user must answer as blocking ones.
class SplitWorker : public QThread {
  Q_OBJECT

 signals:
  // On the main thread, at the end of a split that ran: whether it
  // completed, and the pieces under their final names.
  void ended(bool completed, const QStringList &pieces);

 protected:
  SplitWorker(QWidget *hostWindow, SplitRequest request);
  void run() override;
  // The split itself, on the worker's thread.
  virtual split::Outcome DoSplit(split::Reporter &reporter) = 0;
  // Whether the request gives the split anything to do; a split that has
  // none shows nothing.
  virtual bool wanted() const { return true; }

  // From DoSplit: how far a look at the source before the cuts is (`done`
  // of `total`), on the progress window's bar.
  void showLooked(std::int64_t done, std::int64_t total);
  // From DoSplit: what the user is told once the split has completed (after
  // the join files), if anything.
  QString afterword_;

  const SplitRequest request_;

 private:
  // On the main thread: the start (false where the main window has gone)
  // and the end of a split.
  bool begin();
  void end(const split::Outcome &outcome);
  // After a run that Cancel stopped: says how many pieces were written and where.
  void tellCancelled(const split::Outcome &outcome);
  // Writes the join batch after a run that completed with pieces.
  void writeJoin(const split::Outcome &outcome);

  // A main window closed before the split got its turn ends the worker.
  QPointer<QWidget> hostWindow_;
  int looked_ = -1;  // the bar's last permille from showLooked
};

// Moves the progress window's bar and shows the split's messages, from the
// split's thread.
class ProgressReporter : public split::Reporter {
 public:
  void start(std::int64_t maximum) override;
  void step() override;
  void complete() override;
  void pieceWritten(const QString &) override {}
  void fail(const split::Message &message) override;
  void notice(const split::Message &message) override;
};
