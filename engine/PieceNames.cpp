#include "SplitEngine.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <sys/stat.h>

#include "FileName.h"
#include "OutputFile.h"

namespace split {

bool isFrameNumber(const QString &text) {
  return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString formatTrackNumber(std::int64_t track) {
  const QString text = QString::number(track);
  if (text.size() == 1) return QStringLiteral("00") + text;
  if (text.size() == 2) return QStringLiteral("0") + text;
  return text;
}

QString fileNamePart(const QString &path) {
#ifdef Q_OS_WIN
  const qsizetype cut = std::max({path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'), path.lastIndexOf(u':')});
#else
  // Here "\\" and ":" are ordinary characters of a file name.
  const qsizetype cut = path.lastIndexOf(u'/');
#endif
  return path.mid(cut + 1);
}

std::optional<QString> notRegularKind(const QString &path) {
  struct stat st {};
  if (::stat(encodeFileName(path).constData(), &st) != 0 || S_ISREG(st.st_mode)) return std::nullopt;
  return kindOf(st.st_mode);
}

QString joinNameOf(const QString &source) {
  QString name = fileNamePart(source);
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  return name;
}

QString insertBeforeExtension(const QString &path, const QString &text) {
  const qsizetype nameStart = path.size() - fileNamePart(path).size();
  qsizetype dot = path.lastIndexOf(u'.');
  if (dot < nameStart) dot = path.size();
  return QString(path).insert(dot, text);
}

namespace {

// Whether `c` separates a title from what is beside it in a template.
bool isSeparator(QChar c) { return c == u' ' || c == u'-' || c == u'_'; }

// The template with "%title%" and the separators on one side of it gone, for
// a piece without a title: "%track% %title%.mp3" gives "%track%.mp3",
// "%title% - %track%.mp3" gives "%track%.mp3".
QString withoutTitle(QString name) {
  static const QString placeholder = QStringLiteral("%title%");
  for (qsizetype at; (at = name.indexOf(placeholder)) >= 0;) {
    qsizetype from = at, to = at + placeholder.size();
    while (from > 0 && isSeparator(name[from - 1])) --from;
    if (from < at && from > 0 && name[from - 1] != u'/') {
      name.remove(from, to - from);  // the separators before it go with it
      continue;
    }
    while (to < name.size() && isSeparator(name[to])) ++to;
    name.remove(at, to - at);  // at the start of the name: those after it
  }
  return name;
}

// `text` fit for a file name, here or on the systems the pieces go to: what
// a name cannot hold becomes "_", and so do leading dots (no hidden file).
QString safeInName(const QString &text) {
  QString safe = text.trimmed();
  for (QChar &c : safe)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c)) c = u'_';
  for (QChar &c : safe) {
    if (c != u'.') break;
    c = u'_';
  }
  return safe;
}

// What the file name part of `name` takes in bytes on this system.
qsizetype nameBytes(const QString &name) { return encodeFileName(fileNamePart(name)).size(); }

}  // namespace

QString pieceName(const QString &outputTemplate, std::int64_t track, const QString &title) {
  static const QString placeholder = QStringLiteral("%track%");
  static const QString titlePlaceholder = QStringLiteral("%title%");
  QString safe = safeInName(title);
  const auto build = [&](const QString &titleText) {
    QString name = titleText.isEmpty() ? withoutTitle(outputTemplate)
                                       : QString(outputTemplate).replace(titlePlaceholder, titleText);
    const QString text = formatTrackNumber(track);
    const qsizetype at = name.indexOf(placeholder);
    if (at >= 0) return name.replace(at, placeholder.size(), text);
    return insertBeforeExtension(name, u'-' + text);
  };
  QString name = build(safe);
  // A name longer than file systems take (255 bytes) loses the end of its
  // title, a whole character at a time, before the extension is reached.
  constexpr qsizetype kMaxName = 255;
  while (!safe.isEmpty() && outputTemplate.contains(titlePlaceholder) && nameBytes(name) > kMaxName) {
    safe.chop(safe.size() >= 2 && safe.back().isLowSurrogate() ? 2 : 1);
    name = build(safe.trimmed());
  }
  return name;
}

QString withSourceName(const QString &outputTemplate, const QString &source) {
  return QString(outputTemplate).replace(QStringLiteral("%name%"), safeInName(joinNameOf(source)));
}

}  // namespace split
