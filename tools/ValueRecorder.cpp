#include "tools/ValueRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "profiles/ValueText.h"

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

// "2026-12-08T15:04:05.123+01:00": local time with its offset, so rows from machines in
// other zones still compare.
std::string IsoTime(int64_t msSinceEpoch) {
  const std::time_t seconds = static_cast<std::time_t>(msSinceEpoch / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const long offsetMinutes = local.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, static_cast<int>(msSinceEpoch % 1000),
                offsetMinutes < 0 ? '-' : '+', std::labs(offsetMinutes) / 60, std::labs(offsetMinutes) % 60);
  return text;
}

// A CSV field: quoted when it holds a separator, a quote or a line break (quotes doubled).
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + '"';
}

int64_t NowMsSinceEpoch() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CValueRecorder::~CValueRecorder() { Stop(); }

CValueRecorder::Format CValueRecorder::FormatOf(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return Format::Csv;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "jsonl" || extension == "json" ? Format::JsonLines : Format::Csv;
}

std::string CValueRecorder::Header(Format format) {
  return format == Format::Csv ? "time,id,caption,raw,value,state" : std::string();
}

std::string CValueRecorder::Row(Format format, const QueryHandle& result, int64_t msSinceEpoch) {
  const bool valued = result.state == QueryHandle::Updated && !result.values.empty();
  const std::string raw = valued ? std::to_string(result.GetResult()) : std::string();
  const std::string shown = valued ? PropertyValueShown(result.property, result.GetResult()) : std::string();
  const std::string time = IsoTime(msSinceEpoch);
  const std::string state = result.GetStateString();
  if (format == Format::Csv)
    return time + "," + std::to_string(result.property.id) + "," + CsvField(result.property.caption) + "," + raw + "," +
           CsvField(shown) + "," + CsvField(state);
  return "{\"time\":" + JsonString(time) + ",\"id\":" + std::to_string(result.property.id) +
         ",\"caption\":" + JsonString(result.property.caption) + ",\"raw\":" + (valued ? raw : "null") +
         ",\"value\":" + (valued ? JsonString(shown) : "null") + ",\"state\":" + JsonString(state) + "}";
}

bool CValueRecorder::Start(const std::string& path, Format format, std::string& why) {
  std::lock_guard lock(m_mutex);
  StopLocked({});
  m_failure.clear();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = "cannot write " + path + ": " + ErrnoText(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    why = "cannot write " + path + ": not a regular file";
    return false;
  }
  m_fd = fd;
  m_format = format;
  m_path = path;
  m_uRows = 0;
  const std::string header = Header(format);
  if (!header.empty() && !WriteAll(header + "\n", why)) {
    ::close(m_fd);
    m_fd = -1;
    why = "cannot write " + path + ": " + why;
    return false;
  }
  m_bRecording = true;
  return true;
}

void CValueRecorder::Stop() {
  std::lock_guard lock(m_mutex);
  StopLocked({});
}

void CValueRecorder::StopLocked(const std::string& failure) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_bRecording = false;
  if (!failure.empty()) m_failure = failure;
}

bool CValueRecorder::WriteAll(const std::string& text, std::string& why) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = n < 0 ? ErrnoText(errno) : "nothing written";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void CValueRecorder::OnRead(const QueryHandle& result) {
  if (!m_bRecording.load()) return;
  const int64_t now = NowMsSinceEpoch();
  std::function<void(const std::string&)> notify;
  std::string failure;
  {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) return;
    const std::string row = Row(m_format, result, now) + "\n";
    struct stat info {};
    std::string why;
    if (fstat(m_fd, &info) == 0 && info.st_nlink == 0) {
      failure = "the file " + m_path + " was removed";
    } else if (!WriteAll(row, why)) {
      failure = "writing " + m_path + " failed: " + why;
    } else {
      ++m_uRows;
      return;
    }
    StopLocked(failure);
    notify = m_onStopped;
  }
  if (notify) notify(failure);
}

std::string CValueRecorder::Path() const {
  std::lock_guard lock(m_mutex);
  return m_path;
}

std::string CValueRecorder::Failure() const {
  std::lock_guard lock(m_mutex);
  return m_failure;
}

void CValueRecorder::SetOnStopped(std::function<void(const std::string&)> onStopped) {
  std::lock_guard lock(m_mutex);
  m_onStopped = std::move(onStopped);
}
