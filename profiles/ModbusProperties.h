// The property model: one device value with its conversion and Modbus mapping
// (`ModbusProperty`, `ModbusMapping`), the visual objects of a profile that carry properties
// (`VisualObjectEntry`) and the lists of entries per visual-object keyword (`KeywordList`).
//
// Every type here is a plain value: copying one copies all of its strings, lists and maps.
// The profile loader fills them through the Apply... operations, which hold the rules by which
// profile texts become kinds, ranges, divisors and register addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// How a property's raw value is interpreted.
enum class PropertyKind : std::int32_t {
  None = 0,
  RangedInt = 1,
  RangedFix = 2,  // engineering value = raw × divisor
  Binary = 3,
  Natural = 4,    // an index into the property's data texts
};

// How a mapping's registers form the value.
enum class RegisterLayout : std::int32_t {
  Single = 0,      // one register or bit
  Array = 1,       // a run of consecutive registers or bits
  Register32 = 2,  // a 32-bit value in two registers, low word at the lower address
};

// The Modbus address space a mapping lives in.
enum class RegisterKind : std::int32_t {
  None = 0,
  Coil = 1,
  InputRegister = 2,
  HoldingRegister = 3,
  DiscreteInput = 4,
};

// The register-kind text of a `modbus` element's `element` attribute; exact comparison.
// Unknown, empty and missing texts give HoldingRegister.
RegisterKind RegisterKindFromText(std::string_view text);
// The layout text of a `structure` attribute; exact comparison. Unknown texts give Single.
RegisterLayout RegisterLayoutFromText(std::string_view text);

// Where a property lives in the device's Modbus address space.
struct ModbusMapping {
  RegisterLayout layout = RegisterLayout::Single;
  RegisterKind registerKind = RegisterKind::None;
  // First register or coil number, 1-based as the profile writes it; always 0..65535.
  std::uint32_t address = 0;
  // Number of items: 1 for Single and Register32; for Array as the address text gives it,
  // which can be 0 or negative for a range written backwards.
  std::int32_t count = 1;

  // The mapping of a `modbus` (or `pack`) element: its `element` and `structure` attributes
  // and its text. Single and Register32 take the text as one address. Array takes the first
  // number as the address; every later number, after one of the separators " ,;-", that is not
  // 0 sets count = number − first + 1 (so the last number decides).
  static ModbusMapping FromProfile(std::string_view elementText, std::string_view structureText,
                                   std::string_view addressText);

  // The raw values a write stores so that a read gives them back: a register holds -32768 ..
  // 32767 (a read widens its 16 bits as a signed number), a coil 0 or 1, a Register32 pair the
  // whole 32-bit range, and so does a mapping without a register kind.
  std::pair<std::int32_t, std::int32_t> RawLimits() const;

  bool operator==(const ModbusMapping&) const = default;
};

// One device value.
struct ModbusProperty {
  // Running number within one representation of the profile, in document order; the
  // representation server finds the property's mapping by it.
  std::int32_t id = -1;
  PropertyKind kind = PropertyKind::None;
  std::int32_t priority = 0;
  // Engineering units per raw count.
  double divisor = 1.0;
  // Raw range.
  std::int32_t iSlMin = 0;
  std::int32_t iSlMax = 0;
  std::string caption;
  // Item texts (combo-box items, bit names, state names), in document order.
  std::vector<std::string> data;
  // Every child element of the property by its exact element name, with its text; a later
  // element of the same name replaces the earlier text.
  std::map<std::string, std::string> keywords;
  ModbusMapping mapping;

  bool IsFixed() const { return kind == PropertyKind::RangedFix; }
  // Raw to engineering value: raw × divisor.
  double ConvertFixedFromSend(std::int32_t raw) const;
  // Engineering value to raw: value ÷ divisor truncated toward zero (saturating at the 32-bit
  // limits, NaN giving 0). A divisor of 0 is first replaced by 1 in this property.
  std::int32_t ConvertFixedToSend(double value);

  // The keyword text, or the empty text when the property has no such keyword.
  std::string Keyword(std::string_view name) const;

  // Applies the `type` attribute of a `VALUE` element: sets the kind and the range (and for
  // the "_iq<N>" types the divisor) that the type implies.
  void ApplyType(std::string_view typeText);
  // Applies one child element of a `VALUE` element other than `modbus`: stores it as a
  // keyword, then applies the fields caption, rangelow/rangemin, rangehigh/rangemax, divisor,
  // data and priority (names compared without regard to case), in the order they are met.
  void ApplyElement(std::string_view elementName, std::string_view text);

  // Applies a range limit given in engineering units (RangedFix) or raw counts (other kinds).
  void ApplyRangeLow(std::string_view text);
  void ApplyRangeHigh(std::string_view text);
};

// One visual object of a profile, or (under the keyword "") the header of a representation.
struct VisualObjectEntry {
  // One per `VALUE` element; the object's own property is the first.
  std::vector<ModbusProperty> properties;
  // 1 for a display-only object.
  std::int32_t gauge = 0;
  // 0-based page index; 1 when the object has no position. In the header entry the index of
  // the last page.
  std::int32_t page = 1;
  // Position in dialog units.
  std::int32_t x = 0;
  std::int32_t y = 0;
  // Every other child element by name with its text; the header entry also holds the page
  // names as "pagename0", "pagename1", ...
  std::map<std::string, std::string> keywords;

  // The keyword text, or the empty text when the entry has no such keyword.
  std::string Keyword(std::string_view name) const;
};

// The entries of one visual-object keyword, in profile order, with a cursor that hands them
// out one after another.
struct KeywordList {
  std::string keyword;
  std::vector<VisualObjectEntry> entries;
  // Index of the next entry to hand out.
  std::size_t cursor = 0;

  KeywordList() = default;
  explicit KeywordList(std::string keywordText) : keyword(std::move(keywordText)) {}

  std::size_t Count() const { return entries.size(); }
  bool Exhausted() const { return cursor >= entries.size(); }
  // The entry at the cursor, after which the cursor moves one entry on. Past the last entry it
  // gives a default entry and leaves the cursor where it is (the cursor never wraps).
  VisualObjectEntry Next();
  void Reset() { cursor = 0; }
};

// The list with exactly this keyword (case-sensitive), or null.
KeywordList* FindKeywordList(std::vector<KeywordList>& lists, std::string_view keyword);
const KeywordList* FindKeywordList(const std::vector<KeywordList>& lists, std::string_view keyword);
// Appends the entry to the list of its keyword, creating that list at the end on first use.
// When the list cannot be created the entry is dropped, an assertion line is logged and the
// result is false.
bool AppendEntry(std::vector<KeywordList>& lists, std::string_view keyword, VisualObjectEntry entry);
// Sets every list's cursor back to its first entry.
void ResetCursors(std::vector<KeywordList>& lists);

// A range of registers that the device answers in one request, for the pack manager; the
// mapping always has the Array layout. An empty record name means no record file.
struct PackRecord {
  ModbusMapping mapping;
  std::string record;
};
