#include "tests/support/RegisterSlave.h"

namespace testing_support {

RegisterSlave::RegisterSlave(int masterFd, uint8_t slaveAddress) : m_address(slaveAddress) {
  m_slave = std::make_unique<ScriptedSlave>(masterFd, [this](const Bytes& r) { return Answer(r); });
}

RegisterSlave::~RegisterSlave() { m_slave.reset(); }

void RegisterSlave::SetHolding(uint16_t a, uint16_t v) { std::lock_guard l(m_mutex); m_holding[a] = v; }
uint16_t RegisterSlave::Holding(uint16_t a) const {
  std::lock_guard l(m_mutex);
  auto it = m_holding.find(a);
  return it == m_holding.end() ? 0 : it->second;
}
void RegisterSlave::SetInput(uint16_t a, uint16_t v) { std::lock_guard l(m_mutex); m_input[a] = v; }
void RegisterSlave::SetCoil(uint16_t a, bool v) { std::lock_guard l(m_mutex); m_coils[a] = v; }
bool RegisterSlave::Coil(uint16_t a) const {
  std::lock_guard l(m_mutex);
  auto it = m_coils.find(a);
  return it != m_coils.end() && it->second;
}
void RegisterSlave::SetDiscrete(uint16_t a, bool v) { std::lock_guard l(m_mutex); m_discrete[a] = v; }
void RegisterSlave::SetException(uint8_t f, uint16_t a, uint8_t code) {
  std::lock_guard l(m_mutex);
  if (code == 0) m_exceptions.erase({f, a});
  else m_exceptions[{f, a}] = code;
}
void RegisterSlave::SetSilent(uint16_t a, bool silent) { std::lock_guard l(m_mutex); m_silent[a] = silent; }
void RegisterSlave::SetDelay(int ms) { std::lock_guard l(m_mutex); m_delayMs = ms; }
void RegisterSlave::OnWrite(WriteHook hook) { std::lock_guard l(m_mutex); m_hook = std::move(hook); }

void RegisterSlave::SetIdentity(const std::string& name, int major, int minor, int programMajor,
                                int programMinor, uint16_t start) {
  const auto registers = static_cast<uint16_t>((name.size() + 1) / 2);
  SetInput(1, static_cast<uint16_t>(registers << 8 | start));
  for (uint16_t i = 0; i < registers; ++i) {
    const auto low = static_cast<uint8_t>(name[2 * i]);
    const auto high = static_cast<uint8_t>(2u * i + 1 < name.size() ? name[2u * i + 1] : 0);
    SetInput(static_cast<uint16_t>(start + i), static_cast<uint16_t>(high << 8 | low));
  }
  SetInput(2, static_cast<uint16_t>(major << 8 | minor));
  SetInput(3, static_cast<uint16_t>(programMajor << 8 | programMinor));
}

std::vector<RegisterSlave::Request> RegisterSlave::Requests() const {
  std::lock_guard l(m_mutex);
  return m_requests;
}
void RegisterSlave::ClearRequests() {
  std::lock_guard l(m_mutex);
  m_requests.clear();
}
bool RegisterSlave::WaitForRequests(size_t count, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Requests().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Requests().size() >= count;
}

std::vector<ScriptedSlave::Chunk> RegisterSlave::Answer(const Bytes& r) {
  if (r[0] != m_address) return {};
  const uint8_t function = r[1];
  const uint16_t address = static_cast<uint16_t>((r[2] << 8 | r[3]) + 1);
  const uint16_t field = static_cast<uint16_t>(r[4] << 8 | r[5]);
  std::lock_guard lock(m_mutex);
  const uint16_t quantity = (function == 5 || function == 6) ? 1 : field;
  m_requests.push_back({function, address, quantity});
  for (uint32_t a = address; a < uint32_t(address) + quantity; ++a) {
    auto silent = m_silent.find(static_cast<uint16_t>(a));
    if (silent != m_silent.end() && silent->second) return {};
    auto ex = m_exceptions.find({function, static_cast<uint16_t>(a)});
    if (ex != m_exceptions.end()) return {{Frame(m_address, {static_cast<uint8_t>(function | 0x80), ex->second}), m_delayMs}};
  }
  Bytes pdu{function};
  auto bits = [&](std::map<uint16_t, bool>& image) {
    pdu.push_back(static_cast<uint8_t>((quantity + 7) / 8));
    for (int byte = 0; byte < (quantity + 7) / 8; ++byte) {
      uint8_t packed = 0;
      for (int bit = 0; bit < 8 && byte * 8 + bit < quantity; ++bit)
        if (image[static_cast<uint16_t>(address + byte * 8 + bit)]) packed |= 1 << bit;
      pdu.push_back(packed);
    }
  };
  auto words = [&](std::map<uint16_t, uint16_t>& image) {
    pdu.push_back(static_cast<uint8_t>(2 * quantity));
    for (int i = 0; i < quantity; ++i) {
      const uint16_t v = image[static_cast<uint16_t>(address + i)];
      pdu.push_back(v >> 8);
      pdu.push_back(v & 0xFF);
    }
  };
  switch (function) {
    case 1: bits(m_coils); break;
    case 2: bits(m_discrete); break;
    case 3: words(m_holding); break;
    case 4: words(m_input); break;
    case 5:
      m_coils[address] = field == 0xFF00;
      pdu.assign(r.begin() + 1, r.begin() + 6);
      break;
    case 6:
      m_holding[address] = field;
      if (m_hook) m_hook(address, field, *this);
      pdu.assign(r.begin() + 1, r.begin() + 6);
      break;
    case 15:
      for (int i = 0; i < quantity; ++i) m_coils[static_cast<uint16_t>(address + i)] = (r[7 + i / 8] >> (i % 8)) & 1;
      pdu.assign(r.begin() + 1, r.begin() + 6);
      break;
    case 16:
      for (int i = 0; i < quantity; ++i) {
        const auto a = static_cast<uint16_t>(address + i);
        m_holding[a] = static_cast<uint16_t>(r[7 + 2 * i] << 8 | r[8 + 2 * i]);
        if (m_hook) m_hook(a, m_holding[a], *this);
      }
      pdu.assign(r.begin() + 1, r.begin() + 6);
      break;
    default: pdu = {static_cast<uint8_t>(function | 0x80), 1};
  }
  return {{Frame(m_address, pdu), m_delayMs}};
}

}  // namespace testing_support
