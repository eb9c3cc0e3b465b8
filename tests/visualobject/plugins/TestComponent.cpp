// A plug-in for the host's tests, built once per behaviour: the version it claims (none: no
// ComponentVersion export), whether it exports ConnectComponent and whether its component
// agrees to create a window. It reports what the host did to it through TestComponentProbe.
#include <QWidget>
#include <string>

#include "tests/visualobject/plugins/TestProbe.h"
#include "visualobject/ComponentInterface.h"

namespace {

TestProbe g_probe;

class TestComponent : public IComponent {
 public:
  explicit TestComponent(void* host) { g_probe.host = host; }

  int32_t Create(void* parent, int32_t x, int32_t y) override {
    ++g_probe.creates;
    g_probe.parent = parent;
    g_probe.x = x;
    g_probe.y = y;
    Exercise();
#ifdef TEST_REFUSE_CREATE
    return 0;
#else
    m_window = new QWidget(static_cast<QWidget*>(parent));
    m_window->setGeometry(x, y, 40, 20);
    m_window->show();
    return 1;
#endif
  }
  // The component's last call: it deletes its window and itself.
  int32_t Destroy() override {
    ++g_probe.destroys;
    const int32_t hadWindow = m_window != nullptr ? 1 : 0;
    delete m_window;
    delete this;
    return hadWindow;
  }
  int32_t Show() override {
    ++g_probe.shows;
    if (m_window != nullptr) m_window->show();
    return m_window != nullptr;
  }
  int32_t Hide() override {
    ++g_probe.hides;
    if (m_window != nullptr) m_window->hide();
    return m_window != nullptr;
  }

 private:
  // One call through each table the version gets, so a slot out of order shows.
  void Exercise() {
#if TEST_VERSION_MAJOR == 4
    auto* host = static_cast<IComponentHost*>(g_probe.host);
    g_probe.propertyCount = host->GetPropertyCount();
    g_probe.parameter = host->GetParameter("probe");
    host->SetParameter(".\\Log", "4.2 created");
#elif TEST_VERSION_MAJOR == 3
    auto* host = static_cast<IComponentHostV3*>(g_probe.host);
    g_probe.parameter = host->GetParameter("probe");
    host->SetParameter(".\\Log", "3.2 created");
#elif TEST_VERSION_MAJOR == 2
    auto* host = static_cast<IComponentHostV2*>(g_probe.host);
    g_probe.parameter = host->GetParameter("probe");
#endif
  }

  QWidget* m_window = nullptr;
};

}  // namespace

extern "C" {

#ifdef TEST_VERSION_MAJOR
ComponentVersionInfo ComponentVersion() { return {TEST_VERSION_MAJOR, TEST_VERSION_MINOR}; }
#endif

#ifndef TEST_NO_CONNECT
IComponent* ConnectComponent(void* host) {
  ++g_probe.connects;
  return new TestComponent(host);
}
#endif

KELMORA_COMPONENT_EXPORT TestProbe* TestComponentProbe() { return &g_probe; }
}
