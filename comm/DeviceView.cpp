#include "comm/DeviceView.h"

#include "comm/FaultLog.h"
#include "comm/PackManager.h"
#include "comm/TimedLog.h"

#include <algorithm>

using namespace modbus_code;

namespace {
constexpr int32_t kWatchdogMs = 60;
constexpr int32_t kRequestTimeoutMs = 50;
constexpr int32_t kIdleTimeoutMs = 100;
constexpr int kSpinMicroseconds = 100;
// A short pause inside a spin: cheaper than yielding, which enters the kernel.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}
// Cursors are placed on the first entries before the first keyword lookup of the process.
std::atomic<bool> g_firstKeywordLookup{true};
}  // namespace

std::string QueryHandle::GetStateString() const {
  switch (state) {
    case Updated: return "Updated";
    case Timeout: return "Timeout";
    case Canceled: return "Canceled";
    case DeviceError: return "Device Error";
    case Queued: return "Queued";
    case InProcess: return "In Process";
    default: return "";
  }
}

bool RequestList::Insert(const QueryHandle& handle) {
  std::lock_guard lock(m_mutex);
  for (const QueryHandle& item : m_items)
    if (item.property.id == handle.property.id) return false;
  auto at = m_items.begin();
  while (at != m_items.end() && at->property.priority >= handle.property.priority) ++at;
  m_items.insert(at, handle);
  m_approxCount = m_items.size();
  return true;
}

bool RequestList::Contains(int32_t id) const {
  std::lock_guard lock(m_mutex);
  for (const QueryHandle& item : m_items)
    if (item.property.id == id) return true;
  return false;
}

size_t RequestList::Count() const {
  std::lock_guard lock(m_mutex);
  return m_items.size();
}

bool RequestList::RemoveFirst(QueryHandle& out) {
  std::lock_guard lock(m_mutex);
  if (m_items.empty()) return false;
  out = std::move(m_items.front());
  m_items.erase(m_items.begin());
  m_approxCount = m_items.size();
  return true;
}

bool RequestList::Take(int32_t id, QueryHandle& out) {
  std::lock_guard lock(m_mutex);
  for (auto it = m_items.begin(); it != m_items.end(); ++it) {
    if (it->property.id != id) continue;
    out.property = std::move(it->property);
    out.state = it->state;
    out.kind = it->kind;
    out.values = std::move(it->values);
    m_items.erase(it);
    m_approxCount = m_items.size();
    return true;
  }
  return false;
}

void RequestList::Remove(int32_t id) {
  std::lock_guard lock(m_mutex);
  std::erase_if(m_items, [id](const QueryHandle& item) { return item.property.id == id; });
  m_approxCount = m_items.size();
}

CDeviceView::CDeviceView(const DeviceProfile& profile, ModbusDevice* device)
    : m_profile(profile), m_pDevice(device) {
  m_flashTemplate.id = kFlashPropertyId;
  m_flashTemplate.priority = 100;
  m_bootTemplate.id = kBootloaderPropertyId;
  m_bootTemplate.priority = 100;
  // The first property of a given id, list by list and entry by entry, supplies the mapping.
  for (const KeywordList& list : m_profile.keywordLists)
    for (const VisualObjectEntry& entry : list.entries)
      for (const ModbusProperty& property : entry.properties) m_mappings.try_emplace(property.id, property.mapping);
  m_watchdog = std::thread([this] { WatchdogLoop(); });
}

CDeviceView::~CDeviceView() {
  Shutdown();
  // A stop that lands just after the worker checked it, before its next transaction begins,
  // is cleared by that transaction: repeat it until the worker has ended, so not even a wait
  // without time-out can outlive the server.
  for (int waitedMs = 1; m_worker.joinable() && !m_bWorkerEnded; ++waitedMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (waitedMs % 100 == 0) m_pDevice->Stop();
  }
  if (m_worker.joinable()) m_worker.join();
  {
    std::lock_guard lock(m_watchdogMutex);
    m_bWatchdogQuit = true;
  }
  m_watchdogCv.notify_all();
  m_watchdog.join();
}

