// kelmora-cli watch --csv/--jsonl against the simulated device: a row for every value printed,
// and a file that a SIGKILL leaves whole.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <csignal>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "cli/Cli.h"
#include "tests/cli/CliRig.h"

using namespace testing_support;

namespace {

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(CliRecord, EveryValuePrintedHasItsRowInEitherFormat) {
  CliSimRig rig;
  ASSERT_TRUE(rig.SimUp());
  for (const std::string option : {"--csv", "--jsonl"}) {
    const std::string file = "values." + option.substr(2);
    std::ostringstream out, err;
    ASSERT_EQ(RunCli(rig.With({"watch", "--count", "3", "--interval", "10", option, file}), out, err), 0)
        << err.str();
    // The printed values, "ID CAPTION = VALUE", in the order they were read.
    std::vector<std::pair<std::string, std::string>> printed;
    const std::regex valueLine(R"((\d+) .* = (.*))");
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
      if (std::smatch m; std::regex_match(line, m, valueLine)) printed.emplace_back(m[1], m[2]);
    ASSERT_FALSE(printed.empty()) << out.str();

    std::vector<std::string> rows = ReadLines(file);
    if (option == "--csv") {
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(rows.front(), "time,id,caption,raw,value,state");
      rows.erase(rows.begin());
    }
    ASSERT_EQ(rows.size(), printed.size()) << option;
    const std::regex csvRow(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,(\d+),.*,-?\d+,(.*),Updated)");
    const std::regex jsonRow(
        R"re(\{"time":"\d{4}-\d\d-\d\dT[0-9:.]{12}[+-]\d\d:\d\d","id":(\d+),"caption":".*","raw":-?\d+,"value":"(.*)","state":"Updated"\})re");
    for (size_t i = 0; i < rows.size(); ++i) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(rows[i], m, option == "--csv" ? csvRow : jsonRow)) << rows[i];
      EXPECT_EQ(m[1], printed[i].first) << rows[i];
      // CSV quotes a value that holds a comma; neither format changes the text otherwise.
      std::string value = m[2];
      if (value.size() > 1 && value.front() == '"') value = value.substr(1, value.size() - 2);
      EXPECT_EQ(value, printed[i].second) << rows[i];
    }
    EXPECT_NE(err.str().find("recorded " + std::to_string(rows.size()) + " rows to " + file), std::string::npos)
        << err.str();
  }
}

TEST(CliRecord, AKilledWatchLeavesEveryRowWhole) {
  CliSimRig rig;
  ASSERT_TRUE(rig.SimUp());
  const pid_t child = fork();
  if (child == 0) {
    freopen("/dev/null", "w", stdout);
    std::vector<std::string> args = With({KELMORA_CLI_EXE}, rig.With({"watch", "--interval", "10", "--csv", "killed.csv"}));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ASSERT_GT(child, 0);
  // Killed in the middle of its rounds, after some hundred rows.
  EXPECT_TRUE(WaitFor([] { return std::filesystem::exists("killed.csv") && ReadLines("killed.csv").size() > 300; }, 20000));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  const std::string text = ReadTextFile("killed.csv");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');  // no half row at the end
  std::vector<std::string> rows = ReadLines("killed.csv");
  rows.erase(rows.begin());
  std::set<std::string> ids;
  for (const std::string& row : rows) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(row, m, std::regex(R"([0-9T:.+-]{29},(\d+),.*,-?\d+,.*,Updated)"))) << row;
    ids.insert(m[1]);
  }
  EXPECT_GT(ids.size(), 3u);  // every property, round after round
}
