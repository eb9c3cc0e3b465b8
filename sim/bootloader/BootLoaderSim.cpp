#include "sim/bootloader/BootLoaderSim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <thread>
#include <utility>

namespace simboot {
namespace {

constexpr std::uint8_t kData = 0x00, kExtended = 0x04, kSegmentStart = 0x60, kFlashRequest = 0x61,
                       kFlashRequest0 = 0x62, kFlashDone = 0x6A, kSegmentReady = 0x6B, kPing = 0x70,
                       kFinish = 0x71, kIdentity = 0x72, kMemoryMap = 0x73, kError = 0x80;
constexpr std::size_t kMaxPairs = 31;  // 8 bytes each in a count of at most 255
constexpr std::uint64_t kMaxFlash = 64ull << 20;

double Now() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void SleepUntil(double ms) {
  const double left = ms - Now();
  if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
}

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The flash map as (first, last) pairs, neighbouring sectors merged pairwise until the list
// fits one memory-map message.
std::vector<std::pair<std::uint64_t, std::uint64_t>> FitMap(const MemoryMap& map) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
  for (const MemorySector& sector : map.Sectors())
    if (sector.end > sector.start) pairs.emplace_back(sector.start, sector.end - 1);
  while (pairs.size() > kMaxPairs) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
    for (std::size_t i = 0; i < pairs.size(); i += 2) {
      if (i + 1 < pairs.size() && pairs[i + 1].first == pairs[i].second + 1)
        merged.emplace_back(pairs[i].first, pairs[i + 1].second);
      else {
        merged.push_back(pairs[i]);
        if (i + 1 < pairs.size()) merged.push_back(pairs[i + 1]);
      }
    }
    if (merged.size() == pairs.size()) {  // nothing adjacent left to merge
      merged.resize(kMaxPairs);
      pairs = merged;
      break;
    }
    pairs = merged;
  }
  return pairs;
}

}  // namespace

std::uint16_t BootCrc(const std::uint8_t* data, std::size_t length, std::uint16_t crc) {
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

bool BootLoaderOptionsFor(const FirmwareDescription& description, BootLoaderOptions& options, std::string& error) {
  if (!description.valid) {
    error = "the profile has no firmware_upgrade element";
    return false;
  }
  const Version v = description.version;
  if (description.name == "FU$-IHST" && v == Version{1, 1}) options.variant = BootVariant::Ihst;
  else if (description.name == "FU$-IHEX" && v == Version{1, 0}) options.variant = BootVariant::Ihex;
  else if (description.name == "FU$-IHEX" && v == Version{2, 0}) options.variant = BootVariant::Ihex2;
  else {
    error = "no simulated boot loader speaks \"" + description.name + "\" " + v.Format();
    return false;
  }
  options.map = description.memoryMap;
  options.target = description.target;
  if (options.map.Empty()) {
    error = "the profile's firmware_upgrade element has no memory map";
    return false;
  }
  return true;
}

namespace {

// A whole decimal number in [low, high]; false for anything else.
bool WholeNumber(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    value = std::stoll(text, &used, 10);
  } catch (...) {
    return false;
  }
  return used == text.size() && value >= low && value <= high;
}

}  // namespace

bool ParseBootVersion(const std::string& text, Version& version, std::string& error) {
  const auto dot = text.find('.');
  long long major = 0, minor = 0;
  if (dot == std::string::npos || !WholeNumber(text.substr(0, dot), 0, 255, major) ||
      !WholeNumber(text.substr(dot + 1), 0, 255, minor)) {
    error = "a boot loader version is MAJOR.MINOR with numbers 0..255, not \"" + text + "\"";
    return false;
  }
  version = {static_cast<std::int32_t>(major), static_cast<std::int32_t>(minor)};
  return true;
}

bool ParseBootIdentity(const std::string& text, std::int32_t& identity1, std::int32_t& identity2, std::string& error) {
  const auto comma = text.find(',');
  long long a = 0, b = 0;
  if (comma == std::string::npos || !WholeNumber(text.substr(0, comma), INT32_MIN, INT32_MAX, a) ||
      !WholeNumber(text.substr(comma + 1), INT32_MIN, INT32_MAX, b)) {
    error = "an identity is two 32-bit numbers A,B, not \"" + text + "\"";
    return false;
  }
  identity1 = static_cast<std::int32_t>(a);
  identity2 = static_cast<std::int32_t>(b);
  return true;
}

