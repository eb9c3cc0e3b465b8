#include "app/KelmoraApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <memory>
#include <cstdio>
#include <iostream>

#include "app/AboutDlg.h"
#include "app/KelmoraDlg.h"
#include "comm/FaultLog.h"
#include "app/Messages.h"
#include "app/Status.h"
#include "comm/TimedLog.h"
#include "platform/ProgramFolders.h"
#include "widgets/LogoArt.h"
#include "widgets/SplashScreen.h"

namespace kelmora {

bool WriteEndLog(const char* text) {
  std::FILE* file = std::fopen(kEndLog, "w");
  if (file == nullptr) return false;
  const bool written = std::fputs(text, file) >= 0;
  return std::fclose(file) == 0 && written;
}

bool ParseAppOptions(const std::vector<std::string>& arguments, AppOptions& options, std::string& error) {
  // Qt's own options with the value that follows them.
  static const std::vector<std::string> qtWithValue{"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                                    "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-style",
                                                    "-stylesheet", "-display", "-geometry", "-title", "-name"};
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == "--help" || a == "-h") {
      options.help = true;
    } else if (a == "--version") {
      options.version = true;
    } else if (a == "--auto-connect") {
      options.autoConnect = true;
    } else if (a == "--user-folder") {
      options.userFolder = true;
    } else if (a == "--lang" || a.rfind("--lang=", 0) == 0) {
      std::string code;
      if (a == "--lang") {
        if (i + 1 == arguments.size()) {
          error = "option '--lang' needs a language: ru or en";
          return false;
        }
        code = arguments[++i];
      } else {
        code = a.substr(7);
      }
      options.language = language::Parse(code);
      if (!options.language) {
        error = "unknown language '" + code + "' (ru or en)";
        return false;
      }
    } else if (std::find(qtWithValue.begin(), qtWithValue.end(), a) != qtWithValue.end()) {
      ++i;
    } else if (a.rfind("--", 0) == 0 || a.rfind("-", 0) != 0) {
      error = "unknown option '" + a + "'";
      return false;
    }
  }
  return true;
}

std::string AppHelpText() {
  return R"(Usage: kelmora [--auto-connect] [--user-folder] [--lang ru|en] [--version] [--help]

Kelmora connects to one Modbus RTU device over a COM port or an FTDI adapter, identifies it,
picks its profile from ./profiles and shows its values live.

  --auto-connect  finish the setup wizard by itself when the device is identified and a
                  profile matches it (the wizard still shows when anything needs a choice)
  --user-folder   work in $XDG_DATA_HOME/Kelmora (~/.local/share/Kelmora), made on first use,
                  whose profiles/shipped links to the installed profiles; the desktop menu
                  starts Kelmora so
  --lang ru|en    the language of the windows for this run: ru (Russian, the default) or en
                  (English); the main window's context menu stores the choice for later runs
  --version       print the version and exit
  --help          this text

Files in the working folder (the current folder unless --user-folder): profiles/ (read, with
its sub-folders), faults.log, end.log, WorkThread.log, Packs/.
Settings: ~/.config/Kelmora/kelmora.conf. COM numbers: see the README ("COM numbers").
)";
}

namespace {

int g_signalFds[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signalFds[0], &byte, 1);
}

// SIGTERM (a session ending, `kill`) and SIGINT (Ctrl+C in the shell that started it) close the
// main window the normal way: the server stops, the objects shut down and "end.log" says "1".
void CloseOnTerminate(QDialog* dialog) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, dialog);
  QObject::connect(notifier, &QSocketNotifier::activated, dialog, [dialog] {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(g_signalFds[1], &byte, 1);
    faultlog::PlainLine("Closing on a termination signal");
    // A wizard or message still open is closed first, so the main window's end is reached.
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()); modal != nullptr && modal != dialog)
      modal->reject();
    dialog->reject();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int RunKelmora(int argc, char** argv) {
  AppOptions options;
  std::string error;
  if (!ParseAppOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "kelmora: " << error << "\nTry 'kelmora --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << AppHelpText();
    return 0;
  }
  if (options.version) {
    std::cout << CAboutDlg::ProductLine().toStdString() << "\n";
    return 0;
  }
  // Every file of the run lives in the working folder, so it is settled before any is opened.
  std::string folderError;
  if (options.userFolder && !programfolders::EnterUserDataFolder(folderError)) {
    std::cerr << "kelmora: " << folderError << "\n";
    QApplication application(argc, argv);
    language::Apply(options.language.value_or(language::Stored()));
    appmsg::Error(nullptr, QCoreApplication::translate("Startup", "Не удалось подготовить рабочую папку Kelmora:\n%1")
                               .arg(QString::fromStdString(folderError)));
    return 1;
  }
  // The worker log opens before anything else runs, as a static of the process.
  WorkerLog();

  faultlog::Truncate();
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmora"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KELMORA_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.kelmora.Kelmora"));
  QApplication::setWindowIcon(logoart::BadgeWindowIcon());
  if (const language::Language wanted = options.language.value_or(language::Stored()); !language::Apply(wanted))
    faultlog::PlainLine(std::string("The translation for '") + language::Code(wanted) + "' did not load");

  CSplashScreen splash;
  splash.View()->SetVersionText();
  splash.ShowCentered();
  ShowStartupStatus(&splash, QT_TRANSLATE_NOOP("Startup", "Загрузка системных библиотек..."));
  WriteEndLog("0");
  auto dialog = std::make_unique<CMonitorDlg>(&splash);
  dialog->SetAutoConnect(options.autoConnect);
  CloseOnTerminate(dialog.get());
  dialog->exec();
  WriteEndLog("1");
  dialog.reset();
  return 0;
}

}  // namespace kelmora
