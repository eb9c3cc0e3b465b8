// The profiles shipped in demo/profiles load with the content the simulated device, the GUI and
// the firmware update rely on; mutated copies of them load without crash or hang.
#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "comm/FaultLog.h"
#include "tests/XMLParser/ProfileTestSupport.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDemo = KELMORA_DEMO_PROFILES;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class DemoProfiles : public ProfileFolderTest {
 protected:
  void SetUp() override {
    ProfileFolderTest::SetUp();
    for (const auto& file : fs::directory_iterator(kDemo)) {
      fs::copy_file(file.path(), fs::path("profiles") / file.path().filename());
    }
  }

  static const DeviceProfile* Find(const CXDeviceProfileManager& manager, const std::string& name) {
    for (const auto& profile : manager.GetProfiles()) {
      if (profile.identity.name == name) return &profile;
    }
    return nullptr;
  }
};

TEST_F(DemoProfiles, RichProfileHasItsPagesObjectsAndProperties) {
  CXDeviceProfileManager manager;
  EXPECT_EQ(manager.GetProfileCount(), 4u);
  for (const auto& line : FaultLog()) EXPECT_NE(line.rfind("F ", 0), 0u) << line;
  const DeviceProfile* rich = Find(manager, "PDC-4120");
  ASSERT_NE(rich, nullptr);

  EXPECT_EQ(rich->identity.version.Format(), "2.03");
  EXPECT_EQ(rich->identity.programVersion.Format(), "1.14");

  const VisualObjectEntry& header = EntryOf(*rich, "");
  EXPECT_EQ(header.page, 3);  // four pages
  EXPECT_EQ(header.Keyword("pagename0"), "Обзор");
  EXPECT_EQ(header.Keyword("pagename3"), "Диагностика");
  EXPECT_EQ(header.Keyword("caption"), "PDC-4120 — преобразователь частоты");
  EXPECT_EQ(header.Keyword("sizex"), "490");
  EXPECT_EQ(header.Keyword("sizey"), "250");
  EXPECT_EQ(header.Keyword("force_update"), "0");
  EXPECT_EQ(header.Keyword("no_purge"), "0");

  const std::map<std::string, std::size_t> expected = {
      {"watch", 5}, {"check", 2}, {"button", 1}, {"text", 4}, {"custom", 1}, {"slider", 1},
      {"combo", 1}, {"edit", 5},  {"graph", 2},  {"stats", 2}, {"", 1}};
  std::map<std::string, std::size_t> counted;
  std::size_t properties = 0;
  std::set<PropertyKind> kinds;
  std::set<RegisterKind> registerKinds;
  std::set<RegisterLayout> layouts;
  std::set<std::int32_t> ids;
  std::set<std::string> keywordNames;  // of entries and properties
  std::set<std::int32_t> gauges;
  for (const auto& list : rich->keywordLists) {
    counted[list.keyword] = list.Count();
    for (const auto& entry : list.entries) {
      if (!list.keyword.empty()) {
        EXPECT_FALSE(entry.properties.empty()) << list.keyword;
        EXPECT_GE(entry.page, 0);
        EXPECT_LE(entry.page, 3);
        gauges.insert(entry.gauge);
      }
      for (const auto& keyword : entry.keywords) keywordNames.insert(keyword.first);
      for (const auto& property : entry.properties) {
        ++properties;
        kinds.insert(property.kind);
        registerKinds.insert(property.mapping.registerKind);
        layouts.insert(property.mapping.layout);
        ids.insert(property.id);
        for (const auto& keyword : property.keywords) keywordNames.insert(keyword.first);
        EXPECT_FALSE(property.caption.empty());
        // Command registers of the device are not properties.
        if (property.mapping.registerKind == RegisterKind::HoldingRegister) {
          EXPECT_NE(property.mapping.address, 1u);
          EXPECT_NE(property.mapping.address, 10u);
        }
      }
    }
  }
  EXPECT_EQ(counted, expected);
  for (const char* keyword : {"viewformat", "update_frequency", "auto_scale", "plugin", "bitmask", "divisor"}) {
    EXPECT_EQ(keywordNames.count(keyword), 1u) << keyword;
  }
  EXPECT_EQ(gauges, (std::set<std::int32_t>{0, 1}));
  EXPECT_EQ(properties, 25u);
  EXPECT_EQ(ids.size(), 25u);
  EXPECT_EQ(*ids.begin(), 0);
  EXPECT_EQ(*ids.rbegin(), 24);
  EXPECT_EQ(kinds, (std::set<PropertyKind>{PropertyKind::None, PropertyKind::RangedInt, PropertyKind::RangedFix,
                                           PropertyKind::Binary, PropertyKind::Natural}));
  EXPECT_EQ(registerKinds, (std::set<RegisterKind>{RegisterKind::Coil, RegisterKind::InputRegister,
                                                   RegisterKind::HoldingRegister, RegisterKind::DiscreteInput}));
  EXPECT_EQ(layouts,
            (std::set<RegisterLayout>{RegisterLayout::Single, RegisterLayout::Array, RegisterLayout::Register32}));

  // Objects whose own keywords the pages and visual objects read.
  const VisualObjectEntry& custom = EntryOf(*rich, "custom");
  EXPECT_EQ(custom.Keyword("plugin"), "liblumora.so");
  EXPECT_NE(custom.Keyword("bitmask").find(";newline;"), std::string::npos);
  EXPECT_EQ(custom.properties.size(), 2u);
  ASSERT_EQ(rich->packs.size(), 2u);
  EXPECT_EQ(rich->packs[0].record, "drive_status");
  EXPECT_EQ(rich->packs[0].mapping.count, 8);

  EXPECT_TRUE(rich->firmware.valid);
  EXPECT_EQ(rich->firmware.name, "FU$-IHEX");
  EXPECT_EQ(rich->firmware.version.Format(), "2.00");
  EXPECT_EQ(rich->firmware.target, "LPCARM");
  EXPECT_EQ(rich->firmware.Parameter("baudrate"), "115200");
  EXPECT_EQ(rich->firmware.memoryMap.Size(), 16u);
}

