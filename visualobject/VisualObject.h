// CVisualObject: the base of every object on a device page. An object is a bordered child
// window built from its own dialog template, bound to one profile entry and that entry's first
// property. It never talks to the device: it asks the representation server for a read or a
// write, gets a query handle back at once and polls it on a window timer until it is final,
// then hands a read value to its subclass (`SetValue`) and shows the outcome on its lamp.
//
// Everything runs on the GUI thread, driven by four window timers:
//   9993 start   every 526..1000 ms (drawn per StartUpdate), re-arms the update timer
//   9990 update  every 1000 / update_frequency ms, starts a read when the object is idle
//   9991 query   a scheduled query (a retry, or an input object's delayed write)
//   9992 poll    every 10 ms while a query is in flight
// The object is idle when neither the query nor the poll timer runs; it has at most one
// request in the server at a time.
#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "comm/DeviceView.h"
#include "profiles/ModbusProperties.h"
#include "widgets/DialogTemplate.h"
#include "widgets/LedButton.h"
#include "widgets/WindowTimers.h"

class IPageHost;

class CVisualObject : public QFrame {
  Q_OBJECT

 public:
  static constexpr int UpdateTimer = 9990;
  static constexpr int QueryTimer = 9991;
  static constexpr int PollTimer = 9992;
  static constexpr int StartTimer = 9993;
  static constexpr int kPollPeriodMs = 10;
  static constexpr int kRetryPeriodMs = 1000;

  // The lamp's states and what they show.
  enum LedState { LedNoAnswer = 0, LedFailed = 1, LedUpdated = 2, LedWaiting = 3 };

  // `tmpl` is the object's dialog template (kept by reference: templates are static tables),
  // `keyword` the profile keyword under which it takes its entry.
  CVisualObject(const DialogTemplate& tmpl, std::string keyword);
  ~CVisualObject() override;

  // The raw value the object would write now. Base: 0.
  virtual int32_t GetValue();
  // Shows a raw value read from the device. Base: nothing.
  virtual void SetValue(int32_t raw);
  // Enables or disables what the operator can change. Base: the whole window.
  virtual void EnableObject(bool enable);
  // Takes the object's entry from `server`, places the object on its page of `parent` and
  // starts its first read. Base: false, doing nothing; every object class overrides it.
  virtual bool Create(IPageHost* parent, CDeviceView* server);
  // Called for every object when the window that holds the pages closes, after the server was
  // stopped: the object stops its timers and never calls the server again.
  virtual void Shutdown();

  // Starts a query now when the object is idle; a gauge object never writes.
  void InstantQuery(bool write = false);
  // Disables the operator's input (not for gauges) and polls the handle every 10 ms.
  void BeginWait();
  // Ends the polling and enables the input again; a non-gauge object whose query ended
  // "Timeout" or "Canceled" stays disabled and reads again in 1000 ms.
  void StopWait();
  // Shows the handle's state text and colour on the lamp.
  void OnUpdateQueryState();
  // The device's line is lost: the lamp shows the failed state until the next answer.
  void ShowLinkLost();
  // Unless a query is in flight, queries now: a scheduled one (a retry after a time-out, a
  // delayed write) at once instead of at its time, otherwise a read.
  void QueryNow();
  // (Re)starts the start timer with a period drawn from 1000, 909, ..., 526 ms.
  void StartUpdate();
  // The timer state machine; subclasses handle their own ids first and pass the rest on.
  virtual void OnTimer(int id);
  // The first value of the current handle, 0 without any.
  int32_t GetResult() const { return m_hCurHandle.GetResult(); }

  // True while neither the query nor the poll timer runs.
  bool IsIdle() const;
  bool TimerRunning(int id) const;
  // The period a running timer was armed with (-1: never elapses), 0 when it does not run.
  int64_t TimerPeriod(int id) const { return m_timers.period(id); }

  // What page building and tests read of an object.
  const std::string& KeyWord() const { return m_strKeyWord; }
  bool IsGauge() const { return m_bGauge; }
  int32_t UpdateFrequency() const { return m_nUpdateFrequency; }
  int32_t Page() const { return m_nPage; }
  const ModbusProperty& Property() const { return m_pProp; }
  const VisualObjectEntry& Entry() const { return m_pProperties; }
  const QueryHandle& CurrentHandle() const { return m_hCurHandle; }
  CLedButton* Led() const { return m_led; }
  bool LedReady() const { return m_bLedReady; }
  void SetWriteNext(bool write) { m_bWriteNext = write; }
  const DialogTemplate& Template() const { return m_template; }

  // Lamp colours (alpha, red, green, blue) of the four states.
  struct Argb {
    int a, r, g, b;
  };
  static constexpr Argb kLedColors[4] = {
      {255, 205, 205, 205}, {255, 255, 255, 255}, {255, 0, 255, 0}, {255, 255, 255, 0}};

 protected:
  // The part of `Create` that every object shares; `sizeDu` is the template size in dialog
  // units. False when there is no server, no page host or no page of the entry's index.
  bool CreateBase(QSize sizeDu, IPageHost* parent, CDeviceView* server);
  // The steps of CreateBase for objects that create themselves differently. TakeEntry takes
  // the next entry of the keyword from the server and its first property, logging for
  // `sourceFile`; BuildWindow builds the template as a hidden child of the entry's page,
  // `sizeDu` dialog units large at the entry's position (false without a page).
  void TakeEntry(std::string_view sourceFile);
  bool BuildWindow(QSize sizeDu, IPageHost* parent);
  // Binds the controls to members after the template was built; subclasses call the base first.
  virtual void DoDataExchange();

  // Raw value to display text, and typed text to raw value, for this object's property.
  std::string _ConvertPropertyValueToString(int32_t raw);
  int32_t _ConvertStringToPropertyValue(const std::string& text);

  // The control of the template that bears `id`, null when the template has none; found in a
  // table made when the template was built, as the poll step looks controls up often.
  QWidget* Item(int id) const;
  template <typename T>
  T* Item(int id) const {
    return qobject_cast<T*>(Item(id));
  }
  // The text of control `id` (label, edit, button); false when the control is missing.
  bool SetDlgItemText(int id, const QString& text);
  QString GetDlgItemText(int id) const;
  // Sets the caption control `id` to the property's caption, or logs the "pWnd" assertion
  // line for `sourceFile` when the control is missing.
  void SetCaptionControl(int id, std::string_view sourceFile);

  // A timer slot holds the timer's id while it runs and 0 after a kill.
  void StartTimerSlot(int& slot, int id, int64_t periodMs);
  void KillTimerSlot(int& slot, int id);

  int m_nUpdateTimer = 0;
  int m_nQueryTimer = 0;
  int m_nPollTimer = 0;
  int m_nStartTimer = 0;
  ModbusProperty m_pProp;
  VisualObjectEntry m_pProperties;
  bool m_bGauge = true;
  int32_t m_nUpdateFrequency = 1000;
  std::string m_strKeyWord;
  QueryHandle m_hCurHandle;
  CDeviceView* m_pdevServer = nullptr;
  int32_t m_nPage = -1;
  QPointer<CLedButton> m_led;
  bool m_bLedReady = false;
  bool m_bWriteNext = false;

 private:
  void QueryStep();
  void PollStep();

  const DialogTemplate& m_template;
  std::map<int, QPointer<QWidget>> m_items;  // the built template's controls by id
  CWindowTimers m_timers;
  bool m_bWindowCreated = false;
};
