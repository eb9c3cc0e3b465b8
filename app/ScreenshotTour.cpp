// kelmora-screenshots: a guided run of the program that saves a picture of each window a new
// user meets: the splash, both pages of the setup wizard, every page of the main window, the
// long-query dialog over it, About, and the firmware wizard before and during an update.
//
// It runs the real windows against a real line: start it in a working folder whose profiles
// and COM 9 link lead to kelmora-sim (`./run screenshots` sets that up under xvfb-run). Where a
// person would click, it clicks; where a person would wait, it waits for what they wait for.
//
// The names say how the pictures were taken: "main-page-1.png" on a plain desktop,
// "main-page-1-2x.png" on a screen of device pixel ratio 2 (QT_SCALE_FACTOR=2), and
// "main-page-1-dark.png" with --dark, which runs every window in the Fusion style under a dark
// palette, and "main-page-1-en.png" with --lang en, in English.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include "app/AboutDlg.h"
#include "app/AppTemplates.h"
#include "app/FirmwareWizard.h"
#include "app/KelmoraDlg.h"
#include "app/Language.h"
#include "app/Messages.h"
#include "app/MonitorPages.h"
#include "app/SetupDialog.h"
#include "app/SnapshotDlg.h"
#include "app/SpecialDialog.h"
#include "app/Status.h"
#include "app/TrafficDlg.h"
#include "comm/Connection.h"
#include "firmware/LoaderMessage.h"
#include "widgets/DarkPalette.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/SplashScreen.h"
#include "widgets/TabCtrl.h"

namespace {

QString g_folder;
QString g_suffix;  // added to every picture's name: "-2x", "-dark"
int g_failures = 0;

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void Spin(int ms) { WaitFor([] { return false; }, ms); }

// Saves `window` as it looks now, with `overlay` (a dialog over it) drawn where it stands.
void Capture(QWidget* window, const QString& name, QWidget* overlay = nullptr) {
  QPixmap picture = window->grab();
  if (overlay != nullptr) {
    QPainter painter(&picture);
    const QPoint at = overlay->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0));
    painter.drawPixmap(at, overlay->grab());
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawRect(QRect(at, overlay->size()).adjusted(-1, -1, 0, 0));
  }
  const QString path = g_folder + QLatin1Char('/') + name + g_suffix + QStringLiteral(".png");
  if (picture.save(path)) {
    std::printf("%s\n", qPrintable(path));
  } else {
    std::fprintf(stderr, "kelmora-screenshots: cannot write %s\n", qPrintable(path));
    ++g_failures;
  }
}

void Fail(const char* what) {
  std::fprintf(stderr, "kelmora-screenshots: %s\n", what);
  ++g_failures;
}

void Click(QWidget* parent, int id) {
  if (auto* button = control<QPushButton>(parent, id)) button->click();
}

// Runs `act` once a modal dialog of type T is up (from inside its modal loop).
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  QTimer::singleShot(10, [act] {
    if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(modal);
    } else {
      WhenModal<T>(act);
    }
  });
}