TEST_F(DemoProfiles, EachFlashLoaderVariantHasAProfileWithAWideEqualMap) {
  CXDeviceProfileManager manager;
  const struct {
    const char* device;
    const char* loader;
    const char* version;
  } variants[] = {{"PDC-1100", "FU$-IHST", "1.01"}, {"PDC-2200", "FU$-IHEX", "1.00"}, {"PDC-3300", "FU$-IHEX", "2.00"}};
  for (const auto& v : variants) {
    const DeviceProfile* profile = Find(manager, v.device);
    ASSERT_NE(profile, nullptr) << v.device;
    const FirmwareDescription& firmware = profile->firmware;
    EXPECT_TRUE(firmware.valid) << v.device;
    EXPECT_EQ(firmware.name, v.loader) << v.device;
    EXPECT_EQ(firmware.version.Format(), v.version) << v.device;
    EXPECT_FALSE(firmware.Parameter("baudrate").empty()) << v.device;
    const MemoryMap& map = firmware.memoryMap;
    ASSERT_FALSE(map.Empty()) << v.device;
    EXPECT_LE(map.Size(), 255u) << v.device;
    EXPECT_EQ(map[0].start, 0u) << v.device;
    EXPECT_GE(map[map.Size() - 1].end, 256u * 1024u) << v.device;
    EXPECT_GE(map.Lookup(0x10000), 0) << v.device;  // images above 0xFFFF fit the map
    EXPECT_GT(profile->EntryCount("watch"), 0u) << v.device;
  }
}

// Copies of the rich profile with damage of the kinds an editor, a disk or a transfer causes.
std::vector<std::string> Mutations(const std::string& original, int count) {
  std::mt19937 random(20240611);
  std::vector<std::string> lines;
  {
    std::istringstream in(original);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  }
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    std::string text = original;
    switch (i % 4) {
      case 0:  // truncated
        text.resize(random() % original.size());
        break;
      case 1:  // bytes flipped
        for (int k = 0, n = 1 + static_cast<int>(random() % 16); k < n; ++k) {
          text[random() % text.size()] ^= static_cast<char>(1u << (random() % 8));
        }
        break;
      case 2: {  // a run of lines duplicated elsewhere
        const std::size_t from = random() % lines.size();
        const std::size_t length = 1 + random() % 12;
        const std::size_t to = random() % lines.size();
        std::vector<std::string> copy = lines;
        std::vector<std::string> run(copy.begin() + from, copy.begin() + std::min(copy.size(), from + length));
        copy.insert(copy.begin() + to, run.begin(), run.end());
        text.clear();
        for (const auto& line : copy) text += line;
        break;
      }
      default: {  // bytes replaced by random ones, the markup characters favoured
        static const char kMarkup[] = "<>/&;\"='?!-[]%";
        for (int k = 0, n = 1 + static_cast<int>(random() % 8); k < n; ++k) {
          text[random() % text.size()] =
              (random() % 2) ? kMarkup[random() % (sizeof kMarkup - 1)] : static_cast<char>(random() % 256);
        }
        break;
      }
    }
    out.push_back(std::move(text));
  }
  return out;
}

class DamagedProfiles : public ProfileFolderTest {};

TEST_F(DamagedProfiles, MutatedDemoProfilesLoadWithoutCrashOrHang) {
  const std::string original = ReadAll(kDemo / "PDC-4120.xml");
  ASSERT_FALSE(original.empty());
  const auto start = std::chrono::steady_clock::now();
  CXDeviceProfileManager manager;
  std::size_t loaded = 0;
  std::size_t rejected = 0;
  for (const auto& text : Mutations(original, 400)) {
    Write("profiles/mutated.xml", text);
    faultlog::Truncate();
    const std::size_t before = manager.GetProfileCount();
    manager.ParseProfileFile("./profiles/mutated.xml");
    const std::size_t added = manager.GetProfileCount() - before;
    EXPECT_LE(added, 2u);
    loaded += added;
    const auto log = FaultLog();
    const bool faulted = std::any_of(log.begin(), log.end(), [](const auto& l) { return l.rfind("F ", 0) == 0; });
    if (faulted) ++rejected;
    // A rejected file yields no profile.
    if (faulted) {
      EXPECT_EQ(added, 0u);
    }
  }
  // Every loaded profile is still well formed.
  for (const auto& profile : manager.GetProfiles()) {
    std::set<std::string> keywords;
    for (const auto& list : profile.keywordLists) {
      EXPECT_TRUE(keywords.insert(list.keyword).second) << "keyword listed twice: " << list.keyword;
      EXPECT_EQ(list.cursor, 0u);
    }
  }
  EXPECT_GT(loaded, 0u);
  EXPECT_GT(rejected, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
