// Recording values: the rows as written, files that cannot be written, and a recording that a
// full disk or a removed file ends.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tests/support/TestSupport.h"
#include "tools/ValueRecorder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

QueryHandle Read(int32_t id, std::string caption, int32_t state, std::vector<int32_t> values = {}) {
  QueryHandle h;
  h.property.id = id;
  h.property.caption = std::move(caption);
  h.property.kind = PropertyKind::Natural;
  h.state = state;
  h.values = std::move(values);
  return h;
}

// The zone is the process's: set one for the time stamps, and put the old one back after.
class Zone {
 public:
  explicit Zone(const char* tz) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~Zone() {
    if (m_old) setenv("TZ", m_old->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> m_old;
};

constexpr int64_t kMoment = 1796731445123;  // 2026-12-08T12:04:05.123Z

}  // namespace

TEST(ValueRecorder, RowsInBothFormats) {
  Zone zone("UTC-3");  // POSIX spelling of three hours east of Greenwich
  QueryHandle fixed = Read(7, "Частота, Гц", QueryHandle::Updated, {1234});
  fixed.property.kind = PropertyKind::RangedFix;
  fixed.property.divisor = 0.01;
  QueryHandle item = Read(3, "Режим \"A\", B", QueryHandle::Updated, {1});
  item.property.data = {"Стоп", "Пуск"};
  struct Case {
    QueryHandle handle;
    std::string csv, json;
  };
  for (const Case& c : std::vector<Case>{
           {fixed, "2026-12-08T15:04:05.123+03:00,7,\"Частота, Гц\",1234,12.34,Updated",
            R"j({"time":"2026-12-08T15:04:05.123+03:00","id":7,"caption":"Частота, Гц","raw":1234,"value":"12.34","state":"Updated"})j"},
           {item, "2026-12-08T15:04:05.123+03:00,3,\"Режим \"\"A\"\", B\",1,1 (Пуск),Updated",
            R"j({"time":"2026-12-08T15:04:05.123+03:00","id":3,"caption":"Режим \"A\", B","raw":1,"value":"1 (Пуск)","state":"Updated"})j"},
           {Read(9, "Line\nbreak", QueryHandle::Timeout), "2026-12-08T15:04:05.123+03:00,9,\"Line\nbreak\",,,Timeout",
            R"j({"time":"2026-12-08T15:04:05.123+03:00","id":9,"caption":"Line\nbreak","raw":null,"value":null,"state":"Timeout"})j"},
           {Read(4, "Статус", QueryHandle::DeviceError, {5}), "2026-12-08T15:04:05.123+03:00,4,Статус,,,Device Error",
            R"j({"time":"2026-12-08T15:04:05.123+03:00","id":4,"caption":"Статус","raw":null,"value":null,"state":"Device Error"})j"},
       }) {
    EXPECT_EQ(CValueRecorder::Row(CValueRecorder::Format::Csv, c.handle, kMoment), c.csv);
    EXPECT_EQ(CValueRecorder::Row(CValueRecorder::Format::JsonLines, c.handle, kMoment), c.json);
  }
  Zone west("<-0330>3:30");  // three and a half hours west
  EXPECT_EQ(CValueRecorder::Row(CValueRecorder::Format::Csv, Read(1, "x", QueryHandle::Timeout), kMoment).substr(0, 29),
            "2026-12-08T08:34:05.123-03:30");
}

TEST(ValueRecorder, RecordsEveryReadAsOneWholeLine) {
  TempWorkDir dir;
  CValueRecorder recorder;
  std::string why;
  ASSERT_TRUE(recorder.Start("values.csv", CValueRecorder::Format::Csv, why)) << why;
  for (int i = 0; i < 100; ++i) recorder.OnRead(Read(i % 5, "P", QueryHandle::Updated, {i}));
  // Each row is in the file as soon as it is recorded, before the recording ends.
  const auto lines = ReadLines("values.csv");
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[0], "time,id,caption,raw,value,state");
  EXPECT_EQ(lines[100].substr(lines[100].find(',')), ",4,P,99,99,Updated");
  EXPECT_EQ(recorder.Rows(), 100u);
  recorder.Stop();
  recorder.OnRead(Read(1, "P", QueryHandle::Updated, {1}));  // idle: nothing more
  EXPECT_EQ(ReadLines("values.csv").size(), 101u);
  EXPECT_EQ(CValueRecorder::FormatOf("a.JSONL"), CValueRecorder::Format::JsonLines);
  EXPECT_EQ(CValueRecorder::FormatOf("a.json.csv"), CValueRecorder::Format::Csv);
}

TEST(ValueRecorder, TargetsThatCannotBeWrittenAreRefusedWithTheReason) {
  TempWorkDir dir;
  fs::create_directory("folder");
  std::vector<std::pair<std::string, std::string>> targets = {
      {"missing/values.csv", "No such file or directory"},
      {"folder", "Is a directory"},
      {"/dev/null", "not a regular file"},
  };
  // Permissions do not bind root, which CI may be; sysfs refuses everyone.
  if (geteuid() == 0) {
    targets.push_back({"/sys/kernel/uevent_seqnum", "Permission denied"});
  } else {
    std::ofstream("locked.csv") << "";
    fs::permissions("locked.csv", fs::perms::owner_read);
    targets.push_back({"locked.csv", "Permission denied"});
  }
  for (const auto& [path, reason] : targets) {
    CValueRecorder recorder;
    std::string why;
    EXPECT_FALSE(recorder.Start(path, CValueRecorder::Format::Csv, why)) << path;
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_NE(why.find(reason), std::string::npos) << why;
    EXPECT_FALSE(recorder.Recording());
  }
}

TEST(ValueRecorder, AFullDiskOrARemovedFileStopsTheRecordingAndSaysWhy) {
  TempWorkDir dir;
  for (const bool removed : {false, true}) {
    CValueRecorder recorder;
    std::vector<std::string> heard;
    recorder.SetOnStopped([&](const std::string& why) { heard.push_back(why); });
    std::string why;
    ASSERT_TRUE(recorder.Start("values.jsonl", CValueRecorder::Format::JsonLines, why)) << why;
    recorder.OnRead(Read(1, "P", QueryHandle::Updated, {1}));
    if (removed) {
      fs::remove("values.jsonl");
      recorder.OnRead(Read(1, "P", QueryHandle::Updated, {2}));
    } else {
      // A file size limit fails writes as a full disk does (with EFBIG instead of ENOSPC).
      rlimit old{};
      getrlimit(RLIMIT_FSIZE, &old);
      const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
      rlimit tight = old;
      tight.rlim_cur = static_cast<rlim_t>(fs::file_size("values.jsonl") + 10);
      setrlimit(RLIMIT_FSIZE, &tight);
      recorder.OnRead(Read(1, "P", QueryHandle::Updated, {2}));
      setrlimit(RLIMIT_FSIZE, &old);
      std::signal(SIGXFSZ, oldHandler);
    }
    EXPECT_FALSE(recorder.Recording()) << removed;
    EXPECT_EQ(recorder.Rows(), 1u);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], recorder.Failure());
    EXPECT_NE(heard[0].find(removed ? "was removed" : "File too large"), std::string::npos) << heard[0];
    recorder.OnRead(Read(1, "P", QueryHandle::Updated, {3}));
    EXPECT_EQ(heard.size(), 1u);  // said once
  }
}
