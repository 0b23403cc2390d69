#include "TimeSplitWorker.h"

#include <cmath>

#include "Convert.h"
#include "Pauses.h"

namespace {

split::Message parameterError(const QString &text) { return {QString(), text, text}; }

// A plan's breakpoints as the split at breakpoints takes them.
QStringList textsOf(const std::vector<std::int64_t> &frames) {
  QStringList texts;
  for (const std::int64_t f : frames) texts << QString::number(f);
  return texts;
}

}  // namespace

// The length box holds seconds, or "/N" for N parts of equal playing time;
// either way the cuts may end at pauses. Plain seconds without pauses are
// the split by time as it always was.
split::Outcome TSplitThread_2::DoSplit(split::Reporter &reporter) {
  const QString length = request_.parameter.trimmed();
  const bool count = length.startsWith(u'/');
  if (!count && !request_.atPauses)
    return split::splitByTime(request_.source, request_.parameter, request_.totalTimeMs, request_.outputTemplate,
                              reporter, request_.exact);
  const auto at = [&](const std::vector<std::int64_t> &frames) {
    return split::splitAtBreakpoints(request_.source, split::Fact(frames.back()), textsOf(frames),
                                     request_.outputTemplate, reporter, request_.exact);
  };

  std::int64_t parts = 0;
  double seconds = 0;
  if (count) {
    bool ok = false;
    parts = length.mid(1).trimmed().toLongLong(&ok);
    if (!ok || parts < 1 || parts > request_.frames) {
      reporter.fail(parameterError(
          QStringLiteral("The count of parts must be a whole number from 1 to %1 (the frames of the file), not \"%2\".")
              .arg(request_.frames)
              .arg(request_.parameter)));
      return {};
    }
    if (!request_.atPauses) return at(found::equalParts(request_.frames, parts));
  } else {
    try {
      seconds = StrToFloat(length);
    } catch (const EConvertError &) {
    }
    if (!(seconds > 0) || !std::isfinite(seconds)) {
      reporter.fail(parameterError(
          QStringLiteral("The length of the parts must be a number of seconds above 0, not \"%1\".").arg(request_.parameter)));
      return {};
    }
  }
  double reach = -1;
  try {
    reach = StrToFloat(request_.pauseReach);
  } catch (const EConvertError &) {
  }
  if (!(reach >= 0 && reach <= 86400)) {
    reporter.fail(parameterError(
        QStringLiteral("How far a cut may move to a pause must be a number of seconds from 0 to 86400, not \"%1\".")
            .arg(request_.pauseReach)));
    return {};
  }

  // The pauses as the command line finds them: below -45 dB for 0.5 s.
  QString why;
  const auto found = found::findSilences(
      request_.source, found::SilenceSettings{-45, 0.5},
      [this](std::int64_t done, std::int64_t total) { showLooked(done, total); }, &split::stopFlag(), &why);
  if (!found) {
    if (!why.isEmpty())
      reporter.fail({request_.source, QStringLiteral("Cannot search %1 for pauses: %2.").arg(request_.source, why),
                     QStringLiteral("cannot be searched: %1").arg(why)});
    return {};  // cancelled: nothing is written
  }
  const found::PausePlan plan =
      count ? found::planPartsAtPauses(*found, parts, reach) : found::planAtPauses(*found, seconds, reach);
  afterword_ = found::missedPauses(plan);
  return at(plan.frames);
}
