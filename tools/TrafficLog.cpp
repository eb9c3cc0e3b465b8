#include "tools/TrafficLog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/Clock.h"

namespace {

int64_t WallMsAt(double steadyMs) {
  const int64_t nowWall =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  return nowWall - static_cast<int64_t>(std::llround(NowMilliseconds() - steadyMs));
}

bool CrcGood(const uint8_t* bytes, int32_t length) { return length >= 4 && ModbusCrc(bytes, length) == 0; }

const char* ExceptionName(int code) {
  switch (code) {
    case 1: return "illegal function";
    case 2: return "illegal data address";
    case 3: return "illegal data value";
    case 4: return "server device failure";
    case 5: return "acknowledge";
    case 6: return "server device busy";
    case 8: return "memory parity error";
    case 10: return "gateway path unavailable";
    case 11: return "gateway target failed to respond";
    default: return "";
  }
}

}  // namespace

CTrafficLog::CTrafficLog() : m_clearedAtMs(NowMilliseconds()) { m_ring.reserve(kCapacity); }

void CTrafficLog::SetLine(int32_t baudRate, double bitsPerCharacter) {
  std::lock_guard lock(m_mutex);
  m_baudRate = std::max(1, baudRate);
  m_bitsPerCharacter = bitsPerCharacter;
}

double CTrafficLog::BitsPerCharacter(int32_t dataBits, int32_t parity, int32_t stopBitsCode) {
  const double stop = stopBitsCode == 1 ? 1.5 : stopBitsCode == 2 ? 2 : 1;
  return 1 + dataBits + (parity != 0 ? 1 : 0) + stop;
}

void CTrafficLog::OnExchange(const ModbusExchange& e) {
  const int64_t sentWall = WallMsAt(e.sentAtMs);
  const double endedAt = e.roundTripMs >= 0 ? e.sentAtMs + e.roundTripMs : NowMilliseconds();
  const int64_t endedWall = sentWall + static_cast<int64_t>(std::llround(endedAt - e.sentAtMs));
  std::function<void(const TrafficFrame&)> onFrame;
  std::vector<TrafficFrame> told;
  {
    std::lock_guard lock(m_mutex);
    const uint64_t firstSeq = m_seq + 1;
    const size_t firstSlot = m_ring.size() < kCapacity ? m_ring.size() : m_next;
    ++m_transactions;
    Add(true, e.request, e.requestLength, CrcGood(e.request, e.requestLength), -1, -1, e.sentAtMs, sentWall);
    if (e.answerAt >= 0) {
      if (e.answerAt > 0) {
        // Bytes before the answer: noise, or an answer that failed its CRC and was skipped.
        const bool good = CrcGood(e.received, e.answerAt);
        if (!good) ++m_crcErrors;
        Add(false, e.received, e.answerAt, good, modbus_code::kNoAnswer, -1, endedAt, endedWall);
      }
      if (e.code != modbus_code::kSuccess) ++m_exceptions;
      Add(false, e.received + e.answerAt, e.answerLength, true, static_cast<int32_t>(e.code), e.roundTripMs, endedAt,
          endedWall);
    } else {
      if (e.code == modbus_code::kNoAnswer) ++m_timeouts;
      const bool good = CrcGood(e.received, e.receivedLength);
      if (e.receivedLength > 0 && !good) ++m_crcErrors;
      Add(false, e.received, e.receivedLength, good, static_cast<int32_t>(e.code), -1, endedAt, endedWall);
    }
    onFrame = m_onFrame;
    // This exchange's frames follow each other in the ring from `firstSlot`.
    if (onFrame)
      for (uint64_t seq = firstSeq, slot = firstSlot; seq <= m_seq; ++seq, slot = (slot + 1) % kCapacity)
        told.push_back(m_ring[slot]);
  }
  for (const TrafficFrame& frame : told) onFrame(frame);
}

void CTrafficLog::Add(bool outgoing, const uint8_t* bytes, int32_t length, bool crcOk, int32_t code,
                      double roundTripMs, double steadyMs, int64_t wallMs) {
  TrafficFrame* slot;
  if (m_ring.size() < kCapacity) {
    slot = &m_ring.emplace_back();
  } else {
    slot = &m_ring[m_next];
    m_next = (m_next + 1) % kCapacity;
  }
  slot->seq = ++m_seq;
  slot->wallMs = wallMs;
  slot->steadyMs = steadyMs;
  slot->outgoing = outgoing;
  slot->bytes.assign(bytes, bytes + std::max(0, length));  // keeps the slot's capacity
  slot->crcOk = crcOk;
  slot->code = code;
  slot->roundTripMs = roundTripMs;
}

