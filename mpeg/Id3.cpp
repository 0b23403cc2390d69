#include "Id3.h"

#include <algorithm>
#include <cstring>

#include "Frame.h"

namespace mpeg {
namespace {

struct TagFrame {
  std::size_t at = 0;    // where its header begins
  std::size_t size = 0;  // header included
  std::string id;
};

std::size_t synchsafe(const unsigned char *p) {
  return (std::size_t{p[0]} << 21) | (std::size_t{p[1]} << 14) | (std::size_t{p[2]} << 7) | p[3];
}

void putSize(unsigned char *p, std::size_t v, bool safe) {
  for (int i = 3; i >= 0; --i) {
    p[i] = static_cast<unsigned char>(safe ? v & 0x7F : v & 0xFF);
    v >>= safe ? 7 : 8;
  }
}

// The frames of a version 2.3 or 2.4 tag; false for a tag not to be edited.
bool framesOf(const Bytes &tag, std::vector<TagFrame> &frames, std::size_t &firstFrame, std::size_t &end) {
  if (tag.size() < 10 || std::memcmp(tag.data(), "ID3", 3) != 0) return false;
  const int version = tag[3];
  const std::int64_t whole = id3v2Size(tag.data());
  if ((version != 3 && version != 4) || (tag[5] & 0x80) || whole < 0) return false;
  // The frames end where the footer, if any, begins.
  end = std::min(tag.size(), static_cast<std::size_t>(whole) - ((tag[5] & 0x10) ? 10 : 0));
  std::size_t at = 10;
  if (tag[5] & 0x40) {  // an extended header
    if (end < 14) return false;
    at += version == 4 ? synchsafe(tag.data() + 10) : 4 + std::size_t{bigEndian32(tag.data() + 10)};
  }
  firstFrame = at;
  while (at + 10 <= end && tag[at] != 0) {
    const std::size_t size = version == 4 ? synchsafe(tag.data() + at + 4) : std::size_t{bigEndian32(tag.data() + at + 4)};
    if (at + 10 + size > end) return false;
    frames.push_back({at, 10 + size, std::string(reinterpret_cast<const char *>(tag.data() + at), 4)});
    at += 10 + size;
  }
  return firstFrame <= end;
}

}  // namespace

std::int64_t id3v2Size(const unsigned char *t) {
  if (std::memcmp(t, "ID3", 3) != 0) return 0;
  if ((t[6] | t[7] | t[8] | t[9]) & 0x80) return -1;
  return 10 + ((t[5] & 0x10) ? 10 : 0) + static_cast<std::int64_t>(synchsafe(t + 6));
}

namespace {

// The tag with its frames `id` (of PRIV, only those of `owner`) replaced by
// one holding `body`, or removed where `body` is empty; padded to `size`
// where the frames leave room. An empty tag becomes a new version 2.3 tag
// where there is a body to hold.
Bytes replaceFrame(const Bytes &id3v2, const std::string &id, const std::string &owner, const Bytes &body,
                   std::size_t size) {
  Bytes tag = id3v2;
  if (tag.empty()) {
    if (body.empty()) return tag;
    tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
  }
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(tag, frames, firstFrame, end)) return id3v2;
  const bool v4 = tag[3] == 4;
  auto replaced = [&](const TagFrame &f) {
    if (f.id != id) return false;
    if (owner.empty()) return true;
    const std::size_t n = owner.size() + 1;
    return f.size >= 10 + n && std::memcmp(tag.data() + f.at + 10, owner.c_str(), n) == 0;
  };
  Bytes out(tag.begin(), tag.begin() + static_cast<std::ptrdiff_t>(firstFrame));
  // The new frame takes the place and the status flags of the first it
  // replaces; where there is none, it comes last.
  auto put = [&](const unsigned char *header) {
    const std::size_t at = out.size();
    out.resize(at + 10, 0);
    std::memcpy(out.data() + at, id.c_str(), 4);
    putSize(out.data() + at + 4, body.size(), v4);
    if (header) out[at + 8] = header[8];
    out.insert(out.end(), body.begin(), body.end());
  };
  bool placed = body.empty();
  for (const TagFrame &f : frames) {
    if (!replaced(f)) {
      out.insert(out.end(), tag.begin() + static_cast<std::ptrdiff_t>(f.at),
                 tag.begin() + static_cast<std::ptrdiff_t>(f.at + f.size));
    } else if (!placed) {
      put(tag.data() + f.at);
      placed = true;
    }
  }
  if (!placed) put(nullptr);
  if (out.size() < size) out.resize(size, 0);   // the padding takes up the difference
  out[5] &= static_cast<unsigned char>(~0x10);  // no footer
  putSize(out.data() + 6, out.size() - 10, true);
  return out;
}


std::size_t sizeOf(const Bytes &id3v2) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  return framesOf(id3v2, frames, firstFrame, end) ? end : 0;
}

}  // namespace

