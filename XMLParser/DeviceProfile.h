// One device type as a profile describes it: its identity, how its firmware is updated, its
// packs and its visual objects grouped by keyword. A plain value; copies are independent.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/MemoryMap.h"
#include "profiles/ModbusProperties.h"
#include "profiles/Version.h"

// Who the device is: the `device` element's `name`, `version` and `firmware` attributes.
struct DeviceIdentity {
  std::string name = "Unknown";
  Version version;
  Version programVersion;
};

// How the device's firmware is updated: the `firmware_upgrade` element.
struct FirmwareDescription {
  bool valid = false;   // a `firmware_upgrade` element exists
  std::string name;     // the boot loader's format name, e.g. "FU$-IHEX"
  Version version{0, 1};
  std::string target;   // e.g. "LPCARM"
  MemoryMap memoryMap;  // empty unless an equal-sector `memory_map` is given
  std::map<std::string, std::string> parameters;  // "baudrate"

  // The parameter text, or the empty text when there is none.
  std::string Parameter(std::string_view key) const;
};

struct DeviceProfile {
  // One list per visual-object keyword, in order of first appearance; the header entry of a
  // representation is filed under the keyword "".
  std::vector<KeywordList> keywordLists;
  DeviceIdentity identity;
  FirmwareDescription firmware;
  std::vector<PackRecord> packs;

  KeywordList* FindKeywordList(std::string_view keyword);
  const KeywordList* FindKeywordList(std::string_view keyword) const;
  // Entries filed under the keyword (0 when there is no such list).
  std::size_t EntryCount(std::string_view keyword) const;
  // Sets every list's cursor back to its first entry.
  void ResetCursors();
};
