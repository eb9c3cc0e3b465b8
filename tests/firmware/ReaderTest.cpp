// The Intel HEX reader: malformed and unusual files, cutting along sectors, the LPC ARM vector
// checksum, the headered image of the sequence-numbered boot loader, and objcopy's output.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "comm/FaultLog.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FlashLoader.h"
#include "firmware/ProgramLoaderFileRead.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace fwtest;
using testing::HasSubstr;

namespace {

constexpr const char* kPath = "image.hex";

bool Read(const std::string& text, FirmwareImage& image, RecordingNotifier& notifier) {
  WriteFile(kPath, text);
  return ReadImage(kPath, image, AcceptCommonRecordType, &notifier);
}

// The bytes an image holds, by full address, rebuilt from its slots' messages.
std::map<std::uint64_t, std::uint8_t> Contents(const FirmwareImage& image) {
  std::map<std::uint64_t, std::uint8_t> bytes;
  for (int s = 0; s < FirmwareImage::kSlots; ++s) {
    std::uint64_t upper = 0;
    for (const LoaderMessage& m : image.Slot(s).messages) {
      if (m.Type() == loader_type::kExtendedAddress) upper = static_cast<std::uint64_t>(m.DataByte(0) << 8 | m.DataByte(1)) << 16;
      else
        for (std::size_t i = 0; i < m.Count(); ++i) bytes[upper + m.Address() + i] = m.DataByte(i);
    }
  }
  return bytes;
}

struct ReadCase {
  const char* name;
  std::vector<std::string> lines;
  bool ok;
  const char* notice;     // the one text shown, or null for none
  const char* faultLine;  // a text the fault log must hold, or null
};

class ReadCases : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadCases, ResultNoticeAndFaultLog) {
  testing_support::TempWorkDir dir;
  faultlog::Truncate();
  const ReadCase& c = GetParam();
  FirmwareImage image(MemoryMap(0x1000, 4, 0));
  RecordingNotifier notifier;
  EXPECT_EQ(Read(Join(c.lines), image, notifier), c.ok);
  if (c.notice != nullptr) {
    EXPECT_THAT(notifier.texts, testing::ElementsAre(c.notice));
  } else {
    EXPECT_THAT(notifier.texts, testing::IsEmpty());
  }
  const std::string log = testing_support::ReadTextFile(faultlog::kFileName);
  if (c.faultLine != nullptr) {
    EXPECT_THAT(log, HasSubstr(c.faultLine));
  } else {
    EXPECT_THAT(log, testing::Not(HasSubstr("F ")));
  }
}

const std::string kGood = HexLine(0, 0x0010, {1, 2, 3, 4});

