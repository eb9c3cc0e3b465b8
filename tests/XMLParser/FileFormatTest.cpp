// How the elements and attributes of a profile become profiles, entries and properties.
#include <functional>
#include <string>
#include <vector>

#include "tests/XMLParser/ProfileTestSupport.h"

namespace {

struct FormatCase {
  const char* label;
  std::string document;
  std::function<void(const std::vector<DeviceProfile>&)> check;
};

std::ostream& operator<<(std::ostream& out, const FormatCase& c) { return out << c.label; }

// A device with one representation holding the given children.
std::string Representation(const std::string& children, const std::string& deviceAttributes = "name=\"D\"") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<devices><device " + deviceAttributes +
         "><representation>" + children + "</representation></device></devices>\n";
}

// One visual object of the given keyword on one page.
std::string OneObject(const std::string& keyword, const std::string& children) {
  return Representation("<page name=\"P\"><visualobject type=\"" + keyword + "\">" + children +
                        "</visualobject></page>");
}

const std::vector<FormatCase>& Cases() {
  static const std::vector<FormatCase> cases = {
      {"two_devices_in_document_order",
       "<devices><device name=\"A\" version=\"1.5\" firmware=\"2.10\"/><Device name=\"B\"/></devices>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 2u);
         EXPECT_EQ(p[0].identity.name, "A");
         EXPECT_EQ(p[0].identity.version.Format(), "1.05");
         EXPECT_EQ(p[0].identity.programVersion.Format(), "2.10");
         EXPECT_EQ(p[1].identity.name, "B");
       }},
      {"root_must_be_spelled_devices", "<Devices><device name=\"A\"/></Devices>",
       [](const auto& p) { EXPECT_TRUE(p.empty()); }},
      {"first_devices_anywhere_in_the_document",
       "<root><x/><devices><device name=\"A\"/><other name=\"X\"/></devices>"
       "<devices><device name=\"B\"/></devices></root>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         EXPECT_EQ(p[0].identity.name, "A");
       }},
      {"only_direct_children_of_devices_are_devices",
       "<devices><group><device name=\"Nested\"/></group></devices>",
       [](const auto& p) { EXPECT_TRUE(p.empty()); }},
      {"missing_identity_attributes", "<devices><device/></devices>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         EXPECT_EQ(p[0].identity.name, "");
         EXPECT_EQ(p[0].identity.version.Format(), "0.00");
         EXPECT_FALSE(p[0].firmware.valid);
         EXPECT_EQ(p[0].firmware.version.Format(), "0.01");
         EXPECT_TRUE(p[0].firmware.memoryMap.Empty());
         EXPECT_TRUE(p[0].keywordLists.empty());
       }},
      {"firmware_upgrade_with_equal_map",
       "<devices><device name=\"D\"><Firmware_Upgrade name=\"FU$-IHEX\" version=\"1.1\" target=\"LPCARM\" "
       "baudrate=\"115200\"><memory_map sectors=\"equal\" first_addr=\"8000\" sectors_available=\"4\" "
       "sector_size=\"4096\"/><memory_map sectors=\"equal\" sectors_available=\"9\" sector_size=\"1\"/>"
       "</Firmware_Upgrade><firmware_upgrade name=\"Second\"/></device></devices>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         const FirmwareDescription& f = p[0].firmware;
         EXPECT_TRUE(f.valid);
         EXPECT_EQ(f.name, "FU$-IHEX");
         EXPECT_EQ(f.version.Format(), "1.01");
         EXPECT_EQ(f.target, "LPCARM");
         EXPECT_EQ(f.Parameter("baudrate"), "115200");
         ASSERT_EQ(f.memoryMap.Size(), 4u);
         EXPECT_EQ(f.memoryMap[0].start, 0x8000u);
         EXPECT_EQ(f.memoryMap[3].end, 0xC000u);
       }},
      {"memory_map_needs_exactly_equal",
       "<devices><device><firmware_upgrade name=\"N\"><memory_map sectors=\"Equal\" sectors_available=\"4\" "
       "sector_size=\"4096\"/></firmware_upgrade></device><device><firmware_upgrade><memory_map "
       "sectors=\"equal\" first_addr=\"\" sectors_available=\"2\" sector_size=\"256\"/></firmware_upgrade>"
       "</device></devices>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 2u);
         EXPECT_TRUE(p[0].firmware.valid);
         EXPECT_TRUE(p[0].firmware.memoryMap.Empty());
         EXPECT_EQ(p[1].firmware.version.Format(), "0.00");
         EXPECT_EQ(p[1].firmware.Parameter("baudrate"), "");
         ASSERT_EQ(p[1].firmware.memoryMap.Size(), 2u);
         EXPECT_EQ(p[1].firmware.memoryMap[0].start, 0u);
       }},
      {"position_attributes_are_exact",
       Representation("<page name=\"A\"/><page name=\"B\"><visualobject type=\"watch\"><position X=\"10\" "
                      "Y=\"20\"/></visualobject><visualobject type=\"watch\"><position x=\"10\" y=\"20\"/>"
                      "</visualobject><visualobject type=\"watch\"/></page>"),
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         const auto& exact = EntryOf(p[0], "watch", 0);
         EXPECT_EQ(exact.page, 1);
         EXPECT_EQ(exact.x, 10);
         EXPECT_EQ(exact.y, 20);
         const auto& lower = EntryOf(p[0], "watch", 1);
         EXPECT_EQ(lower.x, 0);
         EXPECT_EQ(lower.y, 0);
         EXPECT_EQ(lower.page, 1);
         EXPECT_EQ(EntryOf(p[0], "watch", 2).page, 1);  // no position: page 1
       }},
      {"position_takes_the_page_number",
       Representation("<page/><page/><page><visualobject type=\"edit\"><position X=\"1\" Y=\"2\"/>"
                      "</visualobject></page>"),
       [](const auto& p) { EXPECT_EQ(EntryOf(p.at(0), "edit").page, 2); }},
      {"header_entry_counts_and_names_pages",
       Representation("<page name=\"Main\"/><page/><Page name=\"Графики\"/><caption>Title</caption>"),
       [](const auto& p) {
         const auto& header = EntryOf(p.at(0), "");
         EXPECT_EQ(header.page, 2);
         EXPECT_EQ(header.Keyword("pagename0"), "Main");
         EXPECT_EQ(header.Keyword("pagename1"), "");
         EXPECT_EQ(header.keywords.count("pagename1"), 1u);
         EXPECT_EQ(header.Keyword("pagename2"), "Графики");
         EXPECT_EQ(header.Keyword("caption"), "Title");
         EXPECT_TRUE(header.properties.empty());
         EXPECT_EQ(header.gauge, 0);
       }},
      {"representation_without_pages", Representation("<sizex>400</sizex>"),
       [](const auto& p) {
         const auto& header = EntryOf(p.at(0), "");
         EXPECT_EQ(header.page, -1);
         EXPECT_EQ(header.Keyword("sizex"), "400");
       }},
      {"property_ids_run_across_pages_and_restart_per_representation",
       "<devices><device><representation>"
       "<page><visualobject type=\"a\"><VALUE/><VALUE/></visualobject></page>"
       "<page><visualobject type=\"b\"><VALUE/></visualobject></page></representation>"
       "<representation><page><visualobject type=\"a\"><VALUE/></visualobject></page></representation>"
       "</device></devices>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         const auto& a0 = EntryOf(p[0], "a", 0);
         ASSERT_EQ(a0.properties.size(), 2u);
         EXPECT_EQ(a0.properties[0].id, 0);
         EXPECT_EQ(a0.properties[1].id, 1);
         EXPECT_EQ(PropertyOf(EntryOf(p[0], "b")).id, 2);
         EXPECT_EQ(PropertyOf(EntryOf(p[0], "a", 1)).id, 0);
         EXPECT_EQ(p[0].EntryCount(""), 2u);  // one header entry per representation
       }},
      {"keyword_lists_in_order_of_first_appearance",
       "<devices><device><representation><page><visualobject type=\"watch\"/><visualobject type=\"slider\"/>"
       "</page><page><visualobject type=\"watch\"/><visualobject type=\"Watch\"/></page></representation>"
       "<representation><page><visualobject type=\"edit\"/></page></representation></device></devices>",
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         std::vector<std::string> order;
         for (const auto& list : p[0].keywordLists) order.push_back(list.keyword);
         EXPECT_EQ(order, (std::vector<std::string>{"watch", "slider", "Watch", "", "edit"}));
         EXPECT_EQ(p[0].EntryCount("watch"), 2u);
       }},
      {"packs_keep_only_arrays",
       Representation("<pack element=\"ireg\" structure=\"array\" record=\"status\">100-107</pack>"
                      "<pack element=\"coil\" structure=\"reg32\">1-8</pack>"
                      "<PACK element=\"coil\" structure=\"array\">1,16</PACK>"),
       [](const auto& p) {
         ASSERT_EQ(p.size(), 1u);
         ASSERT_EQ(p[0].packs.size(), 2u);
         EXPECT_EQ(p[0].packs[0].record, "status");
         EXPECT_EQ(p[0].packs[0].mapping.registerKind, RegisterKind::InputRegister);
         EXPECT_EQ(p[0].packs[0].mapping.layout, RegisterLayout::Array);
         EXPECT_EQ(p[0].packs[0].mapping.address, 100u);
         EXPECT_EQ(p[0].packs[0].mapping.count, 8);
         EXPECT_EQ(p[0].packs[1].record, "");
         EXPECT_EQ(p[0].packs[1].mapping.registerKind, RegisterKind::Coil);
         EXPECT_EQ(p[0].packs[1].mapping.count, 16);
         EXPECT_EQ(EntryOf(p[0], "").keywords.count("pack"), 0u);
       }},
      {"element_names_ignore_case_attribute_names_do_not",
       "<devices><DEVICE name=\"D\"><Representation><Page name=\"P\"><VisualObject type=\"edit\">"
       "<Behavior>gauge</Behavior><Value type=\"ranged int\"><CAPTION>Speed</CAPTION><RangeMin>5</RangeMin>"
       "<MODBUS element=\"coil\">3</MODBUS></Value><value><modbus Element=\"coil\" Structure=\"array\">7-9"
       "</modbus></value></VisualObject></Page></Representation></DEVICE></devices>",
       [](const auto& p) {
         const auto& entry = EntryOf(p.at(0), "edit");
         EXPECT_EQ(entry.gauge, 1);
         ASSERT_EQ(entry.properties.size(), 2u);
         const auto& first = entry.properties[0];
         EXPECT_EQ(first.caption, "Speed");
         EXPECT_EQ(first.Keyword("CAPTION"), "Speed");
         EXPECT_EQ(first.iSlMin, 5);
         EXPECT_EQ(first.mapping.registerKind, RegisterKind::Coil);
         EXPECT_EQ(first.mapping.address, 3u);
         const auto& second = entry.properties[1];
         EXPECT_EQ(second.mapping.registerKind, RegisterKind::HoldingRegister);
         EXPECT_EQ(second.mapping.layout, RegisterLayout::Single);
         EXPECT_EQ(second.mapping.address, 7u);
       }},
      {"behavior_texts",
       Representation("<page><visualobject type=\"a\"><behavior>GAUGE</behavior></visualobject>"
                      "<visualobject type=\"a\"><behavior>Gauge</behavior></visualobject>"
                      "<visualobject type=\"a\"><behavior>gauge</behavior><behavior>input</behavior>"
                      "</visualobject><visualobject type=\"a\"><behavior> gauge</behavior></visualobject></page>"),
       [](const auto& p) {
         EXPECT_EQ(EntryOf(p.at(0), "a", 0).gauge, 1);
         EXPECT_EQ(EntryOf(p.at(0), "a", 1).gauge, 0);
         EXPECT_EQ(EntryOf(p.at(0), "a", 2).gauge, 0);
         EXPECT_EQ(EntryOf(p.at(0), "a", 3).gauge, 0);
       }},
      {"last_modbus_wins_and_default_mapping",
       OneObject("watch", "<VALUE><modbus element=\"ireg\">5</modbus><modbus element=\"di\" "
                          "structure=\"array\">9-12</modbus></VALUE><VALUE><caption>none</caption></VALUE>"),
       [](const auto& p) {
         const auto& entry = EntryOf(p.at(0), "watch");
         const ModbusMapping& last = PropertyOf(entry, 0).mapping;
         EXPECT_EQ(last.registerKind, RegisterKind::DiscreteInput);
         EXPECT_EQ(last.layout, RegisterLayout::Array);
         EXPECT_EQ(last.address, 9u);
         EXPECT_EQ(last.count, 4);
         EXPECT_EQ(PropertyOf(entry, 0).keywords.count("modbus"), 0u);
         EXPECT_EQ(PropertyOf(entry, 1).mapping, ModbusMapping());
       }},
      {"property_elements_apply_in_document_order",
       OneObject("slider", "<VALUE type=\"ranged fix\"><divisor>0.5</divisor><rangemin>-5.5</rangemin>"
                           "<rangemax>5</rangemax><priority>3</priority><viewformat>%.1f</viewformat>"
                           "<data>a</data><data>b</data></VALUE>"),
       [](const auto& p) {
         const auto& property = PropertyOf(EntryOf(p.at(0), "slider"));
         EXPECT_EQ(property.kind, PropertyKind::RangedFix);
         EXPECT_DOUBLE_EQ(property.divisor, 0.5);
         EXPECT_EQ(property.iSlMin, -11);
         EXPECT_EQ(property.iSlMax, 10);
         EXPECT_EQ(property.priority, 3);
         EXPECT_EQ(property.Keyword("viewformat"), "%.1f");
         EXPECT_EQ(property.data, (std::vector<std::string>{"a", "b"}));
       }},
      {"text_content_concatenates_everything_below",
       OneObject("text", "<VALUE><caption>Sp<b>ee</b>d<!-- not text --><![CDATA[ <&>]]> &amp;&#x41;</caption>"
                         "</VALUE><tooltip>one<i>two</i></tooltip>"),
       [](const auto& p) {
         const auto& entry = EntryOf(p.at(0), "text");
         EXPECT_EQ(PropertyOf(entry).caption, "Speed <&> &A");
         EXPECT_EQ(entry.Keyword("tooltip"), "onetwo");
       }},
  };
  return cases;
}

