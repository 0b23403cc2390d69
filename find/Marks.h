#pragma once

// Marks in and out: breakpoints read from Audacity's labels and from a frame
// list, and the breakpoints given back as a cue sheet, labels, a frame list,
// or the ID3v2 chapters of a copy of the source that is not cut. Qt Core
// only: the window, the CLI and the tests call it alike.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Markers.h"
#include "Sheets.h"

namespace found {

// One label of an Audacity label file.
struct Label {
  double start = 0, end = 0;  // in seconds
  QString text;
  int line = 0;
};

struct LabelFile {
  std::vector<Label> labels;
  QStringList notes;  // what reading it guessed
};

// The bytes of a label file: a regular file of at most 4 MB, read without
// waiting on a FIFO or a device.
std::variant<QByteArray, SheetError> readLabelFile(const QString &path);

// Reads labels as Audacity exports them: one a line, "start<TAB>end<TAB>text"
// (the text may be missing), times in seconds with a decimal point; the
// line of a label's frequency range ("\<TAB>low<TAB>high") after it is
// passed over. LF or CRLF; UTF-16 by its BOM, UTF-8, or else
// Windows-1252 (a note says so). Refused, naming the line: a line that is no
// label (another program's format), a time that is no number of seconds, a
// label that ends before it begins or begins no later than the one before.
std::variant<LabelFile, SheetError> readLabels(const QByteArray &bytes);

// The breakpoints of the labels in a file whose timeline is `t`: each
// label's start to the nearest frame, its text the title (a text of digits
// alone, as written for a piece without a title, is the number the piece
// takes instead); where a label ends other than where the next begins, its
// end as well, so that a labelled stretch is a piece of its own. 0 and the
// last frame are added. A time past the end of the file is an error naming
// its line.
std::variant<Markers, SheetError> markersOf(const LabelFile &labels, const Timeline &t);

// A frame list as `tranchette-cli frames` takes it: rising frame numbers,
// commas between them, on one line. Frames past the end are an error.
std::variant<Markers, SheetError> readFrameList(const QByteArray &bytes, const Timeline &t);

// The three kinds of marks a file holds, by its extension: .cue, .txt
// (Audacity's labels) and .csv (a frame list).
enum class MarksKind { cueSheet, labels, frameList };
std::optional<MarksKind> marksKindOf(const QString &path);

// A marks file to be written, and what the user should know of it.
struct MarksText {
  QByteArray bytes;
  QStringList notes;
};

// The breakpoints (rising, as the window's list or a command gives them,
// their titles and numbers with them) as marks of `kind` for the source
// `sourceName` (the cue sheet's FILE) whose timeline is `t`:
// - a cue sheet: a TRACK for each breakpoint before the end, its TITLE and
//   PERFORMER where it has them, INDEX 01 its frame's start to the nearest
//   1/75 s (a piece numbered 0 at the start is the pregap that a reader
//   makes of what plays before TRACK 01, and gets no TRACK);
// - labels: one a piece, from its first frame to the next piece's, in
//   seconds to six decimals, its title or else its track number;
// - a frame list: the breakpoints as they are.
// What the file cannot hold (a quote in a cue sheet's title, a tab or a line
// break in a label, a breakpoint that a time cannot tell from another) is
// named in a note.
MarksText marksOf(MarksKind kind, const std::vector<Marker> &markers, const Timeline &t, const QString &sourceName);

// Why a file cannot be written, or nothing where it was.
using WriteError = std::optional<QString>;

// Writes `bytes` to `path` under a temporary name in its folder, renamed over
// `path` once complete: nothing half-written is left, whatever fails. A file
// that is there is replaced only where `replace` says so.
WriteError writeWhole(const QString &path, const QByteArray &bytes, bool replace);

// What writing chapters did.
struct ChaptersWritten {
  int chapters = 0;  // written
  int replaced = 0;  // the source's own, replaced
  QStringList notes;  // breakpoints that milliseconds cannot tell apart
};

// Writes a copy of `source` (timeline `t`) to `output` whose audio, and all
// that follows its ID3v2 tag, is the source's byte for byte, and whose tag
// (the source's, its frames kept, or a new version 2.3 tag) holds one
// chapter a piece between the breakpoints, 0 and the last frame added: its
// start and end in milliseconds of what is heard, its title and performer
// where it has them, listed by one top-level ordered table of contents. The
// source's own chapters go. Whom the source keeps out, the copy keeps out
// too (its group and other permissions, less the umask; the owner may read
// and write it). Written under a temporary name and renamed:
// nothing is left where it fails (a full disk). Refused: the source itself
// as the output, a file that is there unless `replace`, more than 255
// chapters, a tag of a form that cannot be edited safely. `copied` hears
// of the bytes copied of all; a `stop` set meanwhile ends it with nothing
// written.
using Copied = std::function<void(std::int64_t done, std::int64_t total)>;
std::variant<ChaptersWritten, QString> writeChapters(const QString &source, const std::vector<Marker> &markers,
                                                     const Timeline &t, const QString &output, bool replace,
                                                     const std::atomic<bool> *stop = nullptr, const Copied &copied = {});

// Whether the two names name one file (the same device and inode).
bool sameFile(const QString &a, const QString &b);

}  // namespace found
