#include "firmware/ProgramLoaderFileRead.h"

#include <cstdio>
#include <fstream>

#include "comm/FaultLog.h"

namespace {

std::uint8_t HexByte(const std::string& line, std::size_t at) {
  return static_cast<std::uint8_t>(HexDigitValue(line[at]) << 4 | HexDigitValue(line[at + 1]));
}

void Tell(IUserNotifier* notifier, const char* text) {
  if (notifier != nullptr) notifier->Notify(text, NoticeKind::Error);
}

}  // namespace

bool AcceptCommonRecordType(std::uint8_t type, const LoaderMessage&) {
  return type == 0x01 || type == 0x02 || type == 0x04;
}

bool ReadImage(const std::string& path, FirmwareImage& image, const RecordTypeHandler& acceptRecordType,
               IUserNotifier* notifier) {
  image.Clear();
  std::ifstream file(path);
  if (!file) return false;

  std::string line;
  std::uint32_t segmentBase = 0;
  while (std::getline(file, line)) {
    // The file is text: a line ending of "\r\n" ends the line like "\n" does.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 11 || line[0] != ':') return false;

    const std::uint8_t count = HexByte(line, 1);
    const std::uint16_t address = static_cast<std::uint16_t>(HexByte(line, 3) << 8 | HexByte(line, 5));
    const std::uint8_t type = HexByte(line, 7);
    if (count == 0) continue;
    // A line too short for its count is malformed like a short line; its bytes are never read.
    if (line.size() < 11 + 2u * count) return false;

    std::vector<std::uint8_t> data(count);
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    for (std::size_t i = 0; i < count; ++i) {
      data[i] = HexByte(line, 9 + 2 * i);
      sum += data[i];
    }
    sum += HexByte(line, 9 + 2u * count);
#ifdef KELMORA_FUZZ_SKIP_HEX_CHECKSUM
    // Fuzzing builds only: a record whose checksum is wrong is read as if it were right, so
    // that generated files reach the code behind the check.
    sum = 0;
#endif
    if (sum % 256 != 0) {
      char text[32];
      std::snprintf(text, sizeof text, "CRC Error (%X)", sum);
      KELMORA_FAULT(text + line);
      Tell(notifier, hex_text::kCrcError);
      return false;
    }

    if (type == 0x00) {
      const std::uint64_t full = (image.UpperAddress() | address) + segmentBase;
      faultlog::PlainLine("add_begin");
      const bool inserted = image.Insert(full, data.data(), count);
      faultlog::PlainLine("added");
      if (!inserted) {
        char text[40];
        std::snprintf(text, sizeof text, "Address failed (0x%llX)", static_cast<unsigned long long>(full));
        KELMORA_FAULT(text + line);
        Tell(notifier, hex_text::kAddressError);
        return false;
      }
    } else if (type == 0x04) {
      if (count != 2) {
        Tell(notifier, hex_text::kBadExtendedRecord);
        return false;
      }
      image.SetCurrentExtended(data[0], data[1]);
      segmentBase = 0;
    } else {
      // A segment base (objcopy writes one for images between 64 KiB and 1 MiB) moves the data
      // after it by base × 16; the insertion adds the extended addresses the boot loader needs.
      if (type == 0x02 && count == 2) segmentBase = (static_cast<std::uint32_t>(data[0]) << 8 | data[1]) << 4;
      const LoaderMessage record(type, address, data.data(), count);
      if (!acceptRecordType || !acceptRecordType(type, record)) {
        Tell(notifier, hex_text::kUnknownFormat);
        return false;
      }
    }
  }
  return true;
}

void ApplyTargetStep(FirmwareImage& image, const std::string& target) {
  if (target != "LPCARM") return;
  static constexpr std::uint32_t kWords[] = {0x00, 0x04, 0x08, 0x0C, 0x10, 0x18, 0x1C};
  std::uint32_t sum = 0;
  for (const std::uint32_t at : kWords) {
    std::uint8_t word[4] = {0, 0, 0, 0};
    image.ReadSectorBytes(0, at, 4, word);
    sum += static_cast<std::uint32_t>(word[0]) | static_cast<std::uint32_t>(word[1]) << 8 |
           static_cast<std::uint32_t>(word[2]) << 16 | static_cast<std::uint32_t>(word[3]) << 24;
  }
  const std::uint32_t check = 0u - sum;
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(check), static_cast<std::uint8_t>(check >> 8),
                                 static_cast<std::uint8_t>(check >> 16), static_cast<std::uint8_t>(check >> 24)};
  // The word belongs at 0x14 itself: behind data above 64 KiB, or in a slot without data, it
  // needs an upper address of its own, or the device would place it elsewhere.
  if (image.SlotUpperAddress(0) != std::optional<std::uint32_t>(0)) image.AppendRaw(0, LoaderMessage::ExtendedAddress(0, 0));
  image.AppendRaw(0, LoaderMessage(loader_type::kData, 0x0014, bytes, 4));
}

std::int32_t LenientDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 0x80000000LL) value = 0x80000000LL;  // saturate rather than overflow
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  return static_cast<std::int32_t>(value);
}

bool SplitHeaderedImage(const std::string& path, std::int32_t& identity1, std::int32_t& identity2,
                        std::string& hexPath) {
  std::ifstream file(path);
  if (!file) return false;
  std::string first, second;
  std::getline(file, first);
  std::getline(file, second);
  identity1 = LenientDecimal(first);
  identity2 = LenientDecimal(second);
  hexPath = path + ".tmp";
  std::ofstream out(hexPath, std::ios::trunc);
  if (!out) return false;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << line << '\n';
  }
  return static_cast<bool>(out.flush());
}
