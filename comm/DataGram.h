// An owned byte buffer with its size: every serial frame and frame part.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

class DataGram {
 public:
  explicit DataGram(int32_t size = 0);
  DataGram(const uint8_t* data, int32_t size);
  DataGram(std::initializer_list<uint8_t> bytes);
  DataGram(const DataGram& other);
  DataGram& operator=(const DataGram& other);
  DataGram(DataGram&& other) noexcept;
  DataGram& operator=(DataGram&& other) noexcept;
  ~DataGram() = default;

  uint8_t* GetBuffer() { return m_pData.get(); }
  const uint8_t* GetBuffer() const { return m_pData.get(); }
  int32_t GetSize() const { return m_iSize; }
  uint8_t& operator[](int32_t index) { return m_pData[index]; }
  uint8_t operator[](int32_t index) const { return m_pData[index]; }

  // A new block of `size` bytes holding the first min(old, new) bytes of the old one.
  void Resize(int32_t size);
  // Copies `source` into this buffer from `position` on; what would fall outside the buffer
  // is cut off. A position at or past the end copies nothing and logs a fault.
  void Copy(const DataGram& source, int32_t position);

  bool operator==(const DataGram& other) const;

 private:
  std::unique_ptr<uint8_t[]> m_pData;
  int32_t m_iSize = 0;
};
