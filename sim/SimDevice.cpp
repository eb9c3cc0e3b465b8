#include "sim/SimDevice.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {
namespace {

// Modbus exception codes the device gives.
constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalAddress = 2;
constexpr std::uint8_t kIllegalValue = 3;

// Largest quantities one request may carry (they fill one frame).
constexpr std::uint32_t kMaxReadBits = 2000;
constexpr std::uint32_t kMaxReadRegisters = 125;
constexpr std::uint32_t kMaxWriteBits = 1968;
constexpr std::uint32_t kMaxWriteRegisters = 123;

std::uint16_t Word(const Bytes& pdu, std::size_t at) {
  return static_cast<std::uint16_t>(pdu[at] << 8 | pdu[at + 1]);
}

void PutWord(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// A whole number of periods, or an end of a range, as an integer: held within ±2^53 (where a
// double is still exact), so that no conversion overflows whatever a profile asks for.
std::int64_t Whole(double value) {
  constexpr double kLimit = 9007199254740992.0;
  if (std::isnan(value)) return 0;
  return static_cast<std::int64_t>(std::clamp(value, -kLimit, kLimit));
}

// Whether [first, first + count) stays inside the 65536 addresses.
bool InRange(std::uint32_t first, std::uint32_t count) { return first + count - 1 <= 65536; }

}  // namespace

const char* SpaceName(Space space) {
  switch (space) {
    case Space::Coil: return "coil";
    case Space::DiscreteInput: return "discrete input";
    case Space::Holding: return "holding register";
    case Space::Input: return "input register";
  }
  return "?";
}

std::uint64_t Mix64(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

// ---- image -------------------------------------------------------------------------------

CSimImage::CSimImage() {
  for (auto& table : m_tables) {
    table.values.assign(65536, 0);
    table.defined.assign(65536, false);
  }
}

void CSimImage::Define(Space space, std::uint32_t address) {
  Table& table = m_tables[static_cast<int>(space)];
  const std::size_t index = Index(address);
  if (!table.defined[index]) {
    table.defined[index] = true;
    ++table.count;
  }
}

bool CSimImage::Defined(Space space, std::uint32_t address) const {
  return m_tables[static_cast<int>(space)].defined[Index(address)];
}

bool CSimImage::DefinedRange(Space space, std::uint32_t first, std::uint32_t count) const {
  if (count == 0 || first == 0 || !InRange(first, count)) return false;
  for (std::uint32_t a = first; a < first + count; ++a)
    if (!Defined(space, a)) return false;
  return true;
}

std::uint16_t CSimImage::Get(Space space, std::uint32_t address) const {
  return m_tables[static_cast<int>(space)].values[Index(address)];
}

void CSimImage::Set(Space space, std::uint32_t address, std::uint16_t value) {
  if (space == Space::Coil || space == Space::DiscreteInput) value = value != 0 ? 1 : 0;
  m_tables[static_cast<int>(space)].values[Index(address)] = value;
}

std::int32_t CSimImage::Get32(Space space, std::uint32_t address) const {
  const std::uint32_t low = Get(space, address), high = Get(space, address + 1);
  return static_cast<std::int32_t>(high << 16 | low);
}

void CSimImage::Set32(Space space, std::uint32_t address, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  Set(space, address, static_cast<std::uint16_t>(bits & 0xFFFF));
  Set(space, address + 1, static_cast<std::uint16_t>(bits >> 16));
}

std::size_t CSimImage::Count(Space space) const { return m_tables[static_cast<int>(space)].count; }

std::vector<std::uint32_t> CSimImage::Addresses(Space space) const {
  std::vector<std::uint32_t> out;
  const Table& table = m_tables[static_cast<int>(space)];
  out.reserve(table.count);
  for (std::uint32_t index = 0; index < 65536; ++index)
    if (table.defined[index]) out.push_back(index + 1);
  return out;
}

// ---- device ------------------------------------------------------------------------------

CSimDevice::CSimDevice() {
  // The command registers exist on every device of the family.
  m_image.Define(Space::Holding, command::kFlashRegister);
  m_image.Define(Space::Holding, command::kBootRegister);
}

bool CSimDevice::SetIdentity(const SimIdentity& identity) {
  const std::uint32_t length = identity.NameBlockLength();
  if (length > 255 || identity.nameBlockStart < 4 || identity.nameBlockStart > 255 ||
      (length > 0 && identity.nameBlockStart + length - 1 > 65535))
    return false;
  m_identity = identity;
  for (std::uint32_t r = 1; r <= 3; ++r) m_image.Define(Space::Input, r);
  m_image.Set(Space::Input, 1, static_cast<std::uint16_t>(length << 8 | identity.nameBlockStart));
  m_image.Set(Space::Input, 2,
              static_cast<std::uint16_t>((identity.versionMajor & 0xFF) << 8 | (identity.versionMinor & 0xFF)));
  m_image.Set(Space::Input, 3,
              static_cast<std::uint16_t>((identity.programMajor & 0xFF) << 8 | (identity.programMinor & 0xFF)));
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto low = static_cast<std::uint8_t>(identity.name[2 * i]);
    const auto high = 2 * i + 1 < identity.name.size() ? static_cast<std::uint8_t>(identity.name[2 * i + 1]) : 0;
    m_image.Define(Space::Input, identity.nameBlockStart + i);
    m_image.Set(Space::Input, identity.nameBlockStart + i, static_cast<std::uint16_t>(high << 8 | low));
  }
  return true;
}

void CSimDevice::AddAnimation(const SimAnimation& animation) { m_animations.push_back(animation); }

void CSimDevice::AddForcedException(std::uint32_t address, std::uint8_t code) {
  m_forced.emplace_back(address, code);
}

void CSimDevice::SaveToFlash() {
  m_flash.clear();
  for (std::uint32_t address : m_image.Addresses(Space::Holding)) {
    if (address == command::kFlashRegister || address == command::kBootRegister) continue;
    m_flash.emplace_back(address, m_image.Get(Space::Holding, address));
  }
}

void CSimDevice::LoadFromFlash() {
  for (const auto& [address, value] : m_flash) m_image.Set(Space::Holding, address, value);
}

void CSimDevice::StopMotion() {
  Animate(0.0);
  m_animations.clear();
}

void CSimDevice::Animate(double nowMs) {
  if (m_startMs < 0) m_startMs = nowMs;
  const double seconds = (nowMs - m_startMs) / 1000.0;
  for (std::size_t i = 0; i < m_animations.size(); ++i) ApplyAnimation(m_animations[i], i, seconds);
}

void CSimDevice::ApplyAnimation(SimAnimation& a, std::size_t index, double seconds) {
  const double period = a.periodS > 0 ? a.periodS : 1.0;
  const std::uint32_t stride = a.width == SimAnimation::Width::Long ? 2 : 1;
  auto read = [&]() -> std::int64_t {
    if (a.width == SimAnimation::Width::Long) return m_image.Get32(a.space, a.address);
    return static_cast<std::int16_t>(m_image.Get(a.space, a.address));
  };
  // Periods since the start. A period so short that their number is no longer finite stands
  // still rather than turning a non-number into a value.
  double turns = seconds / period;
  if (!std::isfinite(turns)) turns = 0;
  std::int64_t value = 0;
  switch (a.kind) {
    case SimAnimation::Kind::Sine: {
      const double middle = (a.low + a.high) / 2, amplitude = (a.high - a.low) / 2;
      value = std::llround(middle + amplitude * std::sin(2 * std::numbers::pi * turns));
      break;
    }
    case SimAnimation::Kind::Ramp: {
      const double phase = turns - std::floor(turns);
      value = std::llround(a.low + (a.high - a.low) * phase);
      break;
    }
    case SimAnimation::Kind::Counter: {
      // Steps are added to what the register holds, so a written value restarts the count.
      // The sum wraps as the register does, whatever the number of steps.
      const std::int64_t tick = Whole(std::floor(turns));
      if (tick == a.lastTick) return;
      value = static_cast<std::int64_t>(static_cast<std::uint64_t>(read()) +
                                        static_cast<std::uint64_t>(Whole(a.low)) *
                                            static_cast<std::uint64_t>(tick - a.lastTick));
      a.lastTick = tick;
      break;
    }
    case SimAnimation::Kind::Random: {
      const auto tick = static_cast<std::uint64_t>(Whole(std::floor(turns)));
      const std::int64_t low = Whole(std::ceil(std::min(a.low, a.high)));
      const std::int64_t high = Whole(std::floor(std::max(a.low, a.high)));
      const std::uint64_t span = high >= low ? static_cast<std::uint64_t>(high - low) + 1 : 1;
      value = low + static_cast<std::int64_t>(Mix64(m_seed ^ Mix64(index * 0x100000001ull + tick)) % span);
      break;
    }
  }
  for (std::int32_t k = 0; k < std::max(a.count, 1); ++k) {
    const std::uint32_t address = a.address + static_cast<std::uint32_t>(k) * stride;
    switch (a.width) {
      case SimAnimation::Width::Bit: m_image.Set(a.space, address, value != 0 ? 1 : 0); break;
      case SimAnimation::Width::Word: m_image.Set(a.space, address, static_cast<std::uint16_t>(value & 0xFFFF)); break;
      case SimAnimation::Width::Long: m_image.Set32(a.space, address, static_cast<std::int32_t>(value)); break;
    }
  }
}

Bytes CSimDevice::Exception(std::uint8_t function, std::uint8_t code) const {
  return Bytes{static_cast<std::uint8_t>(function | 0x80), code};
}

std::uint8_t CSimDevice::ForcedException(std::uint32_t first, std::uint32_t count) const {
  for (const auto& [address, code] : m_forced)
    if (address >= first && address < first + count) return code;
  return 0;
}

CSimDevice::Reply CSimDevice::Handle(const Bytes& pdu, double nowMs, bool broadcast) {
  Reply reply;
  if (pdu.empty()) {
    reply.answer = false;
    return reply;
  }
  const std::uint8_t function = pdu[0];
  switch (function) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 15: case 16: break;
    default:
      reply.pdu = Exception(function, kIllegalFunction);
      reply.note = "illegal function";
      reply.answer = !broadcast;
      return reply;
  }
  // Every one of these functions starts with an address and a quantity or value.
  if (pdu.size() < 5) {
    reply.pdu = Exception(function, kIllegalValue);
    reply.answer = !broadcast;
    return reply;
  }
  const std::uint32_t first = std::uint32_t{Word(pdu, 1)} + 1;
  const std::uint32_t count = (function == 5 || function == 6) ? 1 : Word(pdu, 3);
  if (const std::uint8_t forced = ForcedException(first, count)) {
    reply.pdu = Exception(function, forced);
    reply.note = "forced exception";
    reply.answer = !broadcast;
    return reply;
  }
  Animate(nowMs);
  switch (function) {
    case 1: reply = ReadBits(pdu, Space::Coil); break;
    case 2: reply = ReadBits(pdu, Space::DiscreteInput); break;
    case 3: reply = ReadRegisters(pdu, Space::Holding); break;
    case 4: reply = ReadRegisters(pdu, Space::Input); break;
    case 5: case 15: reply = WriteCoils(pdu); break;
    case 6: case 16: reply = WriteRegisters(pdu); break;
  }
  if (broadcast) {
    // Nobody answers a broadcast; reads make no sense there and are not served.
    reply.answer = false;
    reply.delayMs = 0;
  }
  return reply;
}

