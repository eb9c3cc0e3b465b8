// The device's flash memory as a list of sectors, against which a firmware image is cut into
// per-sector messages.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// One flash sector [start, end).
struct MemorySector {
  std::uint64_t start = 0;
  std::uint64_t end = 0;    // one past the last address
  std::uint64_t mask = 0;   // end − start − 1 (0 for an empty sector)
  std::uint64_t shift = 0;  // base-2 logarithm of the size, rounded down; 0 for size 0 or 1

  MemorySector() = default;
  MemorySector(std::uint64_t first, std::uint64_t onePastLast);

  std::uint64_t Size() const { return end > start ? end - start : 0; }
  // The sector's base address: start with the bits of mask cleared.
  std::uint64_t Base() const { return start & ~mask; }
  bool Contains(std::uint64_t address) const { return start <= address && address < end; }

  bool operator==(const MemorySector&) const = default;
};

class MemoryMap {
 public:
  // The most sectors an equal-sector map is built with. A flash image only ever fills the
  // first 255 sectors; the limit keeps a mistyped sector count from exhausting memory.
  static constexpr std::int64_t kMaxEqualSectors = 65536;

  MemoryMap() = default;
  // sectorCount sectors of sectorSize bytes each, the first at firstAddress: sector i covers
  // [first + i·size, first + (i+1)·size). A size or count below 1 gives an empty map; sectors
  // that would reach past the 64-bit address space are left out.
  MemoryMap(std::int64_t sectorSize, std::int64_t sectorCount, std::uint64_t firstAddress);
  // One sector per (first address, last address inclusive) pair, in the order given.
  explicit MemoryMap(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& firstLastPairs);

  // Index of the first sector with start <= address < end, or -1.
  int Lookup(std::uint64_t address) const;

  const std::vector<MemorySector>& Sectors() const { return m_sectors; }
  std::size_t Size() const { return m_sectors.size(); }
  bool Empty() const { return m_sectors.empty(); }
  const MemorySector& operator[](std::size_t index) const { return m_sectors[index]; }

  bool operator==(const MemoryMap&) const = default;

 private:
  std::vector<MemorySector> m_sectors;
};
