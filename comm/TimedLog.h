// The worker log "WorkThread.log": time-stamped lines that show where a Modbus request spends
// its time ("Begin Wait", "Begin PDU decode", the worker's own steps).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

class TimedLog {
 public:
  TimedLog() = default;
  ~TimedLog() { Close(); }
  TimedLog(const TimedLog&) = delete;
  TimedLog& operator=(const TimedLog&) = delete;

  // Creates or truncates `path` and writes "Start session". A file that cannot be created
  // leaves the log closed, and every write is then ignored.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const;
  // One line: "<ms since open>ms delay = <ms since the previous line>ms <message>". Lines are
  // buffered and reach the disk when the buffer fills or the log closes.
  void Write(std::string_view message);

 private:
  mutable std::mutex m_mutex;
  std::FILE* m_pFile = nullptr;
  double m_dOpenedAt = 0;
  double m_dLastLineAt = 0;
};

// The process's worker log, opened on "WorkThread.log" in the working folder on first use.
TimedLog& WorkerLog();
