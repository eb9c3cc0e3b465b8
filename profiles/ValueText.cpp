#include "profiles/ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <clocale>

#include "profiles/ProfileNumbers.h"

namespace {
// printf follows LC_NUMERIC, which a GUI may set to a locale with a decimal comma; values are
// always shown with a point, as the profiles write them.
std::string WithDecimalPoint(std::string text) {
  const char* point = std::localeconv()->decimal_point;
  if (point == nullptr || std::strcmp(point, ".") == 0 || *point == '\0') return text;
  const std::string_view separator(point);
  std::string out;
  for (size_t at = 0; at < text.size();) {
    if (std::string_view(text).substr(at, separator.size()) == separator) {
      out += '.';
      at += separator.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}
}  // namespace

std::string FormatDouble(std::string_view format, double value) {
  std::string out;
  size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // %[flags][width][.precision][l|L]conversion
    size_t j = i + 1;
    // strchr also finds the terminating NUL: a NUL byte in the format would pass as a flag and
    // cut the conversion short where printf reads it.
    while (j < format.size() && format[j] != '\0' && std::strchr("-+ 0#", format[j]) != nullptr) ++j;
    int width = 0, precision = -1;
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])) && width <= 64)
      width = width * 10 + (format[j++] - '0');
    if (j < format.size() && format[j] == '.') {
      precision = 0;
      ++j;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])) && precision <= 32)
        precision = precision * 10 + (format[j++] - '0');
    }
    const size_t lengthAt = j;
    if (j < format.size() && (format[j] == 'l' || format[j] == 'L')) ++j;
    const bool floating = j < format.size() && std::strchr("fFeEgGaA", format[j]) != nullptr && format[j] != '\0';
    if (!floating || width > 64 || precision > 32) {
      out += format[i++];  // not a conversion we fill: the '%' is text
      continue;
    }
    // Rebuild the conversion without the length modifier and let printf format the number.
    std::string conversion(format.substr(i, lengthAt - i));
    conversion += format[j];
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, conversion.c_str(), value);
    out += WithDecimalPoint(buffer);
    i = j + 1;
  }
  return out;
}

namespace {

std::string FixedText(ModbusProperty& property, int32_t raw) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.6lf", property.ConvertFixedFromSend(raw));
  std::string text = WithDecimalPoint(buffer);
  if (text.find('.') == std::string::npos) return text;  // inf, nan
  text.erase(text.find_last_not_of('0') + 1);
  text.erase(0, text.find_first_not_of('0'));
  if (text.empty() || text == ".") return "0";
  if (property.divisor == 0.0) property.divisor = 1.0;
  // The digits the divisor can produce: 0.1 gives 1, 0.01 gives 2, 0.05 gives 1.
  const double digits = std::log10(1.0 / std::fabs(property.divisor));
  const long decimals = std::isfinite(digits) ? static_cast<long>(std::trunc(digits + 1e-9)) : 6;
  const size_t point = text.find('.');
  if (point != std::string::npos && static_cast<long>(text.size() - point - 1) > decimals)
    text.erase(point + 1 + std::max(decimals, -1L));
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text.empty() ? "0" : text;
}

}  // namespace

std::string PropertyValueToString(ModbusProperty& property, int32_t raw) {
  const std::string format = property.Keyword("viewformat");
  if (!format.empty())
    return FormatDouble(format, property.IsFixed() ? property.ConvertFixedFromSend(raw) : static_cast<double>(raw));
  if (property.IsFixed()) return FixedText(property, raw);
  return std::to_string(raw);
}

std::string PropertyValueShown(ModbusProperty property, int32_t raw) {
  std::string text = PropertyValueToString(property, raw);
  if (property.kind == PropertyKind::Natural && raw >= 0 && static_cast<size_t>(raw) < property.data.size())
    text += " (" + property.data[raw] + ")";
  return text;
}

int32_t StringToPropertyValue(ModbusProperty& property, std::string_view text) {
  if (property.IsFixed()) return property.ConvertFixedToSend(profilenumbers::ReadReal(text));
  return profilenumbers::ReadInt(text);
}

namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The text as one number ("12.5", "-3", "+4", "1e3" unless `integer`), in the "C" locale;
// nullopt for anything else, trailing text and infinities included.
std::optional<double> WholeNumber(std::string_view text, bool integer) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || (text.front() == '-' && text.size() == 1)) return std::nullopt;
  if (integer && text.find_first_not_of("0123456789", text.front() == '-' ? 1 : 0) != std::string_view::npos)
    return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// "0 to 50 Hz": raw limits as the property shows its values, with its unit.
std::string RangeText(ModbusProperty& property, int32_t low, int32_t high) {
  std::string text = PropertyValueToString(property, low) + " to " + PropertyValueToString(property, high);
  const std::string unit = PropertyUnit(property);
  if (!unit.empty() && !(text.size() >= unit.size() && text.compare(text.size() - unit.size(), unit.size(), unit) == 0))
    text += " " + unit;
  return text;
}

}  // namespace

std::string PropertyUnit(const ModbusProperty& property) {
  const size_t comma = property.caption.rfind(',');
  if (comma == std::string::npos) return {};
  return std::string(TrimBlanks(std::string_view(property.caption).substr(comma + 1)));
}

std::optional<int32_t> CheckedStringToPropertyValue(ModbusProperty& property, std::string_view text, std::string& why) {
  const std::string_view typed = TrimBlanks(text);
  const std::vector<std::string>& items = property.data;
  const bool hasItems = property.kind == PropertyKind::Natural && !items.empty();
  auto itemList = [&](bool withIndex) {
    std::string list;
    for (size_t i = 0; i < items.size(); ++i)
      list += (i == 0 ? "" : ", ") + (withIndex ? std::to_string(i) + " " : std::string()) + items[i];
    return list;
  };
  if (hasItems) {
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i] == typed) return static_cast<int32_t>(i);
    for (size_t i = 0; i < items.size(); ++i)
      if (profilenumbers::EqualsIgnoreCase(items[i], typed)) return static_cast<int32_t>(i);
  }
  const std::optional<double> number = WholeNumber(typed, !property.IsFixed());
  if (!number) {
    why = property.IsFixed() ? "is not a number" : "is not a whole number";
    if (hasItems) why += " nor one of the items " + itemList(false);
    return std::nullopt;
  }
  const int32_t raw = StringToPropertyValue(property, typed);
  // The raw value before it saturates at the 32-bit limits, so that a huge text cannot pass
  // as the limit it would be cut to.
  const double exact = std::trunc(property.IsFixed() ? *number / property.divisor : *number);
  if (hasItems) {
    if (exact < 0 || exact >= static_cast<double>(items.size())) {
      why = "is not one of the items " + itemList(true);
      return std::nullopt;
    }
  } else if (property.iSlMin <= property.iSlMax && (exact < property.iSlMin || exact > property.iSlMax)) {
    why = "is outside the range " + RangeText(property, property.iSlMin, property.iSlMax);
    return std::nullopt;
  }
  const auto [low, high] = property.mapping.RawLimits();
  if (exact < low || exact > high) {
    why = "does not fit its register, which holds " + RangeText(property, low, high);
    return std::nullopt;
  }
  return raw;
}
