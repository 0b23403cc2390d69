#include "WizardModel.h"

#include <algorithm>

std::optional<QString> WizardModel::whyNotNext() const {
  if (source_.isEmpty()) return QStringLiteral("You should select an MP3 file first.");
  return std::nullopt;
}

void WizardModel::setFacts(std::int32_t frames, std::int32_t totalTimeMs) {
  frames_ = frames;
  totalTimeMs_ = totalTimeMs;
}

void WizardModel::enter(int method) {
  joinName_ = split::joinNameOf(source_);
  setOutputTemplate(method, joinName_ + QStringLiteral("-%track%.mp3"));
  if (method == 1 && breakpoints_.empty()) insertBreakpoint(0);
}

void WizardModel::back(int method) {
  if (method != 1) return;
  clearBreakpoints();
  history_.clear();
}

std::size_t WizardModel::insertBreakpoint(std::int64_t frame, const QString &text) {
  const auto at = std::lower_bound(breakpoints_.begin(), breakpoints_.end(), frame,
                                   [](const Breakpoint &b, std::int64_t f) { return b.frame < f; });
  const auto i = static_cast<std::size_t>(at - breakpoints_.begin());
  if (at != breakpoints_.end() && at->frame == frame) return i;
  breakpoints_.insert(at, Breakpoint{frame, text.isEmpty() ? QString::number(frame) : text, {}, {}, -1, false});
  changed();
  return i;
}

void WizardModel::insertBreakpoints(const std::vector<found::Marker> &markers, bool searched) {
  std::vector<Breakpoint> found;
  found.reserve(markers.size());
  for (const found::Marker &m : markers)
    found.push_back({m.frame, QString::number(m.frame), m.title, m.performer, m.number, searched});
  std::stable_sort(found.begin(), found.end(), [](const Breakpoint &a, const Breakpoint &b) { return a.frame < b.frame; });
  std::vector<Breakpoint> merged;
  merged.reserve(breakpoints_.size() + found.size());
  std::merge(breakpoints_.begin(), breakpoints_.end(), found.begin(), found.end(), std::back_inserter(merged),
             [](const Breakpoint &a, const Breakpoint &b) { return a.frame < b.frame; });
  // One a frame: the one there before stays, given what it lacks.
  std::vector<Breakpoint> kept;
  kept.reserve(merged.size());
  for (Breakpoint &b : merged) {
    if (kept.empty() || kept.back().frame != b.frame) {
      kept.push_back(std::move(b));
      continue;
    }
    Breakpoint &there = kept.back();
    if (there.title.isEmpty() && there.performer.isEmpty() && there.number < 0) {
      there.title = b.title;
      there.performer = b.performer;
      there.number = b.number;
    }
  }
  breakpoints_ = std::move(kept);
  changed();
}

std::vector<found::Marker> WizardModel::markers() const {
  std::vector<found::Marker> out;
  out.reserve(breakpoints_.size());
  for (const Breakpoint &b : breakpoints_) out.push_back({b.frame, b.title, b.performer, b.number});
  return out;
}

void WizardModel::removeBreakpoint(std::size_t index) {
  if (index >= breakpoints_.size()) return;
  breakpoints_.erase(breakpoints_.begin() + static_cast<std::ptrdiff_t>(index));
  changed();
}

void WizardModel::clearBreakpoints() {
  if (breakpoints_.empty()) return;
  breakpoints_.clear();
  changed();
}

bool WizardModel::replaceBreakpoints(const std::vector<found::Marker> &markers) {
  std::vector<Breakpoint> moved;
  moved.reserve(markers.size());
  // One for one, in order, where the count stays: each keeps whether a search found it.
  const bool inPlace = markers.size() == breakpoints_.size();
  for (const found::Marker &m : markers) {
    const std::size_t there = indexOf(m.frame);
    Breakpoint b = there < breakpoints_.size() ? breakpoints_[there] : Breakpoint{m.frame, QString::number(m.frame), {}, {}, -1, false};
    if (inPlace) b.searched = breakpoints_[moved.size()].searched;
    b.title = m.title;
    b.performer = m.performer;
    b.number = m.number;
    moved.push_back(std::move(b));
  }
  if (moved == breakpoints_) return false;
  remember();
  breakpoints_ = std::move(moved);
  changed();
  return true;
}

WizardModel::Stored WizardModel::stored() const {
  bool ok = false;
  const double reach = pauseReach_.toDouble(&ok);
  return {method_ == 0 ? 1 : method_, exact_, atPauses_,
          ok && reach >= 0 && reach <= 86400 ? static_cast<int>(reach) : Stored().pauseReach};
}

SplitRequest WizardModel::request(int method) const {
  SplitRequest r;
  r.method = method;
  r.source = source_;
  r.frames = frames_;
  r.totalTimeMs = totalTimeMs_;
  r.parameter = method == 1 ? QString() : parameter(method);
  r.outputTemplate = outputTemplate(method);
  r.exact = exact_;
  r.join = method != 1 && join(method);
  r.joinName = joinName_;
  r.atPauses = method == 2 && atPauses_;
  r.pauseReach = pauseReach_;
  if (method == 1)
    for (const Breakpoint &b : breakpoints_) {
      r.breakpoints << b.text;
      r.titles.push_back({b.title, b.performer, b.number});
    }
  return r;
}

void WizardModel::changed() {
  usedBySplit_ = false;
  emit breakpointsChanged();
}

void WizardModel::removeSearched() {
  const auto gone = std::remove_if(breakpoints_.begin(), breakpoints_.end(), [](const Breakpoint &b) { return b.searched; });
  if (gone == breakpoints_.end()) return;
  breakpoints_.erase(gone, breakpoints_.end());
  changed();
}

void WizardModel::setTitle(std::size_t index, const QString &title) {
  if (index >= breakpoints_.size() || breakpoints_[index].title == title) return;
  breakpoints_[index].title = title;
  changed();
}

std::size_t WizardModel::indexOf(std::int64_t frame) const {
  const auto at = std::lower_bound(breakpoints_.begin(), breakpoints_.end(), frame,
                                   [](const Breakpoint &b, std::int64_t f) { return b.frame < f; });
  return at != breakpoints_.end() && at->frame == frame ? static_cast<std::size_t>(at - breakpoints_.begin())
                                                        : breakpoints_.size();
}

void WizardModel::remember() {
  constexpr std::size_t kSteps = 10;
  if (history_.size() == kSteps) history_.erase(history_.begin());
  history_.push_back(breakpoints_);
}

bool WizardModel::undo() {
  if (history_.empty()) return false;
  breakpoints_ = std::move(history_.back());
  history_.pop_back();
  changed();
  return true;
}

QString WizardModel::templateFromChosen(const QString &chosen) {
  const bool track = chosen.contains(QStringLiteral("%track%")), title = chosen.contains(QStringLiteral("%title%"));
  if (track) return chosen;
  if (!title) return split::insertBeforeExtension(chosen, QStringLiteral("-%track%"));
  const qsizetype nameStart = chosen.size() - split::fileNamePart(chosen).size();
  return QString(chosen).insert(nameStart, QStringLiteral("%track% "));
}