std::thread::id CDeviceView::Create(void* parent, int32_t id) {
  // A server is created once (SetSuspended restarts it): a second call would otherwise wait
  // here for a worker that ends only when stopped.
  if (m_worker.joinable()) return {};
  m_pParent = parent;
  m_iId = id;
  m_bStopRequested = false;
  m_bWorkerEnded = false;
  StartWorker();
  return m_worker.get_id();
}

void CDeviceView::StartWorker() {
  if (m_worker.joinable()) m_worker.join();
  m_worker = std::thread([this] { WorkerLoop(); });
}

void CDeviceView::Wake() {
  { std::lock_guard lock(m_wakeMutex); }
  m_wakeCv.notify_all();
}

QueryHandle CDeviceView::Enqueue(const ModbusProperty& property, int32_t kind, std::vector<int32_t> values) {
  QueryHandle handle;
  handle.property = property;
  handle.property.mapping = ModbusMapping{};
  handle.state = QueryHandle::Canceled;
  handle.kind = kind;
  handle.values = std::move(values);
  m_queue.Insert(handle);
  Wake();
  return handle;
}

QueryHandle CDeviceView::GetProperty(const ModbusProperty& property) { return Enqueue(property, 0, {}); }

QueryHandle CDeviceView::SetProperty(const ModbusProperty& property, const std::vector<int32_t>& values) {
  return Enqueue(property, 1, values);
}

QueryHandle CDeviceView::SetProperty(const ModbusProperty& property, int32_t value) {
  return Enqueue(property, 1, {value});
}

QueryHandle CDeviceView::RequestFlashLoad() { return Enqueue(m_flashTemplate, 0, {}); }
QueryHandle CDeviceView::RequestFlashSave() { return Enqueue(m_flashTemplate, 1, {}); }
QueryHandle CDeviceView::RequestBootloaderStart() { return Enqueue(m_bootTemplate, 0, {}); }

bool CDeviceView::TryQuery(QueryHandle& handle) {
  if (m_bWorkerEnded || m_bStopRequested) {
    handle.state = QueryHandle::DeviceError;
    return false;
  }
  const int32_t id = handle.property.id;
  // The worker moves a request from the queue to the current slot and from there to the
  // results under this lock, so a request is always found in one of the three.
  std::lock_guard lock(m_currentMutex);
  if (m_results.Take(id, handle)) {
    if (m_bHoldRequested.exchange(false)) Wake();
    return true;
  }
  if (m_current.property.id == id && m_current.state == QueryHandle::InProcess) {
    handle.property = m_current.property;
    handle.state = m_current.state;
    handle.kind = m_current.kind;
    handle.values = m_current.values;
    if (m_bHoldRequested.exchange(false)) Wake();
    return false;
  }
  handle.state = m_queue.Contains(id) ? QueryHandle::Queued : QueryHandle::Canceled;
  return false;
}

bool CDeviceView::WaitQuery(QueryHandle& handle, int32_t timeoutMs) {
  const auto now = std::chrono::steady_clock::now();
  const auto deadline = now + std::chrono::milliseconds(timeoutMs);
  // A fast line answers within a fraction of a millisecond: watch the results counter for that
  // long before going to sleep, which costs two thread switches per request. The counter is
  // read without a lock, so the spin does not hold up the worker; it is read before the first
  // look, so a result filed in between is not missed.
  uint64_t seen = m_uResultsFiled.load();
  TryQuery(handle);
  if (handle.IsFinal()) return true;
  const auto spinUntil = now + std::chrono::microseconds(kSpinMicroseconds);
  while (std::chrono::steady_clock::now() < spinUntil) {
    if (m_uResultsFiled.load() != seen || m_bStopRequested || m_bWorkerEnded) {
      seen = m_uResultsFiled.load();
      TryQuery(handle);
      if (handle.IsFinal()) return true;
    }
    for (int i = 0; i < 32; ++i) CpuRelax();
  }
  for (;;) {
    const uint64_t filed = m_uResultsFiled.load();
    TryQuery(handle);
    if (handle.IsFinal()) return true;
    std::unique_lock lock(m_resultMutex);
    // Also wake now and then: a stop or suspension files no result.
    if (!m_resultCv.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)),
                               [&] { return m_uResultsFiled.load() != filed; }) &&
        std::chrono::steady_clock::now() >= deadline)
      return false;
  }
}

