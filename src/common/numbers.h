// The two number-reading rules every module shares, and the general number format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zibu {

// Integer rule: leading blanks, an optional sign, then either "$", "x", "X", "0x" or "0X"
// followed by hexadecimal digits, or decimal digits; nothing may follow. Anything else,
// and a value outside the type's range, raises ConversionError ("'abc' is not a valid integer value").
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
// The same rule, giving `fallback` instead of raising.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
std::optional<int32_t> TryStrToInt(std::string_view text);
std::optional<int64_t> TryStrToInt64(std::string_view text);

// Floating-point rule: optional blanks around, a sign, digits with one decimal point ".",
// an optional exponent. Anything else raises ConversionError ("'abc' is not a valid floating point value").
double StrToFloat(std::string_view text);
std::optional<double> TryStrToFloat(std::string_view text);

// General format with 15 significant digits: integers below 10^15 come out as plain digits.
std::string FloatToStr(double value);

}  // namespace zibu
