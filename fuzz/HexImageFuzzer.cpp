// Fuzz target: the Intel HEX reader, `ReadImage`, as the flash loaders call it, and the image
// it builds. The fuzzing build reads records with a wrong checksum as if it were right.
//
// Input: a mode byte, three map bytes, then the file.
//   mode bits 0..1: 0 `ReadImage` alone on a map from the map bytes; 1, 2, 3 `OpenImage` of the
//                   "FU$-IHST" 1.01, "FU$-IHEX" 1.00 or "FU$-IHEX" 2.00 loader (the last reads
//                   a file that starts with two decimal identity lines)
//   mode bit 2:     target "LPCARM" (the loaders add the vector checksum word)
//   map bytes:      size (bit 7 set: 2^(bits 0..4), else 97·b + 1), sector count b + 1, first
//                   address b·256
// Every image, read to the end or not, must keep the image's invariants: each data message
// lies wholly inside the sector of its slot, under an extended-address message of its upper
// address bits, and carries no more bytes than one message may.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/FlashLoader.h"
#include "firmware/ProgramLoaderFileRead.h"
#include "fuzz/FuzzSupport.h"

namespace {

const fuzz::ScratchFolder& Folder() {
  static const fuzz::ScratchFolder folder;
  return folder;
}

void CheckImage(const FirmwareImage& image) {
  const MemoryMap& map = image.Map();
  const std::size_t limit = image.maxDataPerMessage == 0 ? 255 : image.maxDataPerMessage;
  for (int slot = 0; slot < FirmwareImage::kSlots; ++slot) {
    std::optional<std::uint32_t> upper;
    bool data = false;
    for (const LoaderMessage& message : image.Slot(slot).messages) {
      if (message.Size() != message.Count() + LoaderMessage::kOverhead) std::abort();
      if (message.Type() == loader_type::kExtendedAddress) {
        if (message.Count() != 2) std::abort();
        upper = static_cast<std::uint32_t>(message.DataByte(0) << 8 | message.DataByte(1)) << 16;
      } else if (message.Type() == loader_type::kData) {
        if (!upper || message.Count() == 0 || message.Count() > limit) std::abort();
        const std::uint64_t first = *upper | message.Address();
        const std::uint64_t last = first + message.Count() - 1;
        if ((first >> 16) != (last >> 16)) std::abort();
        if (map.Lookup(first) != slot || map.Lookup(last) != slot) std::abort();
        data = true;
      }
    }
    if (data != image.Slot(slot).hasData) std::abort();
    (void)image.SectorCrc(slot);
  }
}

template <typename Loader>
void OpenWith(const std::string& path, FirmwareDescription description) {
  Loader loader(nullptr, description);
  loader.OpenImage(path);
  CheckImage(loader.Image());
}

FirmwareDescription Description(const char* name, Version version, std::int64_t sectorSize, std::int64_t sectors,
                                bool lpc) {
  FirmwareDescription description;
  description.valid = true;
  description.name = name;
  description.version = version;
  description.target = lpc ? "LPCARM" : "AT91SAM7";
  description.memoryMap = MemoryMap(sectorSize, sectors, 0);
  return description;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::uint8_t mode = in.Byte();
  const std::uint8_t sizeByte = in.Byte(), countByte = in.Byte(), firstByte = in.Byte();
  const std::vector<std::uint8_t> file = in.Rest();
  const std::string path = Folder().Write("image.hex", file.data(), file.size());
  if (path.empty()) std::abort();

  const bool lpc = (mode & 0x04) != 0;
  switch (mode & 0x03) {
    case 0: {
      const std::int64_t sectorSize = (sizeByte & 0x80) ? std::int64_t{1} << (sizeByte & 0x1F) : sizeByte * 97 + 1;
      FirmwareImage image(MemoryMap(sectorSize, countByte + 1, static_cast<std::uint64_t>(firstByte) << 8));
      ReadImage(path, image, AcceptCommonRecordType, nullptr);
      CheckImage(image);
      break;
    }
    case 1: OpenWith<FlashLoaderIhst>(path, Description("FU$-IHST", Version{1, 1}, 4096, 64, lpc)); break;
    case 2: OpenWith<FlashLoaderIhex>(path, Description("FU$-IHEX", Version{1, 0}, 16384, 16, lpc)); break;
    case 3: OpenWith<FlashLoaderIhex2>(path, Description("FU$-IHEX", Version{2, 0}, 32768, 16, lpc)); break;
  }
  return 0;
}