bool CDeviceView::CancelQuery(const QueryHandle& handle, bool abortRunning) {
  bool running = false;
  {
    std::lock_guard lock(m_currentMutex);
    running = m_current.property.id == handle.property.id && m_current.state == QueryHandle::InProcess;
  }
  if (running) {
    if (!abortRunning) return false;
    m_pDevice->Stop();
    return true;
  }
  m_queue.Remove(handle.property.id);
  return false;
}

VisualObjectEntry CDeviceView::PropertiesByKeyWord(const std::string& keyword) {
  if (g_firstKeywordLookup.exchange(false)) m_profile.ResetCursors();
  try {
    KeywordList* list = m_profile.FindKeywordList(keyword);
    if (list == nullptr) throw "Enumerating by undefined keyword";
    return list->Next();
  } catch (const char* text) {
    KELMORA_FAULT(text);
    return VisualObjectEntry{};
  }
}

void CDeviceView::SetSuspended(bool stop) {
  if (stop) {
    m_bStopRequested = true;
    m_pDevice->Stop();
    Wake();
    return;
  }
  if (!m_bWorkerEnded) return;
  m_bStopRequested = false;
  m_bWorkerEnded = false;
  StartWorker();
}

void CDeviceView::Shutdown() {
  m_bHoldRequested = true;
  m_bStopRequested = true;
  m_pDevice->Stop();
  Wake();
}

ModbusMapping CDeviceView::MappingOf(int32_t propertyId) const {
  const auto it = m_mappings.find(propertyId);
  // Without a mapping the register kind is none, which the device layer refuses.
  return it != m_mappings.end() ? it->second : ModbusMapping{};
}

void CDeviceView::WorkerLoop() {
  CPackManager packs(m_profile.packs, m_pDevice);
  while (!m_bStopRequested) {
    // Right after a request the next one often follows at once: look for it briefly before
    // sleeping. Idle, the worker sleeps until woken and uses no CPU.
    const auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicroseconds);
    while (!m_bStopRequested && m_queue.ApproxCount() == 0 && std::chrono::steady_clock::now() < spinUntil)
      for (int i = 0; i < 32; ++i) CpuRelax();
    {
      std::unique_lock lock(m_wakeMutex);
      m_wakeCv.wait(lock, [&] { return m_bStopRequested || (!m_bHoldRequested && m_queue.Count() > 0); });
    }
    if (m_bStopRequested) break;
    QueryHandle request;
    {
      std::lock_guard lock(m_currentMutex);
      if (!m_queue.RemoveFirst(request)) continue;
      request.state = QueryHandle::InProcess;
      m_current = request;
    }
    WorkerLog().Write("Новый запрос");

    ModbusAnswer answer;
    const int32_t id = request.property.id;
    if (id == kFlashPropertyId || id == kBootloaderPropertyId) {
      // A special request runs several transactions, each of which clears the device's stop:
      // the server's own stop is checked between them.
      answer = m_pDevice->SpecialOperation(id, request.kind, m_iStageTextId, &m_bStopRequested);
    } else {
      WorkerLog().Write("Поиск элемента modbus");
      const ModbusMapping mapping = MappingOf(id);
      ArmWatchdog();
      m_pDevice->SetTimeout(kRequestTimeoutMs);
      WorkerLog().Write("Запрос modbus элемента у сервера");
      answer = request.kind == 0 ? packs.Result(mapping) : m_pDevice->WriteElementValues(mapping, request.values);
      m_pDevice->SetTimeout(kIdleTimeoutMs);
      DisarmWatchdog();
      WorkerLog().Write("Окончание запроса");
    }

    // A request that found the device gone got no answer: with reconnection, it ends as the
    // requests after it do until the device is back.
    const bool lost = m_reopen && m_pDevice->LineLost();
    if (answer.code == kNoAnswer || lost) {
      request.state = QueryHandle::Timeout;
    } else if (answer.code != kSuccess) {
      request.state = QueryHandle::DeviceError;
    } else {
      request.values = std::move(answer.values);
      request.state = QueryHandle::Updated;
    }
    FileResult(request);
    WorkerLog().Write("Окончание обработки запроса");
    if (lost) WaitForLink();
  }
  m_bWorkerEnded = true;
}

