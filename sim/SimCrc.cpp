#include "sim/SimCrc.h"

#include <array>

namespace sim {
namespace {

// The two 256-entry tables of the table-driven form, split into the byte that lands in the low
// half of the CRC register and the byte that lands in its high half; the reflected polynomial is
// why the "high" table feeds the low byte of the result and the bytes go out low first.
struct CrcTables {
  std::array<std::uint8_t, 256> high{};
  std::array<std::uint8_t, 256> low{};
};

constexpr CrcTables MakeTables() {
  CrcTables t;
  for (unsigned value = 0; value < 256; ++value) {
    unsigned crc = value;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    t.low[value] = static_cast<std::uint8_t>(crc & 0xFF);
    t.high[value] = static_cast<std::uint8_t>(crc >> 8);
  }
  return t;
}

constexpr CrcTables kTables = MakeTables();

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t length) {
  std::uint8_t low = 0xFF, high = 0xFF;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t index = low ^ data[i];
    low = high ^ kTables.low[index];
    high = kTables.high[index];
  }
  return static_cast<std::uint16_t>(high << 8 | low);
}

}  // namespace sim
