// The byte channel through which the Modbus master and the flash loader reach the device.
#pragma once

#include <cstdint>

#include "comm/DataGram.h"

class DataChannel {
 public:
  virtual ~DataChannel() = default;
  virtual bool IsOpen() = 0;
  // Writes the whole datagram; returns the bytes written.
  virtual int32_t Write(const DataGram& dgData) = 0;
  // Reads what is waiting, up to the datagram's size, without waiting; returns the count.
  virtual int32_t Read(DataGram& dgData) = 0;
  // Discards what the line holds in both directions.
  virtual void Purge() = 0;

  // The same read into a plain buffer of `length` bytes.
  virtual int32_t Read(uint8_t* buffer, int32_t length) = 0;
  // Sleeps until bytes are waiting: 0 readable, 1460 after `timeoutMs` (negative: no limit),
  // 995 when `Interrupt` ended the wait, any other code when the line failed (1167: the device
  // went away). Never returns at once on an idle healthy line, so callers cannot spin.
  virtual int32_t WaitReadable(int32_t timeoutMs) = 0;
  // Ends a `WaitReadable` in progress on another thread (or the next one) at once.
  virtual void Interrupt() = 0;
  // True once an operation found the device gone (an unplugged adapter, a hung-up line),
  // until the line is opened again. A channel that cannot lose its device never is.
  virtual bool LineLost() const { return false; }
};
