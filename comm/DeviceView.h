// The representation server: the one way from the windows to the device. Callers ask for a
// property read or write, get a `QueryHandle` at once and poll it with `TryQuery` until it is
// final; one worker thread takes the requests from a priority queue one at a time and performs
// them through the pack manager (reads) or the device layer (writes and special requests).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "comm/ModbusDevice.h"
#include "profiles/ModbusProperties.h"

// One request as its owner sees it. A plain value: copies are independent.
struct QueryHandle {
  enum State : int32_t { Updated = 0, Timeout = 1, Canceled = 2, DeviceError = 3, Queued = 4, InProcess = 5 };

  ModbusProperty property;  // without its mapping; the id is the identity of the request
  int32_t state = Canceled;
  int32_t kind = 0;  // 0 read, 1 write
  std::vector<int32_t> values;

  // "Updated", "Timeout", "Canceled", "Device Error", "Queued", "In Process"; empty otherwise.
  std::string GetStateString() const;
  // The first value, or 0 without any.
  int32_t GetResult() const { return values.empty() ? 0 : values.front(); }
  void GetResult(std::vector<int32_t>& out) const { out = values; }
  bool IsFinal() const { return state >= Updated && state <= DeviceError; }
};

// Handles ordered by priority (higher first, arrival order within a priority), at most one per
// property id, under their own lock.
class RequestList {
 public:
  // Adds `handle` unless its id is already present; false when it was not added.
  bool Insert(const QueryHandle& handle);
  bool Contains(int32_t id) const;
  size_t Count() const;
  // The count without taking the lock, for spinning waiters: may lag a concurrent change.
  size_t ApproxCount() const { return m_approxCount.load(std::memory_order_relaxed); }
  // Removes and returns the first handle; false when the list is empty.
  bool RemoveFirst(QueryHandle& out);
  // Moves the handle with `id` into `out`; false when absent.
  bool Take(int32_t id, QueryHandle& out);
  void Remove(int32_t id);

 private:
  mutable std::mutex m_mutex;
  std::vector<QueryHandle> m_items;
  std::atomic<size_t> m_approxCount{0};
};

// Hears every finished read of a property (not the flash and boot-loader requests), on the
// worker thread, just before its result is filed for its owner: recording listens here.
class IReadListener {
 public:
  virtual ~IReadListener() = default;
  virtual void OnRead(const QueryHandle& result) = 0;
};

class CDeviceView {
 public:
  // `device` is not owned and must outlive the server.
  CDeviceView(const DeviceProfile& profile, ModbusDevice* device);
  // Stops the worker and waits for it.
  virtual ~CDeviceView();
  CDeviceView(const CDeviceView&) = delete;
  CDeviceView& operator=(const CDeviceView&) = delete;

  // Starts the worker. `parent` and `id` identify the server to the window that owns it; the
  // server itself has no window. Fails (a default id) on a server created already.
  std::thread::id Create(void* parent, int32_t id);

  // Riding out an unplugged adapter. Once the line reports the device gone, every request is
  // answered "Timeout" at once without going out (so nothing piles up to be sent in a burst
  // later) and `reopen` is called on the worker thread every `kReopenPeriodMs` until it
  // returns true; then traffic resumes. `linkChanged` (may be empty) hears, on the worker
  // thread, false when the link was lost and true when it is back. Set before `Create`.
  // Without `reopen`, a lost line fails each request like any other fault.
  static constexpr int32_t kReopenPeriodMs = 1000;
  // What the window's status line and the command line show meanwhile.
  static constexpr const char* kLinkLostText = "Связь с устройством потеряна, переподключение...";
  void SetReconnect(std::function<bool()> reopen, std::function<void(bool up)> linkChanged = {});
  bool LinkLost() const { return m_bLinkLost.load(); }
  // How often the link came back, and how often the port was tried meanwhile.
  int64_t Reconnects() const { return m_iReconnects.load(); }
  int64_t ReopenAttempts() const { return m_iReopenAttempts.load(); }
  // How many requests the worker has answered so far.
  uint64_t RequestsAnswered() const { return m_uResultsFiled.load(); }

