// Configuration snapshots: the device's settings saved to a file that names the device and the
// profile, compared with the device later, and written back where they differ. The command
// line's `config save|diff|apply` and the window's snapshot commands share these steps.
//
// A snapshot holds every property of an object the operator can change (the profile's
// non-gauge objects) that the device can write, that is a holding register or a coil. Buttons
// are commands rather than settings and are left out: applying a file must never press one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "comm/DeviceView.h"

struct SnapshotValue {
  int32_t id = 0;
  std::string caption;
  int32_t raw = 0;
  std::string value;  // as shown, for the reader; `raw` is what is applied
};

struct ConfigSnapshot {
  std::string deviceName, deviceVersion, programVersion;  // the identity it was taken from
  std::string profile;  // "NAME VERSION" as the profile list shows it
  std::string saved;    // ISO 8601 time
  std::vector<SnapshotValue> values;
};

// One property whose value in the file differs from the device's, or could not be compared.
struct SnapshotDifference {
  ModbusProperty property;  // the profile's, with its mapping; id -1 when the profile lacks it
  SnapshotValue file;
  std::optional<int32_t> deviceRaw;  // empty when the read failed
  std::string deviceValue;           // as shown, or the read's state
  std::string problem;               // why the file's value cannot be applied; empty when it can
};

struct SnapshotApplyResult {
  SnapshotDifference difference;
  bool ok = false;
  std::string text;  // "written", "refused: Device Error", "read back 12.5 instead", ...
};

namespace configsnapshot {

std::vector<ModbusProperty> Properties(const DeviceProfile& profile);
// Reads every property; false, with `why` naming the first that could not be read.
bool Take(CDeviceView& view, const DeviceIdentity& identity, const std::string& profileText, ConfigSnapshot& out,
          std::string& why);
bool Save(const std::string& path, const ConfigSnapshot& snapshot, std::string& why);
bool Load(const std::string& path, ConfigSnapshot& snapshot, std::string& why);
// True when the snapshot was taken from a device of this name and version.
bool MadeFor(const ConfigSnapshot& snapshot, const DeviceIdentity& identity);
// "PDC-4120 2.03"
std::string IdentityText(const ConfigSnapshot& snapshot);
// Reads the device's value of every property in the snapshot and returns those that differ or
// cannot be compared, in the file's order.
std::vector<SnapshotDifference> Compare(CDeviceView& view, const ConfigSnapshot& snapshot);
// Writes each applicable difference and reads it back to verify; one result per difference.
std::vector<SnapshotApplyResult> Apply(CDeviceView& view, const std::vector<SnapshotDifference>& differences);

}  // namespace configsnapshot
