// The CRC-16/MODBUS of the simulated device's frames, kept apart from the master's so that the
// two sides of a test do not share one implementation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// CRC-16/MODBUS (reflected polynomial 0xA001, start 0xFFFF) of `length` bytes. On the wire the
// low byte goes first; a frame that ends in its own CRC gives 0.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t length);

}  // namespace sim
