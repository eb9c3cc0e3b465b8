#include "visualobject/CustomObject.h"

#include <cmath>
#include <limits>
#include <utility>

#include "comm/ConnectionSettings.h"
#include "visualobject/Guarded.h"
#include "visualobject/ObjectTemplates.h"
#include "visualobject/PageHost.h"
#include "visualobject/PluginLibrary.h"

namespace {

// A typed value as the host reads it: an int32 or a double; anything else is 0.
double AsDouble(const boost::any& value) {
  if (const auto* d = boost::any_cast<double>(&value)) return *d;
  if (const auto* i = boost::any_cast<int32_t>(&value)) return *i;
  return 0.0;
}

// A double is truncated toward zero, saturating where it does not fit (NaN is 0).
int32_t AsInt(const boost::any& value) {
  if (const auto* i = boost::any_cast<int32_t>(&value)) return *i;
  if (const auto* d = boost::any_cast<double>(&value)) {
    if (std::isnan(*d)) return 0;
    if (*d >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (*d <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(*d);
  }
  return 0;
}

// "Settings\<section>\<entry>": split at the last "\"; no "\" gives an empty entry.
std::pair<std::string, std::string> SplitSettingsKey(const std::string& key) {
  const size_t slash = key.rfind('\\');
  if (slash == std::string::npos) return {key, {}};
  return {key.substr(0, slash), key.substr(slash + 1)};
}

bool IsSettingsKey(const std::string& key) { return key.compare(0, 8, "Settings") == 0; }

}  // namespace

// The three interface objects: an operation table and the way back to the host. Version 3.2
// extends the table of 2.2, so both forward its four operations the same way.
template <typename Interface>
class ForwardV2 : public Interface {
 public:
  explicit ForwardV2(CCustomObject* owner) : m_owner(owner) {}
  void SetProperty(int32_t iProp, const std::vector<int32_t>& values) override { m_owner->SetProperty(iProp, values); }
  void GetProperty(int32_t iProp) override { m_owner->GetProperty(iProp); }
  int32_t QueryState(int32_t iProp, std::vector<int32_t>& result) override {
    return m_owner->QueryState(iProp, result);
  }
  std::string GetParameter(const std::string& key) override { return m_owner->GetParameter(key); }

 protected:
  CCustomObject* m_owner;
};

class CCustomObject::HostV2 : public ForwardV2<IComponentHostV2> {
 public:
  using ForwardV2::ForwardV2;
};

class CCustomObject::HostV3 : public ForwardV2<IComponentHostV3> {
 public:
  using ForwardV2::ForwardV2;
  int32_t SetParameter(const std::string& key, const std::string& value) override {
    return m_owner->SetParameter(key, value);
  }
};

class CCustomObject::Host : public IComponentHost {
 public:
  explicit Host(CCustomObject* owner) : m_owner(owner) {}
  void GetProperty(int32_t iProp) override { m_owner->GetProperty(iProp); }
  std::string GetParameter(const std::string& key) override { return m_owner->GetParameter(key); }
  int32_t SetParameter(const std::string& key, const std::string& value) override {
    return m_owner->SetParameter(key, value);
  }
  int32_t GetPropertyCount() override { return m_owner->GetPropertyCount(); }
  void SetValues(int32_t iProp, const std::vector<boost::any>& values) override { m_owner->SetValues(iProp, values); }
  int32_t GetValues(int32_t iProp, std::vector<boost::any>& result) override {
    return m_owner->GetValues(iProp, result);
  }
  std::string GetPropertyParameter(int32_t iProp, const std::string& name) override {
    return m_owner->GetPropertyParameter(iProp, name);
  }

 private:
  CCustomObject* m_owner;
};

CCustomObject::CCustomObject()
    : CVisualObject(objtemplates::Check(), "custom"),
      m_hostV2(std::make_unique<HostV2>(this)),
      m_hostV3(std::make_unique<HostV3>(this)),
      m_host(std::make_unique<Host>(this)) {}

CCustomObject::~CCustomObject() {
  // The component's window lives on the page, which outlives this object; its code must not
  // be unloaded under it. The main window shuts every object down first; this covers the rest.
  DestroyComponent();
  if (m_hModule) m_hModule->Unload();
  m_hModule.reset();
  m_pComponent = nullptr;
}

IComponentHost* CCustomObject::HostInterface() { return m_host.get(); }
IComponentHostV3* CCustomObject::HostInterfaceV3() { return m_hostV3.get(); }
IComponentHostV2* CCustomObject::HostInterfaceV2() { return m_hostV2.get(); }

bool CCustomObject::LibraryLoaded() const { return m_hModule && m_hModule->IsLoaded(); }

bool CCustomObject::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateSteps(parent, server);
  // The object itself never reads on its timers and never shows its own window.
  if (TimerRunning(UpdateTimer)) KillTimerSlot(m_nUpdateTimer, UpdateTimer);
  EnableObject(false);
  QWidget::setVisible(false);
  return created;
}

bool CCustomObject::CreateSteps(IPageHost* parent, CDeviceView* server) {
  if (server == nullptr) return false;
  m_pdevServer = server;
  TakeEntry(KELMORA_UNIT);
  m_hCurMultiHandle.assign(m_pProperties.properties.size(), m_hCurHandle);
  m_bGauge = m_pProperties.gauge == 1;

  if (!BuildWindow(QSize(180, 30), parent)) return false;
  m_nPage = m_pProperties.page;
  DoDataExchange();

  m_hModule = std::make_unique<CPluginLibrary>();
  if (!m_hModule->Load(m_pProperties.Keyword("plugin"))) {
    m_hModule.reset();
    return false;
  }
  const QPoint position = parent->Units().ToPixels(QPoint(m_pProperties.x, m_pProperties.y));
  return ConnectAndCreate(parentWidget(), position);
}

bool CCustomObject::ConnectAndCreate(QWidget* page, QPoint position) {
  ComponentVersionInfo version{1, 1};
  if (auto versionProc = m_hModule->Resolve<ComponentVersionProc>("ComponentVersion")) version = versionProc();
  const auto connect = m_hModule->Resolve<ConnectComponentProc>("ConnectComponent");

  void* host = nullptr;
  if (version.major == 4 && version.minor == 2)
    host = static_cast<IComponentHost*>(m_host.get());
  else if (version.major == 3 && version.minor == 2)
    host = static_cast<IComponentHostV3*>(m_hostV3.get());
  else if (version.major == 2 && version.minor == 2)
    host = static_cast<IComponentHostV2*>(m_hostV2.get());
  if (host == nullptr || connect == nullptr) return false;  // the library stays loaded

  // A component is someone else's code: what it throws ends its creation, not the program.
  Guarded("m_pComponent = ConnectComponent(pHost)", KELMORA_UNIT, [&] { m_pComponent = connect(host); });
  if (m_pComponent == nullptr) return false;
  int32_t created = 0;
  Guarded("m_pComponent->Create(pWnd->m_hWnd, pt.x, pt.y)", KELMORA_UNIT,
          [&] { created = m_pComponent->Create(page, position.x(), position.y()); });
  m_bRunning = created != 0;
  return m_bRunning;
}

int32_t CCustomObject::GetValue() { return m_nLastWritten; }

void CCustomObject::Shutdown() {
  CVisualObject::Shutdown();
  DestroyComponent();
}

void CCustomObject::DestroyComponent() {
  if (!LibraryLoaded() || m_pComponent == nullptr) return;
  // After Destroy nothing of the component is called again.
  IComponent* component = std::exchange(m_pComponent, nullptr);
  m_bRunning = false;
  Guarded("m_pComponent->Destroy()", KELMORA_UNIT, [&] { component->Destroy(); });
}

void CCustomObject::setVisible(bool visible) {
  QWidget::setVisible(false);
  if (!m_bRunning || m_pComponent == nullptr) return;
  Guarded(visible ? "m_pComponent->Show()" : "m_pComponent->Hide()", KELMORA_UNIT,
          [&] { visible ? m_pComponent->Show() : m_pComponent->Hide(); });
}

bool CCustomObject::InRange(int32_t iProp) const {
  return iProp >= 0 && static_cast<size_t>(iProp) < m_pProperties.properties.size() &&
         static_cast<size_t>(iProp) < m_hCurMultiHandle.size() && m_pdevServer != nullptr;
}

void CCustomObject::GetProperty(int32_t iProp) {
  if (!InRange(iProp)) return;
  const auto i = static_cast<size_t>(iProp);
  Guarded("m_hCurMultiHandle[iProp] = m_pdevServer->GetProperty(m_pProperties[iProp])", KELMORA_UNIT,
          [&] { m_hCurMultiHandle[i] = m_pdevServer->GetProperty(m_pProperties.properties[i]); });
}

void CCustomObject::SetProperty(int32_t iProp, const std::vector<int32_t>& values) {
  if (InRange(iProp)) {
    const auto i = static_cast<size_t>(iProp);
    Guarded("m_hCurMultiHandle[iProp] = m_pdevServer->SetProperty(m_pProperties[iProp], Value)", KELMORA_UNIT,
            [&] { m_hCurMultiHandle[i] = m_pdevServer->SetProperty(m_pProperties.properties[i], values); });
  }
  if (!values.empty()) m_nLastWritten = values.front();
}

int32_t CCustomObject::QueryState(int32_t iProp, std::vector<int32_t>& result) {
  if (!InRange(iProp)) return QueryHandle::DeviceError;
  QueryHandle& handle = m_hCurMultiHandle[static_cast<size_t>(iProp)];
  Guarded("m_pdevServer->TryQuery(m_hCurMultiHandle[iProp])", KELMORA_UNIT, [&] { m_pdevServer->TryQuery(handle); });
  if (handle.state == QueryHandle::Updated && handle.kind == 0)
    Guarded("m_hCurMultiHandle[iProp].GetResult(Value)", KELMORA_UNIT, [&] { handle.GetResult(result); });
  return handle.state;
}

std::string CCustomObject::GetParameter(const std::string& key) {
  if (IsSettingsKey(key)) {
    const auto [section, entry] = SplitSettingsKey(key);
    return entry.empty() ? std::string() : ReadStoredSetting(section, entry);
  }
  return m_pProperties.Keyword(key);
}

int32_t CCustomObject::SetParameter(const std::string& key, const std::string& value) {
  if (IsSettingsKey(key)) {
    const auto [section, entry] = SplitSettingsKey(key);
    return !entry.empty() && WriteStoredSetting(section, entry, value) ? 1 : 0;
  }
  if (key.compare(0, 5, ".\\Log") == 0) faultlog::PlainLine("Custom: " + value);
  return 0;
}

int32_t CCustomObject::GetPropertyCount() { return static_cast<int32_t>(m_pProperties.properties.size()); }

void CCustomObject::SetValues(int32_t iProp, const std::vector<boost::any>& values) {
  std::vector<int32_t> raw(values.size(), 0);
  if (InRange(iProp)) {
    const auto i = static_cast<size_t>(iProp);
    ModbusProperty& property = m_pProperties.properties[i];  // a zero divisor becomes 1 here
    for (size_t n = 0; n < values.size(); ++n)
      raw[n] = property.IsFixed() ? property.ConvertFixedToSend(AsDouble(values[n])) : AsInt(values[n]);
    Guarded("m_hCurMultiHandle[iProp] = m_pdevServer->SetProperty(m_pProperties[iProp], mval)", KELMORA_UNIT,
            [&] { m_hCurMultiHandle[i] = m_pdevServer->SetProperty(property, raw); });
  }
  if (!raw.empty()) m_nLastWritten = raw.front();
}

int32_t CCustomObject::GetValues(int32_t iProp, std::vector<boost::any>& result) {
  std::vector<int32_t> raw;
  const int32_t state = QueryState(iProp, raw);
  if (state != QueryHandle::Updated) return state;
  const ModbusProperty& property = m_pProperties.properties[static_cast<size_t>(iProp)];
  result.clear();
  for (const int32_t value : raw) {
    if (property.IsFixed())
      result.emplace_back(property.ConvertFixedFromSend(value));
    else
      result.emplace_back(value);
  }
  return QueryHandle::Updated;
}

std::string CCustomObject::GetPropertyParameter(int32_t iProp, const std::string& name) {
  if (iProp < 0 || static_cast<size_t>(iProp) >= m_pProperties.properties.size()) return {};
  return m_pProperties.properties[static_cast<size_t>(iProp)].Keyword(name);
}
