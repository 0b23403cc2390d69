#pragma once

#include <cstdint>
#include <stdexcept>

#include <QString>

// Number conversions that raise instead of returning a flag, so that a handler
// reading a number ends at the first text that is not one.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A decimal integer: optional leading blanks, an optional sign, digits; it must
// fit in 32 bits.
std::int32_t StrToInt(const QString &text);

// A decimal number with the locale's decimal separator (the C locale's "."
// is accepted as well).
double StrToFloat(const QString &text);