bool ParseErrorInjection(const std::string& text, ErrorInjection& injection, std::string& error) {
  static const std::pair<const char*, BootStep> kSteps[] = {
      {"ping", BootStep::Ping},
      {"extended-address", BootStep::ExtendedAddress},
      {"segment-start", BootStep::SegmentStart},
      {"segment-ready", BootStep::SegmentReady},
      {"data", BootStep::Data},
      {"flash-request", BootStep::FlashRequest},
      {"flash-done", BootStep::FlashDone}};
  error = "a boot loader error is STEP=CODE[@OCCURRENCE[xTIMES]], not \"" + text + "\"";
  const auto equals = text.find('=');
  if (equals == std::string::npos) return false;
  const std::string step = text.substr(0, equals);
  std::string rest = text.substr(equals + 1), occurrence = "1", times = "1";
  if (const auto at = rest.find('@'); at != std::string::npos) {
    occurrence = rest.substr(at + 1);
    rest.resize(at);
    if (const auto x = occurrence.find('x'); x != std::string::npos) {
      times = occurrence.substr(x + 1);
      occurrence.resize(x);
    }
  }
  bool known = false;
  for (const auto& [name, value] : kSteps)
    if (step == name) {
      injection.step = value;
      known = true;
    }
  long long code = 0, n = 0, repeat = 0;
  if (!known || !WholeNumber(rest, 1, 127, code) || !WholeNumber(occurrence, 1, INT32_MAX, n) ||
      !WholeNumber(times, 1, INT32_MAX, repeat))
    return false;
  injection.code = static_cast<std::uint8_t>(code);
  injection.occurrence = static_cast<int>(n);
  injection.times = static_cast<int>(repeat);
  error.clear();
  return true;
}

BootLoaderSim::BootLoaderSim(int fd, BootLoaderOptions options)
    : m_fd(fd), m_options(std::move(options)), m_random(m_options.faults.seed) {
  if (m_options.version) m_version = *m_options.version;
  else if (m_options.variant == BootVariant::Ihst) m_version = {1, 1};
  else if (m_options.variant == BootVariant::Ihex) m_version = {1, 0};
  else m_version = {2, 0};
  m_reportedMap = m_options.reportedMap.empty() ? FitMap(m_options.map) : m_options.reportedMap;
  if (m_options.variant == BootVariant::Ihex2) {
    // The host knows the sectors only from the memory-map answer, which holds at most
    // kMaxPairs of them.
    const std::size_t told = std::min(m_reportedMap.size(), kMaxPairs);
    m_sectors = MemoryMap(std::vector<std::pair<std::uint64_t, std::uint64_t>>(m_reportedMap.begin(),
                                                                                m_reportedMap.begin() + static_cast<long>(told)));
  } else {
    m_sectors = m_options.map;
  }
  if (m_options.baud > 0) m_charMs = 10000.0 / m_options.baud;  // start, 8 data, stop bit

  std::uint64_t first = ~0ull, end = 0;
  for (const MemorySector& sector : m_options.map.Sectors()) {
    first = std::min(first, sector.start);
    end = std::max(end, sector.end);
  }
  if (end > first) {
    m_flashBase = first;
    m_flash.assign(static_cast<std::size_t>(std::min(end - first, kMaxFlash)), 0xFF);
  }
}

std::vector<std::uint8_t> BootLoaderSim::Flash() const {
  std::lock_guard lock(m_mutex);
  return m_flash;
}

bool BootLoaderSim::DumpFlash(const std::string& path) const {
  const std::vector<std::uint8_t> flash = Flash();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
  return std::fclose(file) == 0 && written;
}

std::vector<BootRequest> BootLoaderSim::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

BootLoaderCounters BootLoaderSim::Counters() const {
  std::lock_guard lock(m_mutex);
  return m_counters;
}

std::string BootLoaderSim::LastRefusal() const {
  std::lock_guard lock(m_mutex);
  return m_lastRefusal;
}