std::vector<TrafficFrame> CTrafficLog::FramesAfter(uint64_t seq) const {
  std::lock_guard lock(m_mutex);
  std::vector<TrafficFrame> frames;
  const size_t count = m_ring.size();
  // Oldest first: from m_next round the ring once it is full, from 0 before.
  const size_t oldest = count < kCapacity ? 0 : m_next;
  for (size_t i = 0; i < count; ++i) {
    const TrafficFrame& frame = m_ring[(oldest + i) % count];
    if (frame.seq > seq) frames.push_back(frame);
  }
  return frames;
}

TrafficFigures CTrafficLog::Figures() const {
  std::lock_guard lock(m_mutex);
  TrafficFigures f;
  f.transactions = m_transactions;
  f.timeouts = m_timeouts;
  f.crcErrors = m_crcErrors;
  f.exceptions = m_exceptions;
  f.baudRate = m_baudRate;
  const double now = NowMilliseconds();
  double from = std::max(now - kRateSpanMs, m_clearedAtMs);
  // A full ring may hold less than the span.
  if (m_ring.size() == kCapacity) from = std::max(from, m_ring[m_next].steadyMs);
  std::vector<double> trips;
  trips.reserve(m_ring.size() / 2);
  uint64_t requests = 0, bytes = 0;
  for (const TrafficFrame& frame : m_ring) {
    if (frame.roundTripMs >= 0) trips.push_back(frame.roundTripMs);
    if (frame.steadyMs < from) continue;
    bytes += frame.bytes.size();
    if (frame.outgoing) ++requests;
  }
  const double spanSeconds = (now - from) / 1000.0;
  if (spanSeconds > 0) {
    f.transactionsPerSecond = requests / spanSeconds;
    f.lineUse = bytes * m_bitsPerCharacter / (m_baudRate * spanSeconds);
  }
  if (!trips.empty()) {
    std::sort(trips.begin(), trips.end());
    const size_t n = trips.size();
    f.rttMinMs = trips.front();
    f.rttMedianMs = n % 2 ? trips[n / 2] : (trips[n / 2 - 1] + trips[n / 2]) / 2;
    f.rttP99Ms = trips[static_cast<size_t>(std::ceil(0.99 * n)) - 1];  // nearest rank
  }
  return f;
}

void CTrafficLog::Clear() {
  std::lock_guard lock(m_mutex);
  m_ring.clear();
  m_next = 0;
  m_transactions = m_timeouts = m_crcErrors = m_exceptions = 0;
  m_clearedAtMs = NowMilliseconds();
}

void CTrafficLog::SetOnFrame(std::function<void(const TrafficFrame&)> onFrame) {
  std::lock_guard lock(m_mutex);
  m_onFrame = std::move(onFrame);
}

std::string CTrafficLog::HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  char hex[4];
  for (const uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", byte);
    text += hex;
  }
  return text;
}

std::string CTrafficLog::FunctionText(int function) {
  if (function < 0) return {};
  const char* name = "";
  switch (function & 0x7F) {
    case 1: name = "Read Coils"; break;
    case 2: name = "Read Discrete Inputs"; break;
    case 3: name = "Read Holding Registers"; break;
    case 4: name = "Read Input Registers"; break;
    case 5: name = "Write Single Coil"; break;
    case 6: name = "Write Single Register"; break;
    case 15: name = "Write Multiple Coils"; break;
    case 16: name = "Write Multiple Registers"; break;
    default: break;
  }
  char text[64];
  if (function & 0x80) std::snprintf(text, sizeof text, "%02X exception to %02X", function, function & 0x7F);
  else std::snprintf(text, sizeof text, "%02X %s", function, name);
  std::string out = text;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string CTrafficLog::ResultText(const TrafficFrame& frame) {
  if (frame.outgoing) return {};
  char text[96];
  if (frame.code == modbus_code::kSuccess) return "OK";
  if (frame.code == modbus_code::kNoChannel) return "port failed";
  if (frame.code == static_cast<int32_t>(modbus_code::kNoAnswer)) return frame.bytes.empty() ? "no answer" : "no valid answer";
  const char* name = ExceptionName(frame.code);
  std::snprintf(text, sizeof text, *name ? "exception %d (%s)" : "exception %d", frame.code, name);
  return text;
}

std::string CTrafficLog::FrameLine(const TrafficFrame& frame) {
  const std::time_t seconds = static_cast<std::time_t>(frame.wallMs / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char time[32];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(frame.wallMs % 1000));
  std::string line = std::string(time) + (frame.outgoing ? "  ->  " : "  <-  ");
  line += frame.bytes.empty() ? "(nothing)" : HexBytes(frame.bytes);
  if (const std::string function = frame.bytes.size() >= 2 ? FunctionText(frame.Function()) : ""; !function.empty())
    line += "  " + function;
  if (!frame.bytes.empty()) line += frame.crcOk ? "  CRC ok" : "  CRC bad";
  if (!frame.outgoing) line += "  " + ResultText(frame);
  if (frame.roundTripMs >= 0) {
    char trip[32];
    std::snprintf(trip, sizeof trip, "  %.1f ms", frame.roundTripMs);
    line += trip;
  }
  return line;
}
