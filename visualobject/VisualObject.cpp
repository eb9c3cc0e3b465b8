#include "visualobject/VisualObject.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <cstdlib>

#include "profiles/ProfileNumbers.h"
#include "profiles/ValueText.h"
#include "visualobject/Guarded.h"
#include "visualobject/PageHost.h"
#include "widgets/LedButton.h"

namespace {
constexpr const char* kNoProperties = "Объект, у которого нет ни одного свойства";
}  // namespace

CVisualObject::CVisualObject(const DialogTemplate& tmpl, std::string keyword)
    : m_strKeyWord(std::move(keyword)), m_template(tmpl), m_timers(this, [this](int id) { OnTimer(id); }) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  hide();  // no window until Create places the object on its page
}

CVisualObject::~CVisualObject() { m_timers.killAll(); }

int32_t CVisualObject::GetValue() { return 0; }

void CVisualObject::SetValue(int32_t) {}

void CVisualObject::EnableObject(bool enable) { setEnabled(enable); }

bool CVisualObject::Create(IPageHost*, CDeviceView*) { return false; }

void CVisualObject::Shutdown() {
  m_timers.killAll();
  m_nUpdateTimer = m_nQueryTimer = m_nPollTimer = m_nStartTimer = 0;
}

bool CVisualObject::IsIdle() const { return !TimerRunning(QueryTimer) && !TimerRunning(PollTimer); }

bool CVisualObject::TimerRunning(int id) const {
  switch (id) {
    case UpdateTimer: return m_nUpdateTimer == UpdateTimer;
    case QueryTimer: return m_nQueryTimer == QueryTimer;
    case PollTimer: return m_nPollTimer == PollTimer;
    case StartTimer: return m_nStartTimer == StartTimer;
    default: return m_timers.running(id);
  }
}

void CVisualObject::StartTimerSlot(int& slot, int id, int64_t periodMs) {
  if (slot == id) KillTimerSlot(slot, id);
  slot = m_timers.start(id, periodMs);
}

void CVisualObject::KillTimerSlot(int& slot, int id) {
  m_timers.kill(id);
  slot = 0;
}

bool CVisualObject::CreateBase(QSize sizeDu, IPageHost* parent, CDeviceView* server) {
  if (server == nullptr) return false;
  m_pdevServer = server;
  TakeEntry(KELMORA_UNIT);
  m_bGauge = m_pProperties.gauge == 1;
  const std::string frequency = m_pProperties.Keyword("update_frequency");
  if (!frequency.empty()) {
    const int32_t n = profilenumbers::ReadInt(frequency);
    if (n > 0)
      m_nUpdateFrequency = n;
    else if (frequency == "instant")
      m_nUpdateFrequency = -1;
  }

  if (!BuildWindow(sizeDu, parent)) return false;
  show();
  if (IsIdle()) {
    m_bWriteNext = false;
    QueryStep();
  }
  m_nPage = m_pProperties.page;
  DoDataExchange();
  if (m_led) {
    m_led->SetStateCount(4);
    for (int state = 0; state < 4; ++state) {
      const Argb& c = kLedColors[state];
      m_led->SetStateColor(state, c.a, c.r, c.g, c.b);
    }
  }
  return true;
}

void CVisualObject::TakeEntry(std::string_view sourceFile) {
  Guarded("m_pProperties = m_pdevServer->PropertiesByKeyWord(m_strKeyWord)", sourceFile,
          [&] { m_pProperties = m_pdevServer->PropertiesByKeyWord(m_strKeyWord); });
  if (m_pProperties.properties.empty()) {
    faultlog::FaultLine(kNoProperties, sourceFile);
  } else {
    m_pProp = m_pProperties.properties.front();
  }
}

bool CVisualObject::BuildWindow(QSize sizeDu, IPageHost* parent) {
  if (parent == nullptr) return false;
  QWidget* page = parent->FindPage(m_pProperties.page);
  if (page == nullptr) return false;

  // The template is laid out in the units of the host's font, which the page passes on.
  const DialogBaseUnits units = parent->Units();
  const QRect rect = units.ToPixels(QRect(m_pProperties.x, m_pProperties.y, sizeDu.width(), sizeDu.height()));
  setParent(page);  // hidden until shown
  for (QWidget* item : BuildDialog(m_template, this)) m_items[controlId(item)] = item;
  // Gauges stay disabled and every object is disabled while its query runs: captions and
  // values keep their normal text colour then, so they stay readable; the lamp shows the state.
  QPalette readable = palette();
  for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    readable.setColor(QPalette::Disabled, role, readable.color(QPalette::Active, role));
  setPalette(readable);
  setGeometry(rect);
  m_bWindowCreated = true;
  return true;
}

