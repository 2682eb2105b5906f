#pragma once
// The two number syntaxes read from requests and ALC columns, and the general number format of responses.
//
// Whole-number text: optional leading spaces (U+0020), optional "+" or "-", then decimal digits in
// -2147483648..2147483647, or a hexadecimal prefix ("$", "x", "X", "0x", "0X") and hexadecimal digits that
// fit in 32 bits, read as a signed pattern ("$FFFFFFFF" is -1). Nothing may follow.
//
// Decimal-number text: optional leading spaces, optional sign, digits with at most one "." (always ".",
// whatever the locale), optional exponent ("E"/"e", optional sign, at least one digit). Nothing may follow.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/FormatSettings.h"

namespace zelto {

bool TryParseWholeNumber(std::string_view text, int32_t& value);
bool IsWholeNumberText(std::string_view text);

// value gets the nearest double; a text too large for a double gives an infinity, one too small zero.
bool TryParseDecimalNumber(std::string_view text, double& value);
bool IsDecimalNumberText(std::string_view text);

// General format, 15 significant digits: fixed notation for 0.0001 <= |x| < 1e15, otherwise scientific
// ("1E-5", "1.5E20"); no trailing zeros; "0" for zero; "INF", "-INF", "NAN".
std::string FormatGeneral(double x, const TFormatSettings& fs);
std::string FormatGeneral(double x);

}  // namespace zelto
