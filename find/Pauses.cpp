#include "Pauses.h"

#include <algorithm>
#include <cmath>

#include <QStringList>

namespace found {
namespace {

// The first frame that begins at or after `seconds` of what is heard.
std::int64_t frameFrom(const Timeline &t, double seconds) {
  const double raw = seconds * static_cast<double>(t.rate) + static_cast<double>(t.trimBegin);
  return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(raw / t.samplesPerFrame - 1e-9)), 0, t.frames);
}

// The longest silence (one that parts pieces) between frames `after` and
// `before` (neither included) whose middle lies within `window` seconds of
// `want`; of those within a frame of the longest (alike, as pauses of a
// recording often are), the nearest. None where none is in reach.
const Silence *longestNear(const SilencesFound &found, double want, double window, std::int64_t after,
                           std::int64_t before) {
  const auto inReach = [&](const Silence &s) {
    return s.frame > after && s.frame < before && std::abs((s.start + s.end) / 2 - want) <= window;
  };
  double longest = -1;
  for (const Silence &s : found.silences)
    if (inReach(s)) longest = std::max(longest, s.end - s.start);
  const double frame = static_cast<double>(found.timeline.samplesPerFrame) / static_cast<double>(found.timeline.rate);
  const Silence *best = nullptr;
  for (const Silence &s : found.silences)
    if (inReach(s) && s.end - s.start >= longest - frame &&
        (!best || std::abs((s.start + s.end) / 2 - want) < std::abs((best->start + best->end) / 2 - want)))
      best = &s;
  return best;
}

}  // namespace

QString missedPauses(const PausePlan &plan) {
  if (plan.missed.empty()) return {};
  QStringList where;
  for (const double at : plan.missed) {
    const auto whole = static_cast<long long>(std::max(0.0, at));
    where << QStringLiteral("%1:%2:%3")
                 .arg(whole / 3600)
                 .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                 .arg(whole % 60, 2, 10, QLatin1Char('0'));
  }
  return QStringLiteral("%1 of %2 cuts found no pause within %3 s: at %4")
      .arg(plan.missed.size())
      .arg(plan.cuts)
      .arg(plan.reach)
      .arg(where.join(QStringLiteral(", ")));
}

PausePlan planAtPauses(const SilencesFound &found, double seconds, double window) {
  const Timeline &t = found.timeline;
  PausePlan plan;
  plan.reach = window;
  plan.frames.push_back(0);
  const double end = t.secondsAt(t.frames);
  double last = 0;
  while (seconds > 0 && last + seconds < end) {
    const double want = last + seconds;
    const Silence *best = longestNear(found, want, window, plan.frames.back(), t.frames);
    const std::int64_t frame = std::max(best ? best->frame : frameFrom(t, want), plan.frames.back() + 1);
    if (frame >= t.frames) break;
    if (!best) plan.missed.push_back(want);
    plan.frames.push_back(frame);
    ++plan.cuts;
    last = t.secondsAt(frame);  // the next from the cut as it is
  }
  plan.frames.push_back(t.frames);
  return plan;
}

PausePlan planPartsAtPauses(const SilencesFound &found, std::int64_t parts, double window) {
  const Timeline &t = found.timeline;
  const std::vector<std::int64_t> equal = equalParts(t.frames, parts);
  PausePlan plan;
  if (equal.empty()) return plan;
  // No nearer a cut beside than halfway (as the user is told: to a tenth below).
  plan.reach = std::min(window, std::floor(t.secondsAt(t.frames) / static_cast<double>(parts) / 2 * 10) / 10);
  plan.frames.push_back(0);
  const auto equalAt = [&equal](std::int64_t k) { return equal[static_cast<std::size_t>(k)]; };
  for (std::int64_t k = 1; k < parts; ++k) {
    const std::int64_t at = equalAt(k);
    const double want = t.secondsAt(at);
    // A pause is the cut nearest to it: each cut looks no nearer the cuts
    // beside it than halfway, so that none takes another's pause and leaves
    // it a part of a frame; and it leaves room for a frame in each part to come.
    const std::int64_t first = plan.frames.back() + 1, last = t.frames - (parts - k);
    const std::int64_t after = std::max(plan.frames.back(), (equalAt(k - 1) + at) / 2);
    const std::int64_t before = std::min(last + 1, (at + equalAt(k + 1) + 1) / 2);
    const Silence *best = longestNear(found, want, window, after, before);
    if (!best) plan.missed.push_back(want);
    plan.frames.push_back(std::clamp(best ? best->frame : at, first, last));
    ++plan.cuts;
  }
  plan.frames.push_back(t.frames);
  return plan;
}

std::vector<std::int64_t> equalParts(std::int64_t frames, std::int64_t parts) {
  if (parts < 1 || parts > frames) return {};
  std::vector<std::int64_t> at;
  for (std::int64_t k = 0; k <= parts; ++k) at.push_back(k * frames / parts);  // floor: the rest spread out
  return at;
}

Snapped snapToPauses(const SilencesFound &found, std::vector<Marker> markers, double window) {
  Snapped out;
  const Timeline &t = found.timeline;
  for (std::size_t i = 0; i < markers.size(); ++i) {
    Marker m = markers[i];
    if (i > 0 && i + 1 < markers.size()) {
      const double at = t.secondsAt(m.frame);
      const Silence *nearest = nullptr;
      for (const Silence &s : found.silences) {
        const double distance = std::abs((s.start + s.end) / 2 - at);
        // Between the first and the last breakpoint, which stay.
        if (s.frame > markers.front().frame && s.frame < markers.back().frame && distance <= window &&
            (!nearest || distance < std::abs((nearest->start + nearest->end) / 2 - at)))
          nearest = &s;
      }
      if (nearest)
        m.frame = nearest->frame;
      else
        out.unmoved.push_back(m.frame);
    }
    if (!out.markers.empty() && m.frame <= out.markers.back().frame) {  // met another in its pause
      out.merged.push_back(markers[i].frame);
      continue;
    }
    out.markers.push_back(m);
  }
  return out;
}

QString framesText(const std::vector<std::int64_t> &frames) {
  QStringList texts;
  for (const std::int64_t f : frames) texts << QString::number(f);
  return texts.join(QStringLiteral(", "));
}

QString mergedBreakpoints(const Snapped &snapped) {
  const std::size_t n = snapped.merged.size();
  if (n == 0) return {};
  return n == 1 ? QStringLiteral("1 breakpoint fell in the same pause as another and was dropped: %1")
                      .arg(framesText(snapped.merged))
                : QStringLiteral("%1 breakpoints fell in the same pauses as others and were dropped: %2")
                      .arg(n)
                      .arg(framesText(snapped.merged));
}

}  // namespace found