BootLoaderSim::End BootLoaderSim::Serve(const std::atomic<bool>& stop) {
  std::vector<std::uint8_t> message;
  int high = -1;
  bool inMessage = false;
  double firstCharMs = 0.0;
  std::size_t chars = 0;
  char chunk[512];

  while (!stop && !m_finished) {
    // Send what is due; sleep until the next due message, a request, or a stop check.
    const double now = Now();
    int waitMs = 20;
    for (std::size_t i = 0; i < m_outgoing.size();) {
      if (m_outgoing[i].dueMs <= now) {
        std::vector<std::uint8_t> bytes = std::move(m_outgoing[i].bytes);
        m_outgoing.erase(m_outgoing.begin() + static_cast<long>(i));
        Transmit(std::move(bytes));
        continue;
      }
      waitMs = std::min(waitMs, static_cast<int>(std::ceil(m_outgoing[i].dueMs - now)));
      ++i;
    }
    pollfd pfd{m_fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, std::max(waitMs, 0));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return End::LineClosed;
    }
    if (ready == 0) continue;
    const ssize_t got = read(m_fd, chunk, sizeof chunk);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) {
      if (pfd.revents & POLLHUP) {
        // Nobody has the program side open: wait for the next connection.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      return End::LineClosed;
    }
    const double arrived = Now();
    {
      std::lock_guard lock(m_mutex);
      m_counters.bytesReceived += got;
    }
    for (ssize_t i = 0; i < got && !m_finished; ++i) {
      const char c = chunk[i];
      if (c == ':') {
        message.clear();
        high = -1;
        inMessage = true;
        firstCharMs = arrived;
        chars = 1;
        continue;
      }
      if (!inMessage) continue;
      ++chars;
      if (high < 0) {
        high = Nibble(c);
        continue;
      }
      message.push_back(static_cast<std::uint8_t>(high << 4 | Nibble(c)));
      high = -1;
      if (message.size() < 1 || message.size() < message[0] + 6u) continue;
      inMessage = false;
      const std::uint16_t crc = BootCrc(message.data(), message[0] + 4u);
      const std::uint16_t stored = static_cast<std::uint16_t>(message[message[0] + 4u] << 8 | message[message[0] + 5u]);
      if (crc != stored) {
        std::lock_guard lock(m_mutex);
        ++m_counters.badRequests;
        continue;
      }
      // The host wrote the whole message at once; on a real line it arrives a character time
      // per character later.
      if (m_charMs > 0) SleepUntil(firstCharMs + static_cast<double>(chars) * m_charMs);
      Handle(message);
    }
  }
  return m_finished ? End::Finished : End::Stopped;
}

bool BootLoaderSim::Inside(std::uint64_t address, std::size_t length) const {
  return address >= m_flashBase && address + length <= m_flashBase + m_flash.size();
}

std::uint8_t BootLoaderSim::InjectedError(BootStep step) {
  const int n = ++m_stepCounts[static_cast<int>(step)];
  for (const ErrorInjection& rule : m_options.faults.errors)
    if (rule.step == step && n >= rule.occurrence && n < rule.occurrence + std::max(rule.times, 1)) return rule.code;
  return 0;
}

void BootLoaderSim::Handle(const std::vector<std::uint8_t>& message) {
  const std::uint8_t count = message[0];
  const std::uint16_t address = static_cast<std::uint16_t>(message[1] << 8 | message[2]);
  const std::uint8_t type = message[3];
  const std::vector<std::uint8_t> data(message.begin() + 4, message.begin() + 4 + count);
  {
    std::lock_guard lock(m_mutex);
    ++m_counters.requests;
    m_requests.push_back({type, address, data});
  }
  const bool v2 = m_options.variant == BootVariant::Ihex2;
  // What the last request was matters to the next one only: an extended address to a segment
  // start or flash request, an acknowledged data message to its repetition.
  const bool afterExtended = std::exchange(m_afterExtended, false);
  const std::vector<std::uint8_t> lastData = std::exchange(m_lastData, {});

  switch (type) {
    case kPing: {
      if (const std::uint8_t code = InjectedError(BootStep::Ping)) return AnswerError(type, code);
      Answer(kPing, 0, {static_cast<std::uint8_t>(m_version.m_v1), static_cast<std::uint8_t>(m_version.m_v2)});
      return;
    }
    case kExtended:
      HandleExtended(count, data);
      return;
    case kSegmentStart:
      HandleSegmentStart(address, afterExtended);
      return;
    case kData:
      HandleData(message, address, data, lastData);
      return;
    case kFlashRequest:
    case kFlashRequest0:
      HandleFlashRequest(type, address, data, afterExtended);
      return;
    case kFinish:
      m_finished = true;
      return;
    case kIdentity: {
      if (!v2) return;
      std::vector<std::uint8_t> out;
      PutLe32(out, static_cast<std::uint32_t>(m_options.identity1));
      PutLe32(out, static_cast<std::uint32_t>(m_options.identity2));
      Answer(kIdentity, 0, out);
      return;
    }
    case kMemoryMap: {
      if (!v2) return;
      std::vector<std::uint8_t> out;
      for (std::size_t i = 0; i < m_reportedMap.size() && i < kMaxPairs; ++i) {
        PutLe32(out, m_reportedMap[i].first);
        PutLe32(out, m_reportedMap[i].second);
      }
      out.resize(std::min<std::size_t>(255, out.size() + static_cast<std::size_t>(std::max(m_options.mapPadding, 0))), 0);
      Answer(kMemoryMap, 0, out);
      return;
    }
    default:
      return;  // not a request of this boot loader: no answer
  }
}

