// Helpers of the firmware suites: Intel HEX lines and files made by hand and by objcopy, an
// independent CRC, descriptions of the three boot loaders, and a notifier that records.
#pragma once

#include <algorithm>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "firmware/UserNotifier.h"
#include "profiles/MemoryMap.h"

namespace fwtest {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/ARC bit by bit, as the boot loader's documentation gives it.
inline std::uint16_t ArcCrc(const std::uint8_t* data, std::size_t length, std::uint16_t crc = 0) {
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

// One Intel HEX record with its checksum.
inline std::string HexLine(std::uint8_t type, std::uint16_t address, const Bytes& data) {
  char buf[16];
  std::string line = ":";
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
  std::snprintf(buf, sizeof buf, "%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
  line += buf;
  for (const std::uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    line += buf;
    sum += b;
  }
  std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + buf;
}

inline std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// `binary` as an LPC ARM build leaves it: the word at 0x14 makes the 8 vector words sum to 0.
inline Bytes WithVectorChecksum(Bytes b) {
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < 0x20; at += 4)
    if (at != 0x14) sum += b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
  for (int i = 0; i < 4; ++i) b[0x14 + i] = static_cast<std::uint8_t>((0u - sum) >> (8 * i));
  return b;
}

// objcopy from binutils, found on PATH at run time; empty when there is none.
inline std::string FindObjcopy() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    for (const char* name : {"objcopy", "x86_64-linux-gnu-objcopy"}) {
      const std::filesystem::path candidate = std::filesystem::path(dir) / name;
      if (std::filesystem::exists(candidate)) return candidate.string();
    }
  }
  return {};
}

// The Intel HEX text objcopy makes of `binary` placed at `address`. Start-address records
// (types 03 and 05) are left out: boot-loader images carry none.
inline std::string ObjcopyHex(const Bytes& binary, std::uint64_t address, const std::string& folder) {
  const std::string objcopy = FindObjcopy();
  if (objcopy.empty()) return {};
  const std::string bin = folder + "/objcopy-in.bin", hex = folder + "/objcopy-out.hex";
  WriteBytes(bin, binary);
  char vma[32];
  std::snprintf(vma, sizeof vma, "0x%llX", static_cast<unsigned long long>(address));
  const std::string command = objcopy + " -I binary -O ihex --adjust-vma=" + vma + " " + bin + " " + hex;
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(hex);
  std::string line, text;
  while (std::getline(in, line)) {
    if (line.size() >= 9 && (line.compare(7, 2, "03") == 0 || line.compare(7, 2, "05") == 0)) continue;
    text += line + "\n";
  }
  return text;
}

// The image file of the sequence-numbered boot loader: the identity header, then `hex` with a
// sector-checksum record (0x6A) before its end record for every sector of `sectors` that
// holds bytes of `binary` (placed at `address`).
inline std::string HeaderedImage(const std::string& hex, std::int32_t id1, std::int32_t id2, const Bytes& binary,
                                 std::uint64_t address,
                                 const std::vector<std::pair<std::uint64_t, std::uint64_t>>& sectors) {
  std::string records;
  for (const auto& [first, last] : sectors) {
    const std::uint64_t from = std::max(first, address), to = std::min(last + 1, address + binary.size());
    if (from >= to) continue;
    const std::uint16_t crc = ArcCrc(binary.data() + (from - address), to - from);
    records += HexLine(0x6A, static_cast<std::uint16_t>(first & 0xFFFF),
                       {static_cast<std::uint8_t>(first >> 24), static_cast<std::uint8_t>(first >> 16),
                        static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)}) +
               "\n";
  }
  std::string body = hex;
  const auto end = body.find(":00000001FF");
  body.insert(end == std::string::npos ? body.size() : end, records);
  return std::to_string(id1) + "\n" + std::to_string(id2) + "\n" + body;
}

inline FirmwareDescription Description(const std::string& name, Version version, MemoryMap map,
                                       const std::string& target = "") {
  FirmwareDescription d;
  d.valid = true;
  d.name = name;
  d.version = version;
  d.target = target;
  d.memoryMap = std::move(map);
  d.parameters["baudrate"] = "115200";
  return d;
}

class RecordingNotifier : public IUserNotifier {
 public:
  void Notify(std::string_view text, NoticeKind) override { texts.emplace_back(text); }
  std::vector<std::string> texts;
};

}  // namespace fwtest
