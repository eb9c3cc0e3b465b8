// The program end to end against the simulated device: the setup wizard, the main window with
// its commands, the long-query dialog, and the start-up files of the real executable. Each
// test runs in a working folder of its own with the demo profiles and private settings.
#include <gtest/gtest.h>

#include <QDir>
#include <QGroupBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <signal.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include "app/AboutDlg.h"
#include "app/AppTemplates.h"
#include "app/KelmoraApp.h"
#include "app/KelmoraDlg.h"
#include "app/Messages.h"
#include "app/MonitorPages.h"
#include "app/SetupDialog.h"
#include "app/SetupPages.h"
#include "app/SnapshotDlg.h"
#include "app/SpecialDialog.h"
#include "app/TrafficDlg.h"
#include "tests/app/AppTestSupport.h"
#include "comm/Connection.h"
#include "comm/FaultLog.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/support/SocatRelay.h"
#include "tests/widgets/WidgetTestUtil.h"
#include "widgets/AdvComboBox.h"
#include "visualobject/ObjectTemplates.h"
#include "widgets/TabCtrl.h"

namespace {

using namespace apptest;
using namespace templates;

TEST(SetupWizard, DefaultsMeetTheSimulatorAndFinishStoresThem) {
  Workplace place;
  CSetupDialog wizard;
  wizard.Open();
  wizard.show();
  EXPECT_EQ(Text(&wizard, setup::kHeader), Ru("Готовы к работе"));
  EXPECT_EQ(Text(&wizard, setup::kInformation), Ru("Программа обнаружила устройство PDC-4120 2.03 и нашла профиль для них"));
  EXPECT_TRUE(wizard.ProfilesPage()->isVisible());
  EXPECT_FALSE(wizard.SerialPage()->isVisible());
  EXPECT_EQ(Text(wizard.ProfilesPage(), profiles::kVersion), "2.03");
  EXPECT_EQ(Text(wizard.ProfilesPage(), profiles::kProgram), "1.14");
  const int selected = wizard.ProfilesPage()->Selection();
  ASSERT_GE(selected, 0);
  EXPECT_EQ(ListTexts(wizard)[selected], "PDC-4120 2.03");
  EXPECT_TRUE(wizard.Button(setup::kFinish)->isDefault());

  Click(&wizard, setup::kFinish);
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
  EXPECT_TRUE(wizard.ProfileMatched());
  EXPECT_EQ(wizard.ReturnProfile().identity.name, "PDC-4120");
  EXPECT_NE(wizard.TakeConnection(), nullptr);
  ConnectionSettings stored;
  stored.Load(kSettingsSection);
  EXPECT_EQ(stored, CSetupDialog::DefaultSettings());
  EXPECT_TRUE(place.boxes.shown.empty());

  // The opening's steps in the fault log, in their order.
  const std::string log = testing_support::ReadTextFile(faultlog::kFileName);
  size_t at = 0;
  for (const char* step : {"Загружаем профили устройств...", "Создаем окна...", "Открываем порт связи...",
                           "Определение устройства...", "Reading program version..."}) {
    const size_t found = log.find(step, at);
    ASSERT_NE(found, std::string::npos) << step << " after " << at << " in\n" << log;
    at = found;
  }
}

TEST(SetupWizard, SerialPageWhenTheStoredPortDoesNotOpen) {
  Workplace place;
  ConnectionSettings stored = CSetupDialog::DefaultSettings();
  stored.serialNumber = 3;  // no such port
  Workplace::Store(stored);
  CSetupDialog wizard;
  wizard.Open();
  wizard.show();
  EXPECT_TRUE(place.boxes.shown.empty());  // no message for stored settings
  EXPECT_EQ(Text(&wizard, setup::kHeader), Ru("Настройки последовательного порта"));
  EXPECT_TRUE(wizard.SerialPage()->isVisible());
  EXPECT_TRUE(wizard.Button(setup::kNext)->isEnabled());
  EXPECT_FALSE(wizard.Button(setup::kBack)->isEnabled());
  EXPECT_FALSE(wizard.Button(setup::kFinish)->isEnabled());

  // COM 9 is offered with the device behind it as its tooltip.
  AdvComboBox* com = wizard.SerialPage()->ComList();
  const int item = com->findText("COM9");
  ASSERT_GE(item, 0);
  EXPECT_EQ(com->itemData(item, Qt::ToolTipRole).toString().toStdString(), place.Line());
  com->setCurrentIndex(item);
  EXPECT_EQ(wizard.SerialPage()->Settings().serialNumber, 9);
  EXPECT_EQ(com->toolTip().toStdString(), place.Line());

  Click(&wizard, setup::kNext);
  EXPECT_EQ(Text(&wizard, setup::kHeader), Ru("Готовы к работе"));
  EXPECT_TRUE(wizard.ProfilesPage()->isVisible());

  // Back, no port chosen, Next: the port does not open.
  Click(&wizard, setup::kBack);
  EXPECT_TRUE(wizard.SerialPage()->isVisible());
  com->setCurrentIndex(-1);
  Click(&wizard, setup::kNext);
  ASSERT_EQ(place.boxes.shown.size(), 1u);
  EXPECT_EQ(place.boxes.shown[0].text, Ru("Неудалось открыть порт"));
  EXPECT_EQ(place.boxes.shown[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(wizard.SerialPage()->isVisible());
  EXPECT_EQ(wizard.Connection(), nullptr);
}

// While alive, this thread checks file permissions as an ordinary user (nobody), even under
// root: a file-system uid other than 0 drops root's override of permissions. It is per thread
// and is restored.
class AsOrdinaryUser {
 public:
  AsOrdinaryUser() : m_root(geteuid() == 0) {
    if (m_root) {
      setfsgid(65534);
      setfsuid(65534);
    }
  }
  ~AsOrdinaryUser() {
    if (m_root) {
      setfsuid(0);
      setfsgid(0);
    }
  }

 private:
  bool m_root;
};

TEST(SetupWizard, APortTheUserMayNotOpenIsNamedWithTheFix) {
  Workplace place;
  // A COM link to a device node nobody may open; the folders on the way stay searchable.
  const std::string locked = place.Folder() + "/locked-tty";
  std::ofstream{locked};
  fs::permissions(locked, fs::perms::none);
  fs::create_symlink(locked, place.Folder() + "/ports/com5");
  fs::permissions(place.Folder(), fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(place.Folder() + "/ports", fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  CSetupDialog wizard;
  wizard.Open();
  wizard.show();
  Click(&wizard, setup::kBack);
  AdvComboBox* com = wizard.SerialPage()->ComList();
  ASSERT_GE(com->findText("COM5"), 0);
  com->setCurrentIndex(com->findText("COM5"));
  {
    AsOrdinaryUser user;
    CSetupDialog::PortFailure f; ConnectionSettings st = wizard.SerialPage()->Settings();
    auto c = CSetupDialog::__CreateConnection(st, &f);
    Click(&wizard, setup::kNext);
  }
  ASSERT_EQ(place.boxes.shown.size(), 1u);
  const QString text = place.boxes.shown[0].text;
  EXPECT_TRUE(text.startsWith(Ru("Неудалось открыть порт\n\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromStdString("COM5 (" + locked + ")"))) << text.toStdString();
  EXPECT_TRUE(text.contains("sudo usermod -aG dialout $USER")) << text.toStdString();
  EXPECT_TRUE(text.contains(Ru("войдите снова"))) << text.toStdString();
  EXPECT_TRUE(wizard.SerialPage()->isVisible());

  // Any other failure keeps the plain words.
  EXPECT_EQ(CSetupDialog::OpenFailureText({"COM3", comm_error::kFileNotFound, ""}), Ru("Неудалось открыть порт"));
  EXPECT_EQ(CSetupDialog::OpenFailureText({"FTDI FT1", comm_error::kAccessDenied, ""}), Ru("Неудалось открыть порт"));
}

TEST(SetupWizard, TcpChoiceOpensTheDeviceThroughAConverterAndFinishStoresIt) {
  Workplace place;
  ConnectionSettings stored = CSetupDialog::DefaultSettings();
  stored.serialNumber = 3;  // no such port: the serial page comes first
  Workplace::Store(stored);
  // The device's line behind a converter that is switched off for now.
  testing_support::SocatRelay converter(place.Line());
  converter.Stop();
  const QString address = QStringLiteral("127.0.0.1:%1").arg(converter.Port());

  CSetupDialog wizard;
  wizard.Open();
  wizard.show();
  ASSERT_TRUE(wizard.SerialPage()->isVisible());
  auto* useTcp = control<QRadioButton>(wizard.SerialPage(), serial::kUseTcp);
  QLineEdit* host = wizard.SerialPage()->TcpHost();
  QLineEdit* port = wizard.SerialPage()->TcpPort();
  ASSERT_NE(useTcp, nullptr);
  ASSERT_NE(host, nullptr);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(useTcp->text(), Ru("Используя TCP (RTU поверх TCP)"));
  EXPECT_FALSE(useTcp->isChecked());
  EXPECT_FALSE(host->isEnabled());
  EXPECT_EQ(port->text(), "4001");

  QTest::mouseClick(useTcp, Qt::LeftButton);
  EXPECT_TRUE(useTcp->isChecked());
  EXPECT_FALSE(control<QRadioButton>(wizard.SerialPage(), serial::kUseCom)->isChecked());
  EXPECT_TRUE(host->isEnabled());
  EXPECT_TRUE(port->isEnabled());
  EXPECT_FALSE(wizard.SerialPage()->ComList()->isEnabled());
  QTest::keyClicks(host, "127.0.0.1");
  port->selectAll();
  QTest::keyClicks(port, QString::number(converter.Port()));
  EXPECT_EQ(wizard.SerialPage()->Settings().useTcp, 1);

  // Nothing listens: the message names the address and the system's reason.
  Click(&wizard, setup::kNext);
  ASSERT_EQ(place.boxes.shown.size(), 1u);
  EXPECT_EQ(place.boxes.shown[0].text, Ru("Неудалось открыть порт\n\nНет соединения с ") + address + ": Connection refused.");
  EXPECT_EQ(place.boxes.shown[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(wizard.SerialPage()->isVisible());
  EXPECT_EQ(wizard.Connection(), nullptr);

  // The converter on: the same Next opens the device through it and finds its profile.
  ASSERT_TRUE(converter.Start()) << converter.Log();
  Click(&wizard, setup::kNext);
  EXPECT_EQ(place.boxes.shown.size(), 1u);
  EXPECT_EQ(Text(&wizard, setup::kHeader), Ru("Готовы к работе"));
  ASSERT_NE(wizard.Connection(), nullptr);
  EXPECT_EQ(wizard.Connection()->Description(), "TCP " + address.toStdString());
  Click(&wizard, setup::kFinish);
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
  EXPECT_EQ(wizard.ReturnProfile().identity.name, "PDC-4120");

  // Stored: the TCP entries, and the eight older entries as they were (COM 3 and its line).
  ConnectionSettings expected = stored;
  expected.useTcp = 1;
  expected.tcpHost = "127.0.0.1";
  expected.tcpPort = converter.Port();
  ConnectionSettings saved;
  saved.Load(kSettingsSection);
  EXPECT_EQ(saved, expected);

  // The next start shows the choice as stored.
  CViewSerial page;
  page.ShowSettings(saved);
  EXPECT_TRUE(control<QRadioButton>(&page, serial::kUseTcp)->isChecked());
  EXPECT_EQ(page.TcpHost()->text(), "127.0.0.1");
  EXPECT_EQ(page.TcpPort()->text(), QString::number(converter.Port()));
  EXPECT_EQ(page.Settings(), saved);
}

// The serial page with its third row: every control inside the page, in its group box, clear
// of the others, its text not clipped. The page is rendered into the gallery for a look.
TEST(SetupWizard, SerialPageControlsFitWithoutOverlap) {
  CViewSerial page;
  ConnectionSettings settings = CSetupDialog::DefaultSettings();
  settings.useTcp = 1;
  settings.tcpHost = "192.168.127.254";
  page.ShowSettings(settings);
  page.show();
  const QRect area = page.rect();
  std::vector<QWidget*> groups, controls;
  for (QWidget* child : page.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    (qobject_cast<QGroupBox*>(child) != nullptr ? groups : controls).push_back(child);
  ASSERT_EQ(groups.size(), 2u);
  for (QWidget* c : controls) {
    const QString name = c->property("text").toString() + QLatin1Char(' ') + c->objectName();
    EXPECT_TRUE(area.contains(c->geometry())) << name.toStdString();
    EXPECT_EQ(std::count_if(groups.begin(), groups.end(), [c](QWidget* g) { return g->geometry().contains(c->geometry()); }), 1)
        << name.toStdString();
    if (qobject_cast<QRadioButton*>(c) != nullptr || qobject_cast<QLabel*>(c) != nullptr) {
      EXPECT_LE(c->sizeHint().width(), c->width()) << name.toStdString();
    }
    for (QWidget* other : controls) {
      if (other == c) continue;
      EXPECT_FALSE(c->geometry().intersects(other->geometry())) << name.toStdString() << " and " << other->objectName().toStdString();
    }
  }
  // The new row lines up with the rows above: the radio buttons' column on the left, the
  // port lists' right edge on the right.
  const QWidget* useTcp = control(&page, serial::kUseTcp);
  EXPECT_EQ(useTcp->x(), control(&page, serial::kUseCom)->x());
  EXPECT_EQ(control(&page, serial::kTcpHost)->x(), control(&page, serial::kComList)->x());
  EXPECT_EQ(control(&page, serial::kTcpPort)->geometry().right(), control(&page, serial::kComList)->geometry().right());
  const QDir gallery(KELMORA_GALLERY_DIR);
  ASSERT_TRUE(QDir().mkpath(gallery.path()));
  EXPECT_TRUE(page.grab().save(gallery.filePath("setup-serial-page-tcp.png")));
}

TEST(SetupWizard, UnknownDeviceSelectsNothingAndFinishFails) {
  Workplace place;
  ConnectionSettings stored = CSetupDialog::DefaultSettings();
  stored.modbusSlaveNumber = 11;  // nobody answers
  Workplace::Store(stored);
  CSetupDialog wizard;
  wizard.Open();
  wizard.show();
  EXPECT_EQ(Text(&wizard, setup::kHeader), Ru("Настройки профиля устройства"));
  EXPECT_EQ(Text(&wizard, setup::kInformation), Ru("Неизвестное устройство"));
  EXPECT_EQ(Text(wizard.ProfilesPage(), profiles::kName), "Unknown");
  EXPECT_EQ(Text(wizard.ProfilesPage(), profiles::kVersion), "0.00");
  EXPECT_EQ(ListTexts(wizard).size(), 4);
  EXPECT_EQ(wizard.ProfilesPage()->Selection(), -1);
  Click(&wizard, setup::kFinish);
  EXPECT_EQ(place.boxes.Texts(), QStringList{"Initialization failed"});
  EXPECT_EQ(wizard.result(), QDialog::Rejected);
}

TEST(SetupWizard, TwinProfilesAreToldApartAndTheMatchStaysFound) {
  Workplace place;
  fs::create_directories("profiles/twin");
  fs::copy_file("profiles/PDC-4120.xml", "profiles/twin/PDC-4120.xml");
  CSetupDialog wizard;
  wizard.Open();
  const QStringList texts = ListTexts(wizard);
  EXPECT_EQ(texts.count("PDC-4120 2.03"), 1) << texts.join(", ").toStdString();
  EXPECT_EQ(texts.count("PDC-4120 2.03.1"), 1) << texts.join(", ").toStdString();
  // The last profile made for the device is the one selected.
  EXPECT_EQ(wizard.ProfilesPage()->Selection(), std::max(texts.indexOf("PDC-4120 2.03"), texts.indexOf("PDC-4120 2.03.1")));

  // Picking another device's profile keeps the flag that detection set.
  wizard.ProfilesPage()->List()->setCurrentRow(texts.indexOf("PDC-1100 1.02"));
  Click(&wizard, setup::kFinish);
  EXPECT_EQ(wizard.result(), QDialog::Accepted);
  EXPECT_EQ(wizard.ReturnProfile().identity.name, "PDC-1100");
  EXPECT_TRUE(wizard.ProfileMatched());
}

TEST(MonitorDialog, CancelInTheWizardEndsBeforeTheWindowShows) {
  Workplace place;
  CMonitorDlg dialog;
  bool shown = false;
  QObject::connect(&dialog, &CMonitorDlg::WizardStarting, [&](CSetupDialog* wizard) {
    QTimer::singleShot(0, wizard, [wizard, &shown, &dialog] {
      shown = dialog.isVisible();
      wizard->reject();
    });
  });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_FALSE(shown);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Server(), nullptr);
}

TEST(MonitorDialog, ShowsTheDeviceAndWritesToIt) {
  OpenWindow w;
  ASSERT_TRUE(w.opened);
  EXPECT_EQ(Text(&w.dialog, monitor::kName), "PDC-4120");
  EXPECT_EQ(Text(&w.dialog, monitor::kVersion), "2.03");
  EXPECT_EQ(Text(&w.dialog, monitor::kProgram), "1.14");
  EXPECT_EQ(w.dialog.windowTitle(), Ru("PDC-4120 — преобразователь частоты"));
  EXPECT_EQ(w.dialog.Pages()->Pages().PageCount(), 4);
  EXPECT_TRUE(w.dialog.ProfileMatched());

  // "Адрес Modbus" is holding register 104.
  CVisualObject* address = w.Find("Адрес Modbus");
  ASSERT_NE(address, nullptr);
  ASSERT_TRUE(WaitFor([&] { return address->IsIdle() && address->Led()->GetState() == CVisualObject::LedUpdated; }, 20000));
  auto* edit = control<QLineEdit>(address, objtemplates::kEditInput);
  ASSERT_NE(edit, nullptr);
  edit->selectAll();
  QTest::keyClicks(edit, "42");
  EXPECT_TRUE(WaitFor([&] { return w.place.Holding(104) == 42; }, 20000));

  // The queue readout, posted as from another thread: count high, signed id low.
  for (const auto& [word, text] : std::vector<std::pair<quint32, const char*>>{
           {(3u << 16) | 2u, " qc = 3, cur = 2"}, {(1u << 16) | 0xFFFFu, " qc = 1, cur = -1"}}) {
    QMetaObject::invokeMethod(&w.dialog, "OnQueueReadout", Qt::QueuedConnection, Q_ARG(quint32, word));
    EXPECT_TRUE(WaitFor([&] { return Text(&w.dialog, monitor::kQueueReadout) == text; }, 5000)) << text;
  }

  // F1 opens About with the name and the version the program was built as.
  QString about;
  OnModal<CAboutDlg>([&](CAboutDlg* box) {
    about = box->findChild<QLabel*>("aboutText")->text();
    box->accept();
  });
  QTest::keyClick(&w.dialog, Qt::Key_F1);
  EXPECT_TRUE(about.contains("<b>Kelmora " KELMORA_VERSION "</b>")) << about.toStdString();

  // Escape, pressed while typing, does not close the window.
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_TRUE(w.dialog.isVisible());

  // Closing stops the server (its worker ends on its own time) and the objects.
  w.dialog.done(QDialog::Rejected);
  EXPECT_TRUE(WaitFor([&] { return w.dialog.Server()->WorkerEnded(); }, 10000));
  for (const auto& object : w.dialog.Pages()->Objects())
    for (int timer : {CVisualObject::UpdateTimer, CVisualObject::QueryTimer, CVisualObject::PollTimer})
      EXPECT_FALSE(object->TimerRunning(timer)) << object->Property().caption << " " << timer;
}

TEST(MonitorDialog, SaveAndLoadGoThroughTheFlashAndReadAgain) {
  OpenWindow w;
  ASSERT_TRUE(w.opened);
  CVisualObject* address = w.Find("Адрес Modbus");
  ASSERT_NE(address, nullptr);
  ASSERT_TRUE(WaitFor([&] { return address->IsIdle() && address->Led()->GetState() == CVisualObject::LedUpdated; }, 20000));
  auto shows = [&](const char* text) {
    return WaitFor([&] { return Text(address, objtemplates::kTextData) == text; }, 20000);
  };

  // Save: the long-query dialog shows while the device writes its flash, then closes itself.
  w.place.SetHolding(104, 55);
  bool waited = false;
  OnModal<CSpecialDialog>([&](CSpecialDialog*) { waited = true; });
  Click(&w.dialog, monitor::kSave);
  EXPECT_TRUE(waited);
  EXPECT_EQ(w.place.FlashCopy(104), 55);
  EXPECT_TRUE(shows("55"));

  // Load brings the flash copy back (66, put there by the device itself), and the window
  // shows it without waiting for a cycle of its own.
  w.place.SetHolding(104, 66);
  w.place.SaveToFlashInDevice();
  w.place.SetHolding(104, 99);
  Click(&w.dialog, monitor::kLoad);
  EXPECT_EQ(w.place.Holding(104), 66);
  EXPECT_TRUE(shows("66"));
}

// The main window on kelmora-sim run as a program of its own: stopping it is an unplugged
// adapter (the line hangs up and the COM link goes), starting it again its return on the
// same link at another device path.
class UnpluggableWindow {
 public:
  UnpluggableWindow() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    fs::create_directories("profiles");
    for (const auto& file : fs::directory_iterator(fs::path(simtest::RichProfile()).parent_path()))
      fs::copy_file(file.path(), fs::path("profiles") / file.path().filename());
    Plug();
    dialog.SetAutoConnect(true);
    opened = dialog.OnInitDialog();
    dialog.show();
  }
  ~UnpluggableWindow() { dialog.done(QDialog::Rejected); }

  void Plug() {
    m_sim.emplace(std::vector<std::string>{"--com", "9", "--baud", "38400", "--profile", simtest::RichProfile()});
    ASSERT_FALSE(m_sim->DevicePath().empty()) << m_sim->Output();
  }
  void Unplug() {
    ASSERT_EQ(m_sim->Stop(SIGTERM), 0);
    m_sim.reset();
  }
  // Every object with a lamp of its own shows `state`.
  bool AllLamps(int state) const {
    for (const auto& object : dialog.Pages()->Objects())
      if (object->KeyWord() != "custom" && object->Led()->GetState() != state) return false;
    return true;
  }

  CMonitorDlg dialog;
  bool opened = false;

 private:
  simtest::SimFolder m_folder;
  QTemporaryDir m_settings;
  std::optional<simtest::SimProcess> m_sim;
};

TEST(MonitorDialog, AnUnpluggedAdapterIsReopenedAndEveryValueReadAgain) {
  UnpluggableWindow w;
  ASSERT_TRUE(w.opened);
  auto* status = control<QLabel>(&w.dialog, monitor::kLinkStatus);
  ASSERT_NE(status, nullptr);
  EXPECT_FALSE(status->isVisible());
  ASSERT_TRUE(WaitFor([&] { return w.AllLamps(CVisualObject::LedUpdated); }, 20000));

  w.Unplug();
  ASSERT_TRUE(WaitFor([&] { return status->isVisible(); }, 20000));
  EXPECT_EQ(status->text(), Ru("Связь с устройством потеряна, переподключение..."));
  EXPECT_TRUE(WaitFor([&] { return w.AllLamps(CVisualObject::LedFailed); }, 20000));
  // A status line of two lines fits the window's left column.
  EXPECT_GE(status->height(), status->heightForWidth(status->width()));

  const int64_t attempts = w.dialog.Server()->ReopenAttempts();
  w.Plug();
  QElapsedTimer back;
  back.start();
  ASSERT_TRUE(WaitFor([&] { return !status->isVisible(); }, 20000));
  // The port opened at the first or second try after the device came back (a try a second).
  EXPECT_LE(w.dialog.Server()->ReopenAttempts() - attempts, 2);
  EXPECT_EQ(w.dialog.Server()->Reconnects(), 1);
  // Every object shows the device's value again, those that read only once by themselves too,
  // because every object read at the reconnection.
  EXPECT_TRUE(WaitFor([&] { return w.AllLamps(CVisualObject::LedUpdated); }, 20000));
  RecordProperty("values_back_ms", static_cast<int>(back.elapsed()));
}

TEST(MonitorDialog, RecordsEveryValueReadUntilTheFileGoes) {
  OpenWindow w;
  ASSERT_TRUE(w.opened);
  Boxes boxes;
  EXPECT_EQ(MenuTexts(w.dialog), (QStringList{Ru("Записывать значения..."), Ru("Монитор обмена..."),
                                               Ru("Сохранить конфигурацию..."), Ru("Сравнить с конфигурацией..."),
                                               Ru("Язык"), "&About Kelmora..."}));
  // A file that cannot be written is refused with the reason, and nothing records.
  EXPECT_FALSE(w.dialog.StartRecording("missing/values.csv", CValueRecorder::Format::Csv));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text,
            Ru("Запись не начата: cannot write missing/values.csv: No such file or directory."));

  CDeviceView* server = w.dialog.Server();
  const uint64_t answeredBefore = server->RequestsAnswered();
  ASSERT_TRUE(w.dialog.StartRecording("values.csv", CValueRecorder::Format::Csv));
  Click(&w.dialog, monitor::kLoad);
  EXPECT_EQ(MenuTexts(w.dialog).front(), Ru("Остановить запись"));
  auto* status = control<QLabel>(&w.dialog, monitor::kRecordStatus);
  ASSERT_NE(status, nullptr);
  // Every object's value is recorded; those that read only once by themselves read again
  // after the flash load.
  std::set<int> wanted;
  for (const auto& object : w.dialog.Pages()->Objects()) wanted.insert(object->Property().id);
  auto recordedIds = [] {
    std::map<int, int> counts;
    const std::vector<std::string> rows = testing_support::ReadLines("values.csv");
    for (size_t i = 1; i < rows.size(); ++i) ++counts[std::stoi(rows[i].substr(rows[i].find(',') + 1))];
    return counts;
  };
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto counts = recordedIds();
        return std::all_of(wanted.begin(), wanted.end(), [&](int id) { return counts.count(id) > 0; });
      },
      20000));
  ASSERT_TRUE(WaitFor([&] { return status->text().startsWith(Ru("Запись, строк: ")); }, 20000));
  EXPECT_TRUE(status->isVisible());
  EXPECT_TRUE(status->text().endsWith("\nvalues.csv")) << status->text().toStdString();
  EXPECT_EQ(status->toolTip(), "values.csv");
  EXPECT_GE(status->height(), status->heightForWidth(status->width()));

  // Every read the server answered meanwhile has its row (one may have been in flight when the
  // recording started).
  server->SetSuspended(true);
  ASSERT_TRUE(WaitFor([&] { return server->WorkerEnded(); }, 20000));
  const uint64_t answered = server->RequestsAnswered() - answeredBefore;
  EXPECT_LE(answered - w.dialog.Recorder().Rows(), 1u) << answered;
  EXPECT_EQ(testing_support::ReadLines("values.csv").size(), w.dialog.Recorder().Rows() + 1);
  server->SetSuspended(false);

  // Removing the file ends the recording with a message.
  std::filesystem::remove("values.csv");
  ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 2; }, 20000));
  EXPECT_TRUE(boxes.shown[1].text.startsWith(Ru("Запись остановлена: the file values.csv was removed.\nЗаписано строк: ")))
      << boxes.shown[1].text.toStdString();
  EXPECT_FALSE(w.dialog.Recorder().Recording());
  EXPECT_FALSE(status->isVisible());
}

TEST(MonitorDialog, TheTrafficMonitorListsTheFramesAndTheLinkFigures) {
  OpenWindow w;
  ASSERT_TRUE(w.opened);
  EXPECT_TRUE(MenuTexts(w.dialog).contains(Ru("Монитор обмена...")));
  CTrafficDlg* monitor = w.dialog.ShowTraffic();
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(w.dialog.ShowTraffic(), monitor);  // one monitor, raised again
  CTrafficModel* model = monitor->Model();
  // The frames logged before it opened are there, from the pages' first reads on.
  ASSERT_TRUE(WaitFor([&] { return model->rowCount() > 40; }, 20000));
  EXPECT_EQ(model->data(model->index(0, CTrafficModel::kDirection), Qt::DisplayRole).toString(), Ru("→ запрос"));
  EXPECT_TRUE(model->data(model->index(0, CTrafficModel::kBytes), Qt::DisplayRole).toString().startsWith("0A 0"));
  EXPECT_EQ(model->data(model->index(1, CTrafficModel::kResult), Qt::DisplayRole).toString(), "OK");
  EXPECT_EQ(model->data(model->index(1, CTrafficModel::kCrc), Qt::DisplayRole).toString(), Ru("верна"));
  ASSERT_TRUE(WaitFor([&] { return monitor->Figure("rate")->text().toDouble() > 0; }, 20000));
  EXPECT_EQ(monitor->Figure("timeouts")->text(), "0");
  EXPECT_EQ(monitor->Figure("crc")->text(), "0");
  EXPECT_TRUE(monitor->Figure("use")->text().endsWith(Ru(" % от 38400 бит/с")));
  // Copy gives the trace's lines; Save writes every frame.
  EXPECT_TRUE(monitor->SelectedText().startsWith(QString::fromStdString(CTrafficLog::FrameLine(model->Frame(0))) + "\n"));
  EXPECT_TRUE(monitor->SelectedText().contains("  ->  0A 0"));
  monitor->SetPaused(true);
  const int rows = model->rowCount();
  QTest::qWait(3 * CTrafficDlg::kRefreshMs);
  EXPECT_EQ(model->rowCount(), rows);
  QString why;
  ASSERT_TRUE(monitor->SaveTo("traffic.txt", why)) << why.toStdString();
  EXPECT_EQ(testing_support::ReadLines("traffic.txt").size(), static_cast<size_t>(rows));
  EXPECT_FALSE(monitor->SaveTo("missing/traffic.txt", why));
  EXPECT_FALSE(why.isEmpty());
  monitor->SetPaused(false);
  EXPECT_TRUE(WaitFor([&] { return model->rowCount() > rows; }, 20000));
  // Every figure and caption fits its label.
  for (QLabel* label : monitor->findChildren<QLabel*>())
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
}

TEST(MonitorDialog, AConfigurationFileIsSavedComparedAndApplied) {
  OpenWindow w;
  ASSERT_TRUE(w.opened);
  Boxes boxes;
  EXPECT_TRUE(MenuTexts(w.dialog).contains(Ru("Сравнить с конфигурацией...")));
  ASSERT_TRUE(w.dialog.SaveConfiguration("drive.json"));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.endsWith(Ru(", в файл drive.json."))) << boxes.shown[0].text.toStdString();

  // "Адрес Modbus" (holding register 104) changes on the device: the file puts it back, and
  // the flash save that follows keeps it.
  const uint16_t saved = w.place.Holding(104);
  w.place.SetHolding(104, saved + 7);
  boxes.shown.clear();
  appmsg::SetSink([&](QWidget*, appmsg::Box& box) {
    box.answer = true;
    boxes.shown.push_back(box);
  });
  bool seen = false;
  OnModal<CSnapshotDlg>([&](CSnapshotDlg* dialog) {
    seen = true;
    QTableWidget* table = dialog->Table();
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_TRUE(table->item(0, CSnapshotDlg::kSetting)->text().endsWith(Ru("Адрес Modbus")));
    EXPECT_EQ(table->item(0, CSnapshotDlg::kFile)->text(), QString::number(saved));
    EXPECT_EQ(table->item(0, CSnapshotDlg::kDevice)->text(), QString::number(saved + 7));
    dialog->ApplyButton()->click();
    EXPECT_EQ(table->item(0, CSnapshotDlg::kResult)->text(), Ru("записано и проверено"));
    dialog->accept();
  });
  ASSERT_TRUE(w.dialog.CompareConfiguration("drive.json"));
  EXPECT_TRUE(seen);
  EXPECT_EQ(w.place.Holding(104), saved);
  EXPECT_EQ(w.place.FlashCopy(104), saved);
  ASSERT_EQ(boxes.shown.size(), 1u);  // the flash question, answered yes
  EXPECT_TRUE(boxes.shown[0].question);

  // A file of another device asks first; No ends it there.
  QFile file("drive.json");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QByteArray text = file.readAll().replace("PDC-4120", "PDC-9000");
  file.close();
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text);
  file.close();
  boxes.shown.clear();
  appmsg::SetSink([&](QWidget*, appmsg::Box& box) { boxes.shown.push_back(box); });
  EXPECT_FALSE(w.dialog.CompareConfiguration("drive.json"));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.startsWith(Ru("Файл сделан для устройства PDC-9000 2.03, а подключено PDC-4120 2.03.")));
}

