// A property's raw value as the program shows it, and the raw value of a typed text: the
// conversions every display and input (and the command line) share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "profiles/ModbusProperties.h"

// With a "viewformat" keyword: that format filled with the engineering value (raw × divisor
// for RangedFix, the raw value otherwise). Without one: RangedFix values with the decimals the
// divisor allows and no trailing zeros (divisor 0.01: 1234 → "12.34", 1200 → "12", 5 → ".05");
// every other kind as a plain integer. A divisor of 0 becomes 1 in `property`.
std::string PropertyValueToString(ModbusProperty& property, int32_t raw);
// The value as the command line and recordings show it: `PropertyValueToString`, and for a
// Natural property whose raw value indexes its item texts, that item in brackets ("1 (Пуск)").
std::string PropertyValueShown(ModbusProperty property, int32_t raw);
// RangedFix: the text read as a decimal number, divided by the divisor and truncated toward
// zero; other kinds: the text read as an integer. Leading blanks and trailing text are ignored.
int32_t StringToPropertyValue(ModbusProperty& property, std::string_view text);

// The unit a caption names after its last comma ("Задание частоты, Гц" gives "Гц"); empty
// when it names none.
std::string PropertyUnit(const ModbusProperty& property);
// The raw value of a typed text, checked before anything is sent. The text must be a number
// as a whole (a decimal number for RangedFix, an integer otherwise; blanks around it allowed)
// or, for a Natural property with items, one of the item texts; it is converted as
// `StringToPropertyValue` does. The value must lie within the property's raw range (unless
// the profile gave it upside down), for items be one of the items, and fit the register as
// `ModbusMapping::RawLimits` says. Otherwise nullopt, and `why` says what is wrong as a phrase
// that follows the typed text ("is not a number", "is outside the range 0 to 50 Hz").
std::optional<int32_t> CheckedStringToPropertyValue(ModbusProperty& property, std::string_view text, std::string& why);

// A printf-style format filled with one floating-point value, safely: the format comes from a
// profile, so only floating conversions (f F e E g G a A with flags "-+ 0#", a width up to 64,
// a precision up to 32 and an optional l or L) take the value, "%%" prints "%", and anything
// else (%s, %n, %d, ...) is copied as written.
std::string FormatDouble(std::string_view format, double value);