Bytes textBody(const std::string &text, unsigned char encoding) {
  if (text.empty()) return {};
  Bytes body{encoding};
  if (encoding == 1) body.insert(body.end(), {0xFF, 0xFE});
  for (const char c : text) {
    if (encoding == 2) body.push_back(0);
    body.push_back(static_cast<unsigned char>(c));
    if (encoding == 1) body.push_back(0);
  }
  return body;
}

std::string bodyText(const Bytes &body) {
  if (body.empty() || body[0] > 3) return {};
  std::string text;
  if (body[0] == 0 || body[0] == 3) {
    text.assign(body.begin() + 1, body.end());
  } else {
    // UTF-16, its byte order as the BOM says (none: big-endian), ASCII only.
    std::size_t at = 1;
    bool little = false;
    if (body[0] == 1 && body.size() >= 3 && ((body[1] == 0xFF && body[2] == 0xFE) || (body[1] == 0xFE && body[2] == 0xFF))) {
      little = body[1] == 0xFF;
      at = 3;
    }
    for (; at + 1 < body.size(); at += 2) {
      const unsigned unit = little ? body[at] | (body[at + 1] << 8) : (body[at] << 8) | body[at + 1];
      if (unit == 0) break;
      if (unit > 0x7F) return {};
      text.push_back(static_cast<char>(unit));
    }
  }
  return text.substr(0, text.find('\0'));
}

Bytes frameBody(const Bytes &id3v2, const std::string &id) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(id3v2, frames, firstFrame, end)) return {};
  for (const TagFrame &f : frames)
    // A compressed or otherwise transformed frame is not read.
    if (f.id == id && id3v2[f.at + 9] == 0)
      return Bytes(id3v2.begin() + static_cast<std::ptrdiff_t>(f.at + 10),
                   id3v2.begin() + static_cast<std::ptrdiff_t>(f.at + f.size));
  return {};
}

Bytes withFrame(const Bytes &id3v2, const std::string &id, const Bytes &body, std::size_t size) {
  return replaceFrame(id3v2, id, {}, body, size);
}

Bytes withText(const Bytes &id3v2, const std::string &id, const std::string &text) {
  const Bytes old = frameBody(id3v2, id);
  const unsigned char encoding = old.empty() || old[0] > 3 ? 0 : old[0];
  return replaceFrame(id3v2, id, {}, textBody(text, encoding), sizeOf(id3v2));
}

Bytes withTrack(const Bytes &id3v2, const std::string &track) { return withText(id3v2, "TRCK", track); }

Bytes withTrack(const Bytes &id3v2, const std::string &track, std::size_t size) {
  return replaceFrame(id3v2, "TRCK", {}, textBody(track, 0), size);
}

Bytes withPrivate(const Bytes &id3v2, const std::string &owner, const Bytes &data) {
  Bytes body;
  if (!data.empty()) {
    body.assign(owner.begin(), owner.end());
    body.push_back(0);
    body.insert(body.end(), data.begin(), data.end());
  }
  return replaceFrame(id3v2, "PRIV", owner, body, sizeOf(id3v2));
}

Bytes privateOf(const Bytes &id3v2, const std::string &owner) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(id3v2, frames, firstFrame, end)) return {};
  const std::size_t n = owner.size() + 1;
  for (const TagFrame &f : frames)
    if (f.id == "PRIV" && f.size >= 10 + n && std::memcmp(id3v2.data() + f.at + 10, owner.c_str(), n) == 0)
      return Bytes(id3v2.begin() + static_cast<std::ptrdiff_t>(f.at + 10 + n),
                   id3v2.begin() + static_cast<std::ptrdiff_t>(f.at + f.size));
  return {};
}

