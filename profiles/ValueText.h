// A property's raw value as the program shows it, and the raw value of a typed text: the
// conversions every display and input (and the command line) share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "profiles/ModbusProperties.h"

// With a "viewformat" keyword: that format filled with the engineering value (raw × divisor
// for RangedFix, the raw value otherwise). Without one: RangedFix values with the decimals the
// divisor allows and no trailing zeros (divisor 0.01: 1234 → "12.34", 1200 → "12", 5 → ".05");
// every other kind as a plain integer. A divisor of 0 becomes 1 in `property`.
std::string PropertyValueToString(ModbusProperty& property, int32_t raw);
// RangedFix: the text read as a decimal number, divided by the divisor and truncated toward
// zero; other kinds: the text read as an integer. Leading blanks and trailing text are ignored.
int32_t StringToPropertyValue(ModbusProperty& property, std::string_view text);

// A printf-style format filled with one floating-point value, safely: the format comes from a
// profile, so only floating conversions (f F e E g G a A with flags "-+ 0#", a width up to 64,
// a precision up to 32 and an optional l or L) take the value, "%%" prints "%", and anything
// else (%s, %n, %d, ...) is copied as written.
std::string FormatDouble(std::string_view format, double value);