INSTANTIATE_TEST_SUITE_P(
    Reader, ReadCases,
    testing::Values(
        ReadCase{"GoodFile", {kGood, ":00000001FF"}, true, nullptr, nullptr},
        ReadCase{"NoColon", {kGood, "10001000" + kGood.substr(9)}, false, nullptr, nullptr},
        ReadCase{"BlankLineEndsTheRead", {kGood, "", ":00000001FF"}, false, nullptr, nullptr},
        ReadCase{"ShorterThanElevenCharacters", {":0000000"}, false, nullptr, nullptr},
        // Count 0x10 but only four data bytes and no checksum on the line.
        ReadCase{"LineTooShortForItsCount", {":1000000001020304"}, false, nullptr, nullptr},
        ReadCase{"ChecksumWrong", {":0400100001020304E1"}, false, "CRC Error in file",
                 "F CRC Error (FF):0400100001020304E1 in file ProgramLoaderFileRead.cpp"},
        ReadCase{"NonHexCharacterReadsAsZero", {":040010000102030GE2"}, false, "CRC Error in file", "CRC Error (FC)"},
        ReadCase{"CountZeroWithWrongChecksumSkipped", {":00000001AB", kGood}, true, nullptr, nullptr},
        ReadCase{"RecordsAfterEndOfFileRead", {":00000001FF", kGood}, true, nullptr, nullptr},
        ReadCase{"StartLinearAddressRejected", {HexLine(5, 0, {0, 0, 0, 0})}, false,
                 "Unknown format: record field number incorrect", nullptr},
        ReadCase{"StartSegmentAddressRejected", {HexLine(3, 0, {0, 0, 0, 0})}, false,
                 "Unknown format: record field number incorrect", nullptr},
        ReadCase{"SegmentBaseZeroAccepted", {HexLine(2, 0, {0x00, 0x00}), kGood}, true, nullptr, nullptr},
        // A segment base moves the data after it: here out of the map.
        ReadCase{"SegmentBaseApplied", {HexLine(2, 0, {0x10, 0x00}), kGood}, false,
                 "Address error in file, file is not correct according to memory map",
                 "F Address failed (0x10010):0400100001020304E2 in file ProgramLoaderFileRead.cpp"},
        ReadCase{"ExtendedAddressOfWrongSize", {HexLine(4, 0, {0, 0, 1})}, false,
                 "Bad \"04\" record. Wrong size specified.", nullptr},
        ReadCase{"DataOutsideTheMap", {HexLine(4, 0, {0, 1}), kGood}, false,
                 "Address error in file, file is not correct according to memory map",
                 "F Address failed (0x10010):0400100001020304E2 in file ProgramLoaderFileRead.cpp"},
        ReadCase{"ChecksumRecordOnlyForSequencedLoader", {HexLine(0x6A, 0, {0, 0, 1, 2})}, false,
                 "Unknown format: record field number incorrect", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, MissingFileFailsSilently) {
  testing_support::TempWorkDir dir;
  FirmwareImage image(MemoryMap(0x1000, 4, 0));
  RecordingNotifier notifier;
  EXPECT_FALSE(ReadImage("no-such.hex", image, nullptr, &notifier));
  EXPECT_TRUE(notifier.texts.empty());
}

TEST(Reader, LowerCaseAndCrLfReadLikeUpperCase) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage upper(MemoryMap(0x1000, 4, 0)), lower(MemoryMap(0x1000, 4, 0));
  const std::string line = HexLine(0, 0x0ABC, {0xAB, 0xCD, 0xEF});
  std::string small = line;
  for (auto& c : small) c = static_cast<char>(std::tolower(c));
  ASSERT_TRUE(Read(line + "\n", upper, notifier));
  ASSERT_TRUE(Read(small + "\r\n", lower, notifier));
  EXPECT_TRUE(upper == lower);
  EXPECT_EQ(Contents(upper).at(0x0ABC), 0xAB);
}

TEST(Reader, DataRecordIsCutAtTheSectorBoundary) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage image(MemoryMap(0x1000, 4, 0));
  Bytes data(16);
  for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(Read(HexLine(0, 0x0FF8, data) + "\n", image, notifier));
  const auto& s0 = image.Slot(0).messages;
  const auto& s1 = image.Slot(1).messages;
  ASSERT_EQ(s0.size(), 2u);
  ASSERT_EQ(s1.size(), 2u);
  EXPECT_EQ(s0[0], LoaderMessage::ExtendedAddress(0, 0));
  EXPECT_EQ(s0[1], LoaderMessage(0, 0x0FF8, data.data(), 8));
  EXPECT_EQ(s1[0], LoaderMessage::ExtendedAddress(0, 0));
  EXPECT_EQ(s1[1], LoaderMessage(0, 0x1000, data.data() + 8, 8));
  EXPECT_TRUE(image.Slot(0).hasData && image.Slot(1).hasData && !image.Slot(2).hasData);
}

