#include "SplitEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "ByteLayout.h"
#include "Convert.h"
#include "ExactSplit.h"
#include "Frame.h"
#include "FrameCuts.h"
#include "ReadOnce.h"
#include "Run.h"

namespace split {
namespace {

// Where the frame walk cannot follow the source, its cuts fall in
// proportion to its size, as they did before cuts went to frames.
void inProportion(Run &run, const QString &why) {
  run.reporter().notice({run.source(),
                         QStringLiteral("The frames of %1 cannot be followed (%2): it is cut in proportion to its size "
                                        "instead, and a cut may fall inside a frame.")
                             .arg(run.source(), why),
                         QStringLiteral("its frames cannot be followed (%1): cut in proportion to its size").arg(why)});
}

std::int64_t scaledTime(std::int64_t size, double milliseconds, std::int64_t totalMs) {
  return static_cast<std::int64_t>(std::min(static_cast<double>(size) * milliseconds / static_cast<double>(totalMs), 9.0e18));
}

}  // namespace

Outcome splitBySize(const QString &source, const QString &sizeText, const QString &outputTemplate, Reporter &reporter,
                    bool exactCuts) {
  if (sizeText.isEmpty()) return {};
  Run run(source, outputTemplate, reporter);
  if (!run.openSource()) return {};
  std::int64_t kilobytes = 0;
  try {
    kilobytes = StrToInt(sizeText);
  } catch (const EConvertError &) {
    kilobytes = -1;
  }
  if (kilobytes <= 0) {
    run.refuse(parameterError(
        QStringLiteral("The size of the parts must be a whole number of kilobytes from 1 to 2147483647, not \"%1\".")
            .arg(sizeText)));
    return {};
  }
  if (exactCuts) return exactBySize(run, kilobytes * 1024);
  QStringList none;
  const std::int64_t size = run.size();
  if (size == 0) {
    run.refuse({source, QStringLiteral("Cannot split %1: the file is empty.").arg(source),
                QStringLiteral("cannot split it: the file is empty")});
    return {};
  }
  if (!writeLayout(
          run, size, [&](std::int64_t) { return Plan(fixedLayout(size, kilobytes * 1024)); }, none))
    return run.stopped();
  run.reporter().complete();
  return run.finish();
}

Outcome splitByTime(const QString &source, const QString &lengthText, const Fact &totalTimeMs,
                    const QString &outputTemplate, Reporter &reporter, bool exactCuts) {
  Run run(source, outputTemplate, reporter);
  if (!run.openSource()) return {};
  double milliseconds = 0;
  try {
    milliseconds = StrToFloat(lengthText) * 1000;
  } catch (const EConvertError &) {
    run.refuse(parameterError(
        QStringLiteral("The length of the parts must be a number of seconds above 0, not \"%1\".").arg(lengthText)));
    return {};
  }
  if (exactCuts) return exactByTime(run, milliseconds / 1000);
  if (!(milliseconds > 0) || !std::isfinite(milliseconds)) {
    run.refuse(parameterError(
        QStringLiteral("The length of the parts must be a number of seconds above 0, not \"%1\".").arg(lengthText)));
    return {};
  }
  const std::int64_t size = run.size();
  if (size == 0) {
    run.refuse({source, QStringLiteral("Cannot split %1: the file is empty.").arg(source),
                QStringLiteral("cannot split it: the file is empty")});
    return {};
  }
  QStringList none;
  // Each cut at the first frame that begins at or after a multiple of the
  // length; the prefix as for pieces of about the length's size.
  const std::int64_t roughMs = totalTimeMs.measure ? totalTimeMs.guess : totalTimeMs.known;
  const QString prefix = createPrefix(roughMs > 0 ? scaledTime(size, milliseconds, roughMs) : size);
  FrameCuts cuts = FrameCuts::every(milliseconds / 1000);
  const CutsWritten written = writeAtCuts(run, cuts, prefix, none);
  if (std::holds_alternative<Failed>(written)) return run.stopped();
  const auto *walkless = std::get_if<QString>(&written);
  if (!walkless) {
    run.reporter().complete();
    return run.finish();
  }
  // How long one frame of the source plays, from its first frame; where
  // that cannot be read (free format), the shortest any MPEG audio has (384
  // samples at 48 kHz): a last part shorter holds no frame, and goes with the
  // part before rather than be a piece of a few bytes.
  const auto stream = mpeg::estimate(run.fd());
  const double frameMs = stream && stream->first.rate > 0 ? stream->first.samples * 1000.0 / stream->first.rate : 8;
  const auto planOf = [&](std::int64_t totalMs) -> Plan {
    if (totalMs <= 0)
      return Message{source, QStringLiteral("Cannot split %1 by time: its playing time is 0.").arg(source),
                     QStringLiteral("cannot split it by time: its playing time is 0")};
    // Longer than the file, to infinity: one piece.
    const double exact = static_cast<double>(size) * milliseconds / static_cast<double>(totalMs);
    if (!(exact >= 1))
      return Message{source,
                     QStringLiteral("Parts of %1 seconds would hold no whole byte of %2.").arg(lengthText, source),
                     QStringLiteral("parts of %1 seconds would hold no whole byte").arg(lengthText)};
    const auto oneFrame = static_cast<std::int64_t>(std::min(frameMs * static_cast<double>(size) / static_cast<double>(totalMs), 9.0e18));
    return fixedLayout(size, static_cast<std::int64_t>(std::min(exact, 9.0e18)), oneFrame);
  };
  if (!writeLayout(run, totalTimeMs, planOf, none)) return run.stopped();
  inProportion(run, *walkless);
  run.reporter().complete();
  return run.finish();
}

Outcome splitAtBreakpoints(const QString &source, const Fact &frames, const QStringList &breakpoints,
                           const QString &outputTemplate, Reporter &reporter, bool exactCuts,
                           const std::vector<PieceTitle> &titles) {
  if (breakpoints.size() < 2) return {};
  Run run(source, outputTemplate, reporter);
  run.setTitles(titles);
  std::vector<std::int64_t> points;
  for (const QString &item : breakpoints) {
    if (item.startsWith(u'-') && isFrameNumber(item.mid(1))) {
      run.refuse(parameterError(QStringLiteral("The breakpoint %1 lies before the start of the file.").arg(item)));
      return {};
    }
    bool ok = false;
    const std::int64_t value = item.toLongLong(&ok);
    if (!isFrameNumber(item) || !ok) {
      run.refuse(parameterError(
          QStringLiteral("The breakpoint \"%1\" is not a frame number from 0 to 9223372036854775807.").arg(item)));
      return {};
    }
    if (!points.empty() && value <= points.back()) {
      run.refuse(
          parameterError(QStringLiteral("The breakpoints must rise: %1 follows %2.").arg(value).arg(points.back())));
      return {};
    }
    points.push_back(value);
  }
  if (exactCuts) return exactAtBreakpoints(run, points);
  if (!run.openSource()) return {};
  const std::int64_t size = run.size();
  QStringList empty;
  FrameCuts cuts = FrameCuts::atFrames(points);
  const CutsWritten written = writeAtCuts(run, cuts, QStringLiteral("Cannot create the file: "), empty);
  if (std::holds_alternative<Failed>(written)) return run.stopped();
  if (const auto *frameCount = std::get_if<std::int64_t>(&written))
    return finishBreakpoints(run, source, *frameCount, points, empty);
  const QString walkless = std::get<QString>(written);
  const auto planOf = [&](std::int64_t frameCount) -> Plan {
    if (frameCount <= 0)
      return Message{source, QStringLiteral("Cannot split %1 at frames: its frame count is 0.").arg(source),
                     QStringLiteral("cannot split it at frames: its frame count is 0")};
    // A breakpoint past the last frame stands for the end of the file.
    auto offsetOf = [=](std::int64_t frame) { return frame >= frameCount ? size : scaled(size, frame, frameCount); };
    const auto pieces = static_cast<std::int64_t>(points.size()) - 1;
    return Layout{pieces, offsetOf(points.back()) - offsetOf(points.front()),
                  [=, &points](std::int64_t track) {
                    const auto i = static_cast<std::size_t>(track);
                    const std::int64_t start = offsetOf(points[i - 1]);
                    return Range{start, offsetOf(points[i]) - start, QStringLiteral("Cannot create the file: ")};
                  },
                  pieces};
  };
  const auto known = writeLayout(run, frames, planOf, empty);
  if (!known) return run.stopped();
  inProportion(run, walkless);
  return finishBreakpoints(run, source, *known, points, empty);
}

}  // namespace split
