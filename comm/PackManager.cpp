#include "comm/PackManager.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "comm/FaultLog.h"
#include "platform/Clock.h"

using namespace modbus_code;

namespace {

constexpr const char* kFolder = "Packs";

// The record name as part of a file name: it comes from a profile, so it may not climb out of
// the folder or name a folder of its own.
std::string SafeFileName(std::string name) {
  for (char& c : name)
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  if (name == "." || name == "..") name = "_";
  return name;
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y.%m.%d-%H.%M.%S-", &local);
  return text;
}

}  // namespace

ModbusAnswer PackedElements::FormResFromData() {
  if (!fresh) {
    KELMORA_FAULT("PackedElements::FormResFromData incorrect use");
    return {kNoAnswer, {}};
  }
  fresh = false;
  return {kSuccess, cache};
}

CPackManager::CPackManager(const std::vector<PackRecord>& packs, ModbusDevice* device) : m_pDevice(device) {
  m_records = packs;
  const std::string stamp = LocalTimeStamp();
  for (PackRecord& record : m_records) {
    if (record.record.empty()) continue;
    std::error_code ec;
    std::filesystem::create_directories(kFolder, ec);
    record.record = std::string(kFolder) + "/" + stamp + SafeFileName(record.record);
  }
  m_dStartMs = NowMilliseconds();
  for (PackRecord& record : m_records) {
    if (record.record.empty()) continue;
    if (std::FILE* file = std::fopen(record.record.c_str(), "w")) std::fclose(file);
  }
  for (const PackRecord& record : m_records) {
    const ModbusMapping& pack = record.mapping;
    if (pack.layout != RegisterLayout::Array) {
      KELMORA_FAULT("CPackManager::CPackManager incorrect use");
      continue;
    }
    for (int32_t i = 0; i < pack.count; ++i) {
      PackedElements element;
      element.mapping = ModbusMapping{RegisterLayout::Single, pack.registerKind, pack.address + i, 1};
      element.packMapping = pack;
      element.recordPath = record.record;
      m_elements.push_back(std::move(element));
    }
  }
}

PackedElements* CPackManager::Find(uint32_t address, RegisterLayout layout, RegisterKind kind) {
  for (PackedElements& element : m_elements)
    if (element.mapping.address == address && element.mapping.layout == layout &&
        element.mapping.registerKind == kind)
      return &element;
  return nullptr;
}

void CPackManager::AppendRecordLine(const std::string& path, const std::vector<int32_t>& values) const {
  if (path.empty()) return;
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return;
  std::fprintf(file, "%.4lf ", NowMilliseconds() - m_dStartMs);
  for (int32_t value : values) std::fprintf(file, "%d ", value);
  std::fputc('\n', file);
  std::fclose(file);
}

ModbusAnswer CPackManager::Result(const ModbusMapping& mapping) {
  PackedElements* element = Find(mapping.address, mapping.layout, mapping.registerKind);
  if (element == nullptr) return m_pDevice->ReadElement(mapping);
  if (element->fresh) return element->FormResFromData();

  const ModbusMapping pack = element->packMapping;
  const std::string recordPath = element->recordPath;
  ModbusAnswer read = m_pDevice->ReadElement(pack);
  if (read.code != kSuccess) return read;
  if (static_cast<int32_t>(read.values.size()) != pack.count)
    KELMORA_FAULT("CPackManager::Result of wrong length");
  AppendRecordLine(recordPath, read.values);

  ModbusAnswer answer{kSuccess, {}};
  // Values past the pack's count are the padding bits of a coil answer's last byte.
  const size_t used = std::min(read.values.size(), static_cast<size_t>(std::max(pack.count, 0)));
  for (size_t i = 0; i < used; ++i) {
    const uint32_t address = pack.address + static_cast<uint32_t>(i);
    if (address == mapping.address) {
      answer.values.push_back(read.values[i]);
      continue;
    }
    PackedElements* neighbour = Find(address, mapping.layout, mapping.registerKind);
    if (neighbour == nullptr) {
      KELMORA_FAULT("CPackManager:: Element in pack does not exists");
      continue;
    }
    neighbour->cache.assign(1, read.values[i]);
    neighbour->fresh = true;
  }
  return answer;
}
