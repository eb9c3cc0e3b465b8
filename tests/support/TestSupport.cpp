#include "tests/support/TestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

PtyPair::PtyPair() {
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  close(slave);  // the program opens the slave by its path
  slavePath = name;
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() { CloseMaster(); }

void PtyPair::CloseMaster() {
  if (master >= 0) close(master);
  master = -1;
}

void PtyPair::Send(const Bytes& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd pfd{master, POLLOUT, 0};
      poll(&pfd, 1, 100);
    }
  }
}

Bytes PtyPair::Receive(size_t expected, int timeoutMs) const {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < expected) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
    uint8_t chunk[512];
    const ssize_t n = read(master, chunk, std::min(sizeof chunk, expected - got.size()));
    if (n > 0) got.insert(got.end(), chunk, chunk + n);
    else if (n == 0 || errno != EAGAIN) break;
  }
  return got;
}

uint16_t BitwiseCrc(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

Bytes Frame(uint8_t slave, const Bytes& pdu) {
  Bytes frame;
  frame.reserve(pdu.size() + 3);
  frame.push_back(slave);
  for (uint8_t byte : pdu) frame.push_back(byte);
  const uint16_t crc = BitwiseCrc(frame.data(), frame.size());
  frame.push_back(crc & 0xFF);
  frame.push_back(crc >> 8);
  return frame;
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char two[4];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    text += two;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

ScriptedSlave::ScriptedSlave(int masterFd, Reply reply)
    : m_fd(masterFd), m_reply(std::move(reply)), m_wakeFd(eventfd(0, EFD_NONBLOCK)) {
  m_thread = std::thread([this] { Run(); });
}

ScriptedSlave::~ScriptedSlave() {
  m_stop = true;
  const uint64_t one = 1;
  [[maybe_unused]] auto r = write(m_wakeFd, &one, sizeof one);
  m_thread.join();
  close(m_wakeFd);
}

std::vector<Bytes> ScriptedSlave::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

bool ScriptedSlave::WaitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock lock(m_mutex);
  return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_requests.size() >= count; });
}

namespace {
// The length of the request frame at the front of `pending`, or 0 while it is not known yet.
size_t RequestLength(const Bytes& pending) {
  if (pending.size() < 2) return 0;
  const uint8_t function = pending[1];
  if (function == 15 || function == 16) return pending.size() < 7 ? 0 : 9u + pending[6];
  return 8;  // functions 1 to 6: address, function, two 16-bit fields, CRC
}
}  // namespace

void ScriptedSlave::Run() {
  Bytes pending;
  while (!m_stop) {
    pollfd pfd[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    if (poll(pfd, 2, 1000) <= 0) continue;
    if (pfd[1].revents) break;
    if (pfd[0].revents & (POLLHUP | POLLERR)) {
      // The program closed its port; wait for it to open again.
      pollfd wake{m_wakeFd, POLLIN, 0};
      poll(&wake, 1, 5);
      pending.clear();
      continue;
    }
    uint8_t chunk[512];
    const ssize_t n = read(m_fd, chunk, sizeof chunk);
    if (n <= 0) continue;
    pending.insert(pending.end(), chunk, chunk + n);
    for (size_t length; (length = RequestLength(pending)) != 0 && pending.size() >= length;) {
      Bytes request(pending.begin(), pending.begin() + static_cast<long>(length));
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
      {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
      }
      m_cv.notify_all();
      for (const Chunk& answer : m_reply(request)) {
        if (answer.delayMs > 0) {
          pollfd wake{m_wakeFd, POLLIN, 0};
          if (poll(&wake, 1, answer.delayMs) > 0) return;
        }
        size_t done = 0;
        while (done < answer.bytes.size()) {
          const ssize_t w = write(m_fd, answer.bytes.data() + done, answer.bytes.size() - done);
          if (w > 0) done += static_cast<size_t>(w);
          else break;
        }
      }
    }
  }
}

TempWorkDir::TempWorkDir() {
  m_previous = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "kelmora-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
  std::filesystem::current_path(m_path);
}

TempWorkDir::~TempWorkDir() {
  std::error_code ec;
  std::filesystem::current_path(m_previous, ec);
  std::filesystem::remove_all(m_path, ec);
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

double ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testing_support
