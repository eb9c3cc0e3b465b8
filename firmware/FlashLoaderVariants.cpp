// The three boot loaders and the factory that picks one for a device profile.
#include <exception>

#include "comm/FaultLog.h"
#include "firmware/FlashLoader.h"

namespace {

constexpr const char* kNotForMe = "not for me =)";

void Require(const FirmwareDescription& description, const char* name, Version version) {
  if (!description.valid || description.name != name || !(description.version == version)) throw kNotForMe;
}

std::uint16_t Word16(std::uint8_t high, std::uint8_t low) { return static_cast<std::uint16_t>(high << 8 | low); }

}  // namespace

// "FU$-IHST" 1.01 ------------------------------------------------------------------------------

FlashLoaderIhst::FlashLoaderIhst(DataChannel* channel, const FirmwareDescription& description)
    : FlashLoader(channel, description, Version{1, 1}, true) {
  Require(description, "FU$-IHST", Version{1, 1});
}

FlashLoaderIhst::FlashLoaderIhst(DataChannel* channel, const FirmwareDescription& description, Version supported,
                                 bool descending)
    : FlashLoader(channel, description, supported, descending) {}

FlashLoaderIhst::~FlashLoaderIhst() { JoinWorker(); }

LoaderMessage FlashLoaderIhst::FlashRequestFor(int sector, std::uint16_t crc) const {
  if (sector != 0) return FlashLoader::FlashRequestFor(sector, crc);
  const std::uint8_t data[2] = {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)};
  return LoaderMessage(loader_type::kFlashRequestSector0, 0x0000, data, 2);
}

// "FU$-IHEX" 1.00 ------------------------------------------------------------------------------

FlashLoaderIhex::FlashLoaderIhex(DataChannel* channel, const FirmwareDescription& description)
    : FlashLoaderIhst(channel, description, Version{1, 1}, false) {
  Require(description, "FU$-IHEX", Version{1, 0});
}

FlashLoaderIhex::FlashLoaderIhex(DataChannel* channel, const FirmwareDescription& description, Version supported)
    : FlashLoaderIhst(channel, description, supported, false) {}

FlashLoaderIhex::~FlashLoaderIhex() { JoinWorker(); }

LoaderMessage FlashLoaderIhex::FlashRequestFor(int sector, std::uint16_t crc) const {
  return FlashLoader::FlashRequestFor(sector, crc);
}

// "FU$-IHEX" 2.00 ------------------------------------------------------------------------------

FlashLoaderIhex2::FlashLoaderIhex2(DataChannel* channel, const FirmwareDescription& description)
    : FlashLoaderIhex(channel, description, Version{2, 0}) {
  Require(description, "FU$-IHEX", Version{2, 0});
  m_image.maxDataPerMessage = 254;  // one byte of each data message is the sequence byte
}

FlashLoaderIhex2::~FlashLoaderIhex2() { JoinWorker(); }

bool FlashLoaderIhex2::OpenImage(const std::string& path) {
  if (WorkerRunning()) return false;
  std::string hexPath;
  std::int32_t identity1 = 0, identity2 = 0;
  if (!SplitHeaderedImage(path, identity1, identity2, hexPath)) return false;
  // Until the device reports its own map, the image is one sector as large as the address
  // space allows, so that nothing in the file is refused for lack of a map.
  m_image.Resort(MemoryMap({{0, 0x7FFFFFFE}}));
  const bool read = ReadImage(
      hexPath, m_image,
      [this](std::uint8_t type, const LoaderMessage& record) { return AcceptRecordType(type, record); }, m_pNotifier);
  m_image.identity1 = identity1;
  m_image.identity2 = identity2;
  if (read) ApplyTargetStep(m_image, m_description.target);
  return read;
}

bool FlashLoaderIhex2::AcceptRecordType(std::uint8_t type, const LoaderMessage& record) {
  if (type != loader_type::kFlashDone) return FlashLoaderIhex::AcceptRecordType(type, record);
  // A checksum record needs the upper address and the CRC: four bytes. A shorter one cannot
  // say which sector it is for.
  if (record.Count() < 4) return false;
  const std::uint32_t address =
      static_cast<std::uint32_t>(Word16(record.DataByte(0), record.DataByte(1))) << 16 | record.Address();
  m_image.checksums.push_back({address, Word16(record.DataByte(2), record.DataByte(3))});
  return true;
}

void FlashLoaderIhex2::AfterConnect() { m_iState = kIdentityCheck; }

LoaderMessage FlashLoaderIhex2::DataMessageToSend(const LoaderMessage& stored) const {
  if (stored.Type() != loader_type::kData) return stored;
  std::uint8_t data[255];
  data[0] = kSequence;
  const std::size_t count = stored.Count() < 255 ? stored.Count() : 254;
  for (std::size_t i = 0; i < count; ++i) data[1 + i] = stored.DataByte(i);
  return LoaderMessage(loader_type::kData, stored.Address(), data, count + 1);
}

bool FlashLoaderIhex2::DataAnswerMatches(const LoaderMessage& sent, const LoaderMessage& answer) const {
  if (sent.Type() != loader_type::kData) return true;
  return answer.Type() == loader_type::kData && answer.Count() >= 1 && answer.DataByte(0) == kSequence;
}

bool FlashLoaderIhex2::SectorCrcFor(int sector, std::uint16_t& crc) const {
  bool found = false;
  for (const SectorChecksum& record : m_image.checksums) {
    if (m_map.Lookup(record.address) == sector) {
      crc = record.crc;
      found = true;
    }
  }
  return found;
}

// Factory --------------------------------------------------------------------------------------

std::unique_ptr<FlashLoader> CreateFlashLoader(DataChannel* channel, const FirmwareDescription& description) {
  try {
    return std::make_unique<FlashLoaderIhst>(channel, description);
  } catch (const char*) {
  } catch (...) {
    KELMORA_EXCEPTION("new FlashLoaderIhst(channel, description)");
  }
  try {
    return std::make_unique<FlashLoaderIhex>(channel, description);
  } catch (const char*) {
  } catch (...) {
    KELMORA_EXCEPTION("new FlashLoaderIhex(channel, description)");
  }
  try {
    return std::make_unique<FlashLoaderIhex2>(channel, description);
  } catch (const char*) {
  } catch (...) {
    KELMORA_EXCEPTION("new FlashLoaderIhex2(channel, description)");
  }
  return nullptr;
}
