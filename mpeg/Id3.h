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

// The text of the tag's TRCK frame, if it has one in Latin-1 or UTF-8.
std::string trackOf(const Bytes &id3v2);

// The digits of the tag's TLEN frame (the length in milliseconds), where it
// has one as Latin-1 or UTF-8 text of digits alone; else "".
std::string lengthOf(const Bytes &id3v2);
// Writes `digits` in place of the frame's text, NULs after them where they
// are fewer; false, and the tag unchanged, where they are more. Nothing else
// of the tag moves.
bool setLength(Bytes &id3v2, const std::string &digits);

// An ID3v1 tag (128 bytes) with its track set: 1 to 255 makes it ID3v1.1,
// 0 removes the track.
void setTrack(unsigned char *id3v1, int track);

}  // namespace mpeg