void CVisualObject::DoDataExchange() {
  m_led = Item<CLedButton>(1033);
  if (m_led) m_bLedReady = true;
}

void CVisualObject::InstantQuery(bool write) {
  if (m_bGauge && write) return;
  if (!IsIdle()) return;
  m_bWriteNext = write;
  QueryStep();
}

void CVisualObject::BeginWait() {
  if (!m_bGauge) EnableObject(false);
  StartTimerSlot(m_nPollTimer, PollTimer, kPollPeriodMs);
}

void CVisualObject::StopWait() {
  if (!m_bGauge) EnableObject(true);
  if (TimerRunning(PollTimer)) KillTimerSlot(m_nPollTimer, PollTimer);
  if (!m_bGauge && m_bLedReady && m_led && m_led->GetState() == LedFailed) {
    EnableObject(false);
    if (IsIdle()) {
      m_bWriteNext = false;
      StartTimerSlot(m_nQueryTimer, QueryTimer, kRetryPeriodMs);
    }
  }
}

void CVisualObject::OnUpdateQueryState() {
  QWidget* lamp = Item(1033);
  if (lamp == nullptr) return;
  const QString stateText = QString::fromStdString(m_hCurHandle.GetStateString());
  // The lamp's window text is the state; every template gives the lamp no room for a caption,
  // so the operator reads it as the lamp's tooltip. Neither repaints the lamp, which several
  // times a second per object would repaint the page beneath it for nothing.
  Guarded("pWnd->SetWindowText(m_hCurHandle.GetStateString())", KELMORA_UNIT, [&] {
    lamp->setWindowTitle(stateText);
    lamp->setToolTip(stateText);
  });
  if (!m_bLedReady || !m_led) return;
  switch (m_hCurHandle.state) {
    case QueryHandle::Updated: m_led->SetState(LedUpdated); break;
    case QueryHandle::Timeout:
    case QueryHandle::Canceled: m_led->SetState(LedFailed); break;
    case QueryHandle::DeviceError: m_led->SetState(LedNoAnswer); break;
    case QueryHandle::Queued:
    case QueryHandle::InProcess:
      // A gauge keeps its last colour while it waits; a lamp grey from a device error stays so.
      if (m_led->GetState() != LedNoAnswer && !m_bGauge) m_led->SetState(LedWaiting);
      break;
    default: break;
  }
}

void CVisualObject::ShowLinkLost() {
  if (m_bLedReady && m_led) m_led->SetState(LedFailed);
}

void CVisualObject::QueryNow() {
  if (TimerRunning(PollTimer)) return;
  if (!TimerRunning(QueryTimer)) m_bWriteNext = false;
  QueryStep();
}

void CVisualObject::StartUpdate() {
  const int r = std::rand() % 10;
  StartTimerSlot(m_nStartTimer, StartTimer, 10000 / (r + 10));
}

void CVisualObject::OnTimer(int id) {
  switch (id) {
    case StartTimer:
      // 1000 / frequency ms; "instant" (-1) gives a negative period, which never elapses.
      StartTimerSlot(m_nUpdateTimer, UpdateTimer, 10000 / (static_cast<int64_t>(m_nUpdateFrequency) * 10));
      break;
    case UpdateTimer:
      if (m_bGauge && m_nUpdateFrequency < 0 && TimerRunning(UpdateTimer)) KillTimerSlot(m_nUpdateTimer, UpdateTimer);
      if (IsIdle()) {
        m_bWriteNext = false;
        QueryStep();
      }
      break;
    case QueryTimer: QueryStep(); break;
    case PollTimer: PollStep(); break;
    default: break;
  }
}

