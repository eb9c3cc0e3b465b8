// Shared helpers of the test suites: pseudo-terminal pairs, a scripted Modbus slave on the
// master side of a pty, a temporary working folder and an independent CRC.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair: the program opens `slavePath` as its serial port, the test plays
// the device on `master`.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master = -1;
  std::string slavePath;

  // Writes all of `bytes` to the device side.
  void Send(const Bytes& bytes) const;
  // Reads what arrives on the device side within `timeoutMs`, stopping after `expected` bytes.
  Bytes Receive(size_t expected, int timeoutMs) const;
  // Closes the device side: the program's port sees the device go away.
  void CloseMaster();
};

// CRC-16/MODBUS computed bit by bit, independently of the table form under test.
uint16_t BitwiseCrc(const uint8_t* data, size_t length);
// Address, PDU and CRC (low byte first).
Bytes Frame(uint8_t slave, const Bytes& pdu);
std::string Hex(const Bytes& bytes);

// A Modbus slave on the device side of a pty whose answers the test scripts. It cuts the
// incoming byte stream into request frames by their function code and hands each to `reply`,
// which returns the chunks to send back, each after an optional pause (the device's own
// timing, e.g. a frame split in pieces).
class ScriptedSlave {
 public:
  struct Chunk {
    Bytes bytes;
    int delayMs = 0;
  };
  using Reply = std::function<std::vector<Chunk>(const Bytes& request)>;

  ScriptedSlave(int masterFd, Reply reply);
  ~ScriptedSlave();
  ScriptedSlave(const ScriptedSlave&) = delete;
  ScriptedSlave& operator=(const ScriptedSlave&) = delete;

  // The request frames received so far.
  std::vector<Bytes> Requests() const;
  // Waits up to `timeoutMs` until `count` requests arrived.
  bool WaitForRequests(size_t count, int timeoutMs) const;

 private:
  void Run();

  int m_fd;
  Reply m_reply;
  std::atomic<bool> m_stop{false};
  int m_wakeFd;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<Bytes> m_requests;
  std::thread m_thread;
};

// Runs the test in a fresh temporary folder (the fault log and worker log are written to the
// working folder) and returns to the previous folder afterwards.
class TempWorkDir {
 public:
  TempWorkDir();
  ~TempWorkDir();
  const std::string& Path() const { return m_path; }

 private:
  std::string m_previous;
  std::string m_path;
};

std::string ReadTextFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

// Milliseconds of CPU the calling thread has used.
double ThreadCpuMs();

// Checks `condition` every few milliseconds until it holds (true) or `timeoutMs` passed (false),
// for suites without an event loop.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

}  // namespace testing_support
