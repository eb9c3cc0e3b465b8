#include "sim/SimSlave.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/Clock.h"
#include "sim/SimCrc.h"

namespace sim {

// ---- line --------------------------------------------------------------------------------

double SimLine::BitsPerCharacter() const {
  const double stop = stopBits == 1 ? 1.5 : stopBits == 2 ? 2.0 : 1.0;
  return 1.0 + dataBits + (parity != 0 ? 1.0 : 0.0) + stop;
}

double SimLine::CharacterMs() const { return 1000.0 * BitsPerCharacter() / std::max(baud, 1); }

double SimLine::FrameSilenceMs() const { return baud > 19200 ? 1.75 : 3.5 * CharacterMs(); }

double SimLine::TransactionLimit(int requestBytes, int answerBytes) const {
  return 1000.0 / (2 * FrameSilenceMs() + (requestBytes + answerBytes) * CharacterMs());
}

std::string SimLine::Describe() const {
  const char parityLetter = parity == 1 ? 'O' : parity == 2 ? 'E' : 'N';
  const char* stop = stopBits == 1 ? "1.5" : stopBits == 2 ? "2" : "1";
  return std::to_string(baud) + " " + std::to_string(dataBits) + parityLetter + stop;
}

// ---- slave -------------------------------------------------------------------------------

namespace {

constexpr std::uint8_t kBroadcast = 0;

Bytes WithCrc(std::uint8_t slave, const Bytes& pdu) {
  Bytes frame;
  frame.reserve(pdu.size() + 3);
  frame.push_back(slave);
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  const std::uint16_t crc = Crc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

timespec Span(double ms) {
  ms = std::max(ms, 0.0);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ms / 1000.0);
  ts.tv_nsec = static_cast<long>((ms - ts.tv_sec * 1000.0) * 1e6);
  if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
  return ts;
}

}  // namespace

CSimSlave::CSimSlave(int fd, CSimDevice device, SimSlaveOptions options)
    : m_fd(fd), m_device(std::move(device)), m_options(std::move(options)) {
  m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CSimSlave::~CSimSlave() {
  Stop();
  if (m_wakeFd >= 0) close(m_wakeFd);
}

bool CSimSlave::Start(std::string& error) {
  if (m_thread.joinable()) return true;
  if (m_wakeFd < 0) {
    error = std::string("cannot create the wake-up event: ") + std::strerror(errno);
    return false;
  }
  if (!m_options.tracePath.empty()) {
    m_trace = std::fopen(m_options.tracePath.c_str(), "w");
    if (m_trace == nullptr) {
      error = "cannot write the trace " + m_options.tracePath + ": " + std::strerror(errno);
      return false;
    }
  }
  fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
  m_startMs = NowMilliseconds();
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void CSimSlave::Stop() {
  m_stop = true;
  if (m_wakeFd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(m_wakeFd, &one, sizeof one);
  }
  if (m_thread.joinable()) m_thread.join();
  if (m_trace != nullptr) {
    std::fclose(m_trace);
    m_trace = nullptr;
  }
}

void CSimSlave::WithDevice(const std::function<void(CSimDevice&)>& use) {
  std::lock_guard lock(m_mutex);
  use(m_device);
}

SimCounters CSimSlave::Counters() const {
  std::lock_guard lock(m_mutex);
  return m_counters;
}

double CSimSlave::Chance() {
  return static_cast<double>(Mix64(m_options.faults.seed * 0x9E3779B97F4A7C15ull + ++m_draws) >> 11) * 0x1.0p-53;
}

void CSimSlave::Trace(const char* direction, const Bytes& bytes, const std::string& note) {
  if (m_trace == nullptr) return;
  std::fprintf(m_trace, "%12.3f %s", NowMilliseconds() - m_startMs, direction);
  for (std::uint8_t b : bytes) std::fprintf(m_trace, " %02X", b);
  if (!note.empty()) std::fprintf(m_trace, "%s; %s", bytes.empty() ? "" : "  ", note.c_str());
  std::fputc('\n', m_trace);
  std::fflush(m_trace);
}

void CSimSlave::Note(const std::string& text) {
  Trace("--", {}, text);
  if (m_status) m_status(text);
}

bool CSimSlave::SleepUntil(double deadlineMs) {
  for (;;) {
    if (m_stop) return false;
    const double left = deadlineMs - NowMilliseconds();
    if (left <= 0) return true;
    pollfd wake{m_wakeFd, POLLIN, 0};
    const timespec span = Span(left);
    if (ppoll(&wake, 1, &span, nullptr) > 0 && m_stop) return false;
  }
}

bool CSimSlave::WriteAll(const std::uint8_t* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = write(m_fd, data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    // Nobody reads the line and its buffer is full: wait a little, then give the answer up.
    pollfd out{m_fd, POLLOUT, 0};
    if (poll(&out, 1, 100) <= 0 || m_stop) return false;
  }
  return true;
}

bool CSimSlave::Send(const Bytes& frame, double startMs, double& endMs) {
  if (!m_options.pace) {
    endMs = NowMilliseconds();
    return WriteAll(frame.data(), frame.size());
  }
  // Each character is complete on the line one character time after the previous one; what
  // is due by now goes out together, so a late wake-up does not stretch the frame.
  const double character = m_options.line.CharacterMs();
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const double now = NowMilliseconds();
    std::size_t due = sent;
    while (due < frame.size() && startMs + (due + 1) * character <= now) ++due;
    if (due > sent) {
      if (!WriteAll(frame.data() + sent, due - sent)) return false;
      sent = due;
      continue;
    }
    if (!SleepUntil(startMs + (sent + 1) * character)) return false;
  }
  endMs = startMs + frame.size() * character;
  return true;
}

void CSimSlave::Run() {
  // Character times at fast rates are below 0.1 ms; wake-ups must not be late by more.
  prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
  const double gapMs = std::max(m_options.line.FrameSilenceMs(), 2.0);
  std::uint8_t buffer[4096];
  while (!m_stop) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    timespec span{};
    const timespec* timeout = nullptr;
    if (m_parser.Pending() > 0) {
      span = Span(m_parser.LastByteMs() + gapMs - NowMilliseconds());
      timeout = &span;
    }
    const int ready = ppoll(fds, 2, timeout, nullptr);
    if (m_stop) break;
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) {
      m_parser.Silence();
    } else if (fds[0].revents & POLLIN) {
      const ssize_t n = read(m_fd, buffer, sizeof buffer);
      if (n > 0) m_parser.Feed(buffer, static_cast<std::size_t>(n), NowMilliseconds());
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // No program has the line open (and nobody holds it for us): wait for one without
      // spinning.
      pollfd wake{m_wakeFd, POLLIN, 0};
      poll(&wake, 1, 10);
      continue;
    }
    SimParsed item;
    while (!m_stop && m_parser.Next(item)) Serve(item);
    if (m_bootLoader && m_bootLoaderRun && !m_stop) RunBootLoader();
  }
}