std::uint64_t BootLoaderSim::RequestUpper(bool afterExtended) const {
  if (m_options.variant == BootVariant::Ihst || !afterExtended) return 0;
  return static_cast<std::uint64_t>(m_upper) << 16;
}

void BootLoaderSim::HandleExtended(std::uint8_t count, const std::vector<std::uint8_t>& data) {
  if (count != 2)
    return Refuse(kExtended, boot_code::kLength, "extended address with " + std::to_string(count) + " data bytes");
  if (m_options.variant == BootVariant::Ihst && m_state != Segment::Open)
    return Refuse(kExtended, boot_code::kOutOfOrder, "extended address outside a segment's data");
  if (const std::uint8_t code = InjectedError(BootStep::ExtendedAddress)) return AnswerError(kExtended, code);
  m_upper = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
  m_afterExtended = true;
  Answer(kExtended, 0, data);
}

void BootLoaderSim::HandleSegmentStart(std::uint16_t address, bool afterExtended) {
  const bool ihst = m_options.variant == BootVariant::Ihst;
  if (ihst && m_firstSectorProgrammed)
    return Refuse(kSegmentStart, boot_code::kOutOfOrder, "segment start after the first sector was programmed");
  const std::uint64_t named = RequestUpper(afterExtended) | address;
  std::vector<int> candidates;
  for (std::size_t i = 0; i < m_sectors.Size(); ++i) {
    const std::uint64_t base = m_sectors[i].Base();
    const bool names = ihst ? (base & 0xFFFF) == named : base == named;
    if (m_sectors[i].Size() > 0 && names) candidates.push_back(static_cast<int>(i));
  }
  char text[64];
  std::snprintf(text, sizeof text, "segment start at 0x%llX names no sector", static_cast<unsigned long long>(named));
  if (candidates.empty()) return Refuse(kSegmentStart, boot_code::kNotAccessible, text);
  if (const std::uint8_t code = InjectedError(BootStep::SegmentStart)) return AnswerError(kSegmentStart, code);
  m_state = Segment::Open;
  m_candidates = std::move(candidates);
  m_sector = m_candidates.size() == 1 ? m_candidates.front() : -1;
  m_segment.clear();
  m_received.clear();
  m_vectorWordAgain = false;
  Answer(kSegmentStart, address);
  if (!ihst) {
    if (const std::uint8_t code = InjectedError(BootStep::SegmentReady))
      Schedule(m_options.eraseMs, kSegmentReady | kError, code);
    else
      Schedule(m_options.eraseMs, kSegmentReady, 0);
  }
}

int BootLoaderSim::SegmentSectorFor(std::uint64_t address, std::size_t length) const {
  const auto holds = [&](int i) {
    const MemorySector& sector = m_sectors[static_cast<std::size_t>(i)];
    return sector.Contains(address) && address + length <= sector.end;
  };
  if (m_sector >= 0) return holds(m_sector) ? m_sector : -1;
  for (const int i : m_candidates)
    if (holds(i)) return i;
  return -1;
}

bool BootLoaderSim::Received(std::uint64_t address, std::size_t length) const {
  auto next = m_received.upper_bound(address);  // the first range starting above `address`
  if (next != m_received.end() && next->first < address + length) return true;
  return next != m_received.begin() && std::prev(next)->second > address;
}