TEST(Reader, ExtendedAddressMessageOnlyWhenTheUpperAddressChanges) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage image(MemoryMap(0x20000, 2, 0));  // sector 0 spans two 64 KiB pages
  ASSERT_TRUE(Read(Join({HexLine(0, 0x0000, {1}), HexLine(0, 0x0100, {2}), HexLine(4, 0, {0, 1}),
                         HexLine(0, 0x0000, {3})}),
                   image, notifier));
  std::vector<std::pair<int, std::uint16_t>> kinds;
  for (const auto& m : image.Slot(0).messages) kinds.emplace_back(m.Type(), m.Type() == 4 ? m.DataByte(1) : m.Address());
  EXPECT_THAT(kinds, testing::ElementsAre(std::pair(4, 0), std::pair(0, 0x0000), std::pair(0, 0x0100), std::pair(4, 1),
                                          std::pair(0, 0x0000)));
}

TEST(Reader, SectorAboveTwoHundredFiftyFourCannotHoldData) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage image(MemoryMap(16, 300, 0));
  EXPECT_TRUE(Read(HexLine(0, 254 * 16, {1}) + "\n", image, notifier));
  EXPECT_FALSE(Read(HexLine(0, 255 * 16, {1}) + "\n", image, notifier));
  EXPECT_THAT(notifier.texts, testing::ElementsAre(hex_text::kAddressError));
}

TEST(Reader, RecordCrossingA64KiBBoundaryKeepsItsUpperAddress) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage image(MemoryMap(0x100000, 1, 0));  // one sector: no sector boundary in the way
  ASSERT_TRUE(Read(HexLine(0, 0xFFFC, {1, 2, 3, 4, 5, 6, 7, 8}) + "\n", image, notifier));
  const auto bytes = Contents(image);
  EXPECT_EQ(bytes.at(0xFFFC), 1);
  EXPECT_EQ(bytes.at(0x10000), 5);
  EXPECT_EQ(bytes.at(0x10003), 8);
  EXPECT_EQ(bytes.count(0x0000), 0u);
}

TEST(Reader, LpcArmVectorChecksum) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  auto le = [](std::uint32_t v) {
    return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                 static_cast<std::uint8_t>(v >> 24)};
  };
  Bytes vectors;
  for (std::uint32_t w : {0x10000000u, 0xC1u, 0xC5u, 0xC9u, 0xCDu}) {
    const Bytes b = le(w);
    vectors.insert(vectors.end(), b.begin(), b.end());
  }
  Bytes tail = le(0);  // 0x18
  const Bytes d1 = le(0xD1);
  tail.insert(tail.end(), d1.begin(), d1.end());
  FirmwareImage image(MemoryMap(0x1000, 4, 0));
  ASSERT_TRUE(Read(Join({HexLine(0, 0x00, vectors), HexLine(0, 0x18, tail)}), image, notifier));
  FirmwareImage untouched = image;
  ApplyTargetStep(untouched, "LPCARM-not");
  EXPECT_TRUE(untouched == image);
  ApplyTargetStep(image, "LPCARM");
  const LoaderMessage& last = image.Slot(0).messages.back();
  EXPECT_EQ(last, LoaderMessage(0, 0x0014, le(0xEFFFFC13).data(), 4));
  std::uint32_t sum = 0;
  for (std::uint32_t at = 0; at < 0x20; at += 4) {
    std::uint8_t w[4] = {0, 0, 0, 0};
    image.ReadSectorBytes(0, at, 4, w);
    sum += w[0] | w[1] << 8 | w[2] << 16 | static_cast<std::uint32_t>(w[3]) << 24;
  }
  EXPECT_EQ(sum, 0u);
}

// In a sector larger than 64 KiB (the sequence-numbered loader reads into one big sector)
// the bytes at 0x10000 and up neither count as vector words nor push the word away from 0x14.
TEST(Reader, LpcArmVectorChecksumInASectorAbove64KiB) {
  testing_support::TempWorkDir dir;
  auto loader = CreateFlashLoader(nullptr, Description("FU$-IHEX", {2, 0}, MemoryMap(0x10000, 4, 0), "LPCARM"));
  WriteFile("big.hex", Join({"0", "0", HexLine(0, 0x0000, {1, 0, 0, 0}), HexLine(4, 0, {0, 1}),
                             HexLine(0, 0x0000, Bytes(32, 0x77))}));
  ASSERT_TRUE(loader->OpenImage("big.hex"));
  FirmwareImage image = loader->Image();
  image.Resort(MemoryMap(0x10000, 4, 0));
  const auto bytes = Contents(image);
  EXPECT_EQ(bytes.at(0x14), 0xFF);  // 0 - 1 = 0xFFFFFFFF
  EXPECT_EQ(bytes.at(0x17), 0xFF);
  EXPECT_EQ(bytes.at(0x10014), 0x77);
}