void CSimSlave::RunBootLoader() {
  m_bootLoaderRun(m_fd, m_stop);
  if (m_stop) return;
  // Back from the boot loader the device starts its program afresh: Modbus again, and
  // nothing the boot loader left unread is taken for a request.
  m_parser = CSimFrameParser();
  m_bootLoader = false;
  m_lastTxEndMs = NowMilliseconds();
  Note("boot loader done: the device answers Modbus again");
}

void CSimSlave::Serve(const SimParsed& item) {
  if (item.kind == SimParsed::Kind::Noise) {
    {
      std::lock_guard lock(m_mutex);
      ++m_counters.noiseRuns;
    }
    Trace("RX", item.bytes, "no frame (bad CRC or noise), ignored");
    return;
  }
  const std::uint8_t slave = item.Slave();
  const bool broadcast = slave == kBroadcast;
  {
    std::lock_guard lock(m_mutex);
    ++m_counters.frames;
    if (m_bootLoader) {
      ++m_counters.afterBootLoader;
    } else if (!broadcast && slave != m_options.slave) {
      ++m_counters.otherSlave;
    }
  }
  if (m_bootLoader) {
    Trace("RX", item.bytes, "boot loader runs, Modbus ignored");
    return;
  }
  if (!broadcast && slave != m_options.slave) {
    Trace("RX", item.bytes, "for slave " + std::to_string(slave) + ", ignored");
    return;
  }
  Trace("RX", item.bytes, broadcast ? "broadcast" : "");

  const SimFaults& faults = m_options.faults;
  // Every request draws all its chances, so one fault's pattern does not depend on another's.
  const bool drop = Chance() < faults.drop;
  const bool wrongSlave = Chance() < faults.wrongSlave;
  const bool garbage = Chance() < faults.garbage;
  const bool corrupt = Chance() < faults.corrupt;
  Bytes noise(1 + static_cast<std::size_t>(Chance() * 8));
  for (std::uint8_t& b : noise) b = static_cast<std::uint8_t>(Chance() * 256);

  if (!broadcast && faults.silentAfter >= 0) {
    std::lock_guard lock(m_mutex);
    if (m_counters.answered >= faults.silentAfter) {
      ++m_counters.silenced;
      Trace("--", {}, "silent after " + std::to_string(faults.silentAfter) + " answers");
      return;
    }
  }
  if (drop && !broadcast) {
    {
      std::lock_guard lock(m_mutex);
      ++m_counters.dropped;
    }
    Trace("--", {}, "request dropped");
    return;
  }

  CSimDevice::Reply reply;
  {
    std::lock_guard lock(m_mutex);
    reply = m_device.Handle(item.Pdu(), NowMilliseconds(), broadcast);
    if (broadcast) ++m_counters.broadcasts;
  }
  if (!reply.note.empty() && reply.delayMs > 0) Note(reply.note + " (" + std::to_string(static_cast<int>(reply.delayMs)) + " ms)");
  if (!reply.answer) return;

  // When the answer may start: at once, or on a paced line once the request has had its time
  // on the wire and the line has been silent for a frame silence.
  const double silence = m_options.line.FrameSilenceMs();
  double startMs = NowMilliseconds();
  if (m_options.pace) {
    const double lineStart = std::max(item.firstByteMs, m_lastTxEndMs + silence);
    startMs = std::max(startMs, lineStart + item.bytes.size() * m_options.line.CharacterMs() + silence);
  }
  startMs += reply.delayMs + faults.delayMs;
  if (!SleepUntil(startMs)) return;

  double endMs = startMs;
  auto sendFrame = [&](const Bytes& frame, const std::string& note) {
    const double at = m_options.pace ? std::max(startMs, endMs + (endMs > startMs ? silence : 0.0)) : NowMilliseconds();
    if (!Send(frame, at, endMs)) return false;
    Trace("TX", frame, note);
    return true;
  };
  if (wrongSlave) {
    const auto other = static_cast<std::uint8_t>(m_options.slave % 247 + 1);
    if (!sendFrame(WithCrc(other, reply.pdu), "from slave " + std::to_string(other) + " (injected)")) return;
  }
  if (garbage) {
    if (!sendFrame(noise, "noise (injected)")) return;
  }
  Bytes answer = WithCrc(static_cast<std::uint8_t>(m_options.slave), reply.pdu);
  if (corrupt) answer.back() ^= 0x5A;
  {
    // Counted before the answer goes out: a master that has its answer sees the counts.
    std::lock_guard lock(m_mutex);
    ++m_counters.answered;
    if (reply.pdu.empty() || (reply.pdu[0] & 0x80)) ++m_counters.exceptions;
    m_counters.wrongSlave += wrongSlave;
    m_counters.garbage += garbage;
    m_counters.corrupted += corrupt;
  }
  // The device has left Modbus once it has agreed to; set before the echo goes out, so a
  // master that has the echo finds it so.
  if (reply.leaveModbus) m_bootLoader = true;
  sendFrame(answer, corrupt ? "bad CRC (injected)" : reply.note);
  m_lastTxEndMs = m_options.pace ? endMs : NowMilliseconds();
  if (reply.leaveModbus) {
    // Whatever Modbus bytes are still waiting belong to no one now.
    SimParsed stale;
    m_parser.Silence();
    while (m_parser.Next(stale)) {
    }
    Note(m_bootLoaderRun ? "boot loader started" : "boot loader started: the device no longer answers Modbus");
  }
}

}  // namespace sim
