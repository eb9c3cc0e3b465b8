// The command line of kelmora-sim.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimSlave.h"

namespace sim {

struct SimCommandLine {
  bool help = false;
  int com = 9;       // the link comN in the ports folder
  std::string link;  // a link of its own instead (--link)
  std::string profile;
  std::string device;
  double flashMs = 300.0;
  bool still = false;  // --still: moving values stay at where they start
  std::vector<std::pair<std::uint32_t, std::uint8_t>> exceptions;  // address, code
  SimSlaveOptions slave;
  // The boot loader behind the boot-loader start, as texts for its own parser.
  std::string bootVersion;             // --bootloader-version
  std::string bootIdentity;            // --identity A,B
  std::string dumpFlash;               // --dump-flash FILE
  double bootDrop = 0, bootCorrupt = 0;  // --boot-drop, --boot-corrupt
  std::vector<std::string> bootErrors;   // --boot-error, each STEP=CODE[@N[xTIMES]]
};

// Reads the arguments (without the program name). False with `error` for anything it cannot
// take; the caller then exits with code 2.
bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine& options, std::string& error);
std::string SimHelpText(const std::string& defaultProfile);

}  // namespace sim