void CVisualObject::QueryStep() {
  if (TimerRunning(QueryTimer)) KillTimerSlot(m_nQueryTimer, QueryTimer);
  if (m_pdevServer == nullptr) {
    faultlog::NullAssertion("m_pdevServer", KELMORA_UNIT);
    return;
  }
  if (!m_bWindowCreated) return;  // an object that was never placed never queries
  if (!m_hCurHandle.IsFinal()) return;  // the previous query is still queued or in process
  if (m_bWriteNext) {
    Guarded("m_hCurHandle = m_pdevServer->SetProperty(m_pProp, GetValue())", KELMORA_UNIT,
            [&] { m_hCurHandle = m_pdevServer->SetProperty(m_pProp, GetValue()); });
  } else {
    Guarded("m_hCurHandle = m_pdevServer->GetProperty(m_pProp)", KELMORA_UNIT,
            [&] { m_hCurHandle = m_pdevServer->GetProperty(m_pProp); });
  }
  Guarded("BeginWait()", KELMORA_UNIT, [&] { BeginWait(); });
}

void CVisualObject::PollStep() {
  if (m_pdevServer == nullptr) {
    faultlog::NullAssertion("m_pdevServer", KELMORA_UNIT);
    return;
  }
  Guarded("m_pdevServer->TryQuery(m_hCurHandle)", KELMORA_UNIT, [&] { m_pdevServer->TryQuery(m_hCurHandle); });
  Guarded("OnUpdateQueryState()", KELMORA_UNIT, [&] { OnUpdateQueryState(); });
  if (!m_hCurHandle.IsFinal()) return;
  if (m_hCurHandle.state == QueryHandle::Updated && m_hCurHandle.kind == 0) {
    Guarded("SetValue(m_hCurHandle.GetResult())", KELMORA_UNIT, [&] { SetValue(m_hCurHandle.GetResult()); });
  } else if (m_hCurHandle.state == QueryHandle::Canceled) {
    faultlog::FaultLine("Canceled handle", KELMORA_UNIT);
  }
  Guarded("StopWait()", KELMORA_UNIT, [&] { StopWait(); });
  // An "instant" gauge reads again as soon as its previous read has ended.
  if (m_nUpdateFrequency < 0 && m_bGauge) Guarded("InstantQuery()", KELMORA_UNIT, [&] { InstantQuery(); });
}

std::string CVisualObject::_ConvertPropertyValueToString(int32_t raw) {
  std::string text;
  const char* step = !m_pProp.Keyword("viewformat").empty()
                         ? "strResult.Format(strFormat.GetBuffer(), !m_pProp.IsFixed() ? nval : "
                           "m_pProp.ConvertFixedFromSend(nval))"
                     : m_pProp.IsFixed() ? "str.Format(\"%.6lf\", m_pProp.ConvertFixedFromSend(nval) )"
                                         : "str.Format(\"%d\", nval)";
  Guarded(step, KELMORA_UNIT, [&] { text = PropertyValueToString(m_pProp, raw); });
  return text;
}

int32_t CVisualObject::_ConvertStringToPropertyValue(const std::string& text) {
  int32_t value = 0;
  Guarded(m_pProp.IsFixed() ? "val = ::atof(str.GetBuffer())" : "res = ::atoi(str.GetBuffer())", KELMORA_UNIT,
          [&] { value = StringToPropertyValue(m_pProp, text); });
  return value;
}

QWidget* CVisualObject::Item(int id) const {
  const auto it = m_items.find(id);
  return it != m_items.end() ? it->second.data() : nullptr;
}

bool CVisualObject::SetDlgItemText(int id, const QString& text) {
  QWidget* widget = Item(id);
  if (widget == nullptr) return false;
  if (auto* label = qobject_cast<QLabel*>(widget))
    label->setText(text);
  else if (auto* edit = qobject_cast<QLineEdit*>(widget))
    edit->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(widget))
    button->setText(text);
  else
    widget->setWindowTitle(text);
  return true;
}

QString CVisualObject::GetDlgItemText(int id) const {
  QWidget* widget = Item(id);
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return widget ? widget->windowTitle() : QString();
}

void CVisualObject::SetCaptionControl(int id, std::string_view sourceFile) {
  const QString caption = QString::fromStdString(m_pProp.caption);
  if (!SetDlgItemText(id, caption)) {
    faultlog::NullAssertion("pWnd", sourceFile);
    return;
  }
  Item(id)->setToolTip(caption);  // the whole caption where the template cuts it off
}
