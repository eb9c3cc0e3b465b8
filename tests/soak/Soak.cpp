// kelmora-soak: the main window, offscreen, watching the rich demo device for a shift in
// miniature. kelmora-sim runs as a program of its own on a noisy line (lost requests, bad
// CRCs, noise before answers, slow answers) and is unplugged every two minutes: it exits, so
// the line hangs up and the COM link goes, and comes back a few seconds later on the same link.
// At the end a quiet device whose values stand still takes its place, and the run checks:
//   - the window's event loop and the server's worker never stalled (no hang) and the
//     program did not crash (the caller sees the exit status);
//   - the resident memory after the warm-up grew by at most 5 %;
//   - every value the objects show equals what the device holds, read afresh over the line;
//   - the fault log holds only the kinds of lines a noisy, unplugged line explains.
// The last line is "soak minutes=M requests=N rss_growth_pct=G reconnects=R wrong_values=W";
// the exit code is 0 when every check held, 1 otherwise.
//
// Run it in a folder of its own holding the demo profiles in profiles/ (./run soak does).
#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <fcntl.h>
#include <unistd.h>
#include <sys/wait.h>

#include "app/KelmoraDlg.h"
#include "app/MonitorPages.h"
#include "comm/Connection.h"
#include "comm/FaultLog.h"
#include "comm/ModbusDevice.h"
#include "visualobject/VisualObject.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUnplugEveryS = 120;
constexpr int kAwayS = 3;           // how long the device stays unplugged
constexpr int kSampleEveryMs = 1000;
constexpr int kStallLimitMs = 15000;  // no event-loop turn or no request for this long is a hang

double RssMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// kelmora-sim as a child process on COM 9; its output goes to sim.log.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> args) {
    m_pid = fork();
    if (m_pid == 0) {
      const int log = ::open("sim.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(log, 1);
      dup2(log, 2);
      std::vector<char*> argv;
      std::string program = KELMORA_SIM_EXE;
      argv.push_back(program.data());
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Simulator() { Stop(); }
  // SIGTERM, and waits for the exit (the simulator removes its link on the way out).
  void Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
  }

 private:
  pid_t m_pid = -1;
};

std::vector<std::string> SimArguments(bool noisy, int seed) {
  std::vector<std::string> args{"--com", "9", "--baud", "38400", "--pace", "--profile", "profiles/PDC-4120.xml",
                                "--seed", std::to_string(seed)};
  if (noisy) {
    for (const char* a : {"--drop", "0.05", "--corrupt", "0.02", "--garbage", "0.02", "--delay", "3"}) args.push_back(a);
  } else {
    args.push_back("--still");
  }
  return args;
}

