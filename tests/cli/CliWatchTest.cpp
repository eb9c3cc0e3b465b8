// kelmora-cli watch while the simulated device program is stopped and started again on the
// same COM link, as an adapter that is unplugged and plugged back in; and the commands through
// an RS-485-to-Ethernet converter (socat on the loopback address) that is switched off and on.
#include <gtest/gtest.h>

#include <QSettings>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/Cli.h"
#include "comm/DeviceView.h"
#include "platform/Clock.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/support/SocatRelay.h"

using namespace testing_support;

namespace {

// What a command running on another thread prints, readable while it is written.
class Transcript : public std::streambuf {
 public:
  std::string Text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      std::lock_guard lock(m_mutex);
      m_text += static_cast<char>(c);
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard lock(m_mutex);
    m_text.append(s, static_cast<size_t>(n));
    return n;
  }

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
};

// The rounds of a piped watch: each starts with the line that names the device.
std::vector<std::string> Rounds(const std::string& text) {
  std::vector<std::string> rounds;
  size_t at = 0;
  while ((at = text.find("SIM-TEST7 1.05 on ", at)) != std::string::npos) {
    const size_t next = text.find("SIM-TEST7 1.05 on ", at + 1);
    // Only whole rounds: one that the next has not yet followed may still be printing.
    if (next == std::string::npos) break;
    rounds.push_back(text.substr(at, next - at));
    at = next;
  }
  return rounds;
}

bool Healthy(const std::string& round) {
  return round.find(CDeviceView::kLinkLostText) == std::string::npos && round.find("Timeout") == std::string::npos &&
         round.find("Device Error") == std::string::npos;
}

TEST(CliWatch, RidesOutAnUnpluggedAdapter) {
  TempWorkDir dir;
  std::filesystem::create_directories("profiles");
  std::filesystem::copy_file(simtest::TestProfile(), "profiles/sim-test.xml");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path() + "/config"));
  const std::vector<std::string> simArgs{"--link", dir.Path() + "/ports/com9", "--profile", simtest::TestProfile()};
  setenv("KELMORA_PORTS_DIR", (dir.Path() + "/ports").c_str(), 1);
  auto sim = std::make_unique<simtest::SimProcess>(simArgs);
  ASSERT_FALSE(sim->DevicePath().empty()) << sim->Output();

  Transcript transcript;
  std::ostream out(&transcript);
  std::ostringstream err;
  int code = -1;
  std::thread watch([&] {
    code = RunCli({"--com", "9", "--baud", "38400", "--slave", "10", "watch", "--interval", "100"}, out, err);
  });
  auto rounds = [&] { return Rounds(transcript.Text()); };
  EXPECT_TRUE(WaitFor([&] { return !rounds().empty() && Healthy(rounds().back()); }, 20000)) << transcript.Text();

  sim->Stop(SIGTERM);
  sim.reset();
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto r = rounds();
        return !r.empty() && r.back().find(CDeviceView::kLinkLostText) != std::string::npos;
      },
      20000))
      << transcript.Text();

  sim = std::make_unique<simtest::SimProcess>(simArgs);
  ASSERT_FALSE(sim->DevicePath().empty()) << sim->Output();
  const size_t roundsBeforeReturn = rounds().size();
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto r = rounds();
        return r.size() > roundsBeforeReturn && Healthy(r.back());
      },
      20000))
      << transcript.Text();

  std::raise(SIGINT);  // as Ctrl+C ends a watch
  watch.join();
  EXPECT_EQ(code, 0) << err.str();
  unsetenv("KELMORA_PORTS_DIR");
}

// kelmora-sim on a pty of its own, reached through socat as through a converter in raw TCP
// mode, and the connection options that name it.
class BehindAConverter {
 public:
  BehindAConverter()
      : m_sim({"--link", m_dir.Path() + "/ports/com9", "--profile", simtest::TestProfile()}),
        m_converter(m_sim.DevicePath()) {
    std::filesystem::create_directories("profiles");
    std::filesystem::copy_file(simtest::TestProfile(), "profiles/sim-test.xml");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_dir.Path() + "/config"));
  }
  std::vector<std::string> With(std::vector<std::string> command) const {
    std::vector<std::string> args = {"--tcp", m_converter.Address(), "--slave", "10"};
    args.insert(args.end(), command.begin(), command.end());
    return args;
  }
  SocatRelay& Converter() { return m_converter; }

 private:
  TempWorkDir m_dir;
  simtest::SimProcess m_sim;
  SocatRelay m_converter;
};

TEST(CliTcp, EveryCommandWorksThroughAConverter) {
  BehindAConverter rig;
  const std::string port = "TCP " + rig.Converter().Address();
  const struct {
    std::vector<std::string> command;
    std::vector<std::string> shown;
  } cases[] = {
      {{"identify"}, {"port: " + port + "\n", "device: SIM-TEST7 1.05", "profile: \"SIM-TEST7 1.05\""}},
      {{"read", "preset", "fixed preset"}, {" preset = 1234\n", " fixed preset = 12.5\n"}},
      {{"write", "setpoint=42"}, {" setpoint = 42\n"}},
      {{"read", "setpoint"}, {" setpoint = 42\n"}},
      {{"watch", "--count", "2", "--interval", "10"}, {"SIM-TEST7 1.05 on " + port + "\n", " preset = 1234\n"}},
      {{"flash", "save"}, {"flash save: Updated"}},
  };
  for (const auto& c : cases) {
    // The converter serves one connection at a time, and each command makes one.
    ASSERT_TRUE(rig.Converter().Start()) << rig.Converter().Log();
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(rig.With(c.command), out, err), 0) << c.command[0] << ": " << err.str() << rig.Converter().Log();
    for (const std::string& text : c.shown) EXPECT_NE(out.str().find(text), std::string::npos) << text << " in\n" << out.str();
  }
}

TEST(CliWatch, RidesOutAConverterSwitchedOffAndOn) {
  BehindAConverter rig;
  Transcript transcript;
  std::ostream out(&transcript);
  std::ostringstream err;
  int code = -1;
  std::thread watch([&] { code = RunCli(rig.With({"watch", "--interval", "100"}), out, err); });
  auto rounds = [&] { return Rounds(transcript.Text()); };
  EXPECT_TRUE(WaitFor([&] { return !rounds().empty() && Healthy(rounds().back()); }, 20000)) << transcript.Text();
  EXPECT_NE(rounds().back().find(" on TCP " + rig.Converter().Address()), std::string::npos) << rounds().back();

  rig.Converter().Stop();
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto r = rounds();
        return !r.empty() && r.back().find(CDeviceView::kLinkLostText) != std::string::npos;
      },
      20000))
      << transcript.Text();

  ASSERT_TRUE(rig.Converter().Start()) << rig.Converter().Log();
  const size_t roundsBeforeReturn = rounds().size();
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto r = rounds();
        return r.size() > roundsBeforeReturn && Healthy(r.back());
      },
      20000))
      << transcript.Text() << rig.Converter().Log();

  std::raise(SIGINT);  // as Ctrl+C ends a watch
  watch.join();
  EXPECT_EQ(code, 0) << err.str();
}

}  // namespace
