#include "widgets/WindowTimers.h"

#include <QTimerEvent>
#include <limits>

CWindowTimers::CWindowTimers(QObject* owner, Handler handler)
    : QObject(owner), m_handler(std::move(handler)) {}

CWindowTimers::~CWindowTimers() { killAll(); }

std::int64_t CWindowTimers::EffectivePeriod(std::int64_t requestedMs) {
  if (requestedMs < 0 || requestedMs > std::numeric_limits<std::int32_t>::max()) return -1;
  return requestedMs < kMinimumPeriod ? kMinimumPeriod : requestedMs;
}

int CWindowTimers::start(int id, std::int64_t periodMs) {
  Slot& slot = m_timers[id];
  slot.timer.stop();
  slot.period = EffectivePeriod(periodMs);
  if (slot.period > 0) {
    // Coarse, as window timers are: timers of many objects due within a few per cent of
    // each other fire together, so the thread wakes once for all of them.
    slot.timer.start(static_cast<int>(slot.period), Qt::CoarseTimer, this);
  }
  return id;
}

bool CWindowTimers::kill(int id) {
  const auto it = m_timers.find(id);
  if (it == m_timers.end()) return false;
  it->second.timer.stop();
  m_timers.erase(it);
  return true;
}

void CWindowTimers::killAll() {
  for (auto& entry : m_timers) entry.second.timer.stop();
  m_timers.clear();
}

bool CWindowTimers::running(int id) const { return m_timers.count(id) != 0; }

std::int64_t CWindowTimers::period(int id) const {
  const auto it = m_timers.find(id);
  return it == m_timers.end() ? 0 : it->second.period;
}

void CWindowTimers::onTimer(int id) {
  if (m_handler) m_handler(id);
}

void CWindowTimers::timerEvent(QTimerEvent* event) {
  for (const auto& [id, slot] : m_timers) {
    if (slot.timer.timerId() == event->timerId()) {
      // The handler may start or kill timers, so the lookup ends before it runs.
      const int elapsed = id;
      onTimer(elapsed);
      return;
    }
  }
  QObject::timerEvent(event);
}