bool WaitForLink(int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (fs::exists("ports/com9")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Runs the event loop until `done` holds or `ms` passed; false on time-out.
bool Spin(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void SpinFor(int ms) {
  Spin([] { return false; }, ms);
}

// The lines a noisy, unplugged line explains: time-outs; answers for another request, and a
// pack read answered with another length, both from an answer that came after its request
// had timed out (RTU frames carry no transaction number); the port failing as the device
// goes; and the link's loss and return.
bool ExpectedFaultLine(const std::string& line) {
  static const std::vector<std::regex> kinds{
      std::regex(R"(^F Timeout exceeded eplased [0-9.]+ in file Modbus\.cpp$)"),
      std::regex(R"(^F Unexpected device behavior\. Get answer for other request in file Modbus\.cpp$)"),
      std::regex(R"(^F CPackManager::Result of wrong length in file PackManager\.cpp$)"),
      std::regex(R"(^F Serial port (read|write|wait) failed with code (1167|6)\b.* in file ComPortChannel\.cpp$)"),
      std::regex(R"(^Device link lost: reopening the port every second$)"),
      std::regex(R"(^Device link restored$)"),
      std::regex(R"(^Port reopened: COM9 \(.*\)$)"),
  };
  for (const std::regex& kind : kinds)
    if (std::regex_match(line, kind)) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
  if (!(minutes > 0)) {
    std::fprintf(stderr, "usage: kelmora-soak [MINUTES]\n");
    return 2;
  }
  setenv("KELMORA_PORTS_DIR", (fs::current_path() / "ports").c_str(), 1);
  fs::create_directories("ports");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((fs::current_path() / "config").string()));
  QApplication app(argc, argv);

  // A quiet device for the opening, so the wizard's identification cannot be what fails; the
  // noisy one takes its place at once, which is the first reconnection of the run.
  int seed = 1;
  auto sim = std::make_unique<Simulator>(SimArguments(false, seed));
  if (!WaitForLink(10000)) {
    std::fprintf(stderr, "soak: the simulated device did not start (see sim.log)\n");
    return 1;
  }
  auto dialog = std::make_unique<CMonitorDlg>();
  dialog->SetAutoConnect(true);
  if (!dialog->OnInitDialog() || dialog->Server() == nullptr) {
    std::fprintf(stderr, "soak: the main window did not open on the simulated device\n");
    return 1;
  }
  dialog->show();
  CDeviceView& server = *dialog->Server();
  const size_t startupLines = [] {
    std::ifstream in(faultlog::kFileName);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }();

  // A hang: the event loop stops turning, or the worker stops answering while the device is there.
  std::atomic<double> lastTurn{0};
  QElapsedTimer clock;
  clock.start();
  QTimer heartbeat;
  QObject::connect(&heartbeat, &QTimer::timeout, [&] { lastTurn = static_cast<double>(clock.elapsed()); });
  heartbeat.start(100);
  std::atomic<bool> finished{false};
  std::atomic<bool> hung{false};
  std::thread watchdog([&] {
    uint64_t lastCount = server.RequestsAnswered();
    double lastProgress = static_cast<double>(clock.elapsed());
    while (!finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      const double now = static_cast<double>(clock.elapsed());
      if (server.RequestsAnswered() != lastCount || server.LinkLost()) {
        lastCount = server.RequestsAnswered();
        lastProgress = now;
      }
      if (now - lastTurn > kStallLimitMs || now - lastProgress > kStallLimitMs) {
        std::fprintf(stderr, "soak: hang: the event loop last turned %.0f ms ago, the worker last answered %.0f ms ago\n",
                     now - lastTurn, now - lastProgress);
        hung = true;
        std::fflush(stderr);
        std::_Exit(1);
      }
    }
  });

  sim = std::make_unique<Simulator>(SimArguments(true, ++seed));
  const double endMs = minutes * 60000.0;
  const double warmUpMs = std::min(60000.0, endMs / 4);
  double rssAfterWarmUp = 0, rssEnd = 0;
  double nextUnplugMs = kUnplugEveryS * 1000.0;
  while (clock.elapsed() < endMs) {
    SpinFor(kSampleEveryMs);
    const double now = static_cast<double>(clock.elapsed());
    if (rssAfterWarmUp == 0 && now >= warmUpMs) rssAfterWarmUp = RssMegabytes();
    if (now >= nextUnplugMs && now + kAwayS * 1000.0 < endMs) {
      sim.reset();
      SpinFor(kAwayS * 1000);
      sim = std::make_unique<Simulator>(SimArguments(true, ++seed));
      nextUnplugMs += kUnplugEveryS * 1000.0;
    }
  }
  rssEnd = RssMegabytes();

  // The end: a quiet device whose values stand still, then every object's value against it.
  sim.reset();
  SpinFor(kAwayS * 1000);
  sim = std::make_unique<Simulator>(SimArguments(false, ++seed));
  const int64_t reconnectsBefore = server.Reconnects();
  const auto& objects = dialog->Pages()->Objects();
  auto lamped = [](const std::unique_ptr<CVisualObject>& object) { return object->KeyWord() != "custom"; };
  const bool settled = Spin(
      [&] {
        if (server.Reconnects() == reconnectsBefore) return false;
        for (const auto& object : objects)
          if (lamped(object) && object->Led()->GetState() != CVisualObject::LedUpdated) return false;
        return true;
      },
      60000);
  SpinFor(3000);  // every periodic object reads at least once more
  // What each object shows: taken the moment its query is final, since a periodic object is
  // often in the middle of its next read (the values stand still, so any answered read counts).
  struct Shown {
    std::string caption;
    ModbusMapping mapping;
    std::vector<int32_t> values;
    bool updated = false;
  };
  std::vector<Shown> shown;
  std::vector<const CVisualObject*> pending;
  for (const auto& object : objects)
    if (lamped(object)) pending.push_back(object.get());
  shown.resize(pending.size());
  Spin(
      [&] {
        bool all = true;
        for (size_t i = 0; i < pending.size(); ++i) {
          if (shown[i].updated) continue;
          const CVisualObject* object = pending[i];
          const QueryHandle& handle = object->CurrentHandle();
          shown[i].caption = object->Property().caption;
          shown[i].mapping = object->Property().mapping;
          if (handle.state != QueryHandle::Updated) {
            all = false;
            continue;
          }
          // A read shows what it got; an input object (which "force_update" makes send its
          // value every two seconds) shows what it last sent.
          shown[i].values = handle.kind == 0 ? handle.values : std::vector<int32_t>{const_cast<CVisualObject*>(object)->GetValue()};
          shown[i].updated = true;
        }
        return all;
      },
      20000);
  const uint64_t requests = server.RequestsAnswered();
  const int64_t reconnects = server.Reconnects();
  finished = true;
  watchdog.join();
  dialog->done(QDialog::Rejected);
  dialog.reset();

  // What the device holds, read over a connection of our own.
  int wrongValues = 0;
  CConnection connection;
  ConnectionSettings settings;
  settings.serialNumber = 9;
  settings.baudRate = 38400;
  settings.modbusSlaveNumber = 10;
  std::string why;
  if (!connection.Create(settings, &why)) {
    std::fprintf(stderr, "soak: cannot open the port to check the values: %s\n", why.c_str());
    return 1;
  }
  ModbusDevice device(connection.Protocol());
  device.SetTimeout(500);
  for (const Shown& s : shown) {
    const ModbusAnswer held = device.ReadElement(s.mapping);
    // A single register reads back sign-extended; what was sent may be its unsigned form.
    auto same = [&](const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] & 0xFFFF) != (b[i] & 0xFFFF) && a[i] != b[i]) return false;
      return true;
    };
    if (!s.updated || held.code != 0 || !same(held.values, s.values)) {
      ++wrongValues;
      std::fprintf(stderr, "soak: \"%s\" shows %s%d, the device holds %d (answer code %u)\n", s.caption.c_str(),
                   s.updated ? "" : "no value: ", s.values.empty() ? 0 : s.values.front(),
                   held.values.empty() ? 0 : held.values.front(), held.code);
    }
  }
  connection.Close();
  sim.reset();

  int unexpected = 0;
  {
    std::ifstream in(faultlog::kFileName);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) {
      if (++n <= startupLines || ExpectedFaultLine(line)) continue;
      if (++unexpected <= 20) std::fprintf(stderr, "soak: unexpected fault log line: %s\n", line.c_str());
    }
  }

  const double growth = rssAfterWarmUp > 0 ? 100.0 * (rssEnd - rssAfterWarmUp) / rssAfterWarmUp : 0.0;
  std::fprintf(stderr, "soak: resident memory %.1f MiB after the warm-up (%.0f s), %.1f MiB at the end\n", rssAfterWarmUp,
               warmUpMs / 1000, rssEnd);
  bool ok = true;
  if (!settled) {
    std::fprintf(stderr, "soak: the objects did not all read the quiet device within 60 s\n");
    ok = false;
  }
  if (growth > 5.0) {
    std::fprintf(stderr, "soak: resident memory grew from %.1f MiB to %.1f MiB after the warm-up\n", rssAfterWarmUp, rssEnd);
    ok = false;
  }
  if (unexpected > 0) {
    std::fprintf(stderr, "soak: %d unexpected fault log lines\n", unexpected);
    ok = false;
  }
  ok = ok && wrongValues == 0 && !hung;
  std::printf("soak minutes=%g requests=%llu rss_growth_pct=%.1f reconnects=%lld wrong_values=%d\n", minutes,
              static_cast<unsigned long long>(requests), growth, static_cast<long long>(reconnects), wrongValues);
  return ok ? 0 : 1;
}
