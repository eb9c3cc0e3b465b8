#include "tests/support/LibmodbusPeer.h"

#include <poll.h>

#include <cerrno>
#include <stdexcept>

namespace testing_support {

LibmodbusServer::LibmodbusServer(int masterFd, int slaveId) {
  // The context is never connected: it serves the pty's device side directly.
  m_ctx = modbus_new_rtu("/dev/null", 38400, 'N', 8, 1);
  m_mapping = modbus_mapping_new(100, 100, 100, 100);
  if (m_ctx == nullptr || m_mapping == nullptr) throw std::runtime_error("libmodbus set-up failed");
  modbus_set_slave(m_ctx, slaveId);
  modbus_set_socket(m_ctx, masterFd);
  modbus_set_indication_timeout(m_ctx, 0, 50000);
  m_thread = std::thread([this] { Run(); });
}

LibmodbusServer::~LibmodbusServer() {
  m_stop = true;
  m_thread.join();
  modbus_mapping_free(m_mapping);
  modbus_free(m_ctx);  // the descriptor belongs to the pty, not to libmodbus
}

void LibmodbusServer::WithMapping(const std::function<void(modbus_mapping_t&)>& use) {
  std::lock_guard lock(m_mutex);
  use(*m_mapping);
}

void LibmodbusServer::Run() {
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  while (!m_stop) {
    const int length = modbus_receive(m_ctx, query);
    if (length > 0) {
      std::lock_guard lock(m_mutex);
      modbus_reply(m_ctx, query, length, m_mapping);
      ++m_served;
    } else if (length < 0 && errno != ETIMEDOUT) {
      poll(nullptr, 0, 1);  // the other side is closed for now; do not spin
    }
  }
}

}  // namespace testing_support
