#include "profiles/MemoryMap.h"

#include <limits>

MemorySector::MemorySector(std::uint64_t first, std::uint64_t onePastLast) : start(first), end(onePastLast) {
  const std::uint64_t size = Size();
  mask = size == 0 ? 0 : size - 1;
  for (std::uint64_t rest = size; rest > 1; rest >>= 1) ++shift;
}

MemoryMap::MemoryMap(std::int64_t sectorSize, std::int64_t sectorCount, std::uint64_t firstAddress) {
  if (sectorSize < 1 || sectorCount < 1) return;
  const auto size = static_cast<std::uint64_t>(sectorSize);
  const auto count = static_cast<std::uint64_t>(sectorCount < kMaxEqualSectors ? sectorCount : kMaxEqualSectors);
  m_sectors.reserve(count);
  std::uint64_t start = firstAddress;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (start > std::numeric_limits<std::uint64_t>::max() - size) break;
    m_sectors.emplace_back(start, start + size);
    start += size;
  }
}

MemoryMap::MemoryMap(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& firstLastPairs) {
  m_sectors.reserve(firstLastPairs.size());
  for (const auto& [first, last] : firstLastPairs) {
    // A last address below the first gives an empty sector that no address falls in.
    const std::uint64_t end = last < first ? first : (last == std::numeric_limits<std::uint64_t>::max() ? last : last + 1);
    m_sectors.emplace_back(first, end);
  }
}

int MemoryMap::Lookup(std::uint64_t address) const {
  for (std::size_t i = 0; i < m_sectors.size(); ++i) {
    if (m_sectors[i].Contains(address)) return static_cast<int>(i);
  }
  return -1;
}
