// What the visual-object suites share: a server whose queries end as the test says, a host
// with pages, entries and properties made in code, and the fault log of a scratch folder.
#pragma once

#include <QFile>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comm/DeviceView.h"
#include "tests/widgets/WidgetTestUtil.h"
#include "visualobject/PageHost.h"
#include "visualobject/VisualObject.h"

namespace objtest {

// A device with no line: stopping it is all the server's shutdown asks of it.
inline ModbusDevice& IdleDevice() {
  static ModbusDevice device;
  return device;
}

// The representation server's three query calls, scripted: every request is recorded and
// ends with `outcome` at the next poll (stays "In Process" while `outcome` is empty).
class ScriptedServer : public CDeviceView {
 public:
  struct Request {
    int32_t kind;  // 0 read, 1 write
    int32_t id;
    int32_t value;
    std::vector<int32_t> values;  // every value of a write
  };

  explicit ScriptedServer(const DeviceProfile& profile) : CDeviceView(profile, &IdleDevice()) {}

  std::optional<int32_t> outcome = QueryHandle::Updated;
  int32_t readValue = 0;
  std::vector<int32_t> writeAnswer;  // values a finished write carries (none by default)
  std::vector<Request> requests;

  QueryHandle GetProperty(const ModbusProperty& property) override { return Issue(property, 0, {}); }
  QueryHandle SetProperty(const ModbusProperty& property, int32_t value) override {
    return Issue(property, 1, {value});
  }
  QueryHandle SetProperty(const ModbusProperty& property, const std::vector<int32_t>& values) override {
    return Issue(property, 1, values);
  }
  bool TryQuery(QueryHandle& handle) override {
    if (handle.state == QueryHandle::Canceled) return false;  // never asked for, as the real server says
    if (!outcome) {
      handle.state = QueryHandle::InProcess;
      return false;
    }
    handle.state = *outcome;
    if (*outcome == QueryHandle::Updated) handle.values = handle.kind == 0 ? std::vector<int32_t>{readValue} : writeAnswer;
    return true;
  }

  int Reads() const { return Count(0); }
  int Writes() const { return Count(1); }
  const Request& Last() const { return requests.back(); }

 private:
  QueryHandle Issue(const ModbusProperty& property, int32_t kind, const std::vector<int32_t>& values) {
    requests.push_back({kind, property.id, values.empty() ? 0 : values.front(), values});
    QueryHandle handle;
    handle.property = property;
    handle.kind = kind;
    handle.state = QueryHandle::Queued;
    return handle;
  }
  int Count(int32_t kind) const {
    int n = 0;
    for (const Request& r : requests) n += r.kind == kind;
    return n;
  }
};

// A window with plain pages 0, 1 and 2, in dialog units of its own font; page 0 is shown, as
// the first tab of the main dialog is.
class PageHost : public QWidget, public IPageHost {
 public:
  PageHost() {
    resize(900, 700);
    for (int i = 0; i < 3; ++i) {
      auto* page = new QWidget(this);
      page->setGeometry(0, 0, 900, 700);
      page->setVisible(i == 0);
      m_pages.push_back(page);
    }
    show();
  }
  QWidget* FindPage(int index) const override {
    return index >= 0 && index < static_cast<int>(m_pages.size()) ? m_pages[static_cast<size_t>(index)] : nullptr;
  }
  DialogBaseUnits Units() const override { return DialogBaseUnits::FromWidget(this); }

 private:
  std::vector<QWidget*> m_pages;
};

inline ModbusProperty Property(PropertyKind kind, int32_t low, int32_t high, double divisor = 1.0,
                               const std::string& caption = "Value") {
  ModbusProperty p;
  p.id = 7;
  p.kind = kind;
  p.iSlMin = low;
  p.iSlMax = high;
  p.divisor = divisor;
  p.caption = caption;
  return p;
}

// A profile with one entry of `keyword` that carries `property`.
inline DeviceProfile OneEntry(const std::string& keyword, const ModbusProperty& property, int32_t gauge = 0,
                              std::map<std::string, std::string> keywords = {}) {
  VisualObjectEntry entry;
  entry.properties.push_back(property);
  entry.gauge = gauge;
  entry.page = 0;
  entry.x = 5;
  entry.y = 5;
  entry.keywords = std::move(keywords);
  DeviceProfile profile;
  KeywordList list(keyword);
  list.entries.push_back(entry);
  profile.keywordLists.push_back(list);
  return profile;
}

// One object of class T on a page, created against a scripted server.
template <typename T>
struct Rig {
  explicit Rig(const DeviceProfile& profile) : server(profile) {}
  bool Create() {
    object = std::make_unique<T>();
    return object->Create(&host, &server);
  }
  // Runs the event loop until the object is idle again (its query has ended).
  bool Settle(int ms = 5000) {
    return testutil::WaitFor([&] { return object->IsIdle() && object->CurrentHandle().IsFinal(); }, ms);
  }
  testutil::ScratchFolder folder;  // fault lines land in a fresh faults.log
  ScriptedServer server;
  PageHost host;
  std::unique_ptr<T> object;
};

inline std::string FaultLog() {
  QFile file("faults.log");
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

}  // namespace objtest
