#include "sim/SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace sim {
namespace {

bool ReadInteger(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

bool ReadReal(const std::string& text, double low, double high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
  value = v;
  return true;
}

}  // namespace

bool ParseSimCommandLine(const std::vector<std::string>& args, SimCommandLine& o, std::string& error) {
  SimSlaveOptions& s = o.slave;
  // Each option with a value: what it wants, and how it is stored.
  using Setter = std::function<bool(const std::string&)>;
  auto integer = [](auto& field, long long low, long long high) -> Setter {
    return [&field, low, high](const std::string& text) {
      long long v = 0;
      if (!ReadInteger(text, low, high, v)) return false;
      field = static_cast<std::remove_reference_t<decltype(field)>>(v);
      return true;
    };
  };
  auto real = [](double& field, double low, double high) -> Setter {
    return [&field, low, high](const std::string& text) { return ReadReal(text, low, high, field); };
  };
  auto text = [](std::string& field) -> Setter {
    return [&field](const std::string& value) {
      field = value;
      return !value.empty();
    };
  };
  struct Valued {
    const char* wants;
    Setter set;
  };
  const std::map<std::string, Valued> valued = {
      {"--com", {"a COM number 1..255", integer(o.com, 1, 255)}},
      {"--link", {"a path", text(o.link)}},
      {"--profile", {"a profile file", text(o.profile)}},
      {"--device", {"a device name", text(o.device)}},
      {"--slave", {"a slave address 1..247", integer(s.slave, 1, 247)}},
      {"--baud", {"a baud rate 50..4000000", integer(s.line.baud, 50, 4000000)}},
      {"--data-bits", {"5, 6, 7 or 8", integer(s.line.dataBits, 5, 8)}},
      {"--parity", {"none, odd or even", [&](const std::string& v) {
                      if (v == "none") s.line.parity = 0;
                      else if (v == "odd") s.line.parity = 1;
                      else if (v == "even") s.line.parity = 2;
                      else return false;
                      return true;
                    }}},
      {"--stop", {"1, 1.5 or 2", [&](const std::string& v) {
                    if (v == "1") s.line.stopBits = 0;
                    else if (v == "1.5") s.line.stopBits = 1;
                    else if (v == "2") s.line.stopBits = 2;
                    else return false;
                    return true;
                  }}},
      {"--flash-ms", {"milliseconds 0..60000", real(o.flashMs, 0, 60000)}},
      {"--seed", {"a whole number", [&](const std::string& v) {
                    char* end = nullptr;
                    errno = 0;
                    const unsigned long long n = std::strtoull(v.c_str(), &end, 0);
                    if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0) return false;
                    s.faults.seed = n;
                    return true;
                  }}},
      {"--drop", {"a chance 0..1", real(s.faults.drop, 0, 1)}},
      {"--corrupt", {"a chance 0..1", real(s.faults.corrupt, 0, 1)}},
      {"--garbage", {"a chance 0..1", real(s.faults.garbage, 0, 1)}},
      {"--wrong-slave", {"a chance 0..1", real(s.faults.wrongSlave, 0, 1)}},
      {"--delay", {"milliseconds 0..60000", real(s.faults.delayMs, 0, 60000)}},
      {"--silent-after", {"a number of answers", integer(s.faults.silentAfter, 0, 1LL << 62)}},
      {"--trace", {"a file", text(s.tracePath)}},
      {"--bootloader-version", {"a version such as 1.01", text(o.bootVersion)}},
      {"--identity", {"two numbers A,B", text(o.bootIdentity)}},
      {"--dump-flash", {"a file", text(o.dumpFlash)}},
      {"--boot-drop", {"a chance 0..1", real(o.bootDrop, 0, 1)}},
      {"--boot-corrupt", {"a chance 0..1", real(o.bootCorrupt, 0, 1)}},
      {"--boot-error", {"STEP=CODE[@N[xTIMES]]", [&](const std::string& v) {
                         o.bootErrors.push_back(v);
                         return !v.empty();
                       }}},
      {"--exception", {"ADDR:CODE, an address 1..65536 and an exception code 1..127",
                       [&](const std::string& v) {
                         const auto colon = v.find(':');
                         long long address = 0, code = 0;
                         if (colon == std::string::npos || !ReadInteger(v.substr(0, colon), 1, 65536, address) ||
                             !ReadInteger(v.substr(colon + 1), 1, 127, code))
                           return false;
                         o.exceptions.emplace_back(static_cast<std::uint32_t>(address), static_cast<std::uint8_t>(code));
                         return true;
                       }}},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool inlineValue = false;
    if (name.rfind("--", 0) == 0) {
      if (const auto eq = name.find('='); eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--pace" || name == "--still") {
      if (inlineValue) {
        error = name + " takes no value";
        return false;
      }
      (name == "--pace" ? s.pace : o.still) = true;
      continue;
    }
    const auto it = valued.find(name);
    if (it == valued.end()) {
      error = name.rfind("-", 0) == 0 ? "unknown option " + name : "unexpected argument \"" + name + "\"";
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs " + it->second.wants;
        return false;
      }
      value = args[++i];
    }
    if (!it->second.set(value)) {
      error = name + " needs " + it->second.wants + ", not \"" + value + "\"";
      return false;
    }
  }
  return true;
}

