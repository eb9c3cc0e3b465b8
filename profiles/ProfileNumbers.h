// How numbers written in device profiles are read.
//
// Profiles are written by hand, so numbers are read leniently and never fail: leading blanks,
// an optional sign, then digits up to the first other character; no digits at all read as 0.
// The readers do not depend on the process locale (a GUI may switch LC_NUMERIC to one whose
// decimal separator is a comma; profiles always use a point).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace profilenumbers {

// An integer, read like the C function atoi. Values outside the 32-bit range saturate at its
// limits instead of wrapping.
std::int32_t ReadInt(std::string_view text);

// A real number, read like the C function atof in the "C" locale (decimal point, exponent,
// "inf" and "nan" forms included).
double ReadReal(std::string_view text);

// A hexadecimal number with an optional "0x" prefix, read like strtoull with base 16;
// no hexadecimal digits read as 0.
std::uint64_t ReadHex(std::string_view text);

// Truncates toward zero into the 32-bit range: NaN gives 0, values beyond the range saturate.
// A plain cast would be undefined behaviour for such values.
std::int32_t TruncateToInt32(double value);

// The shortest text printf's "%lg" gives for the value, in the "C" locale.
std::string FormatShortReal(double value);

// ASCII case-insensitive equality, as profile element names compare.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace profilenumbers
