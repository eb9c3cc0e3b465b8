#include "comm/TimedLog.h"

#include <algorithm>
#include <charconv>

#include "platform/Clock.h"

bool TimedLog::Open(const std::string& path) {
  {
    std::lock_guard lock(m_mutex);
    if (m_pFile != nullptr) std::fclose(m_pFile);
    m_pFile = std::fopen(path.c_str(), "w");
    if (m_pFile == nullptr) return false;
    m_dOpenedAt = m_dLastLineAt = NowMilliseconds();
  }
  Write("Start session");
  return true;
}

void TimedLog::Close() {
  std::lock_guard lock(m_mutex);
  if (m_pFile != nullptr) std::fclose(m_pFile);
  m_pFile = nullptr;
}

bool TimedLog::IsOpen() const {
  std::lock_guard lock(m_mutex);
  return m_pFile != nullptr;
}

namespace {
// "%.4lf" without printf's locale and format parsing: the log is written twice per request.
char* PutMs(char* at, char* end, double ms) {
  const auto result = std::to_chars(at, end, ms, std::chars_format::fixed, 4);
  return result.ptr;
}
}  // namespace

void TimedLog::Write(std::string_view message) {
  std::lock_guard lock(m_mutex);
  if (m_pFile == nullptr) return;
  const double now = NowMilliseconds();
  char prefix[96];
  char* end = prefix + sizeof prefix;
  char* at = PutMs(prefix, end, now - m_dOpenedAt);
  at = std::copy_n("ms delay = ", 11, at);
  at = PutMs(at, end, now - m_dLastLineAt);
  at = std::copy_n("ms ", 3, at);
  std::fwrite(prefix, 1, at - prefix, m_pFile);
  std::fwrite(message.data(), 1, message.size(), m_pFile);
  std::fputc('\n', m_pFile);
  m_dLastLineAt = now;
}

TimedLog& WorkerLog() {
  static TimedLog log;
  static const bool opened = log.Open("WorkThread.log");
  (void)opened;
  return log;
}
