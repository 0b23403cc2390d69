#pragma once

// Breakpoints read from what describes a recording's parts: a cue sheet, or
// the ID3v2 chapters (CHAP frames) of the file itself.

#include <optional>
#include <variant>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Markers.h"

namespace found {

struct CueTrack {
  int number = 0;
  QString title, performer;
  double start = -1;  // INDEX 01, in seconds; -1 where the sheet gives none
  int line = 0;       // of its TRACK
  int indexLine = 0;  // of its INDEX 01
  double pregap = -1;  // INDEX 00, in seconds, where given
};

struct CueSheet {
  QString file;  // as its FILE line names it
  int fileLine = 0;
  QString title, performer;
  std::vector<CueTrack> tracks;
  QStringList notes;  // what reading it guessed or passed over
};

// What is wrong with a sheet, and on which line (0: the sheet as a whole).
struct SheetError {
  int line = 0;
  QString text;
  QString message() const;
};

// The bytes of a cue sheet file: a regular file of at most 1 MB (no sheet is
// larger), read without waiting on a FIFO or a device.
std::variant<QByteArray, SheetError> readSheetFile(const QString &path);
// The same for a text file of another `kind` ("label file"), of at most
// `most` bytes (whole megabytes).
std::variant<QByteArray, SheetError> readTextFile(const QString &path, qsizetype most, const QString &kind);

// A text file's text as people have them: UTF-16 by its BOM, UTF-8 (a BOM
// allowed), or else Windows-1252, which `windows1252` then says.
QString decodedText(const QByteArray &raw, bool *windows1252);
// Its lines, ended by LF, CR LF or CR alone.
QStringList decodedLines(const QByteArray &raw, bool *windows1252);

// Text of a file in a message: at most 200 characters of it.
QString quoted(const QString &text);

// Reads a cue sheet as people have them: UTF-16 by its BOM, UTF-8 (a BOM
// allowed), or else Windows-1252 (a note says so); LF, CRLF or CR alone;
// commands in any case; `mm:ss` without frames. A command it does not know
// is passed over with a note. Refused, naming the line: several FILEs, a
// frame field of 75 or more, a track that is not AUDIO, a line longer than
// 64 KB. No message quotes more than 200 characters of the sheet.
std::variant<CueSheet, SheetError> readCueSheet(const QByteArray &bytes);

// The file a sheet's FILE stands for beside the sheet in `folder` (ending
// in "/", or empty for the current folder): the file it names where that
// is there and MP3; else the MP3 of the same stem (the sheet written for a
// WAV, FLAC or APE rip, a Windows path); else the MP3 of the sheet's own
// name. An absolute path that is there is taken as it stands. Nothing
// where none is there.
struct Recording {
  QString path;
  bool named = false;  // the file the FILE names, where it names it (not one of its stem, nor the sheet's)
};
std::optional<Recording> recordingOf(const CueSheet &sheet, const QString &sheetPath);

// The breakpoints of the sheet's tracks in `audio` (whose timeline is `t`):
// every track's INDEX 01 to the nearest frame, with its title and performer
// (the sheet's where the track has none) and its number. Audio before the
// first track's INDEX 01 (a pregap) is a piece of its own, numbered 0. A
// FILE line naming another file is a note (where `named` is given, as it
// says: see recordingOf), and so is a track that begins past the end, which
// is left out; a missing INDEX 01 or times that do not rise are errors
// naming their line.
std::variant<Markers, SheetError> markersOf(const CueSheet &sheet, const Timeline &t, const QString &audio,
                                            std::optional<bool> named = std::nullopt);

// The file's chapters: one breakpoint where each CHAP frame of its ID3v2 tag
// begins, with its TIT2 and TPE1; nothing where the tag has no chapter.
std::variant<Markers, SheetError> chaptersOf(const QString &path, const Timeline &t);

}  // namespace found
