#include "TimedLog.h"

#include "Clock.h"

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

void TimedLog::Write(std::string_view message) {
  std::lock_guard lock(m_mutex);
  if (m_pFile == nullptr) return;
  const double now = NowMilliseconds();
  std::fprintf(m_pFile, "%.4lfms delay = %.4lfms %.*s\n", now - m_dOpenedAt, now - m_dLastLineAt,
               static_cast<int>(message.size()), message.data());
  m_dLastLineAt = now;
}

TimedLog& WorkerLog() {
  static TimedLog log;
  static const bool opened = log.Open("WorkThread.log");
  (void)opened;
  return log;
}
