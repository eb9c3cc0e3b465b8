// A firmware image cut along the device's flash sectors: per sector, the ready-to-send
// messages of the boot-loader protocol.
//
// Invariants: every data message in slot i lies wholly inside sector i of the map, and every
// data message is preceded in its slot by an extended-address message giving the upper 16
// bits of its address (the latest such message before it).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "firmware/LoaderMessage.h"
#include "profiles/MemoryMap.h"

struct ImageSlot {
  std::vector<LoaderMessage> messages;  // data and extended-address messages, in send order
  bool hasData = false;                 // set when a data message was appended
};

// A sector-checksum record of an image file: the CRC the boot loader is to find over the
// sector that holds `address`.
struct SectorChecksum {
  std::uint32_t address = 0;
  std::uint16_t crc = 0;
  bool operator==(const SectorChecksum&) const = default;
};

class FirmwareImage {
 public:
  // A sector index of 255 or more can never receive data.
  static constexpr int kSlots = 255;

  explicit FirmwareImage(MemoryMap map = {});

  // Empties every slot and the checksum list; the current upper address becomes 0.
  void Clear();

  const MemoryMap& Map() const { return m_map; }
  ImageSlot& Slot(int index) { return m_slots[static_cast<std::size_t>(index)]; }
  const ImageSlot& Slot(int index) const { return m_slots[static_cast<std::size_t>(index)]; }

  // The extended-address message in force for the data inserted next.
  const LoaderMessage& CurrentExtended() const { return m_current; }
  void SetCurrentExtended(std::uint8_t high, std::uint8_t low);
  std::uint32_t UpperAddress() const;

  // Inserts `count` data bytes at the full address `address`, cut at sector boundaries (and
  // at 64 KiB boundaries, where the upper address changes). False when a piece falls outside
  // the map or into a sector above 254; pieces appended before it stay.
  bool Insert(std::uint64_t address, const std::uint8_t* data, std::size_t count);
  // Appends a message to a slot as it is (no extended-address message is added); a data
  // message sets the slot's has-data flag.
  void AppendRaw(int slot, const LoaderMessage& message);

  // Installs `map` and replays the messages of every slot with data against it. A data
  // message that no longer fits is dropped.
  void Resort(const MemoryMap& map);

  // CRC-16/ARC over the data bytes of the slot's data messages, in list order.
  std::uint16_t SectorCrc(int slot) const;
  // Copies into `out` each byte of the slot's data messages whose address lies in
  // [address, address + length); bytes not covered keep their value.
  void ReadSectorBytes(int slot, std::uint32_t address, std::uint32_t length, std::uint8_t* out) const;
  // The upper address the slot's last extended-address message sets, none without one: where
  // a message appended as it is would land.
  std::optional<std::uint32_t> SlotUpperAddress(int slot) const;

  int SlotsWithData() const;

  // The most data bytes one data message may carry. The sequence-numbered protocol needs one
  // byte of the 255 for itself, so it lowers this to 254.
  std::size_t maxDataPerMessage = 255;

  // The identity numbers of the image file header and its sector-checksum records (only the
  // sequence-numbered protocol's files carry them).
  std::int32_t identity1 = 0;
  std::int32_t identity2 = 0;
  std::vector<SectorChecksum> checksums;

  bool operator==(const FirmwareImage& other) const;

 private:
  void AppendData(int slot, const LoaderMessage& extended, const LoaderMessage& data);

  MemoryMap m_map;
  std::array<ImageSlot, kSlots> m_slots;
  LoaderMessage m_current;
};
