// Inside the D2XX subset: the two adapter backends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/StreamComm.h"

namespace d2xx {

struct AdapterInfo {
  std::string serial;
  std::string description;
  std::string devicePath;  // the fake backend's line; empty for libftdi
};

// The adapters present now, in a stable order.
std::vector<AdapterInfo> ListLibFtdi(bool& ok);
// Opens the libftdi adapter with this serial number; null with `error`/`text` on failure.
std::unique_ptr<CStreamComm> OpenLibFtdi(const std::string& serial, int32_t& error,
                                         std::string& text);

}  // namespace d2xx
