// Property reads per second through the representation server, with and without a pack over
// the ten properties read, against the raw master's transactions per second on the same pty.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <vector>

#include "comm/ComPortChannel.h"
#include "comm/DeviceView.h"
#include "comm/Modbus.h"
#include "comm/ModbusDevice.h"
#include "platform/Clock.h"
#include "platform/ComSerialPort.h"
#include "tests/support/LibmodbusPeer.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

constexpr int kSlave = 1;
constexpr int kProperties = 10;

DeviceProfile TenProperties(bool packed) {
  DeviceProfile profile;
  KeywordList watch("watch");
  for (int i = 0; i < kProperties; ++i) {
    VisualObjectEntry entry;
    ModbusProperty property;
    property.id = i;
    property.mapping = ModbusMapping{RegisterLayout::Single, RegisterKind::HoldingRegister, static_cast<uint32_t>(1 + i), 1};
    entry.properties.push_back(property);
    watch.entries.push_back(entry);
  }
  profile.keywordLists.push_back(watch);
  if (packed)
    profile.packs.push_back(PackRecord{ModbusMapping{RegisterLayout::Array, RegisterKind::HoldingRegister, 1, kProperties}, ""});
  return profile;
}

struct Run {
  double readsPerSecond;
  double requestsPerRead;
};

Run Serve(ModbusDevice& device, LibmodbusServer& server, bool packed, double seconds) {
  CDeviceView view(TenProperties(packed), &device);
  view.Create(nullptr, 1300);
  const long servedBefore = server.Served();
  long reads = 0, failed = 0;
  const double end = NowMilliseconds() + seconds * 1000;
  const double start = NowMilliseconds();
  while (NowMilliseconds() < end) {
    const ModbusProperty& property = view.Profile().keywordLists[0].entries[reads % kProperties].properties[0];
    QueryHandle handle = view.GetProperty(property);
    if (!view.WaitQuery(handle, 1000) || handle.state != QueryHandle::Updated) ++failed;
    ++reads;
  }
  const double elapsed = (NowMilliseconds() - start) / 1000.0;
  view.Shutdown();
  if (failed > 0) std::printf("  (%ld of %ld reads failed)\n", failed, reads);
  return {reads / elapsed, double(server.Served() - servedBefore) / reads};
}

double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  TempWorkDir dir;
  PtyPair pty;
  LibmodbusServer server(pty.master, kSlave);
  ComSerialPort port;
  if (port.Open(pty.slavePath, 0, 0, true) != 0) return 0;
  port.Setup(38400, 8, 0, 0);
  CComPortChannel channel(&port);
  ModbusRtuProtocol modbus(&channel, kSlave);
  ModbusDevice device(&modbus);

  // Raw master, unpacked and packed server runs take turns in short slices, so that the
  // machine's changing speed (other work, CPU frequency) weighs on all three alike.
  const int slices = 6;
  const double slice = seconds / slices;
  double rawCount = 0, rawTime = 0;
  Run unpacked{0, 0}, packed{0, 0};
  for (int i = 0; i < slices; ++i) {
    const double rawStart = NowMilliseconds();
    long raw = 0;
    while (NowMilliseconds() - rawStart < slice * 1000) {
      modbus.ReadHoldingRegisters(static_cast<uint16_t>(1 + raw % kProperties), 1);
      ++raw;
    }
    rawCount += raw;
    rawTime += (NowMilliseconds() - rawStart) / 1000.0;
    const Run u = Serve(device, server, false, slice), p = Serve(device, server, true, slice);
    unpacked.readsPerSecond += u.readsPerSecond / slices;
    unpacked.requestsPerRead += u.requestsPerRead / slices;
    packed.readsPerSecond += p.readsPerSecond / slices;
    packed.requestsPerRead += p.requestsPerRead / slices;
  }
  const double rawPerSecond = rawCount / rawTime;

  // An idle server: its worker sleeps until a request comes.
  double idleCpuMs = 0;
  {
    CDeviceView idle(TenProperties(false), &device);
    idle.Create(nullptr, 1300);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    idleCpuMs = ProcessCpuMs() - before;
  }

  std::printf("idle server: %.3f ms of CPU in 1 s (the whole process)\n", idleCpuMs);
  std::printf("raw master: %.0f transactions/s\n", rawPerSecond);
  std::printf("unpacked: %.0f reads/s, %.3f Modbus requests per read\n", unpacked.readsPerSecond, unpacked.requestsPerRead);
  std::printf("packed:   %.0f reads/s, %.3f Modbus requests per read (%.2fx unpacked)\n", packed.readsPerSecond,
              packed.requestsPerRead, packed.readsPerSecond / unpacked.readsPerSecond);
  std::printf("server reads_per_s packed=%.0f unpacked=%.0f raw_tx_per_s=%.0f overhead=%.3f\n", packed.readsPerSecond,
              unpacked.readsPerSecond, rawPerSecond, 1.0 - unpacked.readsPerSecond / rawPerSecond);
  return 0;
}
