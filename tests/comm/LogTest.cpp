// The fault log's line kinds and the worker log's line format.
#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "comm/FaultLog.h"
#include "comm/TimedLog.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

TEST(FaultLogTest, LineKinds) {
  TempWorkDir dir;
  int* missing = nullptr;
  KELMORA_FAULT("Bad thing");
  KELMORA_EXCEPTION("m_sbPort->Purge()");
  EXPECT_FALSE(KELMORA_ASSERT_NOT_NULL(missing));
  faultlog::PlainLine("Загрузка системных библиотек...");
  EXPECT_EQ(ReadLines(faultlog::kFileName),
            (std::vector<std::string>{"F Bad thing in file LogTest.cpp",
                                      "F Exception while trying m_sbPort->Purge() in file LogTest.cpp",
                                      "F Assert: Expression is null missing in file LogTest.cpp",
                                      "Загрузка системных библиотек..."}));
  faultlog::Truncate();
  EXPECT_EQ(ReadTextFile(faultlog::kFileName), "");
}

TEST(FaultLogTest, UnwritableLogDropsEntries) {
  TempWorkDir dir;
  faultlog::PlainLine("kept");
  // root writes through file modes; a folder in place of the file stops it.
  const bool root = geteuid() == 0;
  if (root) {
    std::remove(faultlog::kFileName);
    mkdir(faultlog::kFileName, 0755);
  } else {
    chmod(faultlog::kFileName, 0444);
  }
  EXPECT_NO_THROW(faultlog::PlainLine("dropped"));
  EXPECT_NO_THROW(KELMORA_FAULT("dropped too"));
  // Once the log can be opened again, entries arrive again; the dropped ones stay dropped.
  if (root)
    rmdir(faultlog::kFileName);
  else
    chmod(faultlog::kFileName, 0644);
  faultlog::PlainLine("after");
  const std::vector<std::string> expected =
      root ? std::vector<std::string>{"after"} : std::vector<std::string>{"kept", "after"};
  EXPECT_EQ(ReadLines(faultlog::kFileName), expected);
}

TEST(FaultLogTest, LinesFromTwoThreadsStayWhole) {
  TempWorkDir dir;
  auto writer = [](char c) {
    for (int i = 0; i < 300; ++i) faultlog::PlainLine(std::string(200, c));
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  const auto lines = ReadLines(faultlog::kFileName);
  ASSERT_EQ(lines.size(), 600u);
  for (const auto& line : lines)
    ASSERT_TRUE(line == std::string(200, 'a') || line == std::string(200, 'b')) << line;
}

TEST(TimedLogTest, LinesCarryTheTimeSinceOpenAndTheGap) {
  TempWorkDir dir;
  TimedLog log;
  log.Write("before open");  // ignored
  ASSERT_TRUE(log.Open("WorkThread.log"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  log.Write("Begin Wait");
  log.Write("Begin PDU decode");
  log.Close();
  const auto lines = ReadLines("WorkThread.log");
  ASSERT_EQ(lines.size(), 3u);
  const std::regex line(R"(([0-9]+\.[0-9]{4})ms delay = ([0-9]+\.[0-9]{4})ms (.*))");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, line)) << lines[0];
  EXPECT_LT(std::stod(m[1]), 1.0);
  EXPECT_LT(std::stod(m[2]), 1.0);
  EXPECT_EQ(m[3], "Start session");
  ASSERT_TRUE(std::regex_match(lines[1], m, line)) << lines[1];
  EXPECT_GE(std::stod(m[1]), 19.0);
  EXPECT_GE(std::stod(m[2]), 19.0);
  EXPECT_EQ(m[3], "Begin Wait");
  ASSERT_TRUE(std::regex_match(lines[2], m, line));
  EXPECT_LT(std::stod(m[2]), 5.0);

  TimedLog unopenable;
  EXPECT_FALSE(unopenable.Open("no/such/folder/WorkThread.log"));
  unopenable.Write("ignored");
  EXPECT_FALSE(unopenable.IsOpen());
}

}  // namespace