  // Hands every finished read to `listener` (null: nobody) from now on; the listener must stay
  // alive until it is replaced or the server is destroyed.
  void SetReadListener(IReadListener* listener) { m_pReadListener.store(listener); }

  // The calls a window makes are virtual, so window tests can stand a scripted server in.
  virtual QueryHandle GetProperty(const ModbusProperty& property);
  virtual QueryHandle SetProperty(const ModbusProperty& property, const std::vector<int32_t>& values);
  virtual QueryHandle SetProperty(const ModbusProperty& property, int32_t value);
  // Refreshes `handle`'s state (and its values once final); true when a result was collected.
  virtual bool TryQuery(QueryHandle& handle);
  // `TryQuery` until the handle is final or `timeoutMs` passed, sleeping in between rather
  // than polling; for callers without a window timer (command line, scripts). True when final.
  bool WaitQuery(QueryHandle& handle, int32_t timeoutMs);
  // For the running request, aborts its wait when `abortRunning` (true) and otherwise does
  // nothing (false); a queued request is taken out of the queue (false).
  bool CancelQuery(const QueryHandle& handle, bool abortRunning);
  // The next entry of the keyword's list; a default entry for a keyword no list bears (with a
  // fault line) or past the list's end.
  virtual VisualObjectEntry PropertiesByKeyWord(const std::string& keyword);

  QueryHandle RequestFlashLoad();
  QueryHandle RequestFlashSave();
  QueryHandle RequestBootloaderStart();
  // True stops the worker (the wait in progress is aborted); false restarts an ended worker.
  void SetSuspended(bool stop);
  void Shutdown();

  bool WorkerEnded() const { return m_bWorkerEnded.load(); }
  int32_t StageTextId() const { return m_iStageTextId.load(); }
  const DeviceProfile& Profile() const { return m_profile; }

 private:
  void StartWorker();
  void WorkerLoop();
  void Wake();
  ModbusMapping MappingOf(int32_t propertyId) const;
  QueryHandle Enqueue(const ModbusProperty& property, int32_t kind, std::vector<int32_t> values);
  // Tells the read listener, then files a finished request for its owner and wakes `WaitQuery`.
  void FileResult(const QueryHandle& request);
  // Until the line opens again: answers what is queued "Timeout", tries `m_reopen` each period.
  void WaitForLink();

  // The watchdog: a read or write still waiting 60 ms after it started is aborted.
  void ArmWatchdog();
  void DisarmWatchdog();
  void WatchdogLoop();

  DeviceProfile m_profile;
  ModbusDevice* m_pDevice;
  std::unordered_map<int32_t, ModbusMapping> m_mappings;  // property id → its mapping
  RequestList m_queue;
  RequestList m_results;
  mutable std::mutex m_currentMutex;
  QueryHandle m_current;
  std::thread m_worker;
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<bool> m_bHoldRequested{false};
  std::atomic<bool> m_bWorkerEnded{false};
  ModbusProperty m_flashTemplate;
  ModbusProperty m_bootTemplate;
  std::atomic<int32_t> m_iStageTextId{0};
  void* m_pParent = nullptr;
  int32_t m_iId = 0;

  std::function<bool()> m_reopen;
  std::function<void(bool)> m_linkChanged;
  std::atomic<bool> m_bLinkLost{false};
  std::atomic<int64_t> m_iReconnects{0};
  std::atomic<int64_t> m_iReopenAttempts{0};

  std::mutex m_wakeMutex;  // with m_wakeCv: the idle worker sleeps until there is work
  std::condition_variable m_wakeCv;
  std::mutex m_resultMutex;  // with m_resultCv: `WaitQuery` sleeps until a result is filed
  std::condition_variable m_resultCv;
  std::atomic<uint64_t> m_uResultsFiled{0};
  std::atomic<IReadListener*> m_pReadListener{nullptr};

  std::mutex m_watchdogMutex;
  std::condition_variable m_watchdogCv;
  bool m_bWatchdogArmed = false;
  bool m_bWatchdogIdle = false;  // the watchdog thread waits without a deadline
  std::chrono::steady_clock::time_point m_watchdogDeadline;
  bool m_bWatchdogQuit = false;
  std::thread m_watchdog;
};