TEST(Reader, ReadSectorBytesLeavesUncoveredBytes) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage image(MemoryMap(0x1000, 4, 0));
  ASSERT_TRUE(Read(Join({HexLine(0, 0x0002, {0xA, 0xB}), HexLine(0, 0x1000, {0xC})}), image, notifier));
  std::uint8_t out[6] = {9, 9, 9, 9, 9, 9};
  image.ReadSectorBytes(0, 0, 6, out);
  EXPECT_THAT(out, testing::ElementsAre(9, 9, 0xA, 0xB, 9, 9));
}

TEST(Reader, ResortingDropsWhatTheNewMapLacks) {
  testing_support::TempWorkDir dir;
  RecordingNotifier notifier;
  FirmwareImage image(MemoryMap(0x1000, 4, 0));
  ASSERT_TRUE(Read(Join({HexLine(0, 0x0FFE, {1, 2, 3, 4}), HexLine(0, 0x3000, {5})}), image, notifier));
  image.Resort(MemoryMap({{0x0000, 0x07FF}, {0x0800, 0x1FFF}}));
  EXPECT_FALSE(image.Slot(0).hasData);
  ASSERT_TRUE(image.Slot(1).hasData);
  EXPECT_FALSE(image.Slot(2).hasData);
  const auto bytes = Contents(image);
  EXPECT_EQ(bytes.size(), 4u);  // the two pieces join up again in slot 1; 0x3000 is gone
  EXPECT_EQ(bytes.at(0x1001), 4);
}

// Images made by objcopy: every byte lands where it belongs, the per-sector CRC matches an
// independent one, and the image splits at every sector boundary.
TEST(Reader, ObjcopyImagesRoundTrip) {
  testing_support::TempWorkDir dir;
  struct Case {
    std::size_t size;
    std::uint64_t address;
    MemoryMap map;
  } cases[] = {{40 * 1024, 0, MemoryMap(4096, 64, 0)},
               {150000, 0, MemoryMap(0x8000, 8, 0)},  // objcopy adds a segment base at 64 KiB
               {10000, 0x100000, MemoryMap(0x4000, 16, 0x100000)},
               {777, 0x1F80, MemoryMap(0x100, 64, 0x1F00)}};
  for (const Case& c : cases) {
    const Bytes binary = RandomBytes(c.size, static_cast<std::uint32_t>(c.size));
    const std::string hex = ObjcopyHex(binary, c.address, dir.Path());
    if (hex.empty()) GTEST_SKIP() << "objcopy is not installed";
    RecordingNotifier notifier;
    FirmwareImage image(c.map);
    ASSERT_TRUE(Read(hex, image, notifier)) << c.size;
    const auto bytes = Contents(image);
    ASSERT_EQ(bytes.size(), binary.size());
    for (std::size_t i = 0; i < binary.size(); ++i) ASSERT_EQ(bytes.at(c.address + i), binary[i]) << i;
    for (int s = 0; s < static_cast<int>(c.map.Size()); ++s) {
      const auto& sector = c.map[static_cast<std::size_t>(s)];
      const std::uint64_t from = std::max(sector.start, c.address), to = std::min(sector.end, c.address + binary.size());
      ASSERT_EQ(image.Slot(s).hasData, from < to) << s;
      if (from < to) {
        EXPECT_EQ(image.SectorCrc(s), ArcCrc(binary.data() + (from - c.address), to - from)) << s;
      }
    }
  }
}

