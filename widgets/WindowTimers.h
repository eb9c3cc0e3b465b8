// Window timers addressed by small integer ids, one set per window.
//
// Each id runs at most one timer: starting an id that runs restarts it with the new period.
// As with the window timers the rest of Kelmora was designed around, a period below 10 ms
// runs at 10 ms, and a period that does not fit a signed 32-bit millisecond count (negative
// ones included, which arrive as huge unsigned counts) is accepted but never elapses.
#pragma once

#include <QBasicTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <map>

class CWindowTimers : public QObject {
  Q_OBJECT

 public:
  static constexpr std::int64_t kMinimumPeriod = 10;

  using Handler = std::function<void(int id)>;

  // The handler runs on the owner's thread for every elapsed period of every id.
  explicit CWindowTimers(QObject* owner, Handler handler = {});
  ~CWindowTimers() override;

  // Starts (or restarts) timer `id`; returns `id`, as the caller keeps it in its timer slot.
  int start(int id, std::int64_t periodMs);
  // Stops timer `id`; true when it was running.
  bool kill(int id);
  void killAll();
  bool running(int id) const;
  // The effective period of a running timer (after the minimum), -1 for "never elapses" and
  // 0 when the id is not running.
  std::int64_t period(int id) const;

  // The effective period for a requested one: at least 10 ms, -1 for "never elapses".
  static std::int64_t EffectivePeriod(std::int64_t requestedMs);

 protected:
  // Called for every elapsed period; the default calls the handler.
  virtual void onTimer(int id);
  void timerEvent(QTimerEvent* event) override;

 private:
  struct Slot {
    QBasicTimer timer;  // inactive for a timer that never elapses
    std::int64_t period = 0;
  };
  Handler m_handler;
  std::map<int, Slot> m_timers;
};
