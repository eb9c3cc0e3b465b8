// Helpers for profile loader tests: each test works in a fresh temporary working folder, writes
// its profiles below ./profiles/ and reads the fault log there.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "XMLParser/XDeviceProfileManager.h"

class ProfileFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previous = std::filesystem::current_path();
    std::random_device seed;
    m_folder = std::filesystem::temp_directory_path() /
               ("kelmora-profiles-" + std::to_string(::getpid()) + "-" + std::to_string(seed()));
    std::filesystem::create_directories(m_folder / "profiles");
    std::filesystem::current_path(m_folder);
  }

  void TearDown() override {
    std::filesystem::current_path(m_previous);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }

  // Writes a file below the working folder, creating its folders.
  static void Write(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  static std::vector<std::string> FaultLog() {
    std::vector<std::string> lines;
    std::ifstream in("faults.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static bool LogHas(const std::string& line) {
    for (const auto& l : FaultLog()) {
      if (l == line) return true;
    }
    return false;
  }

  // Writes one profile file and loads every profile.
  static std::vector<DeviceProfile> LoadOne(const std::string& document) {
    Write("profiles/test.xml", document);
    CXDeviceProfileManager manager;
    return manager.GetProfiles();
  }

  std::filesystem::path m_folder;

 private:
  std::filesystem::path m_previous;
};

inline const VisualObjectEntry& EntryOf(const DeviceProfile& profile, const std::string& keyword,
                                        std::size_t index = 0) {
  const KeywordList* list = profile.FindKeywordList(keyword);
  if (list == nullptr || index >= list->entries.size()) {
    ADD_FAILURE() << "no entry " << index << " under keyword \"" << keyword << "\"";
    static const VisualObjectEntry none;
    return none;
  }
  return list->entries[index];
}

inline const ModbusProperty& PropertyOf(const VisualObjectEntry& entry, std::size_t index = 0) {
  if (index >= entry.properties.size()) {
    ADD_FAILURE() << "no property " << index;
    static const ModbusProperty none;
    return none;
  }
  return entry.properties[index];
}
