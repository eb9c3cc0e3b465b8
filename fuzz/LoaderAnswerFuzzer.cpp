// Fuzz target: the flash loader's side of the boot-loader line. `FlashLoader::Receive` turns
// the characters on the line (':' and hex pairs) into a `LoaderMessage`; the update's steps
// then act on those messages (version, identity, the device's memory map, segment and flash
// answers).
//
// Input: a mode byte, the line shape (FuzzSupport.h), then the line's characters.
//   mode bits 0..1: 0 receive messages until the line is empty; 1, 2, 3 run a whole update of
//                   a small image with the "FU$-IHST" 1.01, "FU$-IHEX" 1.00 or "FU$-IHEX" 2.00
//                   loader, the line answering
//   mode bit 2:     the rest is a list of records, each encoded as the boot loader sends it,
//                   with a correct CRC: a noise length n, n characters of noise, then count,
//                   address high, address low, type and count data bytes
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/FlashLoader.h"
#include "fuzz/FuzzSupport.h"

namespace {

// A loader whose worker reports its end, with the protocol steps the target drives opened up.
template <typename Loader>
class Harness final : public Loader {
 public:
  Harness(DataChannel* channel, const FirmwareDescription& description) : Loader(channel, description) {}
  ~Harness() override { this->JoinWorker(); }

  using FlashLoader::JoinWorker;
  using FlashLoader::Receive;
  FirmwareImage& ImageToFill() { return this->m_image; }

  void Run() override {
    Loader::Run();
    Signal();
  }
  // Called when the worker ended or the line ran dry, whichever comes first.
  void Signal() {
    {
      std::lock_guard lock(m_mutex);
      m_signalled = true;
    }
    m_cv.notify_all();
  }
  void WaitForSignal() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_signalled; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_signalled = false;
};

FirmwareDescription Description(const char* name, Version version, std::int64_t sectorSize, std::int64_t sectors) {
  FirmwareDescription description;
  description.valid = true;
  description.name = name;
  description.version = version;
  description.memoryMap = MemoryMap(sectorSize, sectors, 0);
  return description;
}

void CheckMessage(const LoaderMessage& message) {
  if (message.Size() != message.Count() + LoaderMessage::kOverhead || !message.CrcValid()) std::abort();
  if (message.Payload().size() > message.Count()) std::abort();
}

void ReceiveAll(fuzz::ScriptedChannel& channel) {
  Harness<FlashLoaderIhst> loader(&channel, Description("FU$-IHST", Version{1, 1}, 4096, 64));
  bool drained = false;
  channel.onDrained = [&] {
    drained = true;
    loader.JoinWorker();  // no worker runs: this only ends the receive in progress
  };
  while (!drained) {
    LoaderMessage message;
    if (loader.Receive(message, 60000)) CheckMessage(message);
  }
}

template <typename Loader>
void RunUpdate(fuzz::ScriptedChannel& channel, const FirmwareDescription& description) {
  Harness<Loader> loader(&channel, description);
  LoaderTimings timings;
  // No time limit is reached on a line that answers at once; a failed attempt is retried at once.
  timings.answerMs = timings.flashRequestMs = timings.waitMs = timings.stopWaitMs = 60000;
  timings.retrySleepMs = 0;
  loader.SetTimings(timings);

  // Two sectors with data: one full message and a short one, then a short one in the next.
  FirmwareImage& image = loader.ImageToFill();
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  image.Insert(0x0000, bytes.data(), bytes.size());
  image.Insert(0x8010, bytes.data(), 40);
  image.identity1 = 0x01020304;
  image.identity2 = 0x0A0B0C0D;
  image.checksums = {{0x0000, 0x1234}, {0x8010, 0x5678}};

  channel.holdWhenDrained = true;
  channel.onDrained = [&loader] { loader.Signal(); };
  if (!loader.Start()) std::abort();
  loader.WaitForSignal();
  loader.JoinWorker();
  if (loader.OverallProgress() > 100.0 + 1e-6) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::uint8_t mode = in.Byte();
  const std::uint8_t shape = in.Byte();

  std::vector<std::uint8_t> line;
  if (mode & 0x04) {
    while (in.Left() > 0) {
      const std::vector<std::uint8_t> noise = in.Take(in.Byte());
      line.insert(line.end(), noise.begin(), noise.end());
      const std::uint8_t count = in.Byte();
      const std::uint16_t address = static_cast<std::uint16_t>(in.Byte() << 8 | in.Byte());
      const std::uint8_t type = in.Byte();
      const std::vector<std::uint8_t> payload = in.Take(count);
      LoaderMessage message(type, address, payload.data(), payload.size());
      const std::string text = message.Encode();
      line.insert(line.end(), text.begin(), text.end());
    }
  } else {
    line = in.Rest();
  }

  fuzz::ScriptedChannel channel(std::move(line), fuzz::LineShape::FromByte(shape));
  switch (mode & 0x03) {
    case 0: ReceiveAll(channel); break;
    case 1: RunUpdate<FlashLoaderIhst>(channel, Description("FU$-IHST", Version{1, 1}, 4096, 64)); break;
    case 2: RunUpdate<FlashLoaderIhex>(channel, Description("FU$-IHEX", Version{1, 0}, 16384, 16)); break;
    case 3: RunUpdate<FlashLoaderIhex2>(channel, Description("FU$-IHEX", Version{2, 0}, 32768, 16)); break;
  }
  return 0;
}
