// Fuzz target: the Modbus master's answer receiver, `ModbusRtuProtocol::ReceiveAnswer`, on
// whatever the line delivers.
//
// Input: the expected function code, the slave address, the line shape (FuzzSupport.h; bit 6
// set: frames), then the line's bytes. With frames, the rest is a list of frames, each a
// length byte and that many bytes, and every frame gets its correct CRC appended, so that
// answers reach the PDU decoder instead of dying at the CRC check.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comm/Modbus.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::uint8_t function = in.Byte();
  const std::uint8_t slave = in.Byte();
  const std::uint8_t shape = in.Byte();

  std::vector<std::uint8_t> line;
  if (shape & 0x40) {
    while (in.Left() > 0) {
      std::vector<std::uint8_t> frame = in.Take(in.Byte());
      const std::uint16_t crc = ModbusCrc(frame.data(), static_cast<std::int32_t>(frame.size()));
      frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
      frame.push_back(static_cast<std::uint8_t>(crc >> 8));
      line.insert(line.end(), frame.begin(), frame.end());
    }
  } else {
    line = in.Rest();
  }

  fuzz::ScriptedChannel channel(std::move(line), fuzz::LineShape::FromByte(shape));
  // The wait ends through the stop flag as soon as the line has nothing more; the time-out is
  // only a backstop, long enough that a slow, instrumented run never reaches it.
  ModbusRtuProtocol modbus(&channel, slave, 1000);
  channel.onDrained = [&modbus] { modbus.stopRequested = true; };
  const ModbusAnswer answer = modbus.ReceiveAnswer(function);

  // An answer carries at most 255 data bytes: 2040 coils or 127 registers.
  if (answer.code > 255 || answer.values.size() > 2040) std::abort();
  if (answer.code != modbus_code::kSuccess && !answer.values.empty()) std::abort();
  return 0;
}
