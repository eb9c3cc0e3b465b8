// How quickly the master is done: a whole request-answer round trip on a pty (an upper bound
// of the end-of-frame detection), and the time from the stop flag being set to the wait ending.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "comm/ComPortChannel.h"
#include "comm/Modbus.h"
#include "platform/Clock.h"
#include "platform/ComSerialPort.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

void Print(const char* what, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  std::printf("%s: median %.1f us, 90%% %.1f us, max %.1f us (%zu runs)\n", what, us[us.size() / 2],
              us[us.size() * 9 / 10], us.back(), us.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  TempWorkDir dir;
  PtyPair pty;
  std::atomic<bool> answer{true};
  ScriptedSlave slave(pty.master, [&](const Bytes& request) {
    std::vector<ScriptedSlave::Chunk> chunks;
    if (answer) chunks.push_back({Frame(request[0], {0x03, 0x02, 0x12, 0x34})});
    return chunks;
  });
  ComSerialPort port;
  if (port.Open(pty.slavePath, 0, 0, true) != 0) return 0;
  CComPortChannel channel(&port);
  ModbusRtuProtocol modbus(&channel, 1);

  std::vector<double> frameEnd;
  for (int i = 0; i < runs; ++i) {
    // The whole round trip: both pty hops, the slave's turn and the end-of-frame detection.
    const double sent = NowMilliseconds();
    const ModbusAnswer a = modbus.ReadHoldingRegisters(1, 1);
    const double returned = NowMilliseconds();
    if (a.code == 0) frameEnd.push_back((returned - sent) * 1000.0);
  }
  Print("request to decoded answer (pty round trip included)", frameEnd);

  answer = false;
  modbus.timeoutMs = -1;
  std::vector<double> abort;
  for (int i = 0; i < runs / 4; ++i) {
    std::atomic<double> stoppedAt{0};
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      stoppedAt = NowMilliseconds();
      modbus.stopRequested = true;
    });
    modbus.ReadHoldingRegisters(1, 1);
    const double returned = NowMilliseconds();
    stopper.join();
    abort.push_back((returned - stoppedAt) * 1000.0);
  }
  Print("stop flag set to wait ended", abort);
  return 0;
}
