#include "firmware/FirmwareImage.h"

FirmwareImage::FirmwareImage(MemoryMap map) : m_map(std::move(map)), m_current(LoaderMessage::ExtendedAddress(0, 0)) {}

void FirmwareImage::Clear() {
  for (auto& slot : m_slots) {
    slot.messages.clear();
    slot.hasData = false;
  }
  checksums.clear();
  m_current = LoaderMessage::ExtendedAddress(0, 0);
}

void FirmwareImage::SetCurrentExtended(std::uint8_t high, std::uint8_t low) {
  m_current = LoaderMessage::ExtendedAddress(high, low);
}

std::uint32_t FirmwareImage::UpperAddress() const {
  return static_cast<std::uint32_t>(m_current.DataByte(0) << 8 | m_current.DataByte(1)) << 16;
}

void FirmwareImage::AppendData(int slot, const LoaderMessage& extended, const LoaderMessage& data) {
  ImageSlot& target = m_slots[static_cast<std::size_t>(slot)];
  const LoaderMessage* last = nullptr;
  for (auto it = target.messages.rbegin(); it != target.messages.rend(); ++it) {
    if (it->Type() == loader_type::kExtendedAddress) {
      last = &*it;
      break;
    }
  }
  if (last == nullptr || last->DataByte(0) != extended.DataByte(0) || last->DataByte(1) != extended.DataByte(1))
    target.messages.push_back(extended);
  target.messages.push_back(data);
  target.hasData = true;
}

void FirmwareImage::AppendRaw(int slot, const LoaderMessage& message) {
  ImageSlot& target = m_slots[static_cast<std::size_t>(slot)];
  target.messages.push_back(message);
  if (message.Type() == loader_type::kData) target.hasData = true;
}

bool FirmwareImage::Insert(std::uint64_t address, const std::uint8_t* data, std::size_t count) {
  if (count == 0) return true;
  const std::size_t limit = maxDataPerMessage == 0 ? 255 : maxDataPerMessage;
  // A piece ends where the sector changes, where the upper 16 address bits change (each piece
  // must sit under an extended-address message of its own upper bits, or the device would
  // write it 64 KiB too low) and where a message would grow past `limit` bytes.
  std::size_t pieceStart = 0;
  int pieceSector = m_map.Lookup(address);
  for (std::size_t k = 1; k <= count; ++k) {
    const std::uint64_t at = address + k;
    const bool end = k == count || m_map.Lookup(at) != pieceSector || (at & 0xFFFF) == 0 || k - pieceStart == limit;
    if (!end) continue;
    const std::uint64_t first = address + pieceStart;
    const std::uint64_t upper = first >> 16;
    if (pieceSector < 0 || pieceSector >= kSlots || upper > 0xFFFF) return false;
    const LoaderMessage extended = LoaderMessage::ExtendedAddress(static_cast<std::uint32_t>(upper));
    const LoaderMessage piece(loader_type::kData, static_cast<std::uint16_t>(first & 0xFFFF), data + pieceStart,
                              k - pieceStart);
    AppendData(pieceSector, extended, piece);
    pieceStart = k;
    if (k < count) pieceSector = m_map.Lookup(at);
  }
  return true;
}

void FirmwareImage::Resort(const MemoryMap& map) {
  std::vector<LoaderMessage> collected;
  for (auto& slot : m_slots) {
    if (slot.hasData) collected.insert(collected.end(), slot.messages.begin(), slot.messages.end());
    slot.messages.clear();
    slot.hasData = false;
  }
  m_map = map;
  m_current = LoaderMessage::ExtendedAddress(0, 0);
  for (const LoaderMessage& message : collected) {
    if (message.Type() == loader_type::kExtendedAddress) {
      m_current = message;
    } else if (message.Type() == loader_type::kData) {
      // A message that no longer fits the map is dropped without a word.
      Insert(UpperAddress() | message.Address(), message.Data(), message.Count());
    }
  }
}

std::uint16_t FirmwareImage::SectorCrc(int slot) const {
  std::uint16_t crc = 0;
  if (slot < 0 || slot >= kSlots) return crc;
  for (const LoaderMessage& message : m_slots[static_cast<std::size_t>(slot)].messages)
    if (message.Type() == loader_type::kData) crc = Crc16Arc(message.Data(), message.Count(), crc);
  return crc;
}

void FirmwareImage::ReadSectorBytes(int slot, std::uint32_t address, std::uint32_t length, std::uint8_t* out) const {
  if (slot < 0 || slot >= kSlots) return;
  const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
  // Addresses are compared in full, under the slot's extended-address messages: in a sector
  // larger than 64 KiB the bytes at 0x10000 + a must not stand in for those at a.
  std::uint64_t upper = 0;
  for (const LoaderMessage& message : m_slots[static_cast<std::size_t>(slot)].messages) {
    if (message.Type() == loader_type::kExtendedAddress) {
      upper = static_cast<std::uint64_t>(message.DataByte(0) << 8 | message.DataByte(1)) << 16;
      continue;
    }
    if (message.Type() != loader_type::kData) continue;
    for (std::size_t i = 0; i < message.Count(); ++i) {
      const std::uint64_t at = upper + message.Address() + i;
      if (at >= address && at < end) out[at - address] = message.DataByte(i);
    }
  }
}

std::optional<std::uint32_t> FirmwareImage::SlotUpperAddress(int slot) const {
  const auto& messages = m_slots[static_cast<std::size_t>(slot)].messages;
  for (auto it = messages.rbegin(); it != messages.rend(); ++it)
    if (it->Type() == loader_type::kExtendedAddress)
      return static_cast<std::uint32_t>(it->DataByte(0) << 8 | it->DataByte(1)) << 16;
  return std::nullopt;
}

int FirmwareImage::SlotsWithData() const {
  int n = 0;
  for (const auto& slot : m_slots) n += slot.hasData ? 1 : 0;
  return n;
}

bool FirmwareImage::operator==(const FirmwareImage& other) const {
  if (!(m_map == other.m_map) || identity1 != other.identity1 || identity2 != other.identity2 ||
      checksums != other.checksums)
    return false;
  for (int i = 0; i < kSlots; ++i) {
    if (m_slots[i].hasData != other.m_slots[i].hasData || m_slots[i].messages != other.m_slots[i].messages)
      return false;
  }
  return true;
}
