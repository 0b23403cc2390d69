#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The track number in ID3 tags: TRCK of an ID3v2.3/2.4 tag, the track byte
// of an ID3v1.1 tag; the length (TLEN); and a PRIV frame of the program's own.
namespace mpeg {

using Bytes = std::vector<unsigned char>;

// The bytes of the ID3v2 tag that the ten bytes at `t` begin, its header and
// footer included; 0 where they begin no tag, -1 where its size is malformed
// (a size byte with its high bit set).
std::int64_t id3v2Size(const unsigned char *t);

// The tag with its TRCK frame set to `track` (Latin-1 text, such as "3/12"),
// or removed when `track` is empty; the other frames stay as they are, and
// the tag keeps its size where its padding allows. A tag this cannot edit
// safely (version 2.2, unsynchronised as a whole) comes back unchanged.
Bytes withTrack(const Bytes &id3v2, const std::string &track);
// The same, padded to `size` bytes where the frames leave room.
Bytes withTrack(const Bytes &id3v2, const std::string &track, std::size_t size);

// The tag with its PRIV frame of `owner` set to `data`, or removed when
// `data` is empty; an empty tag becomes a new version 2.3 tag to hold it.
Bytes withPrivate(const Bytes &id3v2, const std::string &owner, const Bytes &data);
// The data of the tag's PRIV frame of `owner`, if any.
Bytes privateOf(const Bytes &id3v2, const std::string &owner);

// A frame of an ID3v2 tag: its id and its body.
struct TagItem {
  std::string id;
  Bytes body;
};
// The frames of a version 2.3 or 2.4 tag in order (none for a tag of another
// form); and the frames within a frame's body from `at` on (as CHAP holds
// them), in the tag's `version`.
std::vector<TagItem> itemsOf(const Bytes &id3v2);
std::vector<TagItem> itemsWithin(const Bytes &body, std::size_t at, int version);

// The tag with the text frames (T..., but TXXX) of `newer`, a tag written
// after it (at the end of the file), in place of its own: the newest of
// fields found in both wins. Where the tag's version cannot hold a frame's
// encoding (UTF-8, UTF-16BE in version 2.3), ASCII goes as Latin-1 and the
// rest is left out.
Bytes withNewer(const Bytes &id3v2, const Bytes &newer);

// A chapter (an ID3v2 CHAP frame): its element id, where it begins and ends
// in milliseconds of what is heard, and the frames within it (TIT2, TPE1).
struct Chapter {
  std::string id;
  std::uint32_t startMs = 0, endMs = 0;
  std::vector<TagItem> within;
};
// The tag with its chapters (CHAP) and tables of contents (CTOC) replaced
// by `chapters` and one top-level, ordered table of contents, element id
// "toc", listing them in order (at most 255); its other frames kept as they
// are, in their order, and its size where the frames fit in it. An empty tag
// becomes a new version 2.3 tag; an extended header goes, as a checksum in
// it would no longer hold. Empty where the tag is of a form this cannot edit
// safely (version 2.2, unsynchronised as a whole, malformed). `replaced`
// counts the chapters that it had.
Bytes withChapters(const Bytes &id3v2, const std::vector<Chapter> &chapters, std::size_t *replaced);

// The tag without its frames of the ids `ids` (their place taken by its
// padding), and in `removed` those frames whole, each after where it began
// and its size (4 bytes each, big-endian); the tag unchanged, and nothing
// removed, where it is of a form this cannot edit safely.
Bytes withoutFrames(const Bytes &id3v2, const std::vector<std::string> &ids, Bytes &removed);
// The tag with the frames that withoutFrames took out of it back in their
// places, their room taken from its padding: the tag it was given, byte for
// byte, where nothing else changed in between.
Bytes withFramesBack(const Bytes &id3v2, const Bytes &removed);

// The text of the tag's TRCK frame, where it is ASCII, in any encoding.
std::string trackOf(const Bytes &id3v2);

// The body of the tag's first frame `id` (a text frame's begins with its
// encoding), where it is neither compressed nor otherwise transformed;
// empty where there is none.
Bytes frameBody(const Bytes &id3v2, const std::string &id);
// The tag with frame `id` holding `body`, in the place and with the status
// flags of the first such frame (appended where there is none), the others
// removed; removed where `body` is empty. Padded to `size` where the frames
// leave room.
Bytes withFrame(const Bytes &id3v2, const std::string &id, const Bytes &body, std::size_t size);
// The tag with text frame `id` set to `text` (ASCII) in the encoding of the
// frame it replaces, and with its size where its padding allows.
Bytes withText(const Bytes &id3v2, const std::string &id, const std::string &text);
// A text frame's body: `text` (ASCII) in `encoding` (0 Latin-1, 1 UTF-16
// with a BOM, 2 UTF-16BE, 3 UTF-8), no terminator (in version 2.4 a NUL
// begins another value).
Bytes textBody(const std::string &text, unsigned char encoding);
// The ASCII text of a text frame's body, in any encoding, up to a NUL; ""
// where it is not ASCII.
std::string bodyText(const Bytes &body);
// The digits of the tag's TLEN frame, in any encoding; "" where it has none.
std::string digitsOf(const Bytes &id3v2);

// For the join of pieces cut before TLEN was rewritten whole: `digits` in
// place of the Latin-1 or UTF-8 digits of the tag's TLEN frame, NULs after
// them where they are fewer; false, and the tag unchanged, where they are
// more or the frame holds other text.
bool setLength(Bytes &id3v2, const std::string &digits);

// An ID3v1 tag (128 bytes) with its track set: 1 to 255 makes it ID3v1.1,
// 0 removes the track.
void setTrack(unsigned char *id3v1, int track);

}  // namespace mpeg