TEST(LongQueryDialog, CancelAbortsAndTheDialogClosesOnTheFinalState) {
  OpenWindow w(60000);  // a flash save that would take a minute
  ASSERT_TRUE(w.opened);
  CDeviceView* server = w.dialog.Server();
  CSpecialDialog wait(server, server->RequestFlashSave(), &w.dialog);
  wait.show();
  ASSERT_TRUE(WaitFor([&] { return wait.Handle().state == QueryHandle::InProcess; }, 20000));
  EXPECT_TRUE(wait.isVisible());
  Click(&wait, longquery::kCancel);
  EXPECT_TRUE(wait.CancelRequested());
  ASSERT_TRUE(WaitFor([&] { return !wait.isVisible(); }, 20000));
  EXPECT_EQ(wait.result(), 1);
  EXPECT_NE(wait.Handle().state, QueryHandle::Updated);
  EXPECT_TRUE(wait.Handle().IsFinal());
}

TEST(StartUp, CommandLine) {
  struct Case {
    std::vector<std::string> arguments;
    bool ok, help, autoConnect, userFolder;
  };
  for (const Case& c : std::vector<Case>{{{"--help"}, true, true, false, false},
                                         {{"--auto-connect", "-platform", "offscreen"}, true, false, true, false},
                                         {{"--user-folder", "--auto-connect"}, true, false, true, true},
                                         {{"-style", "fusion"}, true, false, false, false},
                                         {{"--auto"}, false, false, false, false},
                                         {{"profiles"}, false, false, false, false}}) {
    kelmora::AppOptions options;
    std::string error;
    EXPECT_EQ(kelmora::ParseAppOptions(c.arguments, options, error), c.ok) << c.arguments[0];
    if (!c.ok) {
      EXPECT_NE(error.find(c.arguments[0]), std::string::npos) << error;
    }
    EXPECT_EQ(options.help, c.help) << c.arguments[0];
    EXPECT_EQ(options.autoConnect, c.autoConnect) << c.arguments[0];
    EXPECT_EQ(options.userFolder, c.userFolder) << c.arguments[0];
  }
}

