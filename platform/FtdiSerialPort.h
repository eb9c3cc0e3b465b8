// A serial line through an FTDI USB adapter, driven through the D2XX subset, and the list of
// adapters present.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/D2xx.h"
#include "platform/SerialPort.h"

class FtdiSerialPort final : public SerialPort {
 public:
  FtdiSerialPort();
  ~FtdiSerialPort() override;

  // `name` is the adapter's serial number.
  int32_t Open(const std::string& name, uint32_t inQueue, uint32_t outQueue,
               bool overlapped) override;
  std::string GetLastErrorText() const override;

 protected:
  CommDevice* Device() const override;
  void CloseDevice() override;
  bool SetsWriteTimeouts() const override { return false; }
  int32_t DeviceError() const override;

 private:
  class CHandleDevice;
  std::unique_ptr<CHandleDevice> m_hDevice;  // null while closed
  int32_t m_iOpenError = 0;
  std::string m_strOpenErrorText;
};

struct FtdiDeviceItem {
  uint32_t index = 0;         // position in the adapter list
  bool available = false;     // not opened and with a serial number
  char serialNumber[16] = {};  // not necessarily zero-terminated
  char description[64] = {};

  std::string Serial() const { return std::string(serialNumber, strnlen(serialNumber, sizeof serialNumber)); }
  std::string Description() const {
    return std::string(description, strnlen(description, sizeof description));
  }
};

class FtdiDeviceList {
 public:
  // Reads the adapters present; returns their count, 0 when the library fails.
  uint32_t Refresh();
  // Copies the item at the cursor and advances; false past the end.
  bool Next(FtdiDeviceItem& item);
  void Clear();

  uint32_t Count() const { return static_cast<uint32_t>(m_items.size()); }
  int32_t Cursor() const { return m_iCursor; }

 private:
  std::vector<FtdiDeviceItem> m_items;
  int32_t m_iCursor = -1;
};

// The serial number of the adapter at `index` into `serial` (64 bytes): 0, or -1 when the
// library fails, -2 when the index is negative or past the last adapter.
int32_t FtdiSerialNumberByIndex(int32_t index, char* serial);