TEST(LoaderImage, OpeningTwiceGivesTheSameImage) {
  testing_support::TempWorkDir dir;
  const Bytes binary = RandomBytes(5000, 7);
  const std::string hex = Join({HexLine(0, 0x0000, {1, 2, 3}), HexLine(0, 0x2FF0, Bytes(32, 0x55))});
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> sectors = {{0, 0x1FFF}, {0x2000, 0x3FFF}};
  struct Case {
    FirmwareDescription description;
    std::string text;
  } cases[] = {{Description("FU$-IHST", {1, 1}, MemoryMap(0x1000, 8, 0), "LPCARM"), hex},
               {Description("FU$-IHEX", {1, 0}, MemoryMap(0x1000, 8, 0)), hex},
               {Description("FU$-IHEX", {2, 0}, MemoryMap(0x1000, 8, 0)),
                HeaderedImage(hex, 5, -6, Bytes(0x4000), 0, sectors)}};
  for (Case& c : cases) {
    auto loader = CreateFlashLoader(nullptr, c.description);
    ASSERT_NE(loader, nullptr);
    WriteFile("twice.hex", c.text);
    ASSERT_TRUE(loader->OpenImage("twice.hex"));
    const FirmwareImage once = loader->Image();
    ASSERT_TRUE(loader->OpenImage("twice.hex"));
    EXPECT_TRUE(loader->Image() == once) << c.description.name << " " << c.description.version.Format();
  }
}

TEST(LoaderImage, SequencedImageHeaderTemporaryCopyAndChecksumRecords) {
  testing_support::TempWorkDir dir;
  auto loader = CreateFlashLoader(nullptr, Description("FU$-IHEX", {2, 0}, MemoryMap(0x1000, 8, 0)));
  const std::string body = Join({HexLine(0, 0x0010, {1, 2}), HexLine(0x6A, 0x1000, {0x00, 0x01, 0xBE, 0xEF}),
                                 HexLine(0x6A, 0x0000, {0x00, 0x00, 0x12, 0x34}), ":00000001FF"});
  WriteFile("seq.hex", "  -42xyz\r\n7\r\n" + body);
  ASSERT_TRUE(loader->OpenImage("seq.hex"));
  EXPECT_EQ(loader->Image().identity1, -42);
  EXPECT_EQ(loader->Image().identity2, 7);
  EXPECT_THAT(loader->Image().checksums,
              testing::ElementsAre(SectorChecksum{0x00011000, 0xBEEF}, SectorChecksum{0x00000000, 0x1234}));
  EXPECT_EQ(testing_support::ReadTextFile("seq.hex.tmp"), body);
  // Until the device reports its map, everything sits in one sector.
  EXPECT_EQ(loader->Image().Map().Size(), 1u);
  EXPECT_EQ(loader->Image().Map()[0].end, 0x7FFFFFFFu);

  // A checksum record too short for address and CRC is refused.
  WriteFile("short.hex", "1\n2\n" + HexLine(0x6A, 0, {0, 0, 1}) + "\n");
  EXPECT_FALSE(loader->OpenImage("short.hex"));
  // A header without numbers reads as 0, 0.
  WriteFile("empty.hex", "\nabc\n" + HexLine(0, 0, {1}) + "\n");
  ASSERT_TRUE(loader->OpenImage("empty.hex"));
  EXPECT_EQ(loader->Image().identity1, 0);
  EXPECT_EQ(loader->Image().identity2, 0);
}

TEST(LoaderImage, SequencedLoaderLeavesRoomForTheSequenceByte) {
  testing_support::TempWorkDir dir;
  auto loader = CreateFlashLoader(nullptr, Description("FU$-IHEX", {2, 0}, MemoryMap(0x1000, 8, 0)));
  WriteFile("long.hex", "1\n2\n" + HexLine(0, 0x0000, Bytes(255, 0xA5)) + "\n");
  ASSERT_TRUE(loader->OpenImage("long.hex"));
  std::vector<int> counts;
  for (const auto& m : loader->Image().Slot(0).messages)
    if (m.Type() == 0) counts.push_back(m.Count());
  EXPECT_THAT(counts, testing::ElementsAre(254, 1));
}

}  // namespace
