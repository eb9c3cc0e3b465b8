// libmodbus's RTU server on the device side of a pty: an independent Modbus implementation
// for our master to talk to.
#pragma once

#include <modbus/modbus.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace testing_support {

class LibmodbusServer {
 public:
  // Serves slave `slaveId` on `masterFd` with 100 coils, discrete inputs, holding and input
  // registers each, at Modbus addresses 0..99 (program addresses 1..100).
  LibmodbusServer(int masterFd, int slaveId);
  ~LibmodbusServer();
  LibmodbusServer(const LibmodbusServer&) = delete;
  LibmodbusServer& operator=(const LibmodbusServer&) = delete;

  // Runs `use` on the register map while no request is being served.
  void WithMapping(const std::function<void(modbus_mapping_t&)>& use);
  long Served() const { return m_served.load(); }

 private:
  void Run();

  modbus_t* m_ctx;
  modbus_mapping_t* m_mapping;
  std::mutex m_mutex;
  std::atomic<bool> m_stop{false};
  std::atomic<long> m_served{0};
  std::thread m_thread;
};

}  // namespace testing_support