void BootLoaderSim::HandleData(const std::vector<std::uint8_t>& message, std::uint16_t address,
                               const std::vector<std::uint8_t>& data, const std::vector<std::uint8_t>& lastData) {
  const bool v2 = m_options.variant == BootVariant::Ihex2;
  // The host sends a message again when it missed the acknowledgement: take it once.
  const bool again = !lastData.empty() && lastData == message;
  ++m_dataCount;
  std::vector<std::uint8_t> bytes = data;
  if (v2) {
    if (bytes.size() < 2) return Refuse(kData, boot_code::kLength, "data message without data");
    if (bytes.front() != 1)
      return Refuse(kData, boot_code::kSequence, "sequence byte " + std::to_string(bytes.front()));
    bytes.erase(bytes.begin());
  } else if (bytes.empty()) {
    return Refuse(kData, boot_code::kLength, "data message without data");
  }
  if (m_state == Segment::None) return Refuse(kData, boot_code::kOutOfOrder, "data before any segment start");
  if (m_state == Segment::Requested) return Refuse(kData, boot_code::kOutOfOrder, "data after the flash request");
  const std::uint64_t full = static_cast<std::uint64_t>(m_upper) << 16 | address;
  char where[64];
  std::snprintf(where, sizeof where, "%zu bytes at 0x%llX", bytes.size(), static_cast<unsigned long long>(full));
  if (!Inside(full, bytes.size()))
    return Refuse(kData, boot_code::kNotAccessible, std::string(where) + " outside the flash");
  const int sector = SegmentSectorFor(full, bytes.size());
  if (sector < 0) return Refuse(kData, boot_code::kNotAccessible, std::string(where) + " outside the segment's sector");
  bool vectorWord = false;
  if (!again && Received(full, bytes.size())) {
    // An LPC ARM host sends the image's vector table, then the checksum word it computed.
    vectorWord = m_options.target == "LPCARM" && full == 0x14 && bytes.size() == 4 && !m_vectorWordAgain;
    if (!vectorWord) return Refuse(kData, boot_code::kRepeated, std::string(where) + " received before");
  }
  if (const std::uint8_t code = InjectedError(BootStep::Data)) return AnswerError(kData, code);
  if (!again) {
    m_sector = sector;
    if (vectorWord) m_vectorWordAgain = true;
    else m_received.emplace(full, full + bytes.size());
    m_segment.push_back({full, std::move(bytes)});
  }
  m_lastData = message;
  const auto& wrong = m_options.faults.wrongDataAcks;
  const bool spoil = std::find(wrong.begin(), wrong.end(), m_dataCount) != wrong.end();
  if (v2) Answer(kData, address, {static_cast<std::uint8_t>(spoil ? data[0] + 1 : data[0])});
  else Answer(kData, static_cast<std::uint16_t>(spoil ? address + 1 : address));
}

void BootLoaderSim::HandleFlashRequest(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data,
                                       bool afterExtended) {
  const bool ihst = m_options.variant == BootVariant::Ihst;
  if (type == kFlashRequest0 && !ihst)
    return Refuse(type, boot_code::kOutOfOrder, "0x62 is not a request of this boot loader");
  if (data.size() != 2)
    return Refuse(type, boot_code::kLength, "flash request with " + std::to_string(data.size()) + " data bytes");
  if (m_state == Segment::None) return Refuse(type, boot_code::kOutOfOrder, "flash request before any segment start");
  if (m_segment.empty() || m_sector < 0)
    return Refuse(type, boot_code::kOutOfOrder, "flash request for a segment without data");
  const std::uint64_t base = m_sectors[static_cast<std::size_t>(m_sector)].Base();
  if (ihst && (type == kFlashRequest0) != (m_sector == 0))
    return Refuse(type, boot_code::kOutOfOrder,
                  type == kFlashRequest0 ? "0x62 for a sector other than the first" : "0x61 for the first sector");
  const std::uint64_t named = ihst ? (type == kFlashRequest0 ? 0 : base & 0xFFFF) : base;
  const std::uint64_t got = RequestUpper(afterExtended) | address;
  if (got != named) {
    char text[80];
    std::snprintf(text, sizeof text, "flash request for 0x%llX in the segment at 0x%llX",
                  static_cast<unsigned long long>(got), static_cast<unsigned long long>(base));
    return Refuse(type, boot_code::kNotAccessible, text);
  }
  if (const std::uint8_t code = InjectedError(BootStep::FlashRequest)) return AnswerError(type, code);
  m_state = Segment::Requested;
  if (type == kFlashRequest0) m_firstSectorProgrammed = true;
  Answer(type, address, data);
  const std::uint16_t crc = SegmentCrc();
  const std::uint16_t wanted = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
  if (const std::uint8_t code = InjectedError(BootStep::FlashDone)) {
    Schedule(m_options.programMs, kFlashDone | kError, code);
    return;
  }
  if (crc != wanted) {
    std::lock_guard lock(m_mutex);
    ++m_counters.crcMismatches;
    ++m_counters.errorAnswers;
  } else {
    std::lock_guard lock(m_mutex);
    for (const Piece& piece : m_segment)
      std::copy(piece.bytes.begin(), piece.bytes.end(), m_flash.begin() + static_cast<long>(piece.address - m_flashBase));
    ++m_counters.sectorsProgrammed;
  }
  if (crc == wanted) Schedule(m_options.programMs, kFlashDone, 0);
  else Schedule(m_options.programMs, kFlashDone | kError, boot_code::kVerification);
}

