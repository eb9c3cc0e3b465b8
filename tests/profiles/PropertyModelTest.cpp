// Property kinds and ranges, conversions and Modbus address texts.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "profiles/ModbusProperties.h"

namespace {

// The "_iq" types write to the fault log in the working folder: run in a temporary one.
class TemporaryWorkingFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    m_previous = std::filesystem::current_path();
    m_folder = std::filesystem::temp_directory_path() / ("kelmora-property-model-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_folder);
    std::filesystem::current_path(m_folder);
  }
  void TearDown() override {
    std::filesystem::current_path(m_previous);
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }

 private:
  std::filesystem::path m_previous;
  std::filesystem::path m_folder;
};

[[maybe_unused]] ::testing::Environment* const kWorkingFolder =
    ::testing::AddGlobalTestEnvironment(new TemporaryWorkingFolder);

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct KindCase {
  const char* label;
  const char* type;
  std::vector<std::pair<const char*, const char*>> elements;  // applied in this order
  PropertyKind kind;
  double divisor;
  std::int32_t min;
  std::int32_t max;
  const char* divisorKeyword;  // nullptr: no "divisor" keyword expected
};

std::ostream& operator<<(std::ostream& out, const KindCase& c) { return out << c.label; }

class KindsAndRanges : public ::testing::TestWithParam<KindCase> {};

