#include "sim/SimProfile.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "XMLParser/XDeviceProfileManager.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

// Runs `load` with a private empty working folder, so the loader finds no ./profiles of the
// caller's and writes its log lines where we can read them; returns those lines.
template <typename Load>
std::vector<std::string> LoadIsolated(Load load) {
  std::vector<std::string> log;
  std::error_code ec;
  const fs::path previous = fs::current_path(ec);
  std::string pattern = (fs::temp_directory_path(ec) / "kelmora-sim-XXXXXX").string();
  if (ec || mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    load();
    return log;
  }
  load();
  std::ifstream in(fs::path(pattern) / "faults.log");
  for (std::string line; std::getline(in, line);) log.push_back(line);
  in.close();
  if (chdir(previous.c_str()) != 0) { /* the folder vanished; nothing better to go back to */ }
  fs::remove_all(pattern, ec);
  return log;
}

std::optional<Space> SpaceOf(RegisterKind kind) {
  switch (kind) {
    case RegisterKind::Coil: return Space::Coil;
    case RegisterKind::DiscreteInput: return Space::DiscreteInput;
    case RegisterKind::HoldingRegister: return Space::Holding;
    case RegisterKind::InputRegister: return Space::Input;
    default: return std::nullopt;
  }
}

bool IsBitSpace(Space space) { return space == Space::Coil || space == Space::DiscreteInput; }

// The addresses a mapping covers, as (first, items, width).
struct Cells {
  std::uint32_t first = 0;
  std::int32_t items = 1;
  SimAnimation::Width width = SimAnimation::Width::Word;
  std::uint32_t Span() const { return static_cast<std::uint32_t>(items) * (width == SimAnimation::Width::Long ? 2 : 1); }
};

Cells CellsOf(const ModbusMapping& mapping, Space space) {
  Cells cells;
  cells.first = mapping.address;
  cells.width = IsBitSpace(space) ? SimAnimation::Width::Bit : SimAnimation::Width::Word;
  if (mapping.layout == RegisterLayout::Register32) {
    if (IsBitSpace(space)) cells.items = 2;
    else cells.width = SimAnimation::Width::Long;
  } else if (mapping.layout == RegisterLayout::Array) {
    // A range written backwards or as one number still names its first address.
    cells.items = std::max(mapping.count, 1);
  }
  return cells;
}

bool ReservedInput(std::uint32_t address, const SimIdentity& identity) {
  return (address >= 1 && address <= 3) ||
         (address >= identity.nameBlockStart && address < identity.nameBlockStart + identity.NameBlockLength());
}

bool ReservedHolding(std::uint32_t address) {
  return address == command::kFlashRegister || address == command::kBootRegister;
}

std::vector<const ModbusProperty*> AllProperties(const DeviceProfile& profile) {
  std::vector<const ModbusProperty*> out;
  for (const KeywordList& list : profile.keywordLists)
    for (const VisualObjectEntry& entry : list.entries)
      for (const ModbusProperty& property : entry.properties) out.push_back(&property);
  return out;
}

std::string Describe(const ModbusProperty& property) {
  std::ostringstream text;
  text << "property " << property.id;
  if (!property.caption.empty()) text << " \"" << property.caption << "\"";
  return text.str();
}

// The raw count of an engineering value for `property`.
double Raw(const ModbusProperty& property, double value) {
  if (property.IsFixed() && property.divisor != 0.0) return std::trunc(value / property.divisor);
  return std::trunc(value);
}

}  // namespace

bool LoadSimProfile(const std::string& path, const std::string& deviceName, DeviceProfile& profile,
                    std::string& error) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  if (ec || !fs::is_regular_file(absolute, ec)) {
    error = "cannot read the profile " + path + ": no such file";
    return false;
  }
  if (std::ifstream probe(absolute); !probe) {
    error = "cannot read the profile " + path + ": permission denied";
    return false;
  }
  std::vector<DeviceProfile> found;
  const std::vector<std::string> log = LoadIsolated([&] {
    CXDeviceProfileManager manager;
    const std::size_t before = manager.GetProfileCount();
    manager.ParseProfileFile(absolute.string());
    for (std::size_t i = before; i < manager.GetProfileCount(); ++i) found.push_back(manager.GetProfile(i));
  });
  if (found.empty()) {
    error = "the profile " + path + " describes no device";
    for (const std::string& line : log)
      if (line.rfind("F ", 0) == 0) error += "\n  " + line;
    return false;
  }
  if (deviceName.empty()) {
    profile = found.front();
    return true;
  }
  std::string names;
  for (const DeviceProfile& candidate : found) {
    if (SameName(candidate.identity.name, deviceName)) {
      profile = candidate;
      return true;
    }
    names += (names.empty() ? "" : ", ") + candidate.identity.name;
  }
  error = "the profile " + path + " has no device \"" + deviceName + "\" (it has: " + names + ")";
  return false;
}

