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

QString pieceName(const QString &outputTemplate, std::int64_t track, const QString &title) {
  static const QString placeholder = QStringLiteral("%track%");
  QString name = outputTemplate;
  if (name.contains(QStringLiteral("%title%"))) {
    // What a file name cannot hold, here or on the systems the pieces go to.
    QString safe = title.trimmed();
    for (QChar &c : safe)
      if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c)) c = u'_';
    if (safe == u"." || safe == u"..") safe = QStringLiteral("_");
    name.replace(QStringLiteral("%title%"), safe);
  }
  const QString text = formatTrackNumber(track);
  const qsizetype at = name.indexOf(placeholder);
  if (at >= 0) return name.replace(at, placeholder.size(), text);
  return insertBeforeExtension(name, u'-' + text);
}

}  // namespace split
