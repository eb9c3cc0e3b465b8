// The pack manager: turns each property read of the worker into either a plain read of the
// property's mapping or one read of the whole pack the property belongs to, whose other values
// it keeps for the next reads of the neighbouring properties (each cached value is served
// once). Every pack that names a record also gets a data-record file under "Packs", one line
// per pack read from the device.
#pragma once

#include <string>
#include <vector>

#include "comm/ModbusDevice.h"
#include "profiles/ModbusProperties.h"

// One address of a pack, with the value the last pack read left for it.
struct PackedElements {
  ModbusMapping mapping;      // single layout, the pack's register kind, this address
  ModbusMapping packMapping;  // the whole pack
  std::string recordPath;     // the pack's record file; empty when it names none
  bool fresh = false;         // a value waits in the cache
  std::vector<int32_t> cache;

  // The cached value (code 0), once; without one, a fault line and code 255.
  ModbusAnswer FormResFromData();
};

class CPackManager {
 public:
  CPackManager(const std::vector<PackRecord>& packs, ModbusDevice* device);

  // The value(s) of one property read.
  ModbusAnswer Result(const ModbusMapping& mapping);

  const std::vector<PackedElements>& Elements() const { return m_elements; }
  // The record file of each pack in profile order (empty for packs without a record).
  const std::vector<PackRecord>& Records() const { return m_records; }

 private:
  PackedElements* Find(uint32_t address, RegisterLayout layout, RegisterKind kind);
  void AppendRecordLine(const std::string& path, const std::vector<int32_t>& values) const;

  ModbusDevice* m_pDevice;
  std::vector<PackedElements> m_elements;
  double m_dStartMs = 0;
  std::vector<PackRecord> m_records;  // record names replaced by file paths
};
