#include "Sheets.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QStringDecoder>

#include "FileName.h"
#include "Frame.h"
#include "Id3.h"

namespace found {
namespace {

// A line's words: bare, or in double quotes.
QStringList wordsOf(const QString &line) {
  QStringList words;
  for (qsizetype i = 0; i < line.size();) {
    if (line[i].isSpace()) {
      ++i;
      continue;
    }
    QString word;
    if (line[i] == u'"') {
      const qsizetype end = line.indexOf(u'"', i + 1);
      word = line.mid(i + 1, (end < 0 ? line.size() : end) - i - 1);
      i = end < 0 ? line.size() : end + 1;
    } else {
      while (i < line.size() && !line[i].isSpace()) word += line[i++];
    }
    words << word;
  }
  return words;
}

// "mm:ss:ff" at 75 frames a second; -1 where it is no such time.
double cueTime(const QString &text) {
  const QStringList parts = text.split(u':');
  if (parts.size() != 3) return -1;
  bool ok[3] = {};
  const int m = parts[0].toInt(&ok[0]), s = parts[1].toInt(&ok[1]), f = parts[2].toInt(&ok[2]);
  if (!ok[0] || !ok[1] || !ok[2] || m < 0 || s < 0 || s > 59 || f < 0 || f > 74) return -1;
  return m * 60.0 + s + f / 75.0;
}

QString clock(double seconds) {
  const auto whole = static_cast<long long>(std::floor(seconds));
  return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// An ID3v2 text frame's body as text, in any of its encodings.
QString textOf(const mpeg::Bytes &body) {
  if (body.empty()) return {};
  const char *data = reinterpret_cast<const char *>(body.data()) + 1;
  const auto size = static_cast<qsizetype>(body.size() - 1);
  QString text;
  switch (body[0]) {
    case 0: text = QString::fromLatin1(data, size); break;
    case 3: text = QString::fromUtf8(data, size); break;
    default: {
      QStringDecoder decode(body[0] == 2 ? QStringDecoder::Utf16BE : QStringDecoder::Utf16,
                            QStringDecoder::Flag::Stateless);
      text = decode(QByteArrayView(data, size));
    }
  }
  return text.left(text.indexOf(QChar(0)) < 0 ? text.size() : text.indexOf(QChar(0)));
}

mpeg::Bytes readTag(const QString &path, QString &error) {
  const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = QString::fromLocal8Bit(std::strerror(errno));
    return {};
  }
  mpeg::Bytes tag(10);
  struct stat st {};
  std::int64_t at = 0, size = 0;
  if (mpeg::readAt(fd, tag.data(), 10, 0)) size = mpeg::id3v2Size(tag.data());
  if (size <= 0 && ::fstat(fd, &st) == 0) {
    // A tag at the end, where there is none at the start.
    for (const mpeg::Passed &p : mpeg::readEndTags(fd, st.st_size, 0).tags)
      if (p.kind == mpeg::Passed::Kind::id3v2) at = p.at, size = p.length;
  }
  tag.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  if (!mpeg::readAt(fd, tag.data(), tag.size(), at)) tag.clear();
  ::close(fd);
  return tag;
}

}  // namespace

QString SheetError::message() const {
  return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(text) : text;
}

std::variant<CueSheet, SheetError> readCueSheet(const QByteArray &raw) {
  QByteArray bytes = raw;
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(bytes);
  if (utf8.hasError()) text = QString::fromLatin1(bytes);
  CueSheet sheet;
  const QStringList lines = text.split(u'\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const QStringList words = wordsOf(lines[i]);
    if (words.isEmpty()) continue;
    const QString command = words[0].toUpper();
    CueTrack *track = sheet.tracks.empty() ? nullptr : &sheet.tracks.back();
    if (command == u"FILE") {
      if (words.size() < 2) return SheetError{n, QStringLiteral("FILE names no file")};
      if (!sheet.file.isEmpty())
        return SheetError{n, QStringLiteral("a second FILE: the sheet spans several files, and this splits one")};
      sheet.file = words[1];
      sheet.fileLine = n;
    } else if (command == u"TRACK") {
      bool ok = false;
      const int number = words.size() >= 2 ? words[1].toInt(&ok) : 0;
      if (!ok || number < 1 || number > 99) return SheetError{n, QStringLiteral("TRACK needs a number from 1 to 99")};
      if (words.size() >= 3 && words[2].toUpper() != u"AUDIO")
        return SheetError{n, QStringLiteral("TRACK %1 is %2, not AUDIO").arg(number).arg(words[2])};
      sheet.tracks.push_back({number, {}, {}, -1, n, 0});
    } else if (command == u"TITLE" || command == u"PERFORMER") {
      const QString value = words.mid(1).join(u' ');
      QString &field = command == u"TITLE" ? (track ? track->title : sheet.title)
                                           : (track ? track->performer : sheet.performer);
      field = value;
    } else if (command == u"INDEX") {
      if (!track) return SheetError{n, QStringLiteral("INDEX before any TRACK")};
      bool ok = false;
      const int index = words.size() >= 2 ? words[1].toInt(&ok) : -1;
      const double at = words.size() >= 3 ? cueTime(words[2]) : -1;
      if (!ok || index < 0 || index > 99) return SheetError{n, QStringLiteral("INDEX needs a number from 0 to 99")};
      if (at < 0)
        return SheetError{n, QStringLiteral("'%1' is no time mm:ss:ff (seconds to 59, frames to 74)")
                                 .arg(words.value(2))};
      if (index == 1) {
        track->start = at;
        track->indexLine = n;
      }
    } else if (!QStringList{QStringLiteral("REM"), QStringLiteral("CATALOG"), QStringLiteral("CDTEXTFILE"),
                            QStringLiteral("FLAGS"), QStringLiteral("ISRC"), QStringLiteral("SONGWRITER"),
                            QStringLiteral("PREGAP"), QStringLiteral("POSTGAP")}
                    .contains(command)) {
      return SheetError{n, QStringLiteral("'%1' is no cue sheet command").arg(words[0])};
    }
  }
  if (sheet.tracks.empty()) return SheetError{0, QStringLiteral("the sheet holds no TRACK")};
  return sheet;
}

std::variant<Markers, SheetError> markersOf(const CueSheet &sheet, const Timeline &t, const QString &audio) {
  Markers found;
  if (!sheet.file.isEmpty() && QFileInfo(sheet.file).fileName() != QFileInfo(audio).fileName())
    found.notes << QStringLiteral("The sheet's FILE names %1; its times are taken for %2.")
                       .arg(sheet.file, QFileInfo(audio).fileName());
  const double end = t.secondsAt(t.frames);
  double before = -1;
  std::vector<Marker> markers;
  for (const CueTrack &track : sheet.tracks) {
    if (track.start < 0)
      return SheetError{track.line, QStringLiteral("TRACK %1 has no INDEX 01").arg(track.number, 2, 10, QLatin1Char('0'))};
    if (track.start <= before)
      return SheetError{track.indexLine, QStringLiteral("TRACK %1 begins no later than the track before it")
                                             .arg(track.number, 2, 10, QLatin1Char('0'))};
    if (track.start >= end)
      return SheetError{track.indexLine, QStringLiteral("TRACK %1 begins at %2, past the end of %3 (%4)")
                                             .arg(track.number, 2, 10, QLatin1Char('0'))
                                             .arg(clock(track.start), QFileInfo(audio).fileName(), clock(end))};
    before = track.start;
    markers.push_back({t.frameAt(track.start), track.title,
                       track.performer.isEmpty() ? sheet.performer : track.performer});
  }
  found.markers = withEnds(std::move(markers), t.frames);
  return found;
}

std::variant<Markers, SheetError> chaptersOf(const QString &path, const Timeline &t) {
  QString error;
  const mpeg::Bytes tag = readTag(path, error);
  if (!error.isEmpty()) return SheetError{0, error};
  const int version = tag.size() > 3 ? tag[3] : 0;
  std::vector<Marker> markers;
  for (const mpeg::TagItem &item : mpeg::itemsOf(tag)) {
    if (item.id != "CHAP") continue;
    const auto id = std::find(item.body.begin(), item.body.end(), 0);
    const auto at = static_cast<std::size_t>(id - item.body.begin()) + 1;
    if (at + 16 > item.body.size()) continue;
    const double seconds = mpeg::bigEndian32(item.body.data() + at) / 1000.0;
    Marker m{t.frameAt(seconds), {}, {}};
    for (const mpeg::TagItem &sub : mpeg::itemsWithin(item.body, at + 16, version)) {
      if (sub.id == "TIT2") m.title = textOf(sub.body);
      if (sub.id == "TPE1") m.performer = textOf(sub.body);
    }
    markers.push_back(m);
  }
  Markers found;
  if (!markers.empty()) found.markers = withEnds(std::move(markers), t.frames);
  return found;
}

}  // namespace found
