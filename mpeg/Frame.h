#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// MPEG audio frames: headers, side information and the walk over a stream.
namespace mpeg {

// Raised when the file cannot be read.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads `size` bytes at `offset` of the file; false with errno set (EIO
// where the file ends first).
bool readAt(int fd, unsigned char *to, std::size_t size, std::int64_t offset);

struct Header {
  int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
  int layer = 0;
  int bitrateIndex = 0;
  long bitrate = 0;  // bits per second
  long rate = 0;
  int size = 0;     // bytes, header included
  int samples = 0;  // per channel
  bool mono = false;
  bool crc = false;
  bool padding = false;
};

// Decodes the four header bytes. Returns false for anything libmpg123 would
// not take as a frame header, and for free format, which is left to it; the
// reserved emphasis it plays, and so is it taken here.
bool parseHeader(const unsigned char *p, Header &h);

// The four header bytes of `h` with another bitrate index, no padding and no
// checksum; `from` gives the fields that stay (mode, flags, emphasis).
void makeHeader(const unsigned char *from, int bitrateIndex, unsigned char *out);
// The frame size in bytes of `from`'s stream at another bitrate index, unpadded.
int frameSizeAt(const Header &from, int bitrateIndex);

// Layer III: bytes of side information, and where the main data area begins
// (after the header, the checksum and the side information).
int sideInfoSize(const Header &h);
int mainDataOffset(const Header &h);
// Layer III: how many bytes before its main data area a frame's data begins
// (9 bits in MPEG-1, 8 in MPEG-2 and 2.5). `frame` holds the whole frame.
int mainDataBegin(const unsigned char *frame, const Header &h);
// The most that main_data_begin can reach back.
inline int maxReservoir(const Header &h) { return h.version == 1 ? 511 : 255; }

std::uint32_t bigEndian32(const unsigned char *p);

// A Xing/Info tag in the first frame, read as libmpg123 reads it: the tag
// counts only where the side information before it is zero (its first two
// bytes aside), and its encoder delay and padding trim the playing length
// only when it also gives a frame count.
struct InfoTag {
  bool present = false;
  bool doubtful = false;  // a form whose reading is left to libmpg123
  std::int64_t frames = 0;
  int delay = 0;
  int padding = 0;
  int lameAt = -1;  // where the LAME fields begin in the frame, or -1
};
InfoTag readInfoTag(const unsigned char *frame, const Header &h);

// libmpg123's decoder delay, which its gapless trimming adds to both ends.
inline constexpr std::int64_t kDecoderDelay = 529;

// Bytes that decoders pass over, and the walk with them: they go into no
// piece of an exact cut.
struct Passed {
  enum class Kind { junk, zeros, id3v2, id3v1, ape, lyrics3 };
  Kind kind = Kind::junk;
  std::int64_t at = 0, length = 0;  // from where the walk began
  std::int64_t beforeFrame = 0;     // the audio frame that follows them (the frame count at the end)
};
const char *kindName(Passed::Kind kind);

// Where the frames change their format (version, layer, rate, mono or not)
// in the middle of a stream, as in files written one after the other.
struct FormatChange {
  std::int64_t frame = 0;  // the first audio frame of the new format
  std::int64_t at = 0;
  Header header;
  unsigned char bytes[4] = {};
};

// The same version, layer, rate and channel count: one decoder setting.
inline bool sameFormat(const Header &a, const Header &b) {
  return a.version == b.version && a.layer == b.layer && a.rate == b.rate && a.mono == b.mono;
}

// A stream as the walk found it.
struct Stream {
  Header first;                 // of the first frame
  InfoTag info;                 // of the first frame
  std::int64_t frames = 0;      // audio frames; a tag frame is not audio
  std::int64_t tagEnd = 0;      // where the ID3v2 tag ends
  std::int64_t firstFrame = 0;  // where the first frame begins, a tag frame included
  std::int64_t junk = 0;        // bytes between the two, where taken
  std::int64_t audioStart = 0;  // the first audio frame's offset
  std::int64_t audioEnd = 0;    // where the last frame ends
  bool id3v1 = false;           // 128 bytes of ID3v1 tag follow the last frame
  std::int64_t cutEnd = 0;      // bytes of a frame cut short at the end, where taken
  // Lenient walks only: what was passed over after the first frame, the
  // trailing tags included, in the order of the file; the changes of format.
  std::vector<Passed> passed;
  std::vector<FormatChange> changes;
  std::int64_t id3v1At = -1;     // where the ID3v1 tag kept begins (the last one), or -1
  std::int64_t endId3v2At = -1;  // where an ID3v2 tag among the trailing tags begins, or -1
  std::int64_t endId3v2Size = 0;
  // The decoded samples per channel of the whole stream before trimming,
  // and where libmpg123's gapless output begins and ends in them.
  std::int64_t rawSamples() const { return frames * first.samples; }
  std::int64_t trimBegin = 0, trimEnd = 0;
  std::int64_t samples() const { return trimEnd - trimBegin; }
};

// The tags at the end of a file (ID3v1, ID3v2 with its footer, APE,
// Lyrics3 v1 and v2, in any order), found from the last backwards, none
// beginning before `floor`; they begin at `start`. An ID3v2 tag is one where
// its header and footer give the same size, synchsafe in both.
struct EndTags {
  std::int64_t start = 0;
  std::vector<Passed> tags;  // in the order of the file
};
EndTags readEndTags(int fd, std::int64_t fileSize, std::int64_t floor);

// Walks the frame headers of a plain, well-formed stream (optional ID3v2 tag,
// back-to-back frames of one version, layer and rate, optional ID3v1 tag),
// read from the file's current offset; `onFrame(index, offset)` is called
// for every audio frame, and `onBytes`
// hears of every byte read, once, in order, before the walk looks at it.
// Returns nothing for anything else, so that the caller can ask libmpg123;
// raises ReadError when reading fails. With `lenient`, what decoders pass
// over is taken as well and counted: junk before the first frame (up to
// where two frames follow one another), the tags at the end, and between
// frames junk, zero runs, damaged bytes and tags (the walk finds the frames
// again where two of a kind follow one another), a last frame cut short
// (which ends the stream), and changes of format. An Info frame after the
// first frame is audio, as libmpg123 decodes it. A lenient walk reads from
// the start of the file.
using FrameSeen = std::function<void(std::int64_t index, std::int64_t offset)>;
// Bytes of a file as they are read: offsets from where the reading began.
using BytesRead = std::function<void(std::int64_t offset, const unsigned char *bytes, std::size_t size)>;
// Where and why a lenient walk gave up, where it can tell.
struct WalkError {
  std::int64_t frame = -1;  // the audio frame it stopped at, or -1
  std::int64_t at = -1;     // the byte it stopped at, or -1
  std::string reason;
};
// `onFirst(stream)`, where given, hears of the first frame's header and
// Info tag before the first audio frame is counted. `frameSum`, where
// given, is fed every audio frame's bytes in order (what lies between them
// and the Info frame not).
using FirstSeen = std::function<void(const Stream &)>;
class Sum64;
std::optional<Stream> walk(int fd, const FrameSeen &onFrame, bool lenient = false, const BytesRead &onBytes = {},
                           WalkError *error = nullptr, const FirstSeen &onFirst = {}, Sum64 *frameSum = nullptr);

// What walk() most likely finds, from the file's size, its ID3v2 tag, its
// first frame and its last 128 bytes alone, without moving the file's
// offset: a guess to begin work by, never a fact. The frames are those that
// a Xing tag counts, or at one bitrate the audio bytes shared out at the
// first frame's size. Nothing when the file does not begin so.
std::optional<Stream> estimate(int fd);

}  // namespace mpeg
