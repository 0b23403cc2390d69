#include "SplitEngine.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

#include "FileName.h"
#include "OutputFile.h"

namespace split {

namespace {

// The first character that cmd cannot take safely even inside quotes: a quote
// would end the quoting, a control character the line, and "!" is expanded
// where delayed expansion is on.
std::optional<QChar> unsafeCharacter(const QString &name) {
  for (QChar c : name)
    if (c == u'"' || c == u'!' || c.unicode() < 0x20 || c.unicode() == 0x7F) return c;
  return std::nullopt;
}

QString describe(QChar c) {
  if (c == u'"') return QStringLiteral("the double quote (\")");
  if (c == u'!') return QStringLiteral("the exclamation mark (!)");
  return QStringLiteral("the control character U+%1").arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0'));
}

QStringList joinedNames(const QStringList &pieces, const QString &joinName) {
  QStringList names;
  for (const QString &piece : pieces) names << fileNamePart(piece);
  return names << joinName + QStringLiteral(".mp3");
}

// Writes `bytes` to `name` anew (with `mode` when given, else as the umask
// says); returns the message for the user when it cannot.
std::optional<Message> writeFile(const QString &name, const QByteArray &bytes, std::optional<mode_t> mode = {}) {
  PendingFile file;
  const auto failed = [&](int error) {
    return Message{name, QStringLiteral("Cannot write the file: %1 !\r\n%2").arg(name, file.whyNot(error)),
                   QStringLiteral("cannot write it: %1").arg(file.whyNotBriefly(error))};
  };
  if (!file.open(encodeFileName(name))) return failed(errno);
  if (mode) file.setMode(*mode);
  if (writeAll(file.fd(), bytes.constData(), static_cast<std::size_t>(bytes.size())) && file.commit())
    return std::nullopt;
  return failed(errno);
}

}  // namespace

QString joinCommand(const QStringList &pieces, const QString &joinName, bool exactPieces) {
  auto quoted = [](QString name) {
    static const QString special = QStringLiteral(" &|<>^()%!,;=+");
    const bool needs = std::any_of(name.begin(), name.end(), [](QChar c) { return special.contains(c); });
    name.replace(u'%', QStringLiteral("%%"));
    return needs ? u'"' + name + u'"' : name;
  };
  QStringList names = joinedNames(pieces, joinName);
  // cmd reads a batch file in the console's code page, unless told it is
  // UTF-8; names whose bytes are no UTF-8 are left in the code page they
  // came in.
  const auto all = [&names](auto test) { return std::all_of(names.begin(), names.end(), test); };
  const bool utf8 = !all([](const QString &name) { return encodeFileName(name).size() == name.size(); }) &&
                    all([](const QString &name) { return encodeFileName(name) == name.toUtf8(); });
  const QString codePage = utf8 ? QStringLiteral("chcp 65001 >nul\r\n") : QString();
  for (QString &name : names) name = quoted(name);
  const QString target = names.takeLast();
  if (exactPieces)
    return codePage + QStringLiteral("tranchette-cli join -o ") + target + QStringLiteral(" -- ") + names.join(u' ');
  // cmd reads no longer line: past it, each further line appends pieces to
  // what the lines before it joined.
  constexpr qsizetype kLongestLine = 8191;
  const QString copy = QStringLiteral("copy /b ");
  QStringList lines;
  QStringList sources;
  qsizetype length = copy.size() + target.size();
  for (const QString &name : names) {
    if (sources.size() > 1 && length + name.size() + 1 > kLongestLine) {
      lines << copy + sources.join(u'+') + u' ' + target;
      sources = QStringList{target};
      length = copy.size() + 2 * target.size() + 1;
    }
    sources << name;
    length += name.size() + 1;
  }
  lines << copy + sources.join(u'+') + u' ' + target;
  return codePage + lines.join(QStringLiteral("\r\n"));
}

QByteArray joinScript(const QStringList &pieces, const QString &joinName, bool exactPieces) {
  // The pieces as they were written, folders included: the shell reads paths
  // as this system does, so a piece in another folder is found as well.
  const QStringList paths = QStringList(pieces) << joinName + QStringLiteral(".mp3");
  QByteArrayList names;
  for (const QString &name : paths) names << '\'' + encodeFileName(name).replace('\'', QByteArray("'\\''")) + '\'';
  const QByteArray target = names.takeLast();
  if (exactPieces) return "#!/bin/sh\nexec tranchette-cli join -o " + target + " -- " + names.join(' ') + '\n';
  // The joined file replaces one of its name only once every piece is read:
  // often that is the source itself. Its temporary name is short, whatever
  // the length of the joined file's.
  return "#!/bin/sh\npart=./.Join-$$.part\ncat -- " + names.join(' ') + " > \"$part\" && exec mv -f -- \"$part\" " + target +
         "\nrm -f -- \"$part\"\nexit 1\n";
}

JoinFiles writeJoinFiles(const QStringList &pieces, const QString &joinName, bool exactPieces) {
  JoinFiles result;
  const QString batch = QStringLiteral("Join_") + joinName + QStringLiteral(".bat");
  for (const QString &name : joinedNames(pieces, joinName))
    if (const auto c = unsafeCharacter(name); c && !result.skipped) {
      const QString why = QStringLiteral("the name \"%1\" holds %2, which cmd cannot take safely").arg(name, describe(*c));
      result.skipped = Message{batch, QStringLiteral("No file %1 was written: %2.").arg(batch, why),
                               QStringLiteral("not written: %1").arg(why)};
    }
  if (!result.skipped) {
    const QString command = joinCommand(pieces, joinName, exactPieces);
#ifdef Q_OS_WIN
    const QByteArray line = command.startsWith(QStringLiteral("chcp")) ? command.toUtf8() : command.toLocal8Bit();
#else
    const QByteArray line = encodeFileName(command);
#endif
    if (auto error = writeFile(batch, line)) result.failed.push_back(*error);
  }
#ifndef Q_OS_WIN
  const QString script = QStringLiteral("Join_") + joinName + QStringLiteral(".sh");
  if (auto error = writeFile(script, joinScript(pieces, joinName, exactPieces), 0755)) result.failed.push_back(*error);
#endif
  return result;
}

}  // namespace split
