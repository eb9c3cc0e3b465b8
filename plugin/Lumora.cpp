// The two exports of liblumora.so and the component the host drives: it owns the LED panel's
// window and nothing else.
#include <exception>
#include <memory>

#include <QPointer>

#include "plugin/LedsView.h"
#include "visualobject/ComponentInterface.h"

namespace {

class LumoraComponent final : public IComponent {
 public:
  explicit LumoraComponent(IComponentHost* host) : m_host(host) {}

  int32_t Create(void* parent, int32_t x, int32_t y) override {
    try {
      auto view = std::make_unique<CLedsView>();
      view->Initialise(m_host, static_cast<QWidget*>(parent), x, y);
      delete m_view;  // a second Create replaces the first window
      m_view = view.release();
      return 1;
    } catch (...) {
      return 0;
    }
  }

  // Deletes the window at once, and the component with it: the host calls nothing of it
  // afterwards and may unload the library as soon as this returns.
  int32_t Destroy() override {
    const int32_t hadWindow = m_view != nullptr ? 1 : 0;
    delete m_view;
    delete this;
    return hadWindow;
  }

  int32_t Show() override {
    if (m_view == nullptr) return 0;
    m_view->show();
    return 1;
  }

  int32_t Hide() override {
    if (m_view == nullptr) return 0;
    m_view->hide();
    return 1;
  }

 private:
  QPointer<CLedsView> m_view;  // null as well when the page took the window down with it
  IComponentHost* m_host;
};

}  // namespace

extern "C" KELMORA_COMPONENT_EXPORT ComponentVersionInfo ComponentVersion() { return {4, 2}; }

// The host never deletes the component: it deletes itself when the host destroys it.
extern "C" KELMORA_COMPONENT_EXPORT IComponent* ConnectComponent(void* host) {
  return new LumoraComponent(static_cast<IComponentHost*>(host));
}
