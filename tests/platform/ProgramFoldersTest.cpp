// The per-user data folder a menu-started program works in: where it is, and how a first and
// a later start prepare it without touching what the user put there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/ProgramFolders.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Sets an environment variable (or unsets it, for null) for one scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old, m_had = true;
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvVar() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had = false;
};

TEST(ProgramFolders, UserDataFolderFollowsXdgDataHome) {
  struct Case {
    const char* dataHome;
    const char* home;
    const char* expected;
  };
  for (const Case& c : {Case{"/data", "/home/u", "/data/Kelmora"},
                        Case{nullptr, "/home/u", "/home/u/.local/share/Kelmora"},
                        Case{"relative/path", "/home/u", "/home/u/.local/share/Kelmora"},
                        Case{nullptr, nullptr, ""}}) {
    EnvVar data("XDG_DATA_HOME", c.dataHome), home("HOME", c.home);
    EXPECT_EQ(programfolders::UserDataFolder().string(), c.expected) << (c.dataHome ? c.dataHome : "(unset)");
  }
}

TEST(ProgramFolders, PreparingLinksTheShippedProfilesAndKeepsTheUsersOwn) {
  testing_support::TempWorkDir dir;
  const fs::path shipped = fs::path(dir.Path()) / "usr/share/kelmora/profiles";
  const fs::path moved = fs::path(dir.Path()) / "opt/kelmora/share/kelmora/profiles";
  fs::create_directories(shipped);
  fs::create_directories(moved);
  const fs::path folder = fs::path(dir.Path()) / "data/Kelmora";
  const fs::path link = folder / "profiles/shipped";
  std::string why;

  // First start: the folders and the link.
  ASSERT_TRUE(programfolders::PrepareUserDataFolder(folder, shipped, why)) << why;
  EXPECT_EQ(fs::read_symlink(link), shipped);
  std::ofstream(folder / "profiles/mine.xml") << "<x/>";
  // Again: nothing changes; installed elsewhere since: the link follows.
  ASSERT_TRUE(programfolders::PrepareUserDataFolder(folder, shipped, why)) << why;
  ASSERT_TRUE(programfolders::PrepareUserDataFolder(folder, moved, why)) << why;
  EXPECT_EQ(fs::read_symlink(link), moved);
  EXPECT_TRUE(fs::exists(folder / "profiles/mine.xml"));

  // A real folder the user named "shipped" is theirs.
  fs::remove(link);
  fs::create_directory(link);
  ASSERT_TRUE(programfolders::PrepareUserDataFolder(folder, shipped, why)) << why;
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(link)));

  // A file where the folder should be: refused, with the reason.
  std::ofstream(fs::path(dir.Path()) / "blocked") << "";
  EXPECT_FALSE(programfolders::PrepareUserDataFolder(fs::path(dir.Path()) / "blocked/Kelmora", shipped, why));
  EXPECT_NE(why.find("blocked/Kelmora/profiles"), std::string::npos) << why;
}

}  // namespace
