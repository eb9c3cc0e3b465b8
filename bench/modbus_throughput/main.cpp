// Transactions per second and CPU per transaction of our Modbus master against libmodbus's own
// master, both reading one holding register from one libmodbus RTU server on one pty pair.
#include <modbus/modbus.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "comm/ComPortChannel.h"
#include "comm/Modbus.h"
#include "platform/Clock.h"
#include "platform/ComSerialPort.h"
#include "tests/support/LibmodbusPeer.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

constexpr int kSlave = 1;

struct Figures {
  double txPerSecond;
  double cpuMsPerTx;
  double switchesPerTx;  // voluntary context switches of the master's thread
};

long ThreadSwitches() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

Figures Measure(int n, const std::function<bool()>& transaction) {
  const long switches0 = ThreadSwitches();
  const double cpu0 = ThreadCpuMs(), t0 = NowMilliseconds();
  int failures = 0;
  for (int i = 0; i < n; ++i)
    if (!transaction()) ++failures;
  const double wall = NowMilliseconds() - t0, cpu = ThreadCpuMs() - cpu0;
  if (failures > 0) std::printf("  (%d of %d transactions failed)\n", failures, n);
  return {n / (wall / 1000.0), cpu / n, double(ThreadSwitches() - switches0) / n};
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int rounds = 3;
  TempWorkDir dir;  // the master's logs go to a scratch folder
  PtyPair pty;
  LibmodbusServer server(pty.master, kSlave);
  server.WithMapping([](modbus_mapping_t& m) { m.tab_registers[0] = 4242; });

  double oursTx = 0, oursCpu = 0, theirsTx = 0, theirsCpu = 0;
  std::printf("modbus_throughput: %d reads of one holding register per run, %d rounds\n", n, rounds);
  for (int round = 1; round <= rounds; ++round) {
    Figures ours{}, theirs{};
    auto runOurs = [&] {
      ComSerialPort port;
      if (port.Open(pty.slavePath, 0, 0, true) != 0 || port.Setup(38400, 8, 0, 0) != 0) {
        std::printf("cannot open %s\n", pty.slavePath.c_str());
        std::exit(0);
      }
      CComPortChannel channel(&port);
      ModbusRtuProtocol modbus(&channel, kSlave);
      ours = Measure(n, [&] {
        const ModbusAnswer a = modbus.ReadHoldingRegisters(1, 1);
        return a.code == 0 && a.values.size() == 1 && a.values[0] == 4242;
      });
    };
    auto runTheirs = [&] {
      modbus_t* ctx = modbus_new_rtu(pty.slavePath.c_str(), 38400, 'N', 8, 1);
      modbus_set_slave(ctx, kSlave);
      if (modbus_connect(ctx) != 0) {
        std::printf("libmodbus cannot open %s\n", pty.slavePath.c_str());
        std::exit(0);
      }
      theirs = Measure(n, [&] {
        uint16_t value = 0;
        return modbus_read_registers(ctx, 0, 1, &value) == 1 && value == 4242;
      });
      modbus_close(ctx);
      modbus_free(ctx);
    };
    // Alternate which master goes first, so warming up favours neither.
    if (round % 2 == 1) {
      runOurs();
      runTheirs();
    } else {
      runTheirs();
      runOurs();
    }
    std::printf("round %d: ours %.0f tx/s %.4f cpu-ms/tx %.2f switches/tx | libmodbus %.0f tx/s %.4f cpu-ms/tx %.2f switches/tx\n",
                round, ours.txPerSecond, ours.cpuMsPerTx, ours.switchesPerTx, theirs.txPerSecond, theirs.cpuMsPerTx,
                theirs.switchesPerTx);
    oursTx += ours.txPerSecond;
    oursCpu += ours.cpuMsPerTx;
    theirsTx += theirs.txPerSecond;
    theirsCpu += theirs.cpuMsPerTx;
  }
  std::printf("mean: ours %.0f tx/s %.4f cpu-ms/tx | libmodbus %.0f tx/s %.4f cpu-ms/tx\n", oursTx / rounds,
              oursCpu / rounds, theirsTx / rounds, theirsCpu / rounds);
  std::printf("ratio tx_per_s ours/libmodbus=%.2f cpu_per_tx ours/libmodbus=%.2f\n", oursTx / theirsTx,
              oursCpu / theirsCpu);
  return 0;
}
