#include "firmware/LoaderMessage.h"

#include <array>

namespace {

// Reflected table of polynomial 0xA001: the CRC shifts right, so the low byte of the running
// value meets the next data byte.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    table[i] = crc;
  }
  return table;
}
constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

std::uint16_t Crc16Arc(const std::uint8_t* data, std::size_t length, std::uint16_t crc) {
  for (std::size_t i = 0; i < length; ++i)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
  return crc;
}

std::uint8_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return 0;
}

LoaderMessage::LoaderMessage() : m_bytes(kOverhead, 0) { m_bytes[0] = ':'; }

LoaderMessage::LoaderMessage(std::uint8_t type, std::uint16_t address, const std::uint8_t* data, std::size_t count)
    : m_bytes(kOverhead + (count > 255 ? 255 : count), 0) {
  if (count > 255) count = 255;
  m_bytes[0] = ':';
  m_bytes[1] = static_cast<std::uint8_t>(count);
  m_bytes[2] = static_cast<std::uint8_t>(address >> 8);
  m_bytes[3] = static_cast<std::uint8_t>(address);
  m_bytes[4] = type;
  for (std::size_t i = 0; i < count; ++i) m_bytes[5 + i] = data[i];
}

LoaderMessage LoaderMessage::ExtendedAddress(std::uint8_t high, std::uint8_t low) {
  const std::uint8_t data[2] = {high, low};
  return LoaderMessage(loader_type::kExtendedAddress, 0, data, 2);
}

bool LoaderMessage::FromBytes(const std::uint8_t* bytes, std::size_t length, LoaderMessage& out) {
  if (length < kOverhead || length != bytes[1] + kOverhead) return false;
  out.m_bytes.assign(bytes, bytes + length);
  return true;
}

std::vector<std::uint8_t> LoaderMessage::Payload() const {
  const std::uint8_t* begin = Data();
  const std::uint8_t* end = begin + Count();
  if (Type() == loader_type::kData && Count() >= 1) ++begin;
  return {begin, end};
}

std::uint16_t LoaderMessage::StoredCrc() const {
  const std::size_t n = Count();
  return static_cast<std::uint16_t>(m_bytes[n + 5] << 8 | m_bytes[n + 6]);
}

std::uint16_t LoaderMessage::ComputeCrc() const { return Crc16Arc(m_bytes.data() + 1, Count() + 4u); }

void LoaderMessage::FillCrc() {
  const std::uint16_t crc = ComputeCrc();
  m_bytes[Count() + 5u] = static_cast<std::uint8_t>(crc >> 8);
  m_bytes[Count() + 6u] = static_cast<std::uint8_t>(crc);
}

std::string LoaderMessage::Encode() {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  FillCrc();
  std::string text;
  text.reserve(m_bytes.size() * 2 - 1);
  text.push_back(':');
  for (std::size_t i = 1; i < m_bytes.size(); ++i) {
    text.push_back(kDigits[m_bytes[i] >> 4]);
    text.push_back(kDigits[m_bytes[i] & 0x0F]);
  }
  return text;
}
