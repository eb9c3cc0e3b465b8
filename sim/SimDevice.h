// The simulated device behind the line: its four Modbus address spaces, the identification
// registers, the command registers for flash save/load and the boot-loader start, and the
// values that move on their own. It answers one request PDU at a time; framing, timing and
// line faults belong to `CSimSlave`.
//
// Addresses here are the program's 1-based numbers (the wire carries the number minus 1).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class Space : int { Coil = 0, DiscreteInput = 1, Holding = 2, Input = 3 };
const char* SpaceName(Space space);

// The four address spaces. Only defined addresses exist; a request that touches any other
// address is refused with exception 2.
class CSimImage {
 public:
  CSimImage();

  // Makes `address` exist (keeping its value when it already does).
  void Define(Space space, std::uint32_t address);
  bool Defined(Space space, std::uint32_t address) const;
  // Whether every address of [first, first + count) exists.
  bool DefinedRange(Space space, std::uint32_t first, std::uint32_t count) const;
  std::uint16_t Get(Space space, std::uint32_t address) const;
  void Set(Space space, std::uint32_t address, std::uint16_t value);
  // A 32-bit value in two registers, low word at the lower address.
  std::int32_t Get32(Space space, std::uint32_t address) const;
  void Set32(Space space, std::uint32_t address, std::int32_t value);
  std::size_t Count(Space space) const;
  // Every defined address of a space, ascending.
  std::vector<std::uint32_t> Addresses(Space space) const;

 private:
  static std::size_t Index(std::uint32_t address) { return (address - 1) & 0xFFFF; }
  struct Table {
    std::vector<std::uint16_t> values;
    std::vector<bool> defined;
    std::size_t count = 0;
  };
  std::array<Table, 4> m_tables;
};

// What the device says about itself: input register 1 gives the name block (start in the low
// byte, length in registers in the high byte), the block holds the name two characters per
// register (low byte first, a 0 byte pads an odd length), input register 2 the device version
// and input register 3 the program version (major in the high byte, minor in the low byte).
struct SimIdentity {
  std::string name;
  int versionMajor = 0, versionMinor = 0;
  int programMajor = 0, programMinor = 0;
  std::uint32_t nameBlockStart = 16;  // input register of the first name characters

  std::uint32_t NameBlockLength() const { return static_cast<std::uint32_t>((name.size() + 1) / 2); }
};

// A value that moves by itself. Limits and steps are raw register values.
struct SimAnimation {
  enum class Kind { Sine, Ramp, Counter, Random };
  enum class Width { Bit, Word, Long };  // a coil or discrete input, one register, two registers

  Kind kind = Kind::Sine;
  double low = 0.0, high = 0.0;  // sine, ramp, random: the range; counter: `low` is the step
  double periodS = 1.0;          // sine, ramp: the period; counter, random: the step interval
  Space space = Space::Input;
  std::uint32_t address = 1;
  std::int32_t count = 1;  // consecutive items, each `width` wide, that all take the value
  Width width = Width::Word;
  std::int64_t lastTick = 0;  // counter: steps already taken
};

// The command register handshakes: 0x0FFF arms (the register reads 0x0F00), then on holding
// register 1 0x0FAA saves the holding registers to flash and 0x0FDD loads them back, each
// answered after the flash time, after which the register reads 0; on holding register 10
// 0x0FAA starts the boot loader, which ends Modbus on this line.
namespace command {
inline constexpr std::uint32_t kFlashRegister = 1;
inline constexpr std::uint32_t kBootRegister = 10;
inline constexpr std::uint16_t kArm = 0x0FFF;
inline constexpr std::uint16_t kArmed = 0x0F00;
inline constexpr std::uint16_t kSave = 0x0FAA;
inline constexpr std::uint16_t kLoad = 0x0FDD;
inline constexpr std::uint16_t kStartBootLoader = 0x0FAA;
}  // namespace command

class CSimDevice {
 public:
  struct Reply {
    bool answer = true;        // false: the request gets no answer (broadcast)
    Bytes pdu;                 // the answer PDU
    double delayMs = 0.0;      // the device is busy this long before it answers (flash)
    bool leaveModbus = false;  // after this answer the device stops speaking Modbus
    std::string note;          // what happened, for the trace
  };

  CSimDevice();

  CSimImage& Image() { return m_image; }
  const CSimImage& Image() const { return m_image; }

  // Defines the identification registers and fills them. False (and nothing defined) when the
  // name block does not fit registers 4..255 or the name is longer than 255 registers.
  bool SetIdentity(const SimIdentity& identity);
  const SimIdentity& Identity() const { return m_identity; }
  void AddAnimation(const SimAnimation& animation);
  // Sets every moving value to where it starts and keeps it there.
  void StopMotion();
  const std::vector<SimAnimation>& Animations() const { return m_animations; }

  // How long a flash save or load keeps the device busy.
  void SetFlashMs(double ms) { m_flashMs = ms; }
  // Requests touching `address` (any space) are refused with exception `code`.
  void AddForcedException(std::uint32_t address, std::uint8_t code);
  // Seed of the random values.
  void SetSeed(std::uint64_t seed) { m_seed = seed; }

  // Brings the moving values to the time `nowMs` (milliseconds on the clock `Handle` gets).
  void Animate(double nowMs);
  // Serves one request PDU that arrived at `nowMs`; `broadcast` for slave address 0.
  Reply Handle(const Bytes& pdu, double nowMs, bool broadcast = false);

  // The copy of the holding registers that flash keeps.
  const std::vector<std::pair<std::uint32_t, std::uint16_t>>& Flash() const { return m_flash; }
  // Takes the current holding registers as the flash contents (the device's start-up state).
  void SaveToFlash();
  void LoadFromFlash();
  int FlashSaves() const { return m_flashSaves; }
  int FlashLoads() const { return m_flashLoads; }

 private:
  enum class CommandState { Idle, Armed };

  Bytes Exception(std::uint8_t function, std::uint8_t code) const;
  Reply ReadBits(const Bytes& pdu, Space space);
  Reply ReadRegisters(const Bytes& pdu, Space space);
  Reply WriteCoils(const Bytes& pdu);
  Reply WriteRegisters(const Bytes& pdu);
  // Checks one write of the command registers; exception code or 0.
  std::uint8_t CheckCommand(std::uint32_t address, std::uint16_t value) const;
  // Applies a checked write of a holding register.
  void StoreHolding(std::uint32_t address, std::uint16_t value, Reply& reply);
  std::uint8_t ForcedException(std::uint32_t first, std::uint32_t count) const;
  void ApplyAnimation(SimAnimation& animation, std::size_t index, double seconds);

  CSimImage m_image;
  SimIdentity m_identity;
  std::vector<SimAnimation> m_animations;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> m_forced;
  std::vector<std::pair<std::uint32_t, std::uint16_t>> m_flash;
  CommandState m_flashState = CommandState::Idle;
  CommandState m_bootState = CommandState::Idle;
  double m_flashMs = 300.0;
  std::uint64_t m_seed = 1;
  double m_startMs = -1.0;
  int m_flashSaves = 0;
  int m_flashLoads = 0;
};

// A 64-bit mixing step (splitmix64): the simulator's deterministic source of chance.
std::uint64_t Mix64(std::uint64_t value);

}  // namespace sim
