// Page refresh against the paced simulated device: how close the device pages come to the
// line's limit, next to kelmora-cli's watch loop on the same device, and what the pages cost
// in CPU. For 38400 and 115200 baud (8N1) it starts kelmora-sim, runs the pages of a profile of
// ten display objects (all at the default update frequency, so the line is the limit) in this
// process for the measuring time, then kelmora-cli watch as a child for the same time.
//
// Transactions are counted by the simulator, identically for both: it traces every answer
// frame it sends as a "TX" line, and the lines written during the window are the
// transactions. Values shown are the read results the pages collected as "Updated": the
// object hands each of them to its SetValue, so that is one value on the screen. CPU is
// getrusage(RUSAGE_SELF) user + system over the window (every thread of this process: the GUI
// thread, the server's worker and its watchdog) as a share of the window's wall time.
//
// The pages run twice: alone, and with the traffic monitor open on the same line (the master
// logging every frame, the monitor window taking them four times a second); the monitor's cost
// is the share of transactions the second run loses against the first.
//
// Usage: bench_gui_refresh [seconds]   (default 10)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "XMLParser/XDeviceProfileManager.h"
#include "app/MonitorPages.h"
#include "app/TrafficDlg.h"
#include "comm/Connection.h"
#include "comm/DeviceView.h"
#include "comm/ModbusDevice.h"
#include "tests/sim/SimTestSupport.h"
#include "widgets/TabCtrl.h"

