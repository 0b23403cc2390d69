#pragma once

// What a split worker reads from the main window: the stream facts and the
// controls of its method's page.

#include <cstdint>

#include <QString>

class TFlatCheckBox;
class QLineEdit;
class QListWidget;
class QWidget;

// The controls of one method page that its split reads.
// A breakpoint's title and performer, where they came with it (from a cue
// sheet or the source's chapters), beside its frame number in the list.
constexpr int kTitleRole = Qt::UserRole + 1;
constexpr int kPerformerRole = Qt::UserRole + 2;
constexpr int kNumberRole = Qt::UserRole + 3;  // a cue sheet's track number, where the piece has one

struct SplitPage {
  QLineEdit *parameter = nullptr;  // seconds or kilobytes; none for the breakpoint page
  QLineEdit *savePath = nullptr;   // the output template
  TFlatCheckBox *join = nullptr;   // "Create Join Batch File"; none for the breakpoint page
  QListWidget *breakpoints = nullptr;
  TFlatCheckBox *exact = nullptr;  // "Exact cuts", on the first page, for every method
};

// What the split workers read from the main window.
class SplitHost {
 public:
  virtual ~SplitHost() = default;
  virtual QString GetSourceFile() const = 0;
  virtual std::int32_t GetFrameCount() const = 0;
  virtual std::int32_t GetTotalTime() const = 0;
  virtual QString GetJoinName() const = 0;
  // Method 1 (selections), 2 (time) or 3 (size).
  virtual SplitPage page(int method) = 0;
  virtual QWidget *hostWindow() = 0;
};
