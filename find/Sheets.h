#pragma once

// Breakpoints read from what describes a recording's parts: a cue sheet, or
// the ID3v2 chapters (CHAP frames) of the file itself.

#include <variant>
#include <vector>

#include <QByteArray>
#include <QString>

#include "Markers.h"

namespace found {

struct CueTrack {
  int number = 0;
  QString title, performer;
  double start = -1;  // INDEX 01, in seconds; -1 where the sheet gives none
  int line = 0;       // of its TRACK
  int indexLine = 0;  // of its INDEX 01
};

struct CueSheet {
  QString file;  // as its FILE line names it
  int fileLine = 0;
  QString title, performer;
  std::vector<CueTrack> tracks;
};

// What is wrong with a sheet, and on which line (0: the sheet as a whole).
struct SheetError {
  int line = 0;
  QString text;
  QString message() const;
};

// Reads a cue sheet: UTF-8 (a BOM allowed) or else Latin-1, LF or CRLF.
std::variant<CueSheet, SheetError> readCueSheet(const QByteArray &bytes);

// The breakpoints of the sheet's tracks in `audio` (whose timeline is `t`):
// every track's INDEX 01 to the nearest frame, with its title and performer
// (the sheet's where the track has none). A FILE line naming another file is
// a note; a time past the end, a missing INDEX 01 or times that do not rise
// are errors naming their line.
std::variant<Markers, SheetError> markersOf(const CueSheet &sheet, const Timeline &t, const QString &audio);

// The file's chapters: one breakpoint where each CHAP frame of its ID3v2 tag
// begins, with its TIT2 and TPE1; nothing where the tag has no chapter.
std::variant<Markers, SheetError> chaptersOf(const QString &path, const Timeline &t);

}  // namespace found
