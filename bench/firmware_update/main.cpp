// Flashes a 64 KiB image with the "FU$-IHEX" 1.00 loader through the simulated boot loader,
// which paces the line at 115200 baud (8N1) in both directions, and compares the wall time
// with the time the bytes exchanged need on such a line. Prints its figures; never fails.
//
// Last line: firmware bytes=B wall_s=W bound_s=L ratio=W/L cpu_s=C
//   B      characters on the line, both directions
//   bound  B × 10 bits / 115200 baud: the wire time alone
//   cpu_s  CPU seconds of the program side (the process minus the simulator's thread)
#include <algorithm>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "comm/ComPortChannel.h"
#include "comm/FaultLog.h"
#include "firmware/FlashLoader.h"
#include "platform/Clock.h"
#include "platform/ComSerialPort.h"
#include "sim/bootloader/BootLoaderSim.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kBaud = 115200;
constexpr std::size_t kImageBytes = 64 * 1024;

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The image as Intel HEX in 16-byte records, as objcopy writes it.
void WriteHex(const std::string& path, const std::vector<std::uint8_t>& binary) {
  std::ofstream out(path);
  char buf[64];
  for (std::size_t at = 0; at < binary.size(); at += 16) {
    const std::size_t n = std::min<std::size_t>(16, binary.size() - at);
    unsigned sum = static_cast<unsigned>(n + (at >> 8 & 0xFF) + (at & 0xFF));
    std::snprintf(buf, sizeof buf, ":%02X%04X00", static_cast<unsigned>(n), static_cast<unsigned>(at & 0xFFFF));
    out << buf;
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(buf, sizeof buf, "%02X", binary[at + i]);
      out << buf;
      sum += binary[at + i];
    }
    std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out << buf;
  }
  out << ":00000001FF\n";
}

}  // namespace

int main() {
  testing_support::TempWorkDir dir;  // the loader's log lines go to this folder's faults.log
  faultlog::Truncate();

  std::vector<std::uint8_t> binary(kImageBytes);
  std::mt19937 random(64);
  for (auto& b : binary) b = static_cast<std::uint8_t>(random());
  WriteHex("image.hex", binary);

  FirmwareDescription description;
  description.valid = true;
  description.name = "FU$-IHEX";
  description.version = {1, 0};
  description.memoryMap = MemoryMap(16384, 16, 0);  // the PDC-2200's flash

  testing_support::PtyPair pty;
  ComSerialPort port;
  port.Open(pty.slavePath, 0, 0, true);
  port.Setup(kBaud, 8, 0, 0);
  CComPortChannel channel(&port);

  simboot::BootLoaderOptions options;
  options.variant = simboot::BootVariant::Ihex;
  options.map = description.memoryMap;
  options.baud = kBaud;
  options.eraseMs = 0;  // the bound counts the line only, so the device's flash takes no time
  options.programMs = 0;
  simboot::BootLoaderSim sim(pty.master, options);
  std::atomic<bool> stop{false};
  double simCpuMs = 0;
  std::thread simThread([&] {
    sim.Serve(stop);
    simCpuMs = testing_support::ThreadCpuMs();
  });

  auto loader = CreateFlashLoader(&channel, description);
  if (!loader || !loader->OpenImage("image.hex")) {
    std::printf("the image could not be read\n");
    stop = true;
    simThread.join();
    std::printf("firmware bytes=0 wall_s=0 bound_s=0 ratio=0 cpu_s=0\n");
    return 0;
  }
  const double cpuBefore = ProcessCpuSeconds();
  const double start = NowMilliseconds();
  loader->Start();
  while (!loader->Finished() && NowMilliseconds() - start < 300000)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double wallS = (NowMilliseconds() - start) / 1000.0;
  loader->Stop();
  stop = true;
  simThread.join();
  const double cpuS = ProcessCpuSeconds() - cpuBefore - simCpuMs / 1000.0;

  const auto counters = sim.Counters();
  const long bytes = counters.bytesReceived + counters.bytesSent;
  const double boundS = static_cast<double>(bytes) * 10.0 / kBaud;
  const std::vector<std::uint8_t> flash = sim.Flash();
  const bool exact = loader->ErrorCode() == 0 && std::equal(binary.begin(), binary.end(), flash.begin());

  std::printf("image:         %zu bytes in %d sectors, \"FU$-IHEX\" 1.00 at %d baud 8N1\n", binary.size(),
              loader->Image().SlotsWithData(), kBaud);
  std::printf("outcome:       error %d (%s), flash %s\n", loader->ErrorCode(), FlashLoaderErrorText(loader->ErrorCode()),
              exact ? "identical" : "DIFFERS");
  std::printf("wall time:     %.3f s\n", wallS);
  std::printf("sent:          %ld bytes in %ld messages\n", counters.bytesReceived, counters.requests);
  std::printf("received:      %ld bytes in %ld messages\n", counters.bytesSent, counters.sent);
  std::printf("wire bound:    %.3f s for %ld bytes\n", boundS, bytes);
  std::printf("cpu:           %.3f s program side, %.3f s simulator\n", cpuS, simCpuMs / 1000.0);
  std::printf("firmware bytes=%ld wall_s=%.3f bound_s=%.3f ratio=%.3f cpu_s=%.3f\n", bytes, wallS, boundS,
              boundS > 0 ? wallS / boundS : 0.0, cpuS);
  return 0;
}
