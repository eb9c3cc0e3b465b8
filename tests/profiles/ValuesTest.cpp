// Versions, lenient profile numbers, keyword lists with their cursor, and memory maps.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "profiles/MemoryMap.h"
#include "profiles/ModbusProperties.h"
#include "profiles/ProfileNumbers.h"
#include "profiles/Version.h"

namespace {

TEST(Version, ParsesMajorAndMinorAndFormatsWithTwoMinorDigits) {
  const struct {
    const char* text;
    std::int32_t major;
    std::int32_t minor;
    const char* shown;
  } cases[] = {
      {"", 0, 0, "0.00"},       {"3.", 3, 0, "3.00"},        {".7", 0, 7, "0.07"},
      {"1.5", 1, 5, "1.05"},    {"1.05", 1, 5, "1.05"},      {"2", 2, 0, "2.00"},
      {"1.2.3", 1, 2, "1.02"},  {"10.100", 10, 100, "10.100"}, {" 2. 3", 2, 3, "2.03"},
      {"v1.1", 0, 1, "0.01"},   {"-1.5", -1, 5, "-1.05"},    {"2.03", 2, 3, "2.03"},
  };
  for (const auto& c : cases) {
    const Version version = Version::Parse(c.text);
    EXPECT_EQ(version.m_v1, c.major) << c.text;
    EXPECT_EQ(version.m_v2, c.minor) << c.text;
    EXPECT_EQ(version.Format(), c.shown) << c.text;
  }
  EXPECT_EQ(Version::Parse("1.5"), Version::Parse("1.05"));
  EXPECT_FALSE(Version::Parse("1.5") == Version::Parse("1.50"));
}

TEST(ProfileNumbers, IntegersReadLikeAtoiAndSaturate) {
  using profilenumbers::ReadInt;
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"42", 42},
      {" \t\n42", 42},
      {"+12", 12},
      {"-12", -12},
      {"--1", 0},
      {"- 1", 0},
      {"12.9", 12},
      {"0x10", 0},
      {"", 0},
      {"abc", 0},
      {"2147483647", std::numeric_limits<std::int32_t>::max()},
      {"2147483648", std::numeric_limits<std::int32_t>::max()},
      {"99999999999999999999999", std::numeric_limits<std::int32_t>::max()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"-99999999999", std::numeric_limits<std::int32_t>::min()},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(ProfileNumbers, RealsReadLikeAtofAndHexLikeStrtoull) {
  using profilenumbers::ReadHex;
  using profilenumbers::ReadReal;
  EXPECT_DOUBLE_EQ(ReadReal(" -5.5"), -5.5);
  EXPECT_DOUBLE_EQ(ReadReal("1e-3V"), 0.001);
  EXPECT_DOUBLE_EQ(ReadReal(".25"), 0.25);
  EXPECT_DOUBLE_EQ(ReadReal("1,5"), 1.0);  // profiles use a decimal point only
  EXPECT_DOUBLE_EQ(ReadReal("volts"), 0.0);
  EXPECT_DOUBLE_EQ(ReadReal(""), 0.0);
  EXPECT_EQ(ReadHex("8000"), 0x8000u);
  EXPECT_EQ(ReadHex("0x1F000"), 0x1F000u);
  EXPECT_EQ(ReadHex("  ff"), 0xFFu);
  EXPECT_EQ(ReadHex(""), 0u);
  EXPECT_EQ(ReadHex("zz"), 0u);
}

VisualObjectEntry EntryAt(std::int32_t x) {
  VisualObjectEntry entry;
  entry.x = x;
  return entry;
}

TEST(KeywordList, CursorHandsOutEntriesInOrderAndDoesNotWrap) {
  KeywordList list("watch");
  list.entries = {EntryAt(1), EntryAt(2)};
  EXPECT_EQ(list.Next().x, 1);
  EXPECT_EQ(list.Next().x, 2);
  EXPECT_TRUE(list.Exhausted());
  const VisualObjectEntry past = list.Next();
  EXPECT_EQ(past.x, 0);
  EXPECT_EQ(past.page, 1);
  EXPECT_TRUE(past.properties.empty());
  EXPECT_EQ(list.cursor, 2u);
  list.Reset();
  EXPECT_EQ(list.Next().x, 1);
}

TEST(KeywordList, ListsAreFoundExactlyAndCreatedInOrderOfFirstUse) {
  std::vector<KeywordList> lists;
  EXPECT_TRUE(AppendEntry(lists, "watch", EntryAt(1)));
  EXPECT_TRUE(AppendEntry(lists, "slider", EntryAt(2)));
  EXPECT_TRUE(AppendEntry(lists, "watch", EntryAt(3)));
  EXPECT_TRUE(AppendEntry(lists, "", EntryAt(4)));
  EXPECT_TRUE(AppendEntry(lists, "Watch", EntryAt(5)));
  ASSERT_EQ(lists.size(), 4u);
  EXPECT_EQ(lists[0].keyword, "watch");
  EXPECT_EQ(lists[1].keyword, "slider");
  EXPECT_EQ(lists[2].keyword, "");
  EXPECT_EQ(lists[3].keyword, "Watch");
  ASSERT_NE(FindKeywordList(lists, "watch"), nullptr);
  EXPECT_EQ(FindKeywordList(lists, "watch")->Count(), 2u);
  EXPECT_EQ(FindKeywordList(lists, "watch")->entries[1].x, 3);
  EXPECT_EQ(FindKeywordList(lists, "graph"), nullptr);
  EXPECT_EQ(FindKeywordList(lists, "Slider"), nullptr);

  lists[0].Next();
  lists[1].Next();
  ResetCursors(lists);
  EXPECT_EQ(lists[0].cursor, 0u);
  EXPECT_EQ(lists[1].cursor, 0u);
}

TEST(MemoryMap, EqualSectorsCoverConsecutiveRanges) {
  const MemoryMap map(0x1000, 4, 0x8000);
  ASSERT_EQ(map.Size(), 4u);
  for (std::size_t i = 0; i < map.Size(); ++i) {
    EXPECT_EQ(map[i].start, 0x8000u + i * 0x1000u);
    EXPECT_EQ(map[i].end, 0x9000u + i * 0x1000u);
    EXPECT_EQ(map[i].mask, 0xFFFu);
    EXPECT_EQ(map[i].shift, 12u);
    EXPECT_EQ(map[i].Base(), map[i].start);
  }
  const struct {
    std::uint64_t address;
    int sector;
  } lookups[] = {{0x7FFF, -1}, {0x8000, 0}, {0x8FFF, 0}, {0x9000, 1}, {0xBFFF, 3}, {0xC000, -1}};
  for (const auto& l : lookups) EXPECT_EQ(map.Lookup(l.address), l.sector) << std::hex << l.address;
}

TEST(MemoryMap, DegenerateEqualMapsStayBounded) {
  EXPECT_TRUE(MemoryMap(0, 16, 0).Empty());
  EXPECT_TRUE(MemoryMap(-4096, 16, 0).Empty());
  EXPECT_TRUE(MemoryMap(4096, 0, 0).Empty());
  EXPECT_TRUE(MemoryMap(4096, -1, 0).Empty());
  EXPECT_EQ(MemoryMap(1, std::numeric_limits<std::int32_t>::max(), 0).Size(),
            static_cast<std::size_t>(MemoryMap::kMaxEqualSectors));
  // Sectors that would pass the end of the address space are left out.
  const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
  const MemoryMap nearTop(0x1000, 8, top - 0x2FFF);
  EXPECT_EQ(nearTop.Size(), 2u);
  EXPECT_EQ(nearTop.Lookup(top - 0x2FFF), 0);
}

TEST(MemoryMap, SectorMaskAndShiftFollowTheSize) {
  const struct {
    std::uint64_t start;
    std::uint64_t end;
    std::uint64_t mask;
    std::uint64_t shift;
  } cases[] = {{0, 1, 0, 0}, {0, 2, 1, 1}, {0x10, 0x20, 0xF, 4}, {0, 3000, 2999, 11}, {5, 5, 0, 0}};
  for (const auto& c : cases) {
    const MemorySector sector(c.start, c.end);
    EXPECT_EQ(sector.mask, c.mask) << c.start << ".." << c.end;
    EXPECT_EQ(sector.shift, c.shift) << c.start << ".." << c.end;
  }
  EXPECT_EQ(MemorySector(0x1008, 0x1018).Base(), 0x1000u);  // a sector off its alignment
}

TEST(MemoryMap, ExplicitPairsGiveOneSectorEachInOrder) {
  const MemoryMap map({{0x0, 0xFFF}, {0x1000, 0x7FFF}, {0x20000, 0x1FFFF}});
  ASSERT_EQ(map.Size(), 3u);
  EXPECT_EQ(map[1].start, 0x1000u);
  EXPECT_EQ(map[1].end, 0x8000u);
  EXPECT_EQ(map.Lookup(0xFFF), 0);
  EXPECT_EQ(map.Lookup(0x7FFF), 1);
  EXPECT_EQ(map.Lookup(0x20000), -1);  // a pair whose last address is below its first holds nothing
}

}  // namespace
