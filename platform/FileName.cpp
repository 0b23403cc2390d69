#include "FileName.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at p[0..n), 0 when there is none.
int validSequence(const unsigned char *p, qsizetype n, char32_t &code) {
  const unsigned char b = p[0];
  int length = 0;
  char32_t min = 0;
  if (b < 0x80) {
    code = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    length = 2, code = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    length = 3, code = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    length = 4, code = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  // No overlong forms, no surrogates, nothing past U+10FFFF.
  if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

QString decodeFileName(const QByteArray &bytes) {
  QString name;
  name.reserve(bytes.size());
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
  for (qsizetype i = 0; i < bytes.size();) {
    char32_t code = 0;
    const int length = validSequence(p + i, bytes.size() - i, code);
    if (length == 0) {
      name += QChar(static_cast<char16_t>(0xDC00 + p[i]));
      ++i;
      continue;
    }
    name += QString::fromUcs4(&code, 1);
    i += length;
  }
  return name;
}

QByteArray encodeFileName(const QString &name) {
  QByteArray bytes;
  bytes.reserve(name.size());
  for (qsizetype i = 0; i < name.size(); ++i) {
    const char16_t c = name[i].unicode();
    const bool pair = QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate();
    if (c >= 0xDC80 && c <= 0xDCFF) {
      bytes += static_cast<char>(c - 0xDC00);  // a byte that was not UTF-8
    } else if (pair) {
      bytes += QString(name.constData() + i, 2).toUtf8();
      ++i;
    } else {
      bytes += QString(name[i]).toUtf8();
    }
  }
  return bytes;
}