TEST_P(KindsAndRanges, TypeAndElementsGiveKindDivisorAndRange) {
  const KindCase& c = GetParam();
  ModbusProperty property;
  property.ApplyType(c.type);
  for (const auto& [name, text] : c.elements) property.ApplyElement(name, text);
  EXPECT_EQ(property.kind, c.kind);
  EXPECT_DOUBLE_EQ(property.divisor, c.divisor);
  EXPECT_EQ(property.iSlMin, c.min);
  EXPECT_EQ(property.iSlMax, c.max);
  if (c.divisorKeyword != nullptr) {
    EXPECT_EQ(property.Keyword("divisor"), c.divisorKeyword);
  } else {
    EXPECT_EQ(property.keywords.count("divisor"), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    PropertyModel, KindsAndRanges,
    ::testing::Values(
        KindCase{"no_type", "", {}, PropertyKind::None, 1.0, 0, 0, nullptr},
        KindCase{"unknown_type", "float", {}, PropertyKind::None, 1.0, 0, 0, nullptr},
        KindCase{"ranged_int", "ranged int", {}, PropertyKind::RangedInt, 1.0, kMin, kMax, nullptr},
        KindCase{"type_texts_are_case_sensitive", "Ranged Int", {}, PropertyKind::None, 1.0, 0, 0, nullptr},
        KindCase{"ranged_fix", "ranged fix", {}, PropertyKind::RangedFix, 1.0, kMin, kMax, nullptr},
        KindCase{"binary", "binary", {}, PropertyKind::Binary, 1.0, 0, 1, nullptr},
        KindCase{"binary_data_leaves_range", "binary", {{"data", "Off"}, {"data", "On"}}, PropertyKind::Binary,
                 1.0, 0, 1, nullptr},
        KindCase{"natural_counts_data", "natural",
                 {{"data", "a"}, {"data", "b"}, {"data", "c"}, {"data", "d"}, {"data", "e"}},
                 PropertyKind::Natural, 1.0, 0, 5, nullptr},
        KindCase{"natural_data_after_range", "natural", {{"rangemin", "1"}, {"data", "a"}, {"data", "b"}},
                 PropertyKind::Natural, 1.0, 1, 3, nullptr},
        KindCase{"iq8", "_iq8", {}, PropertyKind::RangedFix, 0.00390625, kMin, kMax, "0.00390625"},
        KindCase{"iq30", "_iq30", {}, PropertyKind::RangedFix, 1.0 / 1073741824.0, kMin, kMax, "9.31323e-10"},
        KindCase{"iq0_out_of_range", "_iq0", {}, PropertyKind::RangedFix, 1.0, 0, 0, "1"},
        KindCase{"iq31_out_of_range", "_iq31", {}, PropertyKind::RangedFix, 1.0, 0, 0, "1"},
        KindCase{"iq_without_number", "_iq", {}, PropertyKind::RangedFix, 1.0, 0, 0, "1"},
        KindCase{"iq_profile_divisor_wins_later", "_iq8", {{"divisor", "0.5"}}, PropertyKind::RangedFix, 0.5,
                 kMin, kMax, "0.5"},
        KindCase{"iq15_range_in_engineering_units", "_iq15", {{"rangemin", "0.5"}, {"rangemax", "32"}},
                 PropertyKind::RangedFix, 1.0 / 32768.0, 16384, 1048576, "3.05176e-05"},
        KindCase{"fix_min_sets_both_limits", "ranged fix", {{"divisor", "0.5"}, {"rangemin", "-5.5"}},
                 PropertyKind::RangedFix, 0.5, -11, -11, "0.5"},
        KindCase{"fix_min_then_max", "ranged fix", {{"divisor", "0.5"}, {"rangemin", "-5.5"}, {"rangemax", "5"}},
                 PropertyKind::RangedFix, 0.5, -11, 10, "0.5"},
        KindCase{"max_first_is_overwritten_by_min", "ranged int", {{"rangemax", "100"}, {"rangemin", "10"}},
                 PropertyKind::RangedInt, 1.0, 10, 10, nullptr},
        KindCase{"divisor_after_range_does_not_rescale", "ranged fix", {{"rangelow", "3"}, {"divisor", "0.1"}},
                 PropertyKind::RangedFix, 0.1, 3, 3, "0.1"},
        KindCase{"fix_range_truncates_toward_zero", "ranged fix", {{"divisor", "0.3"}, {"rangehigh", "1"}},
                 PropertyKind::RangedFix, 0.3, kMin, 3, "0.3"},
        KindCase{"int_range_reads_like_atoi", "ranged int", {{"rangelow", " -7.9"}, {"rangehigh", "12abc"}},
                 PropertyKind::RangedInt, 1.0, -7, 12, nullptr},
        KindCase{"non_numeric_reads_zero", "ranged int", {{"rangelow", "low"}, {"rangehigh", "high"}},
                 PropertyKind::RangedInt, 1.0, 0, 0, nullptr},
        KindCase{"fix_range_with_zero_divisor_saturates", "ranged fix", {{"divisor", "0"}, {"rangemin", "-1"},
                 {"rangemax", "1"}}, PropertyKind::RangedFix, 0.0, kMin, kMax, "0"},
        KindCase{"fix_range_beyond_int32_saturates", "ranged fix", {{"divisor", "0.001"}, {"rangemax", "1e12"}},
                 PropertyKind::RangedFix, 0.001, kMin, kMax, "0.001"},
        KindCase{"element_names_ignore_case", "ranged int", {{"RangeMin", "4"}, {"RANGEMAX", "9"}},
                 PropertyKind::RangedInt, 1.0, 4, 9, nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(PropertyModel, ElementsAreKeptAsKeywordsUnderTheirExactNames) {
  ModbusProperty property;
  property.ApplyType("natural");
  property.ApplyElement("Caption", "Speed");
  property.ApplyElement("data", "Slow");
  property.ApplyElement("data", "Fast");
  property.ApplyElement("priority", "3x");
  property.ApplyElement("viewformat", "%.1f");
  property.ApplyElement("viewformat", "%.2f");
  EXPECT_EQ(property.caption, "Speed");
  EXPECT_EQ(property.data, (std::vector<std::string>{"Slow", "Fast"}));
  EXPECT_EQ(property.priority, 3);
  EXPECT_EQ(property.Keyword("Caption"), "Speed");
  EXPECT_EQ(property.Keyword("caption"), "");
  EXPECT_EQ(property.Keyword("data"), "Fast");
  EXPECT_EQ(property.Keyword("viewformat"), "%.2f");
}

TEST(PropertyModel, IqTypeWritesItsDivisorToTheFaultLog) {
  std::filesystem::remove("faults.log");
  ModbusProperty iq8;
  iq8.ApplyType("_iq8");
  ModbusProperty iq31;
  iq31.ApplyType("_iq31");
  ModbusProperty plain;
  plain.ApplyType("ranged fix");
  std::ifstream log("faults.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"0.00390625", "1"}));
}

TEST(PropertyModel, FixedConversionsRoundTripAndTruncate) {
  ModbusProperty property;
  property.ApplyType("ranged fix");
  property.divisor = 0.01;
  EXPECT_TRUE(property.IsFixed());
  EXPECT_DOUBLE_EQ(property.ConvertFixedFromSend(1234), 12.34);
  EXPECT_DOUBLE_EQ(property.ConvertFixedFromSend(-50), -0.5);

  const struct {
    double divisor;
    double value;
    std::int32_t raw;
  } cases[] = {
      {1.0, -2.7, -2},      // truncation toward zero, not rounding
      {1.0, 2.7, 2},
      {0.5, 2.5, 5},
      {0.25, -1.0, -4},
      {1.0, 1e20, kMax},    // saturates instead of overflowing
      {1.0, -1e20, kMin},
      {1.0, std::nan(""), 0},
  };
  for (const auto& c : cases) {
    property.divisor = c.divisor;
    EXPECT_EQ(property.ConvertFixedToSend(c.value), c.raw) << c.value << " / " << c.divisor;
  }
}

TEST(PropertyModel, ZeroDivisorBecomesOneOnTheFirstInverseConversion) {
  ModbusProperty property;
  property.ApplyType("ranged fix");
  property.ApplyElement("divisor", "0");
  EXPECT_DOUBLE_EQ(property.ConvertFixedFromSend(25), 0.0);
  EXPECT_EQ(property.ConvertFixedToSend(7.9), 7);
  EXPECT_DOUBLE_EQ(property.divisor, 1.0);
  EXPECT_DOUBLE_EQ(property.ConvertFixedFromSend(25), 25.0);
}

struct AddressCase {
  const char* element;
  const char* structure;
  const char* text;
  RegisterKind kind;
  RegisterLayout layout;
  std::uint32_t address;
  std::int32_t count;
};

class AddressTexts : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressTexts, ElementStructureAndTextGiveTheMapping) {
  const AddressCase& c = GetParam();
  const ModbusMapping mapping = ModbusMapping::FromProfile(c.element, c.structure, c.text);
  EXPECT_EQ(mapping.registerKind, c.kind);
  EXPECT_EQ(mapping.layout, c.layout);
  EXPECT_EQ(mapping.address, c.address);
  EXPECT_EQ(mapping.count, c.count);
}

using RK = RegisterKind;
using RL = RegisterLayout;
INSTANTIATE_TEST_SUITE_P(
    PropertyModel, AddressTexts,
    ::testing::Values(
        AddressCase{"coil", "", "5", RK::Coil, RL::Single, 5, 1},
        AddressCase{"c", "", "6", RK::Coil, RL::Single, 6, 1},
        AddressCase{"Coil", "", "5", RK::HoldingRegister, RL::Single, 5, 1},
        AddressCase{"input reg", "", "7", RK::InputRegister, RL::Single, 7, 1},
        AddressCase{"ireg", "", "7", RK::InputRegister, RL::Single, 7, 1},
        AddressCase{"inreg", "", "7", RK::InputRegister, RL::Single, 7, 1},
        AddressCase{"dinput", "", "8", RK::DiscreteInput, RL::Single, 8, 1},
        AddressCase{"discreet input", "", "8", RK::DiscreteInput, RL::Single, 8, 1},
        AddressCase{"discreet", "", "8", RK::DiscreteInput, RL::Single, 8, 1},
        AddressCase{"di", "", "8", RK::DiscreteInput, RL::Single, 8, 1},
        AddressCase{"holding reg", "", "9", RK::HoldingRegister, RL::Single, 9, 1},
        AddressCase{"hreg", "", "9", RK::HoldingRegister, RL::Single, 9, 1},
        AddressCase{"", "", "9", RK::HoldingRegister, RL::Single, 9, 1},
        AddressCase{"discrete input", "", "9", RK::HoldingRegister, RL::Single, 9, 1},
        AddressCase{"hreg", "register32", "40", RK::HoldingRegister, RL::Register32, 40, 1},
        AddressCase{"hreg", "reg32", "40", RK::HoldingRegister, RL::Register32, 40, 1},
        AddressCase{"hreg", "r32", "40", RK::HoldingRegister, RL::Register32, 40, 1},
        AddressCase{"hreg", "32", "40", RK::HoldingRegister, RL::Register32, 40, 1},
        AddressCase{"hreg", "R32", "40", RK::HoldingRegister, RL::Single, 40, 1},
        AddressCase{"hreg", "Array", "100-109", RK::HoldingRegister, RL::Single, 100, 1},
        AddressCase{"hreg", "", " 42xyz", RK::HoldingRegister, RL::Single, 42, 1},
        AddressCase{"hreg", "", "70000", RK::HoldingRegister, RL::Single, 70000 - 65536, 1},
        AddressCase{"hreg", "", "-1", RK::HoldingRegister, RL::Single, 65535, 1},
        AddressCase{"hreg", "array", "100-109", RK::HoldingRegister, RL::Array, 100, 10},
        AddressCase{"hreg", "array", "100,105", RK::HoldingRegister, RL::Array, 100, 6},
        AddressCase{"hreg", "array", "100;103", RK::HoldingRegister, RL::Array, 100, 4},
        AddressCase{"hreg", "array", "100 101 102", RK::HoldingRegister, RL::Array, 100, 3},
        AddressCase{"hreg", "array", "100-104 0", RK::HoldingRegister, RL::Array, 100, 5},
        AddressCase{"hreg", "array", "100", RK::HoldingRegister, RL::Array, 100, 0},
        AddressCase{"hreg", "array", "100-0", RK::HoldingRegister, RL::Array, 100, 0},
        AddressCase{"hreg", "array", "200-199", RK::HoldingRegister, RL::Array, 200, 0},
        AddressCase{"hreg", "array", "200-150", RK::HoldingRegister, RL::Array, 200, -49},
        AddressCase{"coil", "array", "1-16", RK::Coil, RL::Array, 1, 16}));

TEST(PropertyModel, RawLimitsAreWhatARegisterGivesBack) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min(), kMax = std::numeric_limits<std::int32_t>::max();
  const struct {
    RK kind;
    RL layout;
    std::pair<std::int32_t, std::int32_t> limits;
  } cases[] = {
      {RK::HoldingRegister, RL::Single, {-32768, 32767}},  // read back as a signed 16-bit number
      {RK::HoldingRegister, RL::Array, {-32768, 32767}},
      {RK::InputRegister, RL::Single, {-32768, 32767}},
      {RK::HoldingRegister, RL::Register32, {kMin, kMax}},
      {RK::Coil, RL::Single, {0, 1}},
      {RK::Coil, RL::Array, {0, 1}},
      {RK::DiscreteInput, RL::Single, {0, 1}},
      {RK::None, RL::Single, {kMin, kMax}},
  };
  for (const auto& c : cases)
    EXPECT_EQ((ModbusMapping{c.layout, c.kind, 1, 1}.RawLimits()), c.limits)
        << static_cast<int>(c.kind) << "/" << static_cast<int>(c.layout);
}

}  // namespace