void CDeviceView::FileResult(const QueryHandle& request) {
  // The listener hears a read before its owner can collect it: once a caller has a value, its
  // row is recorded.
  const int32_t id = request.property.id;
  if (IReadListener* listener = m_pReadListener.load();
      listener && request.kind == 0 && id != kFlashPropertyId && id != kBootloaderPropertyId)
    listener->OnRead(request);
  {
    // The result is filed before the running request is released, so a poll in between
    // finds one or the other, never neither.
    std::lock_guard lock(m_currentMutex);
    m_results.Insert(request);
    m_current.state = request.state;
    m_current.values = request.values;
  }
  {
    std::lock_guard lock(m_resultMutex);
    ++m_uResultsFiled;
  }
  m_resultCv.notify_all();
}

void CDeviceView::SetReconnect(std::function<bool()> reopen, std::function<void(bool up)> linkChanged) {
  m_reopen = std::move(reopen);
  m_linkChanged = std::move(linkChanged);
}

void CDeviceView::WaitForLink() {
  m_bLinkLost = true;
  faultlog::PlainLine("Device link lost: reopening the port every second");
  if (m_linkChanged) m_linkChanged(false);
  auto nextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReopenPeriodMs);
  while (!m_bStopRequested) {
    QueryHandle request;
    for (;;) {
      {
        std::lock_guard lock(m_currentMutex);
        if (!m_queue.RemoveFirst(request)) break;
        request.state = QueryHandle::InProcess;
        m_current = request;
      }
      request.state = QueryHandle::Timeout;
      FileResult(request);
    }
    {
      std::unique_lock lock(m_wakeMutex);
      m_wakeCv.wait_until(lock, nextTry, [&] { return m_bStopRequested || (!m_bHoldRequested && m_queue.Count() > 0); });
    }
    if (m_bStopRequested || std::chrono::steady_clock::now() < nextTry) continue;
    ++m_iReopenAttempts;
    if (m_reopen()) {
      m_bLinkLost = false;
      ++m_iReconnects;
      faultlog::PlainLine("Device link restored");
      if (m_linkChanged) m_linkChanged(true);
      return;
    }
    nextTry = std::max(nextTry + std::chrono::milliseconds(kReopenPeriodMs), std::chrono::steady_clock::now());
  }
}

void CDeviceView::ArmWatchdog() {
  bool wake;
  {
    std::lock_guard lock(m_watchdogMutex);
    m_bWatchdogArmed = true;
    m_watchdogDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchdogMs);
    // A watchdog already waiting for an earlier deadline picks the new one up when it wakes;
    // only an idle one needs waking, so back-to-back requests cost no thread switch.
    wake = m_bWatchdogIdle;
  }
  if (wake) m_watchdogCv.notify_all();
}

void CDeviceView::DisarmWatchdog() {
  std::lock_guard lock(m_watchdogMutex);
  m_bWatchdogArmed = false;
}

void CDeviceView::WatchdogLoop() {
  std::unique_lock lock(m_watchdogMutex);
  while (!m_bWatchdogQuit) {
    if (!m_bWatchdogArmed) {
      m_bWatchdogIdle = true;
      m_watchdogCv.wait(lock);
      m_bWatchdogIdle = false;
      continue;
    }
    m_watchdogCv.wait_until(lock, m_watchdogDeadline);
    // Only a request still running at its own deadline is aborted; one that ended in time,
    // or a newer request with a later deadline, is left alone.
    if (!m_bWatchdogQuit && m_bWatchdogArmed && std::chrono::steady_clock::now() >= m_watchdogDeadline) {
      m_bWatchdogArmed = false;
      m_pDevice->Stop();
    }
  }
}
