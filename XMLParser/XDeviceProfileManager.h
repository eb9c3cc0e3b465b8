// The device profile manager: on construction it reads every "*.xml" file in the folder
// "./profiles/" below the working folder and in every sub-folder whose name does not begin
// with ".", and keeps one `DeviceProfile` per `device` element, in the order found.
//
// Profiles come from anyone, so they are read defensively: the parser never opens other files
// or the network on a profile's behalf (external entities and DTDs are not loaded), entity
// expansion is limited, files larger than kMaxProfileBytes are refused, and the parser's memory
// is capped. A file that cannot be read or parsed is logged to the fault log and skipped; the
// other files still load.
//
// Loading initialises and terminates the Xerces platform, which is not thread-safe: load
// profiles on one thread, with no other Xerces user running at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "profiles/Version.h"

class CXDeviceProfileManager {
 public:
  // Largest profile file that is parsed.
  static constexpr std::uintmax_t kMaxProfileBytes = 16u * 1024u * 1024u;
  // Most entity expansions allowed in one file.
  static constexpr std::size_t kEntityExpansionLimit = 10000;
  // Most memory the parser may hold for one file (document tree included).
  static constexpr std::size_t kParserMemoryLimit = 256u * 1024u * 1024u;

  // Loads the profiles (LoadProfiles).
  CXDeviceProfileManager();

  // Empties the list and reads every profile below "./profiles/" again.
  void LoadProfiles();
  // Parses one file and appends its devices' profiles. Failures are logged, never thrown.
  void ParseProfileFile(const std::string& path);

  const std::vector<DeviceProfile>& GetProfiles() const { return m_profiles; }
  std::size_t GetProfileCount() const { return m_profiles.size(); }
  // A copy of profile `index`; an index outside the list throws std::out_of_range with the
  // text "Bad Profile Number".
  DeviceProfile GetProfile(std::size_t index) const;
  // The manager's own version, 0.30.
  const Version& GetVersion() const { return m_version; }

 private:
  void LoadFolder(const std::string& folder, std::set<std::filesystem::path>& visited);

  Version m_version{0, 30};
  std::vector<DeviceProfile> m_profiles;
};