std::vector<TagItem> itemsOf(const Bytes &id3v2) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  std::vector<TagItem> items;
  if (!framesOf(id3v2, frames, firstFrame, end)) return items;
  for (const TagFrame &f : frames)
    items.push_back({f.id, Bytes(id3v2.begin() + static_cast<std::ptrdiff_t>(f.at + 10),
                                 id3v2.begin() + static_cast<std::ptrdiff_t>(f.at + f.size))});
  return items;
}

Bytes withNewer(const Bytes &id3v2, const Bytes &newer) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(id3v2, frames, firstFrame, end)) return id3v2;
  Bytes tag = id3v2;
  for (TagItem &item : itemsOf(newer)) {
    if (item.id[0] != 'T' || item.id == "TXXX" || item.body.empty() || item.body[0] > 3) continue;
    if (id3v2[3] == 3 && item.body[0] >= 2) {
      // Version 2.3 holds Latin-1 and UTF-16 with a BOM only.
      if (item.body[0] == 2 || !std::all_of(item.body.begin() + 1, item.body.end(), [](unsigned char c) { return c < 0x80; }))
        continue;
      item.body[0] = 0;
    }
    tag = replaceFrame(tag, item.id, {}, item.body, tag.size());
  }
  return tag;
}

std::vector<TagItem> itemsWithin(const Bytes &body, std::size_t at, int version) {
  std::vector<TagItem> items;
  while (at + 10 <= body.size() && body[at] != 0) {
    const unsigned char *h = body.data() + at;
    const std::size_t size = version == 4 ? synchsafe(h + 4)
                                          : (std::size_t{h[4]} << 24) | (std::size_t{h[5]} << 16) | (h[6] << 8) | h[7];
    if (size > body.size() - at - 10) break;
    items.push_back({std::string(reinterpret_cast<const char *>(h), 4),
                     Bytes(body.begin() + static_cast<std::ptrdiff_t>(at + 10),
                           body.begin() + static_cast<std::ptrdiff_t>(at + 10 + size))});
    at += 10 + size;
  }
  return items;
}

namespace {

// A frame's header and body, its size written as the tag's version has it.
void appendFrame(Bytes &out, const std::string &id, const Bytes &body, bool v4) {
  const std::size_t at = out.size();
  out.resize(at + 10, 0);
  std::memcpy(out.data() + at, id.data(), 4);
  putSize(out.data() + at + 4, body.size(), v4);
  out.insert(out.end(), body.begin(), body.end());
}

void appendWord(Bytes &out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

}  // namespace

Bytes withoutFrames(const Bytes &id3v2, const std::vector<std::string> &ids, Bytes &removed) {
  removed.clear();
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(id3v2, frames, firstFrame, end)) return id3v2;
  Bytes out(id3v2.begin(), id3v2.begin() + static_cast<std::ptrdiff_t>(firstFrame));
  for (const TagFrame &f : frames) {
    const auto from = id3v2.begin() + static_cast<std::ptrdiff_t>(f.at), to = from + static_cast<std::ptrdiff_t>(f.size);
    if (std::find(ids.begin(), ids.end(), f.id) == ids.end()) {
      out.insert(out.end(), from, to);
    } else {
      appendWord(removed, static_cast<std::uint32_t>(f.at));
      appendWord(removed, static_cast<std::uint32_t>(f.size));
      removed.insert(removed.end(), from, to);
    }
  }
  if (removed.empty()) return id3v2;
  out.resize(end, 0);  // the padding takes up the difference
  out[5] &= static_cast<unsigned char>(~0x10);  // no footer
  putSize(out.data() + 6, out.size() - 10, true);
  return out;
}

Bytes withFramesBack(const Bytes &id3v2, const Bytes &removed) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (removed.empty() || !framesOf(id3v2, frames, firstFrame, end)) return id3v2;
  const std::size_t framesEnd = frames.empty() ? firstFrame : frames.back().at + frames.back().size;
  Bytes out(id3v2.begin(), id3v2.begin() + static_cast<std::ptrdiff_t>(framesEnd));
  for (std::size_t at = 0; at + 8 <= removed.size();) {
    const std::size_t place = bigEndian32(&removed[at]);
    const std::size_t size = bigEndian32(&removed[at + 4]);
    // Frames in the order they stood, each where the ones before it end.
    if (size > removed.size() - at - 8 || place < firstFrame || place > out.size()) return id3v2;
    const auto from = removed.begin() + static_cast<std::ptrdiff_t>(at + 8);
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(place), from, from + static_cast<std::ptrdiff_t>(size));
    at += 8 + size;
  }
  if (out.size() < end) out.resize(end, 0);
  putSize(out.data() + 6, out.size() - 10, true);
  return out;
}