namespace {

constexpr int kCom = 9;
constexpr int kSlave = 10;
// Before the window opens: the objects' start timers (526..1000 ms) have armed their update
// timers, and the CLI has identified the device and printed its first round.
constexpr int kWarmUpMs = 1500;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// CPU seconds (user + system) and wake-ups (context switches) of this process (all threads)
// or of the calling thread.
struct Usage {
  double cpu = 0;
  long wakeups = 0;
};
Usage UsageOf(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

// User + system CPU seconds of another process, from /proc (clock-tick resolution).
double CpuSecondsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');  // the command name may hold spaces
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {  // field 3 is the state
    if (index == 14) utime = std::stoull(field);
    if (index == 15) { stime = std::stoull(field); break; }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Counts the complete lines of a growing file that contain `marker`, reading only what was
// added since the last call.
class LineCounter {
 public:
  LineCounter(std::string path, std::string marker) : m_path(std::move(path)), m_marker(std::move(marker)) {}
  long Count() {
    std::ifstream in(m_path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(m_offset));
    for (std::string line; std::getline(in, line);) {
      if (in.eof()) break;  // a line still being written is counted next time
      m_offset += line.size() + 1;
      if (line.find(m_marker) != std::string::npos) ++m_count;
    }
    return m_count;
  }

 private:
  std::string m_path, m_marker;
  size_t m_offset = 0;
  long m_count = 0;
};

// The representation server as the pages use it, counting the read results they collect.
// TryQuery is the one call through which an object learns its result; a collected "Updated"
// read is exactly what the object passes to SetValue.
class CountingView : public CDeviceView {
 public:
  using CDeviceView::CDeviceView;
  bool TryQuery(QueryHandle& handle) override {
    const bool collected = CDeviceView::TryQuery(handle);
    if (collected && handle.state == QueryHandle::Updated && handle.kind == 0) ++m_shown;
    return collected;
  }
  long Shown() const { return m_shown; }

 private:
  long m_shown = 0;  // the GUI thread alone calls TryQuery
};

// Counts the timer and paint events the GUI thread handles, to show where its time goes.
class EventCounter : public QObject {
 public:
  long timers = 0, paints = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Timer) ++timers;
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

// Lets the event loop run for `ms` milliseconds.
void RunEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

struct Figures {
  bool ok = false;
  double txPerSecond = 0;
  double shownPerSecond = 0;  // GUI: values shown; CLI: values printed
  double cpuShare = 0;
  std::string detail;  // where the time went
};

// The device pages, as the main dialog builds them, on a connection to COM`kCom`; with
// `monitor`, the traffic monitor open beside them.
Figures RunGui(int baud, LineCounter& answers, double seconds, bool monitor) {
  Figures f;
  ConnectionSettings settings;
  settings.serialNumber = kCom;
  settings.baudRate = baud;
  settings.modbusSlaveNumber = kSlave;
  CConnection connection;
  std::string why;
  if (!connection.Create(settings, &why)) {
    std::fprintf(stderr, "gui: cannot open COM%d: %s\n", kCom, why.c_str());
    return f;
  }
  CXDeviceProfileManager manager;  // the profiles below ./profiles
  DeviceIdentity identity;
  const int index = IdentifyDevice(*connection.Protocol(), identity) ? FindMatchingProfile(manager.GetProfiles(), identity) : -1;
  if (index < 0) {
    std::fprintf(stderr, "gui: the device was not identified or has no profile\n");
    return f;
  }
  ModbusDevice device(connection.Protocol());
  CTrafficLog traffic;
  if (monitor) connection.Protocol()->exchangeTap = &traffic;
  {
    CountingView server(manager.GetProfiles()[index], &device);
    server.Create(nullptr, 0);
    QWidget dialog;
    dialog.resize(720, 480);
    auto* tabs = new CTabCtrl(&dialog);
    tabs->setGeometry(10, 10, 700, 460);
    auto pages = std::make_unique<CMonitorPages>(&dialog, tabs);
    pages->Build(&server, connection.Channel(), nullptr);
    dialog.show();
    std::unique_ptr<CTrafficDlg> trafficWindow;
    if (monitor) {
      trafficWindow = std::make_unique<CTrafficDlg>(&traffic);
      trafficWindow->show();
    }
    RunEvents(kWarmUpMs);

    EventCounter events;
    qApp->installEventFilter(&events);
    const long answers0 = answers.Count(), shown0 = server.Shown();
    const Usage process0 = UsageOf(RUSAGE_SELF), gui0 = UsageOf(RUSAGE_THREAD);
    const double wall0 = Now();
    RunEvents(static_cast<int>(seconds * 1000));
    const double wall = Now() - wall0;
    const Usage process1 = UsageOf(RUSAGE_SELF), gui1 = UsageOf(RUSAGE_THREAD);
    qApp->removeEventFilter(&events);
    const long tx = answers.Count() - answers0, shown = server.Shown() - shown0;

    // The GUI thread apart from the server's threads (worker and watchdog).
    const double guiCpu = gui1.cpu - gui0.cpu, cpu = process1.cpu - process0.cpu;
    const long guiWakeups = gui1.wakeups - gui0.wakeups, wakeups = process1.wakeups - process0.wakeups;
    char detail[256];
    std::snprintf(detail, sizeof detail,
                  "GUI thread %.1f%% CPU, %.0f wake-ups/s, %.0f timer events/s, %.0f paints/s; "
                  "server threads %.1f%% CPU, %.0f wake-ups/s",
                  100 * guiCpu / wall, guiWakeups / wall, events.timers / wall, events.paints / wall,
                  100 * (cpu - guiCpu) / wall, (wakeups - guiWakeups) / wall);
    f = {true, tx / wall, shown / wall, cpu / wall, detail};

    pages->Shutdown();  // stops the server; no object queries afterwards
    pages.reset();
  }  // the dialog, then the server go; the connection closes last
  connection.Protocol()->exchangeTap = nullptr;
  connection.Close();
  return f;
}

// kelmora-cli watch as a child, in the working folder (it finds ./profiles there).
Figures RunCli(int baud, LineCounter& answers, double seconds) {
  Figures f;
  const std::string output = "cli-" + std::to_string(baud) + ".out";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    const std::string com = std::to_string(kCom), rate = std::to_string(baud), slave = std::to_string(kSlave);
    // 10 ms is the shortest interval watch takes; a round of ten reads is longer, so rounds
    // follow each other without a pause.
    execl(KELMORA_CLI_EXE, "kelmora-cli", "--com", com.c_str(), "--baud", rate.c_str(), "--slave", slave.c_str(),
          "--data-bits", "8", "--parity", "none", "--stop", "1", "watch", "--interval", "10", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) {
    std::fprintf(stderr, "cli: cannot start kelmora-cli\n");
    return f;
  }
  LineCounter printed(output, " = ");  // one line per value read, "ID CAPTION = VALUE"
  const double started = Now();
  while (printed.Count() == 0 && Now() - started < 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (printed.Count() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kWarmUpMs));
    const long answers0 = answers.Count(), printed0 = printed.Count();
    const double wall0 = Now(), cpu0 = CpuSecondsOf(pid);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = CpuSecondsOf(pid) - cpu0, wall = Now() - wall0;
    const long tx = answers.Count() - answers0, values = printed.Count() - printed0;
    f = {true, tx / wall, values / wall, cpu / wall, {}};
  } else {
    std::fprintf(stderr, "cli: no output; see %s\n", output.c_str());
  }
  kill(pid, SIGINT);  // watch ends its round and closes the port
  int status = 0;
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
    if (waited == 5000) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 10.0;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  // A scratch working folder with the ports folder ($KELMORA_PORTS_DIR) and ./profiles.
  simtest::SimFolder folder;
  std::filesystem::create_directories(folder.PortsFolder());
  std::filesystem::create_directories("profiles");
  const std::string profile = folder.Path() + "/profiles/gui-refresh.xml";
  std::filesystem::copy_file(KELMORA_GUI_REFRESH_PROFILE, profile);

  std::printf("%-7s %9s %9s %9s %7s %12s %10s %8s %8s %12s %9s\n", "baud", "limit", "gui tx/s", "cli tx/s", "ratio",
              "gui values/s", "cli vals/s", "gui cpu", "cli cpu", "monitor tx/s", "mon cost");
  double ratio38400 = 0, cpu38400 = 0, cost38400 = 0, cost115200 = 0;
  for (const int baud : {38400, 115200}) {
    const std::string trace = folder.Path() + "/trace-" + std::to_string(baud) + ".log";
    simtest::SimProcess sim({"--com", std::to_string(kCom), "--baud", std::to_string(baud), "--pace", "--slave",
                             std::to_string(kSlave), "--profile", profile, "--trace", trace});
    if (sim.WaitForLine("serving", 5000).empty()) {
      std::fprintf(stderr, "kelmora-sim did not start:\n%s\n", sim.Output().c_str());
      continue;
    }
    LineCounter answers(trace, " TX ");
    const Figures gui = RunGui(baud, answers, seconds, false);
    const Figures monitored = RunGui(baud, answers, seconds, true);
    const Figures cli = RunCli(baud, answers, seconds);
    sim.Stop(SIGINT);

    // What the line allows for a one-register read: 8 bytes out, 7 back.
    sim::SimSlaveOptions line;
    line.line.baud = baud;
    const double limit = line.line.TransactionLimit(8, 7);
    if (!gui.ok || !monitored.ok || !cli.ok)
      std::fprintf(stderr, "%d baud: the %s run failed\n", baud, !gui.ok ? "GUI" : !monitored.ok ? "monitor" : "CLI");
    const double ratio = cli.txPerSecond > 0 ? gui.txPerSecond / cli.txPerSecond : 0;
    // The share of transactions lost with the monitor open (negative: it ran faster).
    const double cost = gui.txPerSecond > 0 ? 1 - monitored.txPerSecond / gui.txPerSecond : 0;
    std::printf("%-7d %9.1f %9.1f %9.1f %7.3f %12.1f %10.1f %7.1f%% %7.1f%% %12.1f %8.2f%%\n", baud, limit,
                gui.txPerSecond, cli.txPerSecond, ratio, gui.shownPerSecond, cli.shownPerSecond, gui.cpuShare * 100,
                cli.cpuShare * 100, monitored.txPerSecond, cost * 100);
    std::printf("        %s\n", gui.detail.c_str());
    std::printf("        with the monitor: %s\n", monitored.detail.c_str());
    std::fflush(stdout);
    if (baud == 38400) {
      ratio38400 = ratio;
      cpu38400 = gui.cpuShare;
      cost38400 = cost;
    } else {
      cost115200 = cost;
    }
  }
  std::printf("gui_refresh tx_ratio_vs_cli=%.3f cpu_share=%.3f monitor_cost_pct_38400=%.2f monitor_cost_pct_115200=%.2f\n",
              ratio38400, cpu38400, cost38400 * 100, cost115200 * 100);
  std::fflush(stdout);
  return 0;
}
