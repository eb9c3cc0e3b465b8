#include "comm/DataGram.h"

#include <algorithm>
#include <cstring>

#include "comm/FaultLog.h"

DataGram::DataGram(int32_t size)
    : m_pData(size > 0 ? new uint8_t[size]() : nullptr), m_iSize(std::max(size, 0)) {}

DataGram::DataGram(const uint8_t* data, int32_t size) : DataGram(size) {
  if (m_iSize > 0) std::memcpy(m_pData.get(), data, m_iSize);
}

DataGram::DataGram(std::initializer_list<uint8_t> bytes) : DataGram(static_cast<int32_t>(bytes.size())) {
  std::copy(bytes.begin(), bytes.end(), m_pData.get());
}

DataGram::DataGram(const DataGram& other) : DataGram(other.GetBuffer(), other.m_iSize) {}

DataGram& DataGram::operator=(const DataGram& other) {
  if (this != &other) *this = DataGram(other);
  return *this;
}

DataGram::DataGram(DataGram&& other) noexcept
    : m_pData(std::move(other.m_pData)), m_iSize(other.m_iSize) {
  other.m_iSize = 0;
}

DataGram& DataGram::operator=(DataGram&& other) noexcept {
  m_pData = std::move(other.m_pData);
  m_iSize = other.m_iSize;
  other.m_iSize = 0;
  return *this;
}

void DataGram::Resize(int32_t size) {
  DataGram resized(size);
  const int32_t kept = std::min(m_iSize, resized.m_iSize);
  if (kept > 0) std::memcpy(resized.m_pData.get(), m_pData.get(), kept);
  *this = std::move(resized);
}

void DataGram::Copy(const DataGram& source, int32_t position) {
  if (position >= m_iSize) {
    KELMORA_FAULT("Bad Datagram.Copy Input, iPos > m_iSize");
    return;
  }
  // A negative position would write before the buffer: the bytes that would land there are
  // skipped, as the ones past the end are.
  int32_t skipped = 0;
  if (position < 0) {
    KELMORA_FAULT("Bad Datagram.Copy Input, iPos < 0");
    skipped = -position;
    position = 0;
  }
  const int32_t length = std::min(source.m_iSize - skipped, m_iSize - position);
  if (length <= 0) return;
  std::memmove(m_pData.get() + position, source.m_pData.get() + skipped, length);
}

bool DataGram::operator==(const DataGram& other) const {
  return m_iSize == other.m_iSize &&
         (m_iSize == 0 || std::memcmp(m_pData.get(), other.m_pData.get(), m_iSize) == 0);
}
