// A working folder with the simulator's test profile and kelmora-sim on COM9, for suites that
// run kelmora-cli against it.
#pragma once

#include <QSettings>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/sim/SimTestSupport.h"

class CliSimRig {
 public:
  explicit CliSimRig(const std::vector<std::string>& simOptions = {}) {
    std::filesystem::create_directories("profiles");
    std::filesystem::copy_file(simtest::TestProfile(), "profiles/sim-test.xml");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_dir.Path() + "/config"));
    setenv("KELMORA_PORTS_DIR", (m_dir.Path() + "/ports").c_str(), 1);
    Start(simOptions);
  }
  ~CliSimRig() { unsetenv("KELMORA_PORTS_DIR"); }

  // Starts the simulator (again, as a fresh device) with `simOptions` added.
  void Start(const std::vector<std::string>& simOptions = {}) {
    if (m_sim) m_sim->Stop(SIGTERM);  // it takes its COM link with it
    m_sim.reset();
    std::vector<std::string> args{"--link", m_dir.Path() + "/ports/com9", "--profile", simtest::TestProfile()};
    args.insert(args.end(), simOptions.begin(), simOptions.end());
    m_sim = std::make_unique<simtest::SimProcess>(args);
  }
  bool SimUp() { return !m_sim->DevicePath().empty(); }
  // The connection options that reach it, followed by `more`.
  std::vector<std::string> With(const std::vector<std::string>& more) const {
    std::vector<std::string> args{"--com", "9", "--baud", "38400", "--slave", "10"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

 private:
  testing_support::TempWorkDir m_dir;
  std::unique_ptr<simtest::SimProcess> m_sim;
};
