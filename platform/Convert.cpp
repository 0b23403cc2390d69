#include "Convert.h"

#include <limits>

#include <QLocale>

namespace {
[[noreturn]] void invalid(const QString &text, const char *what) {
  throw EConvertError(QStringLiteral("'%1' is not a valid %2").arg(text, QLatin1String(what)).toStdString());
}
}  // namespace

std::int32_t StrToInt(const QString &text) {
  qsizetype i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  if (i == text.size()) invalid(text, "integer value");
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') invalid(text, "integer value");
    value = value * 10 + (c - u'0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + (negative ? 1 : 0))
      invalid(text, "integer value");
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

double StrToFloat(const QString &text) {
  bool ok = false;
  const QString trimmed = text.trimmed();
  double value = QLocale().toDouble(trimmed, &ok);
  if (!ok) value = QLocale::c().toDouble(trimmed, &ok);
  if (!ok) invalid(text, "floating point value");
  return value;
}
