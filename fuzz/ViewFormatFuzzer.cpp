// Fuzz target: a property's value as the program shows it, `PropertyValueToString`, with a
// "viewformat" keyword that a profile may set to anything, and `FormatDouble` under it.
//
// A hostile format must neither overflow a buffer (the sanitizers watch) nor make printf take
// an argument it was not given (%s, %n, %d, %*f ...). The second leaves no trace in memory, so
// every result is compared with an independent reading of the format's rules: only floating
// conversions with flags "-+ 0#", a width up to 64, a precision up to 32 and an optional l or L
// take the value, "%%" is "%", everything else is copied as written.
//
// Input: the property type (byte mod 6: none, "ranged int", "ranged fix", "_iq<n>", "binary",
// "natural"; n is the next byte), 4 bytes raw value (big-endian), 8 bytes of a double, a
// length n and n bytes of divisor text, then the format.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "profiles/ValueText.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The format filled with `value` by the rules above, written apart from the program's own code.
std::string Reference(std::string_view format, double value) {
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    if (format.substr(i, 2) == "%%") {
      out += '%';
      i += 2;
      continue;
    }
    std::size_t j = i + 1;
    const std::size_t flagsStart = j;
    while (j < format.size() && std::string_view("-+ 0#").find(format[j]) != std::string_view::npos) ++j;
    const std::string flags(format.substr(flagsStart, j - flagsStart));
    // Width and precision as digit runs; a run longer than its bound can never fit.
    const std::size_t widthStart = j;
    while (j < format.size() && IsDigit(format[j])) ++j;
    const std::string_view widthDigits = format.substr(widthStart, j - widthStart);
    bool precise = false;
    std::string_view precisionDigits;
    if (j < format.size() && format[j] == '.') {
      precise = true;
      const std::size_t precisionStart = ++j;
      while (j < format.size() && IsDigit(format[j])) ++j;
      precisionDigits = format.substr(precisionStart, j - precisionStart);
    }
    if (j < format.size() && (format[j] == 'l' || format[j] == 'L')) ++j;
    auto number = [](std::string_view digits) {
      long long n = 0;
      for (const char c : digits) n = n > 1000 ? n : n * 10 + (c - '0');
      return n;
    };
    const bool conversion = j < format.size() && std::string_view("fFeEgGaA").find(format[j]) != std::string_view::npos;
    if (!conversion || number(widthDigits) > 64 || number(precisionDigits) > 32) {
      out += '%';
      ++i;
      continue;
    }
    std::string spec = "%" + flags + std::string(widthDigits);
    if (precise) spec += "." + std::string(precisionDigits);
    spec += format[j];
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
    out += buffer;
    i = j + 1;
  }
  return out;
}

const char* const kTypes[] = {"", "ranged int", "ranged fix", "_iq", "binary", "natural"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::uint8_t typeByte = in.Byte();
  std::string type = kTypes[typeByte % 6];
  if (typeByte % 6 == 3) type += std::to_string(in.Byte());
  const auto raw = static_cast<std::int32_t>(in.Word32());
  const std::uint64_t bits = static_cast<std::uint64_t>(in.Word32()) << 32 | in.Word32();
  double value;
  std::memcpy(&value, &bits, sizeof value);
  const std::vector<std::uint8_t> divisorBytes = in.Take(in.Byte());
  const std::vector<std::uint8_t> formatBytes = in.Rest();
  const std::string divisor(divisorBytes.begin(), divisorBytes.end());
  const std::string format(formatBytes.begin(), formatBytes.end());

  // Any value at all, NaN and infinities included.
  if (FormatDouble(format, value) != Reference(format, value)) std::abort();

  ModbusProperty property;
  property.ApplyType(type);
  if (!divisor.empty()) property.ApplyElement("divisor", divisor);
  property.ApplyElement("viewformat", format);
  const std::string shown = PropertyValueToString(property, raw);
  if (!format.empty()) {
    const double engineering = property.IsFixed() ? property.ConvertFixedFromSend(raw) : static_cast<double>(raw);
    if (shown != Reference(format, engineering)) std::abort();
  }
  (void)StringToPropertyValue(property, shown);
  // Without a format: the plain text of the value.
  property.keywords.erase("viewformat");
  const std::string plain = PropertyValueToString(property, raw);
  if (plain.empty() || plain.size() > 400) std::abort();
  (void)StringToPropertyValue(property, plain);
  return 0;
}
