// The boot loader's message: one record of a firmware image as it travels to the device, and
// every other request and answer of the boot-loader protocol.
//
// Byte layout (before hex encoding): ':' count addressHigh addressLow type data[count] crcHigh
// crcLow, so a message is always count + 7 bytes long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
std::uint16_t Crc16Arc(const std::uint8_t* data, std::size_t length, std::uint16_t crc = 0);

namespace loader_type {
inline constexpr std::uint8_t kData = 0x00;
inline constexpr std::uint8_t kExtendedAddress = 0x04;
inline constexpr std::uint8_t kSegmentStart = 0x60;
inline constexpr std::uint8_t kFlashRequest = 0x61;
inline constexpr std::uint8_t kFlashRequestSector0 = 0x62;
inline constexpr std::uint8_t kFlashDone = 0x6A;
inline constexpr std::uint8_t kSegmentReady = 0x6B;
inline constexpr std::uint8_t kPing = 0x70;
inline constexpr std::uint8_t kFinish = 0x71;
inline constexpr std::uint8_t kIdentity = 0x72;
inline constexpr std::uint8_t kMemoryMap = 0x73;
// An answer with this bit set in its type reports an error; its code is the low address byte.
inline constexpr std::uint8_t kErrorBit = 0x80;
}  // namespace loader_type

class LoaderMessage {
 public:
  static constexpr std::size_t kOverhead = 7;

  // ":" 00 0000 00 with a zero CRC.
  LoaderMessage();
  LoaderMessage(std::uint8_t type, std::uint16_t address, const std::uint8_t* data = nullptr,
                std::size_t count = 0);
  // ":" 02 0000 04 high low: the upper 16 bits of the addresses that follow.
  static LoaderMessage ExtendedAddress(std::uint8_t high, std::uint8_t low);
  static LoaderMessage ExtendedAddress(std::uint32_t upper16) {
    return ExtendedAddress(static_cast<std::uint8_t>(upper16 >> 8), static_cast<std::uint8_t>(upper16));
  }
  // A message made of raw bytes (a receive buffer); false when `length` does not match the
  // count it carries.
  static bool FromBytes(const std::uint8_t* bytes, std::size_t length, LoaderMessage& out);

  std::uint8_t Count() const { return m_bytes[1]; }
  std::uint16_t Address() const { return static_cast<std::uint16_t>(m_bytes[2] << 8 | m_bytes[3]); }
  std::uint8_t Type() const { return m_bytes[4]; }
  // The type with the error bit cleared.
  std::uint8_t BaseType() const { return m_bytes[4] & 0x7F; }
  bool IsError() const { return (m_bytes[4] & loader_type::kErrorBit) != 0; }
  // The code of an error answer: the low address byte.
  std::uint8_t ErrorCode() const { return m_bytes[3]; }
  const std::uint8_t* Data() const { return m_bytes.data() + 5; }
  std::uint8_t* Data() { return m_bytes.data() + 5; }
  std::uint8_t DataByte(std::size_t i) const { return m_bytes[5 + i]; }
  // The data of an answer, without the sequence byte of a data answer.
  std::vector<std::uint8_t> Payload() const;

  std::uint16_t StoredCrc() const;
  // The CRC over count, address, type and data.
  std::uint16_t ComputeCrc() const;
  bool CrcValid() const { return StoredCrc() == ComputeCrc(); }
  void FillCrc();

  // The text sent on the line: ':' and every byte after it as two upper-case hex digits, the
  // CRC filled in first; 2·count + 13 characters, no line end.
  std::string Encode();

  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  std::size_t Size() const { return m_bytes.size(); }

  bool operator==(const LoaderMessage&) const = default;

 private:
  std::vector<std::uint8_t> m_bytes;
};

// The value of one hex digit; any other character counts as 0.
std::uint8_t HexDigitValue(char c);
