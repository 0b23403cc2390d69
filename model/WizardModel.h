#pragma once

// The wizard's state and its rules, on Qt Core alone: the source and its
// facts, the method, the exact cuts, each method page's parameter, output
// template and join box, and the breakpoints with their titles. The main
// window shows it and forwards the user's actions to it; the split workers
// are given a request made from it; the tests check its rules without a
// widget.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QObject>
#include <QString>

#include "Markers.h"
#include "SplitRequest.h"

// A breakpoint, and what came with it from a cue sheet or chapters.
struct Breakpoint {
  std::int64_t frame = 0;
  QString text;  // as the user typed it ("007"), or the frame's digits
  QString title, performer;
  int number = -1;  // the track number the piece from here takes, where given
  bool searched = false;  // found by a silence search (a later one may replace it)
  bool operator==(const Breakpoint &) const = default;
};

class WizardModel : public QObject {
  Q_OBJECT

 public:
  explicit WizardModel(QObject *parent = nullptr) : QObject(parent) {}

  // Page 1.
  const QString &source() const { return source_; }
  void setSource(const QString &path) { source_ = path; }
  int method() const { return method_; }  // 1 to 3; 0 where none is chosen
  void setMethod(int method) { method_ = method; }
  bool exact() const { return exact_; }
  void setExact(bool exact) { exact_ = exact; }
  // Why Next cannot leave page 1, where it cannot: the note the user sees.
  std::optional<QString> whyNotNext() const;

  // The facts of the source, once a method page is entered.
  std::int32_t frames() const { return frames_; }
  std::int32_t totalTimeMs() const { return totalTimeMs_; }
  void setFacts(std::int32_t frames, std::int32_t totalTimeMs);
  // The source's name without folder and extension, for the join files.
  const QString &joinName() const { return joinName_; }

  // Entering method page `method` for the source: its default output
  // template ("<name>-%track%.mp3") and, for method 1, a list that starts
  // with 0 where it is empty.
  void enter(int method);
  // Back from method page `method` to page 1: the breakpoints go with the
  // preview of method 1.
  void back(int method);

  // A method page's parameter (seconds for 2, kilobytes for 3), output
  // template and "Create Join Batch File" box; index by method.
  const QString &parameter(int method) const { return pages_.at(index(method)).parameter; }
  void setParameter(int method, const QString &text) { pages_.at(index(method)).parameter = text; }
  const QString &outputTemplate(int method) const { return pages_.at(index(method)).outputTemplate; }
  void setOutputTemplate(int method, const QString &text) { pages_.at(index(method)).outputTemplate = text; }
  bool join(int method) const { return pages_.at(index(method)).join; }
  void setJoin(int method, bool join) { pages_.at(index(method)).join = join; }
  // Method 2's "End each part at the nearest pause" and how far a cut may
  // move to one (seconds, as typed).
  bool atPauses() const { return atPauses_; }
  void setAtPauses(bool on) { atPauses_ = on; }
  const QString &pauseReach() const { return pauseReach_; }
  void setPauseReach(const QString &seconds) { pauseReach_ = seconds; }

  // The breakpoints, rising, one a frame.
  const std::vector<Breakpoint> &breakpoints() const { return breakpoints_; }
  // Adds a breakpoint where there is none at its frame; its index either
  // way. `text` is how it was written, where not as plain digits.
  std::size_t insertBreakpoint(std::int64_t frame, const QString &text = {});
  // Adds found breakpoints in one merge (thousands at once stay quick): a
  // title, performer and number go to a frame that has none.
  // `searched`: they come from a silence search.
  void insertBreakpoints(const std::vector<found::Marker> &markers, bool searched = false);
  // The breakpoints with what came with them, as the marks are written.
  std::vector<found::Marker> markers() const;
  void removeBreakpoint(std::size_t index);
  void clearBreakpoints();
  // The breakpoints made anew from `markers` (rising), as moved by the user,
  // taken back with one undo: one at a frame that had one keeps how it was
  // written. False, and no undo step, where nothing changes.
  bool replaceBreakpoints(const std::vector<found::Marker> &markers);
  // The breakpoints that a silence search found, gone (before another).
  void removeSearched();
  // The title of the piece that begins at breakpoint `index`.
  void setTitle(std::size_t index, const QString &title);
  // Where the breakpoint at `frame` is, or the count where none is.
  std::size_t indexOf(std::int64_t frame) const;

  // Undo: remember() keeps the breakpoints as they are before a change the
  // user may take back (a delete, "Delete all", a search, an import); undo()
  // brings back the last kept, up to ten steps.
  void remember();
  bool undo();
  bool canUndo() const { return !history_.empty(); }

  // Whether the breakpoints are worth asking about before they go: more than
  // the 0 the page starts with, and changed since a split last used them.
  bool unused() const { return !usedBySplit_ && breakpoints_.size() > 1; }
  // A split of method 1 has written its pieces from the breakpoints as
  // they are now, or they were saved (as marks, or as a copy's chapters).
  void markUsed() { usedBySplit_ = true; }

  // The output template from a name chosen in the Change dialog: a name
  // holding "%track%" or "%title%" keeps them ("%track% %title%.mp3"); one
  // with "%title%" alone gets "%track% " before its file name, so that the
  // pieces sort in order; one with neither gets "-%track%" before its
  // extension.
  static QString templateFromChosen(const QString &chosen);

  // The split that Next on method page `method` asks for.
  SplitRequest request(int method) const;

  // What is kept in the user's settings besides the window's place: the
  // method, the exact cuts box and method 2's pauses (the offset is the
  // preview's).
  struct Stored {
    int method = 1;
    bool exact = false;
    bool atPauses = false;
    int pauseReach = 30;  // whole seconds
  };
  Stored stored() const;

 signals:
  // The breakpoints changed (any of them, or how many).
  void breakpointsChanged();

 private:
  static std::size_t index(int method) { return static_cast<std::size_t>(method >= 1 && method <= 3 ? method - 1 : 0); }
  struct Page {
    QString parameter, outputTemplate;
    bool join = true;
  };
  QString source_, joinName_;
  int method_ = 0;
  bool exact_ = false;
  bool atPauses_ = false;
  QString pauseReach_ = QStringLiteral("30");
  std::int32_t frames_ = 0, totalTimeMs_ = 0;
  std::array<Page, 3> pages_;
  std::vector<Breakpoint> breakpoints_;
  std::vector<std::vector<Breakpoint>> history_;  // the oldest first
  bool usedBySplit_ = false;
  void changed();
};
