// Start-up time: from starting the program to the first value shown on a page. The program
// runs as a child process (this executable with --child, which runs the program's own main
// window with the wizard confirmed as soon as the device is identified, offscreen), so the
// time includes starting the process, Qt, loading the profiles, the wizard's connection and
// identification, the server, page building and the first read. The child reports the moment
// an object first shows a value; both sides read the same monotonic clock.
//
// The device is the rich demo profile on the simulator, served in this process on a pty that
// COM 9 names. Two working folders: the demo profiles, and the demo profiles plus 50 generated
// ones. Each is started five times; the median is reported.
//
// Usage: bench_startup [runs]   (default 5)
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/KelmoraDlg.h"
#include "app/MonitorPages.h"
#include "tests/sim/SimTestSupport.h"
#include "widgets/SplashScreen.h"

namespace fs = std::filesystem;

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The child: the program's start-up path; prints the clock when the first value shows.
int Child() {
  int argc = 1;
  char name[] = "kelmora";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmora"));
  CSplashScreen splash;
  splash.ShowCentered();
  CMonitorDlg dialog(&splash);
  dialog.SetAutoConnect(true);
  if (!dialog.OnInitDialog()) return 1;
  dialog.show();
  QElapsedTimer limit;
  limit.start();
  while (limit.elapsed() < 30000) {
    for (const auto& object : dialog.Pages()->Objects()) {
      if (object->KeyWord() != "custom" && object->Led()->GetState() == CVisualObject::LedUpdated) {
        std::printf("%.3f\n", NowMs());
        std::fflush(stdout);
        dialog.done(QDialog::Accepted);
        return 0;
      }
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return 1;
}

// Starts the child in `folder`; the milliseconds to its first value, or -1.
double StartOnce(const std::string& folder) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const double started = NowMs();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    if (chdir(folder.c_str()) != 0) _exit(127);
    execl("/proc/self/exe", "bench_startup", "--child", nullptr);
    _exit(127);
  }
  close(pipeFds[1]);
  std::string output;
  char buffer[256];
  for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, got);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty()) return -1;
  return std::stod(output) - started;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? -1 : values[values.size() / 2];
}

// A working folder with the demo profiles and `generated` more devices made from the rich one.
std::string MakeFolder(const fs::path& root, const std::string& name, int generated) {
  const fs::path folder = root / name;
  fs::create_directories(folder / "profiles");
  const fs::path demo = fs::path(simtest::RichProfile()).parent_path();
  for (const auto& file : fs::directory_iterator(demo)) fs::copy_file(file.path(), folder / "profiles" / file.path().filename());
  std::ifstream in(simtest::RichProfile());
  const std::string rich((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (int n = 0; n < generated; ++n) {
    char device[32];
    std::snprintf(device, sizeof device, "GEN-%02d", n);
    std::ofstream(folder / "profiles" / (std::string(device) + ".xml"))
        << std::regex_replace(rich, std::regex("name=\"PDC-4120\""), "name=\"" + std::string(device) + "\"");
  }
  return folder.string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--child") return Child();
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  simtest::SimFolder root;  // working folder and the ports folder for COM 9
  simtest::SimRig rig(simtest::RichProfile());
  rig.DisconnectMaster();
  fs::create_directories(root.PortsFolder());
  fs::create_symlink(rig.Path(), root.PortsFolder() + "/com9");
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("XDG_CONFIG_HOME", (root.Path() + "/config").c_str(), 1);  // the wizard's defaults

  std::printf("startup: from starting the program to the first value on a page, against the simulator\n");
  std::printf("(median of %d starts, offscreen, wizard confirmed once the device is identified)\n\n", runs);
  double results[2] = {-1, -1};
  const struct {
    const char* name;
    int generated;
  } cases[] = {{"demo", 0}, {"50-profiles", 50}};
  for (int c = 0; c < 2; ++c) {
    const std::string folder = MakeFolder(root.Path(), cases[c].name, cases[c].generated);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
      const double ms = StartOnce(folder);
      if (ms >= 0) times.push_back(ms);
    }
    results[c] = Median(times);
    std::printf("  %-12s %3zu profiles  %zu/%d starts  median %7.1f ms", cases[c].name,
                static_cast<size_t>(std::distance(fs::directory_iterator(folder + "/profiles"), fs::directory_iterator())),
                times.size(), runs, results[c]);
    if (!times.empty())
      std::printf("  (min %.1f, max %.1f)", *std::min_element(times.begin(), times.end()),
                  *std::max_element(times.begin(), times.end()));
    std::printf("\n");
  }
  std::printf("\n  targets: demo <= 1000 ms, 50 profiles <= 1500 ms; 50 profiles / demo = %.2f\n",
              results[0] > 0 ? results[1] / results[0] : 0.0);
  std::printf("startup ms_demo=%.0f ms_50_profiles=%.0f\n", results[0], results[1]);
  return 0;
}