bool ParseSimKeyword(const std::string& text, const ModbusProperty& property, SimAnimation& animation,
                     bool& animated, bool& hasStart, long long& start, std::string& error) {
  std::istringstream in(text);
  std::string word;
  in >> word;
  word = Lower(word);
  std::vector<double> numbers;
  std::vector<std::string> tokens;
  for (std::string token; in >> token;) {
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    if (end == token.c_str() || *end != '\0' || !std::isfinite(value)) {
      error = "\"" + token + "\" is not a number";
      return false;
    }
    numbers.push_back(value);
    tokens.push_back(token);
  }
  animated = false;
  hasStart = false;
  auto need = [&](std::size_t least, std::size_t most) {
    if (numbers.size() >= least && numbers.size() <= most) return true;
    error = "\"" + word + "\" takes " + std::to_string(least) +
            (most != least ? " to " + std::to_string(most) : std::string()) + " numbers";
    return false;
  };
  auto positive = [&](double seconds) {
    if (seconds > 0) return true;
    error = "the period of \"" + word + "\" must be above 0 seconds";
    return false;
  };
  // The raw count of number `i`. A register holds at most 32 bits: a count beyond them (a
  // huge number, or an ordinary one under a tiny divisor) is refused, not cut to something
  // nobody wrote.
  auto raw = [&](std::size_t i, double& out) {
    out = Raw(property, numbers[i]);
    if (out >= -2147483648.0 && out <= 4294967295.0) return true;
    error = "\"" + tokens[i] + "\" is beyond what a 32-bit register holds";
    return false;
  };
  if (word == "value") {
    double value = 0;
    if (!need(1, 1) || !raw(0, value)) return false;
    hasStart = true;
    start = static_cast<long long>(value);
    return true;
  }
  if (word == "sine" || word == "ramp") {
    if (!need(3, 3) || !positive(numbers[2]) || !raw(0, animation.low) || !raw(1, animation.high)) return false;
    animation.kind = word == "sine" ? SimAnimation::Kind::Sine : SimAnimation::Kind::Ramp;
    animation.periodS = numbers[2];
  } else if (word == "counter") {
    if (!need(0, 3)) return false;
    animation.kind = SimAnimation::Kind::Counter;
    animation.low = 1;
    if (numbers.size() > 0 && !raw(0, animation.low)) return false;
    animation.periodS = numbers.size() > 1 ? numbers[1] : 1.0;
    if (!positive(animation.periodS)) return false;
    if (numbers.size() > 2) {
      double value = 0;
      if (!raw(2, value)) return false;
      hasStart = true;
      start = static_cast<long long>(value);
    }
  } else if (word == "random") {
    if (!need(2, 3) || !raw(0, animation.low) || !raw(1, animation.high)) return false;
    animation.kind = SimAnimation::Kind::Random;
    animation.periodS = numbers.size() > 2 ? numbers[2] : 1.0;
    if (!positive(animation.periodS)) return false;
  } else {
    error = "unknown motion \"" + word + "\" (sine, ramp, counter, random or value)";
    return false;
  }
  animated = true;
  return true;
}

