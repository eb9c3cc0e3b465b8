// What the program's end-to-end tests share: a working folder with the demo profiles and the
// rich demo device on COM 9, the main window opened on it, and the message boxes taken instead
// of shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/KelmoraDlg.h"
#include "app/Messages.h"
#include "app/MonitorPages.h"
#include "app/SetupDialog.h"
#include "app/SetupPages.h"
#include "comm/ConnectionSettings.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/DialogTemplate.h"

namespace apptest {

namespace fs = std::filesystem;
using testutil::WaitFor;

inline QString Ru(const char* utf8) { return QString::fromUtf8(utf8); }

// The message boxes the windows showed, taken instead of shown.
struct Boxes {
  Boxes() {
    appmsg::SetSink([this](QWidget*, appmsg::Box& box) { shown.push_back(box); });
  }
  ~Boxes() { appmsg::SetSink({}); }
  QStringList Texts() const {
    QStringList texts;
    for (const appmsg::Box& box : shown) texts << box.text;
    return texts;
  }
  std::vector<appmsg::Box> shown;
};

// Runs `act` on the first modal dialog of type T that opens within 20 s (from the event loop,
// so it also runs inside the modal loop of the code under test).
template <typename T>
void OnModal(std::function<void(T*)> act) {
  auto* poll = new QTimer;
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(poll, &QTimer::timeout, [poll, act, started] {
    if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      act(modal);
    } else if (started->elapsed() > 20000) {
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(10);
}

// A working folder with the demo profiles, settings of its own, and the rich demo device
// served in-process on a pty that COM 9 names.
class Workplace {
 public:
  explicit Workplace(double flashMs = 300) : m_rig(Device(flashMs)) {
    m_rig.DisconnectMaster();  // the program opens the line itself
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    fs::create_directories(m_folder.PortsFolder());
    fs::create_symlink(m_rig.Path(), m_folder.PortsFolder() + "/com9");
    fs::create_directories("profiles");
    for (const auto& file : fs::directory_iterator(fs::path(simtest::RichProfile()).parent_path()))
      fs::copy_file(file.path(), fs::path("profiles") / file.path().filename());
  }

  static void Store(const ConnectionSettings& settings) { settings.Save(kSettingsSection); }
  uint16_t Holding(uint32_t address) {
    uint16_t value = 0;
    m_rig.Slave().WithDevice([&](sim::CSimDevice& d) { value = d.Image().Get(sim::Space::Holding, address); });
    return value;
  }
  void SetHolding(uint32_t address, uint16_t value) {
    m_rig.Slave().WithDevice([&](sim::CSimDevice& d) { d.Image().Set(sim::Space::Holding, address, value); });
  }
  void SaveToFlashInDevice() {
    m_rig.Slave().WithDevice([](sim::CSimDevice& d) { d.SaveToFlash(); });
  }
  uint16_t FlashCopy(uint32_t address) {
    uint16_t value = 0;
    m_rig.Slave().WithDevice([&](sim::CSimDevice& d) {
      for (const auto& [a, v] : d.Flash())
        if (a == address) value = v;
    });
    return value;
  }
  const std::string& Line() const { return m_rig.Path(); }
  std::string Folder() const { return m_folder.Path(); }
  QString SettingsFolder() const { return m_settings.path(); }
  Boxes boxes;

 private:
  static sim::CSimDevice Device(double flashMs) {
    sim::CSimDevice device = simtest::DeviceFrom(simtest::RichProfile());
    device.SetFlashMs(flashMs);
    return device;
  }

  simtest::SimFolder m_folder;  // first: the working folder and the ports folder
  QTemporaryDir m_settings;
  simtest::SimRig m_rig;
};

// The text a label or a read-only field shows.
inline QString Text(const QWidget* parent, int id) {
  const QWidget* widget = control(parent, id);
  return widget != nullptr ? widget->property("text").toString() : QStringLiteral("<no control %1>").arg(id);
}

inline QStringList ListTexts(const CSetupDialog& wizard) {
  QStringList texts;
  const QListWidget* list = wizard.ProfilesPage()->List();
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

inline void Click(const QWidget* parent, int id) {
  auto* button = control<QPushButton>(parent, id);
  ASSERT_NE(button, nullptr) << id;
  QTest::mouseClick(button, Qt::LeftButton);
}

// The main window opened on the simulator through the wizard's defaults.
struct OpenWindow {
  explicit OpenWindow(double flashMs = 300) : place(flashMs) {
    dialog.SetAutoConnect(true);
    opened = dialog.OnInitDialog();
    dialog.show();
  }
  ~OpenWindow() { dialog.done(QDialog::Rejected); }
  CVisualObject* Find(const std::string& caption) {
    for (const auto& object : dialog.Pages()->Objects())
      if (object->Property().caption == caption) return object.get();
    return nullptr;
  }
  Workplace place;
  CMonitorDlg dialog;
  bool opened = false;
};

// The menu's texts, separators left out.
inline QStringList MenuTexts(CMonitorDlg& dialog) {
  QMenu menu;
  dialog.FillContextMenu(menu);
  QStringList texts;
  for (QAction* action : menu.actions())
    if (!action->isSeparator()) texts << action->text();
  return texts;
}

}  // namespace apptest
