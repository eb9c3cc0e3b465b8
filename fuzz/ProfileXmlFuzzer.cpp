// Fuzz target: the device profile loader, `CXDeviceProfileManager::ParseProfileFile`, on an
// in-memory profile file, and what the program makes of every profile it yields: the values
// shown through each property, and the simulated device built from the profile with its
// values in motion.
//
// Input: the profile file, as it would lie in the profiles folder.
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "XMLParser/XDeviceProfileManager.h"
#include "fuzz/FuzzSupport.h"
#include "profiles/ValueText.h"
#include "sim/SimDevice.h"
#include "sim/SimProfile.h"

namespace {

// Each value a property is shown with: the limits of its range and both ends of 32 bits.
void ShowValues(ModbusProperty property) {
  for (const std::int32_t raw : {property.iSlMin, property.iSlMax, INT32_MIN, INT32_MAX, 0}) {
    const std::string text = PropertyValueToString(property, raw);
    (void)StringToPropertyValue(property, text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // One initialisation for the whole run keeps the loader's own, nested one cheap.
  xercesc::XMLPlatformUtils::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::MemoryFile file("profile.xml");
  if (!file.Write(data, size)) std::abort();

  // Constructed per input, so that only this file's profiles are in the list (the manager
  // also reads ./profiles/ of the working folder; ./run fuzz runs in a folder without one).
  CXDeviceProfileManager manager;
  const std::size_t before = manager.GetProfileCount();
  manager.ParseProfileFile(file.Path());
  for (std::size_t i = before; i < manager.GetProfileCount(); ++i) {
    const DeviceProfile profile = manager.GetProfile(i);
    for (const KeywordList& list : profile.keywordLists)
      for (const VisualObjectEntry& entry : list.entries)
        for (const ModbusProperty& property : entry.properties) ShowValues(property);
    if (i - before < 2) {
      // The simulator on this profile: its register image and the values it sets in motion,
      // at the start, a moment later and a day later.
      sim::CSimDevice device;
      std::vector<std::string> warnings;
      sim::BuildSimDevice(profile, device, warnings);
      for (const double ms : {0.0, 1234.5, 86400000.0}) device.Animate(ms);
    }
  }
  return 0;
}