void BuildSimDevice(const DeviceProfile& profile, CSimDevice& device, std::vector<std::string>& warnings) {
  CSimImage& image = device.Image();
  const std::vector<const ModbusProperty*> properties = AllProperties(profile);

  // Where the profile puts values, to keep the name block clear of them.
  std::set<std::uint32_t> mappedInputs;
  for (const ModbusProperty* property : properties) {
    if (SpaceOf(property->mapping.registerKind) != Space::Input) continue;
    const Cells cells = CellsOf(property->mapping, Space::Input);
    for (std::uint32_t k = 0; k < cells.Span(); ++k) mappedInputs.insert(cells.first + k);
  }
  for (const PackRecord& pack : profile.packs) {
    if (SpaceOf(pack.mapping.registerKind) != Space::Input) continue;
    for (std::int32_t k = 0; k < std::max(pack.mapping.count, 1); ++k)
      mappedInputs.insert(pack.mapping.address + static_cast<std::uint32_t>(k));
  }

  SimIdentity identity;
  identity.name = profile.identity.name;
  identity.versionMajor = profile.identity.version.m_v1;
  identity.versionMinor = profile.identity.version.m_v2;
  identity.programMajor = profile.identity.programVersion.m_v1;
  identity.programMinor = profile.identity.programVersion.m_v2;
  if (identity.name.size() > 2 * 255) {
    warnings.push_back("the device name is longer than 510 characters and is cut there");
    identity.name.resize(2 * 255);
  }
  // The name block goes to input register 16 unless the profile uses that place; then to the
  // first free run that register 1 can still point at.
  auto blockFree = [&](std::uint32_t start) {
    for (std::uint32_t k = 0; k < identity.NameBlockLength(); ++k)
      if (mappedInputs.count(start + k)) return false;
    return start + identity.NameBlockLength() - 1 <= 65535;
  };
  std::uint32_t start = 16;
  if (!blockFree(start)) {
    start = 0;
    for (std::uint32_t candidate = 4; candidate <= 255 && start == 0; ++candidate)
      if (blockFree(candidate)) start = candidate;
  }
  if (start == 0) {
    warnings.push_back("no room for the name block in input registers 4..255; the device does not identify");
  } else {
    identity.nameBlockStart = start;
    device.SetIdentity(identity);
  }

  for (const PackRecord& pack : profile.packs) {
    const auto space = SpaceOf(pack.mapping.registerKind);
    if (!space) continue;
    for (std::int32_t k = 0; k < std::max(pack.mapping.count, 1); ++k)
      image.Define(*space, pack.mapping.address + static_cast<std::uint32_t>(k));
  }

  // A cell moves with the first property that animates it.
  std::set<std::pair<int, std::uint32_t>> animatedCells;
  for (const ModbusProperty* property : properties) {
    const auto space = SpaceOf(property->mapping.registerKind);
    if (!space) continue;
    const Cells cells = CellsOf(property->mapping, *space);
    bool reserved = false;
    for (std::uint32_t k = 0; k < cells.Span(); ++k) {
      const std::uint32_t address = cells.first + k;
      if (address == 0 || address > 65536) continue;
      if ((*space == Space::Input && start != 0 && ReservedInput(address, device.Identity())) ||
          (*space == Space::Holding && ReservedHolding(address))) {
        reserved = true;
        continue;
      }
      image.Define(*space, address);
    }
    if (reserved) {
      warnings.push_back(Describe(*property) + " lies on a " + SpaceName(*space) +
                         " the device keeps for identification or commands; those registers keep their own meaning");
      continue;
    }

    // The start value: 0, or the nearest end of the raw range when 0 is outside it.
    long long startValue = 0;
    if (property->iSlMin <= property->iSlMax) startValue = std::clamp<long long>(0, property->iSlMin, property->iSlMax);
    SimAnimation animation;
    bool animated = false, hasStart = false;
    const std::string simText = property->Keyword("sim");
    if (!simText.empty()) {
      long long given = 0;
      std::string error;
      if (!ParseSimKeyword(simText, *property, animation, animated, hasStart, given, error)) {
        warnings.push_back(Describe(*property) + ": sim \"" + simText + "\": " + error);
      } else if (hasStart) {
        startValue = given;
      }
    }
    for (std::int32_t k = 0; k < cells.items; ++k) {
      const std::uint32_t stride = cells.width == SimAnimation::Width::Long ? 2 : 1;
      const std::uint32_t address = cells.first + static_cast<std::uint32_t>(k) * stride;
      if (cells.width == SimAnimation::Width::Long) image.Set32(*space, address, static_cast<std::int32_t>(startValue));
      else image.Set(*space, address, static_cast<std::uint16_t>(startValue & 0xFFFF));
    }
    if (animated) {
      if (!animatedCells.insert({static_cast<int>(*space), cells.first}).second) {
        warnings.push_back(Describe(*property) + ": its " + SpaceName(*space) + " " + std::to_string(cells.first) +
                           " already moves with an earlier property");
        continue;
      }
      animation.space = *space;
      animation.address = cells.first;
      animation.count = cells.items;
      animation.width = cells.width;
      device.AddAnimation(animation);
    }
  }
  // At power-up the device has just loaded this configuration from its flash.
  device.SaveToFlash();
}

}  // namespace sim