Bytes withChapters(const Bytes &id3v2, const std::vector<Chapter> &chapters, std::size_t *replaced) {
  if (replaced) *replaced = 0;
  if (chapters.size() > 255) return {};
  const Bytes tag = id3v2.empty() ? Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0} : id3v2;
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(tag, frames, firstFrame, end)) return {};
  const bool v4 = tag[3] == 4;
  // The header, without an extended header or a footer.
  Bytes out(tag.begin(), tag.begin() + 10);
  out[5] &= static_cast<unsigned char>(~0x50);
  for (const TagFrame &f : frames) {
    if (f.id == "CHAP" || f.id == "CTOC") {
      if (f.id == "CHAP" && replaced) ++*replaced;
      continue;
    }
    out.insert(out.end(), tag.begin() + static_cast<std::ptrdiff_t>(f.at),
               tag.begin() + static_cast<std::ptrdiff_t>(f.at + f.size));
  }
  Bytes toc{'t', 'o', 'c', 0, 0x03, static_cast<unsigned char>(chapters.size())};
  for (const Chapter &c : chapters) {
    toc.insert(toc.end(), c.id.begin(), c.id.end());
    toc.push_back(0);
  }
  appendFrame(out, "CTOC", toc, v4);
  for (const Chapter &c : chapters) {
    Bytes body(c.id.begin(), c.id.end());
    body.push_back(0);
    appendWord(body, c.startMs);
    appendWord(body, c.endMs);
    // No byte offsets: players go by the times.
    appendWord(body, 0xFFFFFFFF);
    appendWord(body, 0xFFFFFFFF);
    for (const TagItem &item : c.within) appendFrame(body, item.id, item.body, v4);
    appendFrame(out, "CHAP", body, v4);
  }
  if (out.size() < end) out.resize(end, 0);  // the padding takes up the difference
  putSize(out.data() + 6, out.size() - 10, true);
  return out;
}

std::string trackOf(const Bytes &id3v2) { return bodyText(frameBody(id3v2, "TRCK")); }

std::string digitsOf(const Bytes &id3v2) {
  const std::string text = bodyText(frameBody(id3v2, "TLEN"));
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })
             ? text
             : std::string();
}

namespace {

// Where the text of the tag's TLEN frame lies, [first, last): Latin-1 or
// UTF-8 digits up to `digits`, then nothing but NULs, in a frame neither
// compressed nor otherwise transformed. Nothing found: an empty range.
struct LengthField {
  std::size_t first = 0, digits = 0, last = 0;
};
LengthField lengthField(const Bytes &id3v2) {
  std::vector<TagFrame> frames;
  std::size_t firstFrame = 0, end = 0;
  if (!framesOf(id3v2, frames, firstFrame, end)) return {};
  for (const TagFrame &f : frames) {
    if (f.id != "TLEN" || f.size < 12 || id3v2[f.at + 9] != 0) continue;
    const unsigned char encoding = id3v2[f.at + 10];
    if (encoding != 0 && encoding != 3) return {};
    LengthField field{f.at + 11, f.at + 11, f.at + f.size};
    while (field.digits < field.last && id3v2[field.digits] >= '0' && id3v2[field.digits] <= '9') ++field.digits;
    if (field.digits == field.first ||
        !std::all_of(id3v2.begin() + static_cast<std::ptrdiff_t>(field.digits),
                     id3v2.begin() + static_cast<std::ptrdiff_t>(field.last), [](unsigned char c) { return c == 0; }))
      return {};
    return field;
  }
  return {};
}

}  // namespace

bool setLength(Bytes &id3v2, const std::string &digits) {
  const LengthField field = lengthField(id3v2);
  if (field.first == field.last || digits.size() > field.last - field.first) return false;
  const auto at = id3v2.begin() + static_cast<std::ptrdiff_t>(field.first);
  std::fill(std::copy(digits.begin(), digits.end(), at), id3v2.begin() + static_cast<std::ptrdiff_t>(field.last), 0);
  return true;
}

void setTrack(unsigned char *id3v1, int track) {
  if (track <= 0 || track > 255) {
    if (id3v1[125] == 0) id3v1[126] = 0;
    return;
  }
  id3v1[125] = 0;
  id3v1[126] = static_cast<unsigned char>(track);
}

}  // namespace mpeg
