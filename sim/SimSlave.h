// The simulated device on its line: reads requests from the device side of a pseudo-terminal,
// lets `CSimDevice` answer them, and writes the answers back, optionally at the pace of a real
// serial line and with the faults a real line and a misbehaving device produce.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimDevice.h"
#include "sim/SimFrame.h"

namespace sim {

// The serial line the device is set up for. A pseudo-terminal has no speed of its own; these
// settings give the character time that pacing keeps.
struct SimLine {
  int baud = 38400;
  int dataBits = 8;
  int parity = 0;    // 0 none, 1 odd, 2 even
  int stopBits = 0;  // 0 one, 1 one and a half, 2 two

  // Start bit, data bits, parity bit and stop bits of one character.
  double BitsPerCharacter() const;
  double CharacterMs() const;
  // The silence that ends a frame: 3.5 characters, but 1.75 ms above 19200 baud (the fixed
  // value the Modbus serial-line guide gives for fast lines).
  double FrameSilenceMs() const;
  // Transactions per second the line allows at most for requests and answers of these sizes:
  // both frames on the wire and a frame silence before each.
  double TransactionLimit(int requestBytes, int answerBytes) const;
  // "38400 8N1".
  std::string Describe() const;
};

// Faults the device injects; each chance is drawn per request from `seed`, so a run repeats.
struct SimFaults {
  std::uint64_t seed = 1;
  double drop = 0.0;        // the request is lost: not served, not answered
  double corrupt = 0.0;     // the answer goes out with a bad CRC
  double garbage = 0.0;     // 1 to 8 bytes of noise go out before the answer
  double wrongSlave = 0.0;  // a frame from another slave address goes out before the answer
  double delayMs = 0.0;     // every answer waits this much longer
  long long silentAfter = -1;  // after this many answers the device answers no more (-1: never)
};

struct SimSlaveOptions {
  int slave = 10;
  SimLine line;
  bool pace = false;  // answers at the line's character time, frame silences kept
  SimFaults faults;
  std::string tracePath;  // every frame in hex with a time stamp; empty: no trace
};

struct SimCounters {
  long frames = 0;        // frames with a good CRC, for any slave
  long otherSlave = 0;    // of those, addressed to another slave
  long broadcasts = 0;
  long answered = 0;      // answers sent (exceptions included)
  long exceptions = 0;
  long noiseRuns = 0;     // runs of bytes that formed no frame (bad CRC, noise)
  long dropped = 0;
  long corrupted = 0;
  long garbage = 0;
  long wrongSlave = 0;
  long silenced = 0;      // requests left unanswered after --silent-after
  long afterBootLoader = 0;  // frames ignored once the boot loader runs
};

class CSimSlave {
 public:
  // Serves on `fd`, the device side of a pseudo-terminal (not owned).
  CSimSlave(int fd, CSimDevice device, SimSlaveOptions options);
  ~CSimSlave();
  CSimSlave(const CSimSlave&) = delete;
  CSimSlave& operator=(const CSimSlave&) = delete;

  // Messages worth showing an operator (flash work, boot-loader start); called on the
  // serving thread. Set before Start.
  void SetStatusSink(std::function<void(const std::string&)> sink) { m_status = std::move(sink); }
  // What speaks on the line once the device has left Modbus for its boot loader: called on
  // the serving thread with the device side of the line (non-blocking) and the stop flag, it
  // has the line to itself until it returns; then the device starts its program again and
  // answers Modbus. Without one, the device stays silent after the boot-loader start.
  // Set before Start.
  using BootLoader = std::function<void(int fd, const std::atomic<bool>& stop)>;
  void SetBootLoader(BootLoader bootLoader) { m_bootLoaderRun = std::move(bootLoader); }
  // Opens the trace and starts serving on a thread of its own; false with `error` when the
  // trace cannot be opened.
  bool Start(std::string& error);
  // Stops serving (also in the middle of a paced answer or a flash delay) and waits for it.
  void Stop();

  // Runs `use` on the device while no request is being served.
  void WithDevice(const std::function<void(CSimDevice&)>& use);
  SimCounters Counters() const;
  bool InBootLoader() const { return m_bootLoader.load(); }

 private:
  void Run();
  void Serve(const SimParsed& item);
  void RunBootLoader();
  // Sleeps until `deadlineMs`; false when Stop came first.
  bool SleepUntil(double deadlineMs);
  // Writes `frame`, paced from `startMs` when pacing; returns when its last byte is out.
  bool Send(const Bytes& frame, double startMs, double& endMs);
  bool WriteAll(const std::uint8_t* data, std::size_t length);
  double Chance();
  void Trace(const char* direction, const Bytes& bytes, const std::string& note);
  void Note(const std::string& text);

  int m_fd;
  int m_wakeFd = -1;
  CSimDevice m_device;
  SimSlaveOptions m_options;
  CSimFrameParser m_parser;
  std::function<void(const std::string&)> m_status;
  BootLoader m_bootLoaderRun;
  std::FILE* m_trace = nullptr;
  double m_startMs = 0.0;
  double m_lastTxEndMs = -1e9;
  std::uint64_t m_draws = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_bootLoader{false};
  mutable std::mutex m_mutex;  // the device and the counters
  SimCounters m_counters;
  std::thread m_thread;
};

}  // namespace sim
