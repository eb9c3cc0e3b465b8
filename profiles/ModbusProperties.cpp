#include "profiles/ModbusProperties.h"

#include <cstdint>
#include <limits>
#include <new>

#include "comm/FaultLog.h"
#include "profiles/ProfileNumbers.h"

using profilenumbers::EqualsIgnoreCase;
using profilenumbers::ReadInt;
using profilenumbers::ReadReal;
using profilenumbers::TruncateToInt32;

namespace {

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Register numbers are 16 bits on the wire; a profile's number is kept to its low 16 bits.
std::uint32_t Address16(std::string_view text) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(ReadInt(text)));
}

std::string FindOrEmpty(const std::map<std::string, std::string>& map, std::string_view key) {
  const auto it = map.find(std::string(key));
  return it == map.end() ? std::string() : it->second;
}

}  // namespace

RegisterKind RegisterKindFromText(std::string_view text) {
  if (text == "coil" || text == "c") return RegisterKind::Coil;
  if (text == "input reg" || text == "ireg" || text == "inreg") return RegisterKind::InputRegister;
  if (text == "dinput" || text == "discreet input" || text == "discreet" || text == "di") {
    return RegisterKind::DiscreteInput;
  }
  return RegisterKind::HoldingRegister;
}

RegisterLayout RegisterLayoutFromText(std::string_view text) {
  if (text == "array") return RegisterLayout::Array;
  if (text == "register32" || text == "reg32" || text == "r32" || text == "32") {
    return RegisterLayout::Register32;
  }
  return RegisterLayout::Single;
}

ModbusMapping ModbusMapping::FromProfile(std::string_view elementText, std::string_view structureText,
                                         std::string_view addressText) {
  ModbusMapping mapping;
  mapping.registerKind = RegisterKindFromText(elementText);
  mapping.layout = RegisterLayoutFromText(structureText);
  mapping.address = Address16(addressText);
  mapping.count = 1;
  if (mapping.layout != RegisterLayout::Array) return mapping;

  mapping.count = 0;
  std::string_view rest = addressText;
  for (;;) {
    const auto separator = rest.find_first_of(" ,;-");
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + 1);
    const std::uint32_t last = Address16(rest);
    if (last != 0) {
      mapping.count = static_cast<std::int32_t>(last) - static_cast<std::int32_t>(mapping.address) + 1;
    }
  }
  return mapping;
}

std::pair<std::int32_t, std::int32_t> ModbusMapping::RawLimits() const {
  switch (registerKind) {
    case RegisterKind::Coil:
    case RegisterKind::DiscreteInput: return {0, 1};
    case RegisterKind::InputRegister:
    case RegisterKind::HoldingRegister:
      if (layout == RegisterLayout::Register32) break;
      return {std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()};
      break;
    case RegisterKind::None: break;
  }
  return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
}

double ModbusProperty::ConvertFixedFromSend(std::int32_t raw) const { return raw * divisor; }

std::int32_t ModbusProperty::ConvertFixedToSend(double value) {
  if (divisor == 0.0) divisor = 1.0;
  return TruncateToInt32(value / divisor);
}

std::string ModbusProperty::Keyword(std::string_view name) const { return FindOrEmpty(keywords, name); }

void ModbusProperty::ApplyType(std::string_view typeText) {
  if (typeText == "ranged int") {
    kind = PropertyKind::RangedInt;
    iSlMin = kInt32Min;
    iSlMax = kInt32Max;
  } else if (typeText == "ranged fix") {
    kind = PropertyKind::RangedFix;
    iSlMin = kInt32Min;
    iSlMax = kInt32Max;
  } else if (typeText.substr(0, 3) == "_iq") {
    // Texas Instruments IQmath fixed point: N fraction bits, so one count is 2^-N.
    kind = PropertyKind::RangedFix;
    const std::int32_t bits = ReadInt(typeText.substr(3));
    if (bits >= 1 && bits <= 30) {
      iSlMin = kInt32Min;
      iSlMax = kInt32Max;
      divisor = 1.0 / static_cast<double>(std::int64_t{1} << bits);
    }
    const std::string divisorText = profilenumbers::FormatShortReal(divisor);
    keywords["divisor"] = divisorText;
    faultlog::PlainLine(divisorText);
  } else if (typeText == "binary") {
    kind = PropertyKind::Binary;
    iSlMin = 0;
    iSlMax = 1;
  } else if (typeText == "natural") {
    kind = PropertyKind::Natural;
  } else {
    kind = PropertyKind::None;
  }
}

void ModbusProperty::ApplyRangeLow(std::string_view text) {
  iSlMin = IsFixed() ? TruncateToInt32(ReadReal(text) / divisor) : ReadInt(text);
  iSlMax = iSlMin;
}

void ModbusProperty::ApplyRangeHigh(std::string_view text) {
  iSlMax = IsFixed() ? TruncateToInt32(ReadReal(text) / divisor) : ReadInt(text);
}

void ModbusProperty::ApplyElement(std::string_view elementName, std::string_view text) {
  keywords[std::string(elementName)] = std::string(text);
  if (EqualsIgnoreCase(elementName, "caption")) {
    caption = text;
  } else if (EqualsIgnoreCase(elementName, "rangelow") || EqualsIgnoreCase(elementName, "rangemin")) {
    ApplyRangeLow(text);
  } else if (EqualsIgnoreCase(elementName, "rangehigh") || EqualsIgnoreCase(elementName, "rangemax")) {
    ApplyRangeHigh(text);
  } else if (EqualsIgnoreCase(elementName, "divisor")) {
    divisor = ReadReal(text);
  } else if (EqualsIgnoreCase(elementName, "data")) {
    data.emplace_back(text);
    if (kind == PropertyKind::Natural && iSlMax < kInt32Max) ++iSlMax;
  } else if (EqualsIgnoreCase(elementName, "priority")) {
    priority = ReadInt(text);
  }
}

std::string VisualObjectEntry::Keyword(std::string_view name) const { return FindOrEmpty(keywords, name); }

VisualObjectEntry KeywordList::Next() {
  if (cursor >= entries.size()) return VisualObjectEntry();
  return entries[cursor++];
}

KeywordList* FindKeywordList(std::vector<KeywordList>& lists, std::string_view keyword) {
  for (auto& list : lists) {
    if (list.keyword == keyword) return &list;
  }
  return nullptr;
}

const KeywordList* FindKeywordList(const std::vector<KeywordList>& lists, std::string_view keyword) {
  for (const auto& list : lists) {
    if (list.keyword == keyword) return &list;
  }
  return nullptr;
}

bool AppendEntry(std::vector<KeywordList>& lists, std::string_view keyword, VisualObjectEntry entry) {
  KeywordList* mplTmp = FindKeywordList(lists, keyword);
  if (mplTmp == nullptr) {
    try {
      lists.emplace_back(std::string(keyword));
      mplTmp = &lists.back();
    } catch (const std::bad_alloc&) {
      mplTmp = nullptr;
    }
  }
  if (!KELMORA_ASSERT_NOT_NULL(mplTmp)) return false;
  mplTmp->entries.push_back(std::move(entry));
  return true;
}

void ResetCursors(std::vector<KeywordList>& lists) {
  for (auto& list : lists) list.Reset();
}
