#include "tools/ConfigSnapshot.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <chrono>

#include "profiles/ValueText.h"
#include "tools/ValueRecorder.h"

namespace configsnapshot {

namespace {

constexpr int32_t kQueryTimeoutMs = 2000;
constexpr int kAttempts = 3;
constexpr int kFormat = 1;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// One request to its final state. The server keeps one request per property: when another
// caller (a window's object) has one queued for the same property, this one joins it, and the
// result goes to whichever collects it first. The loser sees "Canceled", or the other's
// request (a read where a write was asked), and asks again.
QueryHandle Query(CDeviceView& view, const ModbusProperty& property, std::optional<int32_t> write) {
  QueryHandle handle;
  const int32_t kind = write ? 1 : 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    handle = write ? view.SetProperty(property, *write) : view.GetProperty(property);
    if (!view.WaitQuery(handle, kQueryTimeoutMs)) handle.state = QueryHandle::Timeout;
    if (handle.state != QueryHandle::Canceled && handle.kind == kind) break;
    if (handle.state != QueryHandle::Canceled) handle.state = QueryHandle::Canceled;
  }
  return handle;
}

// What the device holds now. A property in a pack may be served once from the values its
// pack's last read left behind, which can be older than a change made since: the second of two
// reads always comes from a read of the device that began after the first.
QueryHandle ReadFresh(CDeviceView& view, const ModbusProperty& property) {
  const QueryHandle first = Query(view, property, std::nullopt);
  return first.state == QueryHandle::Updated ? Query(view, property, std::nullopt) : first;
}

// Why `raw` cannot be written to `property`; empty when it can.
std::string RawProblem(const ModbusProperty& property, int32_t raw) {
  const auto [low, high] = property.mapping.RawLimits();
  if (raw < low || raw > high)
    return "raw value " + std::to_string(raw) + " does not fit the register (" + std::to_string(low) + " to " +
           std::to_string(high) + ")";
  if (property.kind == PropertyKind::Natural && !property.data.empty()) {
    if (raw < 0 || static_cast<size_t>(raw) >= property.data.size())
      return "raw value " + std::to_string(raw) + " is not one of the items";
  } else if (property.iSlMin <= property.iSlMax && (raw < property.iSlMin || raw > property.iSlMax)) {
    return "raw value " + std::to_string(raw) + " is outside the range " + std::to_string(property.iSlMin) + " to " +
           std::to_string(property.iSlMax);
  }
  return {};
}

std::string NowText() {
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const std::string row = CValueRecorder::Row(CValueRecorder::Format::Csv, QueryHandle{}, ms);
  return row.substr(0, row.find(','));
}

}  // namespace

std::vector<ModbusProperty> Properties(const DeviceProfile& profile) {
  std::vector<ModbusProperty> properties;
  for (const KeywordList& list : profile.keywordLists) {
    if (list.keyword.empty() || list.keyword == "button") continue;
    for (const VisualObjectEntry& entry : list.entries) {
      if (entry.gauge == 1 || entry.properties.empty()) continue;
      const ModbusProperty& property = entry.properties.front();  // the one the object writes
      const RegisterKind kind = property.mapping.registerKind;
      if (kind != RegisterKind::HoldingRegister && kind != RegisterKind::Coil) continue;
      if (std::any_of(properties.begin(), properties.end(), [&](const auto& p) { return p.id == property.id; })) continue;
      properties.push_back(property);
    }
  }
  return properties;
}

bool Take(CDeviceView& view, const DeviceIdentity& identity, const std::string& profileText, ConfigSnapshot& out,
          std::string& why) {
  ConfigSnapshot snapshot;
  snapshot.deviceName = identity.name;
  snapshot.deviceVersion = identity.version.Format();
  snapshot.programVersion = identity.programVersion.Format();
  snapshot.profile = profileText;
  snapshot.saved = NowText();
  for (const ModbusProperty& property : Properties(view.Profile())) {
    const QueryHandle handle = ReadFresh(view, property);
    if (handle.state != QueryHandle::Updated || handle.values.empty()) {
      why = "reading " + std::to_string(property.id) + " " + property.caption + " failed: " + handle.GetStateString();
      return false;
    }
    snapshot.values.push_back({property.id, property.caption, handle.GetResult(), PropertyValueShown(property, handle.GetResult())});
  }
  if (snapshot.values.empty()) {
    why = "the profile has no setting the device can write";
    return false;
  }
  out = std::move(snapshot);
  return true;
}