std::uint16_t BootLoaderSim::SegmentCrc() const {
  std::uint16_t crc = 0;
  if (m_options.variant != BootVariant::Ihex2) {
    for (const Piece& piece : m_segment) crc = BootCrc(piece.bytes.data(), piece.bytes.size(), crc);
    return crc;
  }
  if (m_segment.empty()) return crc;
  std::uint64_t first = ~0ull, end = 0;
  for (const Piece& piece : m_segment) {
    first = std::min(first, piece.address);
    end = std::max(end, piece.address + piece.bytes.size());
  }
  // What the sector holds once programmed: later data for an address replaces earlier data.
  std::vector<std::uint8_t> content(static_cast<std::size_t>(end - first));
  std::vector<bool> written(content.size(), false);
  for (const Piece& piece : m_segment)
    for (std::size_t i = 0; i < piece.bytes.size(); ++i) {
      content[piece.address - first + i] = piece.bytes[i];
      written[piece.address - first + i] = true;
    }
  for (std::size_t i = 0; i < content.size(); ++i)
    if (written[i]) crc = BootCrc(&content[i], 1, crc);
  return crc;
}

void BootLoaderSim::Answer(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  Transmit(std::move(bytes));
}

void BootLoaderSim::AnswerError(std::uint8_t type, std::uint8_t code) {
  {
    std::lock_guard lock(m_mutex);
    ++m_counters.errorAnswers;
  }
  Answer(static_cast<std::uint8_t>(type | kError), code);
}

void BootLoaderSim::Refuse(std::uint8_t type, std::uint8_t code, std::string why) {
  {
    std::lock_guard lock(m_mutex);
    ++m_counters.refused;
    m_lastRefusal = std::move(why);
  }
  AnswerError(type, code);
}

void BootLoaderSim::Schedule(double delayMs, std::uint8_t type, std::uint16_t address, std::vector<std::uint8_t> data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  m_outgoing.push_back({Now() + delayMs, std::move(bytes)});
}

void BootLoaderSim::Transmit(std::vector<std::uint8_t> bytes) {
  const std::uint16_t crc = BootCrc(bytes.data(), bytes.size());
  bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
  bytes.push_back(static_cast<std::uint8_t>(crc));
  const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(m_random);
  const BootLoaderFaults& faults = m_options.faults;
  if (draw < faults.drop) {
    std::lock_guard lock(m_mutex);
    ++m_counters.dropped;
    return;
  }
  if (draw < faults.drop + faults.corrupt) {
    bytes.back() ^= 0x5A;
    std::lock_guard lock(m_mutex);
    ++m_counters.corrupted;
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(1, ':');
  for (const std::uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  {
    std::lock_guard lock(m_mutex);
    ++m_counters.sent;
    m_counters.bytesSent += static_cast<long>(text.size());
  }
  PacedWrite(text);
}

void BootLoaderSim::PacedWrite(const std::string& text) {
  std::size_t done = 0;
  double start = std::max(Now(), m_lineFreeMs);
  while (done < text.size()) {
    std::size_t upTo = text.size();
    if (m_charMs > 0) {
      // Hand the pty what the line would have sent by now, in steps of about a millisecond.
      const std::size_t perStep = std::max<std::size_t>(1, static_cast<std::size_t>(1.0 / m_charMs));
      upTo = std::min(text.size(), done + perStep);
      SleepUntil(start + static_cast<double>(upTo) * m_charMs);
    }
    while (done < upTo) {
      const ssize_t n = write(m_fd, text.data() + done, upTo - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd pfd{m_fd, POLLOUT, 0};
        poll(&pfd, 1, 50);
      } else {
        return;
      }
    }
  }
  if (m_charMs > 0) m_lineFreeMs = start + static_cast<double>(text.size()) * m_charMs;
}

}  // namespace simboot
