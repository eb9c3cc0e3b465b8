// Our master against the paced simulated device: transactions per second at 38400 and 115200
// baud (8N1) for one-register reads, next to the limit of the line.
#include <cstdio>
#include <string>

#include "platform/Clock.h"
#include "tests/sim/SimTestSupport.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 3.0;
  testing_support::TempWorkDir dir;
  std::printf("%-8s %-10s %10s %10s %8s %8s\n", "baud", "request", "measured", "limit", "ratio", "failed");
  for (int setting : {38400, 115200, 0}) {  // 0: unpaced, what the pty itself allows
    for (int registers : {1, 10}) {
      const int baud = setting != 0 ? setting : 115200;
      sim::SimSlaveOptions options;
      options.pace = setting != 0;
      options.line.baud = baud;
      simtest::SimRig rig(simtest::TestProfile(), options);
      // One request 8 bytes, the answer 5 bytes plus 2 per register.
      const double limit = options.line.TransactionLimit(8, 5 + 2 * registers);
      long done = 0, failed = 0;
      const double start = NowMilliseconds();
      while (NowMilliseconds() - start < seconds * 1000) {
        (rig.Master().ReadHoldingRegisters(110, static_cast<uint16_t>(registers)).code == 0 ? done : failed)++;
      }
      const double rate = done / ((NowMilliseconds() - start) / 1000);
      const std::string what = "FC3 x" + std::to_string(registers);
      if (options.pace)
        std::printf("%-8d %-10s %8.1f/s %8.1f/s %8.3f %8ld\n", baud, what.c_str(), rate, limit, rate / limit, failed);
      else
        std::printf("%-8s %-10s %8.1f/s %10s %8s %8ld\n", "unpaced", what.c_str(), rate, "-", "-", failed);
    }
  }
  return 0;
}