bool Save(const std::string& path, const ConfigSnapshot& s, std::string& why) {
  QJsonArray values;
  for (const SnapshotValue& v : s.values)
    values.append(QJsonObject{{"id", v.id}, {"caption", Q(v.caption)}, {"raw", v.raw}, {"value", Q(v.value)}});
  const QJsonObject root{{"kelmora_configuration", kFormat},
                         {"device", QJsonObject{{"name", Q(s.deviceName)},
                                                {"version", Q(s.deviceVersion)},
                                                {"program", Q(s.programVersion)}}},
                         {"profile", Q(s.profile)},
                         {"saved", Q(s.saved)},
                         {"values", values}};
  // Written beside the target and renamed over it: a failed save leaves an older file whole.
  QSaveFile file(Q(path));
  if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
    why = "cannot write " + path + ": " + file.errorString().toStdString();
    return false;
  }
  return true;
}

bool Load(const std::string& path, ConfigSnapshot& out, std::string& why) {
  QFile file(Q(path));
  if (!file.open(QIODevice::ReadOnly)) {
    why = "cannot read " + path + ": " + file.errorString().toStdString();
    return false;
  }
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
  const QJsonObject root = document.object();
  if (error.error != QJsonParseError::NoError || !root.contains("kelmora_configuration") || !root["values"].isArray()) {
    why = path + " is not a Kelmora configuration file" +
          (error.error != QJsonParseError::NoError ? " (" + error.errorString().toStdString() + ")" : std::string());
    return false;
  }
  if (root["kelmora_configuration"].toInt() != kFormat) {
    why = path + " is a configuration file of another format (" +
          std::to_string(root["kelmora_configuration"].toInt()) + ")";
    return false;
  }
  ConfigSnapshot s;
  const QJsonObject device = root["device"].toObject();
  s.deviceName = device["name"].toString().toStdString();
  s.deviceVersion = device["version"].toString().toStdString();
  s.programVersion = device["program"].toString().toStdString();
  s.profile = root["profile"].toString().toStdString();
  s.saved = root["saved"].toString().toStdString();
  for (const QJsonValue& item : root["values"].toArray()) {
    const QJsonObject v = item.toObject();
    const double raw = v["raw"].toDouble(0.5);
    if (!v["id"].isDouble() || !v["raw"].isDouble() || raw != static_cast<int32_t>(raw)) {
      why = path + ": every value needs a whole-number \"id\" and \"raw\"";
      return false;
    }
    s.values.push_back({v["id"].toInt(), v["caption"].toString().toStdString(), static_cast<int32_t>(raw),
                        v["value"].toString().toStdString()});
  }
  out = std::move(s);
  return true;
}

bool MadeFor(const ConfigSnapshot& snapshot, const DeviceIdentity& identity) {
  return snapshot.deviceName == identity.name && snapshot.deviceVersion == identity.version.Format();
}

std::string IdentityText(const ConfigSnapshot& snapshot) { return snapshot.deviceName + " " + snapshot.deviceVersion; }

std::vector<SnapshotDifference> Compare(CDeviceView& view, const ConfigSnapshot& snapshot) {
  const std::vector<ModbusProperty> properties = Properties(view.Profile());
  std::vector<SnapshotDifference> differences;
  for (const SnapshotValue& value : snapshot.values) {
    SnapshotDifference d;
    d.file = value;
    const auto it = std::find_if(properties.begin(), properties.end(), [&](const auto& p) { return p.id == value.id; });
    if (it == properties.end()) {
      d.property.id = -1;
      d.problem = "the profile has no setting " + std::to_string(value.id);
      differences.push_back(d);
      continue;
    }
    d.property = *it;
    // The raw value is what applies: show it as this profile does, whatever the file's text says.
    d.file.value = PropertyValueShown(d.property, value.raw);
    const QueryHandle handle = ReadFresh(view, d.property);
    if (handle.state == QueryHandle::Updated && !handle.values.empty()) {
      if (handle.GetResult() == value.raw) continue;
      d.deviceRaw = handle.GetResult();
      d.deviceValue = PropertyValueShown(d.property, handle.GetResult());
    } else {
      d.deviceValue = handle.GetStateString();
    }
    d.problem = RawProblem(d.property, value.raw);
    differences.push_back(d);
  }
  return differences;
}

std::vector<SnapshotApplyResult> Apply(CDeviceView& view, const std::vector<SnapshotDifference>& differences) {
  std::vector<SnapshotApplyResult> results;
  for (const SnapshotDifference& d : differences) {
    SnapshotApplyResult r{d, false, {}};
    if (!d.problem.empty()) {
      r.text = "not applied: " + d.problem;
      results.push_back(r);
      continue;
    }
    const QueryHandle written = Query(view, d.property, d.file.raw);
    if (written.state != QueryHandle::Updated) {
      r.text = "refused: " + written.GetStateString();
    } else if (const QueryHandle back = ReadFresh(view, d.property); back.state != QueryHandle::Updated) {
      r.text = "written, but reading it back failed: " + back.GetStateString();
    } else if (back.GetResult() != d.file.raw) {
      r.text = "written, but the device holds " + PropertyValueShown(d.property, back.GetResult());
    } else {
      r.ok = true;
      r.text = "written";
    }
    results.push_back(r);
  }
  return results;
}

}  // namespace configsnapshot