class FileFormat : public ProfileFolderTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FileFormat, DocumentGivesTheExpectedProfiles) {
  const std::vector<DeviceProfile> profiles = LoadOne(GetParam().document);
  GetParam().check(profiles);
  for (const auto& line : FaultLog()) EXPECT_NE(line.rfind("F ", 0), 0u) << line;
}

INSTANTIATE_TEST_SUITE_P(Profiles, FileFormat, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.label); });

class FileEncoding : public ProfileFolderTest {};

TEST_F(FileEncoding, Windows1251ProfileLoadsWithCyrillicTextsInUtf8) {
  // "Привод", "Скорость" and "Главная" in windows-1251.
  const std::string drive = "\xCF\xF0\xE8\xE2\xEE\xE4";
  const std::string speed = "\xD1\xEA\xEE\xF0\xEE\xF1\xF2\xFC";
  const std::string main = "\xC3\xEB\xE0\xE2\xED\xE0\xFF";
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<devices><device name=\"" + drive +
      "\"><representation><page name=\"" + main + "\"><visualobject type=\"watch\"><VALUE><caption>" + speed +
      "</caption><data>" + speed + "</data></VALUE></visualobject></page></representation></device></devices>";
  const auto profiles = LoadOne(document);
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0].identity.name, "Привод");
  EXPECT_EQ(EntryOf(profiles[0], "").Keyword("pagename0"), "Главная");
  const auto& property = PropertyOf(EntryOf(profiles[0], "watch"));
  EXPECT_EQ(property.caption, "Скорость");
  EXPECT_EQ(property.data, (std::vector<std::string>{"Скорость"}));
}

}  // namespace