CSimDevice::Reply CSimDevice::ReadBits(const Bytes& pdu, Space space) {
  Reply reply;
  const std::uint8_t function = pdu[0];
  const std::uint32_t first = std::uint32_t{Word(pdu, 1)} + 1, count = Word(pdu, 3);
  if (pdu.size() != 5 || count < 1 || count > kMaxReadBits) {
    reply.pdu = Exception(function, kIllegalValue);
    return reply;
  }
  if (!m_image.DefinedRange(space, first, count)) {
    reply.pdu = Exception(function, kIllegalAddress);
    return reply;
  }
  const std::uint32_t bytes = (count + 7) / 8;
  reply.pdu = {function, static_cast<std::uint8_t>(bytes)};
  reply.pdu.resize(2 + bytes, 0);
  for (std::uint32_t k = 0; k < count; ++k)
    if (m_image.Get(space, first + k) != 0) reply.pdu[2 + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
  return reply;
}

CSimDevice::Reply CSimDevice::ReadRegisters(const Bytes& pdu, Space space) {
  Reply reply;
  const std::uint8_t function = pdu[0];
  const std::uint32_t first = std::uint32_t{Word(pdu, 1)} + 1, count = Word(pdu, 3);
  if (pdu.size() != 5 || count < 1 || count > kMaxReadRegisters) {
    reply.pdu = Exception(function, kIllegalValue);
    return reply;
  }
  if (!m_image.DefinedRange(space, first, count)) {
    reply.pdu = Exception(function, kIllegalAddress);
    return reply;
  }
  reply.pdu = {function, static_cast<std::uint8_t>(2 * count)};
  for (std::uint32_t k = 0; k < count; ++k) PutWord(reply.pdu, m_image.Get(space, first + k));
  return reply;
}

CSimDevice::Reply CSimDevice::WriteCoils(const Bytes& pdu) {
  Reply reply;
  const std::uint8_t function = pdu[0];
  const std::uint32_t first = std::uint32_t{Word(pdu, 1)} + 1;
  if (function == 5) {
    const std::uint16_t value = Word(pdu, 3);
    if (pdu.size() != 5 || (value != 0xFF00 && value != 0x0000)) {
      reply.pdu = Exception(function, kIllegalValue);
      return reply;
    }
    if (!m_image.Defined(Space::Coil, first)) {
      reply.pdu = Exception(function, kIllegalAddress);
      return reply;
    }
    m_image.Set(Space::Coil, first, value != 0);
    reply.pdu = pdu;
    return reply;
  }
  const std::uint32_t count = Word(pdu, 3);
  if (pdu.size() < 6 || count < 1 || count > kMaxWriteBits || pdu[5] != (count + 7) / 8 ||
      pdu.size() != 6u + pdu[5]) {
    reply.pdu = Exception(function, kIllegalValue);
    return reply;
  }
  if (!m_image.DefinedRange(Space::Coil, first, count)) {
    reply.pdu = Exception(function, kIllegalAddress);
    return reply;
  }
  for (std::uint32_t k = 0; k < count; ++k)
    m_image.Set(Space::Coil, first + k, (pdu[6 + k / 8] >> (k % 8)) & 1);
  reply.pdu.assign(pdu.begin(), pdu.begin() + 5);
  return reply;
}

std::uint8_t CSimDevice::CheckCommand(std::uint32_t address, std::uint16_t value) const {
  if (address == command::kFlashRegister) {
    if (value == 0 || value == command::kArm) return 0;
    if ((value == command::kSave || value == command::kLoad) && m_flashState == CommandState::Armed) return 0;
    return kIllegalValue;
  }
  if (address == command::kBootRegister) {
    if (value == 0 || value == command::kArm) return 0;
    if (value == command::kStartBootLoader && m_bootState == CommandState::Armed) return 0;
    return kIllegalValue;
  }
  return 0;
}

void CSimDevice::StoreHolding(std::uint32_t address, std::uint16_t value, Reply& reply) {
  if (address == command::kFlashRegister) {
    if (value == command::kArm) {
      m_flashState = CommandState::Armed;
      m_image.Set(Space::Holding, address, command::kArmed);
      reply.note = "flash command armed";
    } else if (value == command::kSave || value == command::kLoad) {
      if (value == command::kSave) {
        SaveToFlash();
        ++m_flashSaves;
        reply.note = "configuration saved to flash";
      } else {
        LoadFromFlash();
        ++m_flashLoads;
        reply.note = "configuration loaded from flash";
      }
      m_flashState = CommandState::Idle;
      m_image.Set(Space::Holding, address, 0);
      reply.delayMs += m_flashMs;
    } else {
      m_flashState = CommandState::Idle;
      m_image.Set(Space::Holding, address, 0);
    }
    return;
  }
  if (address == command::kBootRegister) {
    if (value == command::kArm) {
      m_bootState = CommandState::Armed;
      m_image.Set(Space::Holding, address, command::kArmed);
      reply.note = "boot-loader start armed";
    } else if (value == command::kStartBootLoader) {
      m_bootState = CommandState::Idle;
      m_image.Set(Space::Holding, address, 0);
      reply.leaveModbus = true;
      reply.note = "boot loader started";
    } else {
      m_bootState = CommandState::Idle;
      m_image.Set(Space::Holding, address, 0);
    }
    return;
  }
  m_image.Set(Space::Holding, address, value);
}

CSimDevice::Reply CSimDevice::WriteRegisters(const Bytes& pdu) {
  Reply reply;
  const std::uint8_t function = pdu[0];
  const std::uint32_t first = std::uint32_t{Word(pdu, 1)} + 1;
  std::vector<std::uint16_t> values;
  if (function == 6) {
    if (pdu.size() != 5) {
      reply.pdu = Exception(function, kIllegalValue);
      return reply;
    }
    values.push_back(Word(pdu, 3));
  } else {
    const std::uint32_t count = Word(pdu, 3);
    if (pdu.size() < 6 || count < 1 || count > kMaxWriteRegisters || pdu[5] != 2 * count ||
        pdu.size() != 6u + pdu[5]) {
      reply.pdu = Exception(function, kIllegalValue);
      return reply;
    }
    for (std::uint32_t k = 0; k < count; ++k) values.push_back(Word(pdu, 6 + 2 * k));
  }
  if (!m_image.DefinedRange(Space::Holding, first, static_cast<std::uint32_t>(values.size()))) {
    reply.pdu = Exception(function, kIllegalAddress);
    return reply;
  }
  // A command the register cannot take refuses the whole request before anything changes.
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (const std::uint8_t code = CheckCommand(first + static_cast<std::uint32_t>(k), values[k])) {
      reply.pdu = Exception(function, code);
      reply.note = "command refused";
      return reply;
    }
  }
  for (std::size_t k = 0; k < values.size(); ++k) StoreHolding(first + static_cast<std::uint32_t>(k), values[k], reply);
  reply.pdu.assign(pdu.begin(), pdu.begin() + 5);
  return reply;
}

}  // namespace sim