// The real executable, started as a user would start it, against the same device.
class ProgramRun {
 public:
  explicit ProgramRun(Workplace& place) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", place.SettingsFolder());
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(QString::fromStdString(place.Folder()));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(KELMORA_PROGRAM), {"--auto-connect"});
  }
  ~ProgramRun() {
    if (m_process.state() != QProcess::NotRunning) m_process.kill();
    m_process.waitForFinished(5000);
  }
  bool Started() { return m_process.waitForStarted(10000); }
  // SIGTERM, as a session ending sends it; the exit code, -1 when it did not end.
  int Terminate() {
    m_process.terminate();
    return m_process.waitForFinished(20000) && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
  }

 private:
  QProcess m_process;
};

TEST(StartUp, EndLogAndFaultLogOfARun) {
  for (const bool logWritable : {true, false}) {
    SCOPED_TRACE(logWritable ? "writable fault log" : "fault log that cannot be opened");
    Workplace place;
    if (logWritable) {
      std::ofstream("faults.log") << "from the previous run\n";
    } else if (geteuid() == 0) {
      fs::create_directory("faults.log");  // root writes read-only files: a folder cannot be opened at all
    } else {
      std::ofstream("faults.log") << "kept\n";
      fs::permissions("faults.log", fs::perms::owner_read);
    }
    ProgramRun program(place);
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(WaitFor([] { return testing_support::ReadTextFile("end.log") == "0"; }, 20000));
    // Running with its pages up: the plug-in was loaded (or, without a log, the worker log grows).
    ASSERT_TRUE(WaitFor(
        [&] {
          return logWritable ? testing_support::ReadTextFile("faults.log").find("Plug-in") != std::string::npos
                             : fs::file_size("WorkThread.log") > 0;
        },
        20000));
    EXPECT_EQ(testing_support::ReadTextFile("end.log"), "0");
    EXPECT_EQ(program.Terminate(), 0);
    EXPECT_EQ(testing_support::ReadTextFile("end.log"), "1");
    if (logWritable) {
      const auto lines = testing_support::ReadLines("faults.log");
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), "Загрузка системных библиотек...");
    } else if (geteuid() != 0) {
      EXPECT_EQ(testing_support::ReadTextFile("faults.log"), "kept\n");
    }
  }
}

}  // namespace