std::string SimHelpText(const std::string& defaultProfile) {
  return R"(Usage: kelmora-sim [options]

A simulated Kelmora device: a Modbus RTU slave on a pseudo-terminal, published as a COM port,
that answers as the device of a profile would. It serves until Ctrl+C (SIGINT) or SIGTERM,
which also remove its link.

Port:
  --com N            link the port as comN in the ports folder (default 9); the folder is
                     $KELMORA_PORTS_DIR, else $XDG_CONFIG_HOME/Kelmora/dosdevices, else
                     ~/.config/Kelmora/dosdevices
  --link PATH        link the port at PATH instead
  --slave N          Modbus slave address, 1..247 (default 10)
  --baud N           line speed for pacing (default 38400)
  --data-bits N      5..8 (default 8)
  --parity P         none, odd or even (default none)
  --stop S           1, 1.5 or 2 (default 1)
  --pace             send each answer character at the line's character time and keep the
                     frame silence (3.5 characters, 1.75 ms above 19200 baud); requests count
                     their time on the wire too. Without it, answers go out at once.

Device:
  --profile FILE     the device profile to simulate (default )" + defaultProfile + R"()
  --device NAME      the device of that file (default: its first device)
  --flash-ms MS      how long a flash save or load takes (default 300)
  --still            values with a <sim> motion keep the value it starts from, so that what
                     the device holds can be compared with what a program shows

  Input register 1 gives the name block (start in the low byte, length in the high byte),
  which holds the device name two characters per register, low byte first; input registers
  2 and 3 give the version and program version (major in the high byte). Every coil, input
  and register that the profile maps exists, and writes are kept. Holding register 1 takes
  the flash handshake (0x0FFF arms and then reads 0x0F00; 0x0FAA saves the holding registers,
  0x0FDD loads the saved copy back; answered after --flash-ms, then it reads 0). Holding
  register 10 takes the boot-loader start (0x0FFF, then 0x0FAA), after which the device stops
  answering Modbus.

  A property of the profile moves when it carries a <sim> element:
    <sim>sine LOW HIGH PERIOD</sim>       between LOW and HIGH, PERIOD seconds per swing
    <sim>ramp LOW HIGH PERIOD</sim>       LOW to HIGH in PERIOD seconds, then again
    <sim>counter STEP EVERY START</sim>   +STEP every EVERY seconds from START (all optional)
    <sim>random LOW HIGH EVERY</sim>      a new value every EVERY seconds (EVERY optional)
    <sim>value V</sim>                    starts at V
  in engineering units for fixed-point properties, raw counts otherwise.

Faults (drawn per request; the same --seed repeats the same run):
  --seed N           seed of all chances and random values (default 1)
  --drop P           lose a request with chance P (0..1): no answer
  --corrupt P        answer with a bad CRC with chance P
  --garbage P        send 1 to 8 noise bytes before the answer with chance P
  --wrong-slave P    send a frame from another slave address before the answer with chance P
  --delay MS         answer every request MS milliseconds later
  --exception A:C    refuse every request whose addresses include A (in any of the four
                     tables) with exception code C; may be given more than once
  --silent-after N   stop answering after N answers

  --trace FILE       write every frame in hex with a time stamp (milliseconds since start)

Boot loader (after the boot-loader start it speaks the variant of the profile's
firmware_upgrade, with its memory map; paced at the profile's "baudrate" with --pace):
  --bootloader-version V   the version its ping reports (default: the variant's own)
  --identity A,B           the identity a "FU$-IHEX" 2.00 boot loader reports
  --dump-flash FILE        write the programmed flash (from the map's first address) to FILE
                           when the host finishes
  --boot-drop P            lose each boot-loader answer with chance P
  --boot-corrupt P         send each boot-loader answer with a bad CRC with chance P
  --boot-error STEP=CODE[@N[xTIMES]]
                           answer the Nth STEP (ping, extended-address, segment-start,
                           segment-ready, data, flash-request, flash-done) with error CODE
                           (1, 2, 4, 5 or 6), TIMES times in a row
  When the host finishes, the device answers Modbus again.

  --help             this text

Exit codes: 0 stopped by a signal, 1 the port or its link could not be set up, 2 bad arguments
or a profile that cannot be used.
)";
}

}  // namespace sim