// An image as a release build of the device's firmware comes: `bytes` bytes from address 0
// whose LPC ARM vector table carries its checksum, as Intel HEX, and for a boot loader that
// checks images ("FU$-IHEX" 2.00) the identity header and a checksum record per sector.
bool WriteImage(const QString& path, const FirmwareDescription& firmware, const QString& identity, int bytes) {
  std::vector<std::uint8_t> image(static_cast<size_t>(bytes));
  std::uint32_t seed = 4120;
  for (auto& byte : image) byte = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  std::uint32_t sum = 0;
  for (int at = 0; at < 0x20; at += 4)
    if (at != 0x14) sum += image[at] | image[at + 1] << 8 | image[at + 2] << 16 | std::uint32_t{image[at + 3]} << 24;
  for (int i = 0; i < 4; ++i) image[0x14 + i] = static_cast<std::uint8_t>((0u - sum) >> (8 * i));

  auto record = [](std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    std::uint8_t check = static_cast<std::uint8_t>(data.size() + (address >> 8) + address + type);
    QString line = QString::asprintf(":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    for (std::uint8_t byte : data) {
      line += QString::asprintf("%02X", byte);
      check = static_cast<std::uint8_t>(check + byte);
    }
    return line + QString::asprintf("%02X\n", static_cast<std::uint8_t>(-check) & 0xFF);
  };
  QString text;
  const bool checked = firmware.version == Version{2, 0};
  if (checked) text += identity.section(',', 0, 0) + "\n" + identity.section(',', 1, 1) + "\n";
  for (size_t at = 0; at < image.size(); at += 16) {
    if (at % 0x10000 == 0 && at > 0)
      text += record(0x04, 0, {static_cast<std::uint8_t>(at >> 24), static_cast<std::uint8_t>(at >> 16)});
    const size_t end = std::min(image.size(), at + 16);
    text += record(0x00, static_cast<std::uint16_t>(at), std::vector<std::uint8_t>(image.begin() + at, image.begin() + end));
  }
  if (checked) {
    for (const MemorySector& sector : firmware.memoryMap.Sectors()) {
      if (sector.start >= image.size()) continue;
      const size_t end = std::min<size_t>(image.size(), sector.end);
      const std::uint16_t crc = Crc16Arc(image.data() + sector.start, end - sector.start);
      text += record(0x6A, static_cast<std::uint16_t>(sector.start),
                     {static_cast<std::uint8_t>(sector.start >> 24), static_cast<std::uint8_t>(sector.start >> 16),
                      static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
    }
  }
  text += ":00000001FF\n";
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toLatin1()) == text.size();
}

void TourWizard(CSetupDialog* wizard) {
  using namespace templates::setup;
  if (!WaitFor([wizard] { return wizard->isVisible(); }, 10000)) return Fail("the setup wizard did not show");
  Spin(200);
  Capture(wizard, "setup-wizard");
  Click(wizard, kBack);
  Spin(200);
  Capture(wizard, "setup-wizard-serial");
  Click(wizard, kNext);  // detects the device again
  Spin(200);
  Click(wizard, kFinish);
}

void TourFirmware(CLoaderSheet* sheet, const QString& image, bool& complete) {
  using namespace templates;
  if (auto* path = control<QLineEdit>(sheet, loaderfile::kPath)) path->setText(image);
  Spin(200);
  Capture(sheet, "firmware-wizard-file");
  Click(sheet, loadersheet::kNext);
  auto* overall = control<CGradientProgressCtrl>(sheet, loaderprocess::kOverallBar);
  if (overall == nullptr || !WaitFor([overall] { return overall->GetPos() >= 540; }, 120000)) {
    Fail("the firmware update made no progress");
  } else {
    Capture(sheet, "firmware-wizard-progress");
  }
  if (!WaitFor([&complete] { return complete; }, 300000)) Fail("the firmware update did not complete");
  sheet->reject();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmora"));
  QStringList arguments = QCoreApplication::arguments().mid(1);
  const bool dark = arguments.removeAll(QStringLiteral("--dark")) > 0;
  std::optional<language::Language> lang;
  if (const qsizetype at = arguments.indexOf(QStringLiteral("--lang")); at >= 0 && at + 1 < arguments.size()) {
    lang = language::Parse(arguments[at + 1].toStdString());
    if (!lang) arguments.clear();  // an unknown language: the usage below
    arguments.remove(at, 2);
  }
  if (arguments.size() != 2 || arguments[0].startsWith(QLatin1Char('-'))) {
    std::fprintf(stderr,
                 "Usage: kelmora-screenshots [--dark] [--lang ru|en] OUTPUT_FOLDER BOOT_LOADER_IDENTITY (as kelmora-sim --identity A,B)\n"
                 "  --dark         every window in the Fusion style under a dark palette (pictures named *-dark.png)\n"
                 "  --lang ru|en   the windows' language; English pictures are named *-en.png\n"
                 "On a screen of device pixel ratio N other than 1 (QT_SCALE_FACTOR=N) the pictures are named *-Nx.png.\n");
    return 2;
  }
  // Before any window is made, so that every one starts from the dark palette.
  if (dark) UseDarkFusion(application);
  const qreal ratio = application.devicePixelRatio();
  if (ratio != 1.0) g_suffix += QStringLiteral("-%1x").arg(ratio);
  if (dark) g_suffix += QStringLiteral("-dark");
  if (lang == language::Language::English) g_suffix += QStringLiteral("-en");
  if (lang && !language::Apply(*lang)) {
    std::fprintf(stderr, "kelmora-screenshots: the translation did not load\n");
    return 1;
  }
  g_folder = arguments[0];
  const QString identity = arguments[1];
  const QString image = QDir::current().absoluteFilePath(QStringLiteral("firmware.hex"));
  QDir().mkpath(g_folder);
  appmsg::SetSink([](QWidget*, appmsg::Box& box) {
    std::fprintf(stderr, "kelmora-screenshots: message \"%s\"\n", qPrintable(box.text));
    ++g_failures;
  });

  CSplashScreen splash;
  splash.View()->SetVersionText();
  splash.ShowCentered();
  splash.SetStatusText(QCoreApplication::translate(kStartupContext, "Загрузка системных библиотек..."));
  Spin(100);
  Capture(&splash, "splash");

  CMonitorDlg dialog(&splash);
  QObject::connect(&dialog, &CMonitorDlg::WizardStarting, [](CSetupDialog* wizard) {
    QTimer::singleShot(0, wizard, [wizard] { TourWizard(wizard); });
  });
  if (!dialog.OnInitDialog()) {
    Fail("the setup wizard was cancelled");
    return 1;
  }
  dialog.show();
  const auto& objects = dialog.Pages()->Objects();
  if (!WaitFor(
          [&objects] {
            for (const auto& object : objects)
              if (object->KeyWord() != "custom" && object->Led()->GetState() != CVisualObject::LedUpdated) return false;
            return true;
          },
          30000))
    Fail("not every value was read within 30 s");
  Spin(6000);  // the charts gather a few seconds of points
  auto* tabs = control<CTabCtrl>(&dialog, templates::monitor::kTabs);
  for (int page = 0; page < dialog.Pages()->Pages().PageCount(); ++page) {
    tabs->SetCurSel(page);
    Spin(600);
    Capture(&dialog, QStringLiteral("main-page-%1").arg(page + 1));
  }
  tabs->SetCurSel(0);

  // A recording under way, with the context menu that stops it.
  if (!dialog.StartRecording(QDir::current().absoluteFilePath(QStringLiteral("values.csv")), CValueRecorder::Format::Csv))
    Fail("cannot record values");
  Spin(1500);
  {
    QMenu menu(&dialog);
    dialog.FillContextMenu(menu);
    menu.popup(dialog.mapToGlobal(QPoint(dialog.width() / 3, dialog.height() / 2)));
    Spin(300);
    Capture(&dialog, "main-recording", &menu);
    menu.close();
  }
  dialog.StopRecording();

  // A configuration file compared with the device after two settings changed.
  {
    const auto tourSink = appmsg::SetSink([](QWidget*, appmsg::Box&) {});
    const QString file = QDir::current().absoluteFilePath(QStringLiteral("drive-7.json"));
    if (!dialog.SaveConfiguration(file)) Fail("cannot save the configuration");
    ConfigSnapshot snapshot;
    std::string why;
    configsnapshot::Load(file.toStdString(), snapshot, why);
    for (SnapshotValue& value : snapshot.values)
      if (value.caption == "Время разгона, с" || value.caption == "Адрес Modbus") value.raw += 5;
    configsnapshot::Save(file.toStdString(), snapshot, why);
    WhenModal<CSnapshotDlg>([](CSnapshotDlg* compare) {
      Spin(300);
      Capture(compare, "configuration-compare");
      compare->reject();
    });
    dialog.CompareConfiguration(file);
    appmsg::SetSink(tourSink);
  }

  CTrafficDlg* traffic = dialog.ShowTraffic();
  Spin(2000);
  Capture(traffic, "traffic-monitor");
  traffic->close();

  WhenModal<CSpecialDialog>([&dialog](CSpecialDialog* wait) {
    Spin(700);
    Capture(&dialog, "long-query", wait);
  });
  dialog.OnSave();

  WhenModal<CAboutDlg>([](CAboutDlg* about) {
    Spin(200);
    Capture(about, "about");
    about->accept();
  });
  dialog.ShowAbout();

  if (!WriteImage(image, dialog.Profile().firmware, identity, 96 * 1024)) Fail("cannot write the firmware image");
  bool complete = false;
  WhenModal<CLoaderSheet>([&image, &complete](CLoaderSheet* sheet) { TourFirmware(sheet, image, complete); });
  RunFirmwareUpdate(&dialog, dialog.Connection()->Channel(), dialog.Profile(), dialog.ProfileMatched(), dialog.Server(),
                    [&complete](QWidget*, QMessageBox::Icon icon, const QString&, const QString& text) {
                      std::printf("%s\n", qPrintable(text));
                      if (icon == QMessageBox::Information && text.startsWith("COMPLETE")) {
                        complete = true;
                      } else {
                        ++g_failures;
                      }
                    });
  dialog.done(QDialog::Accepted);
  return g_failures == 0 ? 0 : 1;
}
