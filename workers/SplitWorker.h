#pragma once

#include <QPointer>
#include <QThread>
#include <QWidget>

#include "SplitEngine.h"
#include "SplitHost.h"

// A split worker: a thread started at the lowest priority that hands its
// DoSplit to the main thread, waits for it and deletes itself once done. The
// whole split therefore runs on the main thread.
class SplitWorker : public QThread {
  Q_OBJECT

 protected:
  explicit SplitWorker(SplitHost &host);
  void run() override;
  virtual void DoSplit() = 0;

  // Shows the progress window; `repaintCancel` draws its Cancel button at once.
  void showProgress(bool repaintCancel);
  void hideProgress();
  // Writes the join batch after a run that completed with pieces; exact
  // pieces are joined by tranchette-cli.
  void writeJoin(const split::Outcome &outcome, bool wanted, bool exact);
  // After a run that Cancel stopped: hides the progress window, says how
  // many pieces were written and where, and returns true.
  bool cancelled(const split::Outcome &outcome);

  SplitHost &host_;

 private:
  // A main window closed before the split got its turn ends the worker.
  QPointer<QWidget> hostWindow_;
};

// Moves the progress window's bar, keeps it drawn and its Cancel button
// heard, and shows failures in a message box.
class ProgressReporter : public split::Reporter {
 public:
  void start(std::int64_t maximum) override;
  void step() override;
  void complete() override;
  void pieceWritten(const QString &) override {}
  void bytesCopied(std::int64_t done, std::int64_t total) override;
  void fail(const split::Message &message) override;
  void notice(const split::Message &message) override;
};
