// The folder walk, the fault-log lines of the loader, and the manager's accessors.
#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/XMLParser/ProfileTestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Device(const std::string& name) {
  return "<?xml version=\"1.0\"?>\n<devices><device name=\"" + name + "\"/></devices>\n";
}

std::vector<std::string> Names(const CXDeviceProfileManager& manager) {
  std::vector<std::string> names;
  for (const auto& profile : manager.GetProfiles()) names.push_back(profile.identity.name);
  return names;
}

std::ptrdiff_t IndexOf(const std::vector<std::string>& items, const std::string& item) {
  const auto it = std::find(items.begin(), items.end(), item);
  return it == items.end() ? -1 : it - items.begin();
}

class FolderWalk : public ProfileFolderTest {};

TEST_F(FolderWalk, ReadsXmlFilesBelowProfilesAndSkipsDotFolders) {
  Write("profiles/a.xml", Device("a"));
  Write("profiles/UPPER.XML", Device("upper"));
  Write("profiles/.dot.xml", Device("dotfile"));
  Write("profiles/notes.txt", Device("txt"));
  Write("profiles/a.xml.bak", Device("bak"));
  Write("profiles/sub/b.xml", Device("b"));
  Write("profiles/sub/Привод.xml", Device("cyrillic-name"));
  Write("profiles/sub/deeper/c.xml", Device("c"));
  Write("profiles/.hidden/d.xml", Device("hidden"));
  Write("profiles/sub/.git/e.xml", Device("git"));
  Write("profiles/folder.xml/f.xml", Device("f"));
  Write("elsewhere.xml", Device("outside"));

  CXDeviceProfileManager manager;
  std::vector<std::string> names = Names(manager);
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"a", "b", "c", "cyrillic-name", "dotfile", "f", "upper"}));

  // A folder's own files come before its sub-folders, at every level.
  for (const char* top : {"a", "upper", "dotfile"}) {
    EXPECT_LT(IndexOf(names, top), IndexOf(names, "b")) << top;
    EXPECT_LT(IndexOf(names, top), IndexOf(names, "f")) << top;
  }
  EXPECT_LT(IndexOf(names, "b"), IndexOf(names, "c"));

  // The log names every folder entered and every file parsed.
  const auto log = FaultLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "./profiles/");
  for (const char* line : {"./profiles/a.xml", "./profiles/sub/", "./profiles/sub/b.xml", "./profiles/sub/deeper/",
                           "./profiles/sub/deeper/c.xml", "./profiles/folder.xml/", "./profiles/folder.xml/f.xml"}) {
    EXPECT_NE(IndexOf(log, line), -1) << line;
  }
  for (const auto& line : log) {
    EXPECT_EQ(line.find(".hidden"), std::string::npos) << line;
    EXPECT_EQ(line.find(".git"), std::string::npos) << line;
    EXPECT_EQ(line.rfind("F ", 0), std::string::npos) << line;
  }
  EXPECT_LT(IndexOf(log, "./profiles/sub/"), IndexOf(log, "./profiles/sub/b.xml"));
}

TEST_F(FolderWalk, FilesOfOneFolderLoadInFileSystemOrder) {
  for (int i = 0; i < 12; ++i) Write("profiles/p" + std::to_string(i) + ".xml", Device("p" + std::to_string(i)));
  std::vector<std::string> listed;
  for (const auto& item : fs::directory_iterator("profiles")) listed.push_back(item.path().stem().string());
  CXDeviceProfileManager manager;
  EXPECT_EQ(Names(manager), listed);
}

TEST_F(FolderWalk, MissingProfilesFolderYieldsNothingButTheFolderLine) {
  fs::remove_all("profiles");
  CXDeviceProfileManager manager;
  EXPECT_EQ(manager.GetProfileCount(), 0u);
  EXPECT_EQ(FaultLog(), (std::vector<std::string>{"./profiles/"}));
}

TEST_F(FolderWalk, LinkedFolderLoopsEnd) {
  Write("profiles/sub/a.xml", Device("a"));
  fs::create_directory_symlink("..", "profiles/sub/up");
  fs::create_directory_symlink(m_folder / "profiles" / "sub", "profiles/again");
  CXDeviceProfileManager manager;
  EXPECT_EQ(Names(manager), (std::vector<std::string>{"a"}));
}

TEST_F(FolderWalk, ReloadingStartsFromAnEmptyList) {
  Write("profiles/a.xml", Device("a"));
  CXDeviceProfileManager manager;
  Write("profiles/b.xml", Device("b"));
  manager.LoadProfiles();
  std::vector<std::string> names = Names(manager);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(manager.GetVersion().Format(), "0.30");
}

TEST_F(FolderWalk, ProfilesAreCopiedOutByIndex) {
  Write("profiles/a.xml", Device("a"));
  CXDeviceProfileManager manager;
  DeviceProfile copy = manager.GetProfile(0);
  copy.identity.name = "changed";
  EXPECT_EQ(manager.GetProfiles()[0].identity.name, "a");
  try {
    manager.GetProfile(1);
    FAIL() << "no exception for a profile number past the list";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "Bad Profile Number");
  }
}

struct BrokenFile {
  const char* name;
  std::string bytes;
  std::string message;  // expected fault message, or its beginning when it ends with '*'
};

class BrokenFiles : public ProfileFolderTest {};

TEST_F(BrokenFiles, AreLoggedAndSkippedWhileTheOthersLoad) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 37 + 11) & 0xFF);
  const std::string good = Device("good");
  const std::vector<BrokenFile> broken = {
      {"truncated.xml", good.substr(0, good.size() / 2), "XMLException message is: *"},
      {"empty.xml", "", "XMLException message is: *"},
      {"binary.xml", binary, "XMLException message is: *"},
      {"plain-text.xml", "Speed = 10\nMode = 2\n", "XMLException message is: *"},
      {"mismatched.xml", "<devices><device name=\"x\"></devices>", "XMLException message is: *"},
      {"two-roots.xml", "<devices/><devices/>", "XMLException message is: *"},
      {"bad-encoding.xml", "<?xml version=\"1.0\" encoding=\"no-such-code-page\"?><devices/>",
       "XMLException message is: *"},
      {"huge.xml", "<devices>" + std::string(CXDeviceProfileManager::kMaxProfileBytes, ' ') + "</devices>",
       "Profile file skipped, it is larger than 16777216 bytes: ./profiles/huge.xml"},
  };
  Write("profiles/good.xml", good);
  for (const auto& file : broken) Write(fs::path("profiles") / file.name, file.bytes);

  CXDeviceProfileManager manager;
  EXPECT_EQ(Names(manager), (std::vector<std::string>{"good"}));

  const auto log = FaultLog();
  const std::string suffix = " in file XDeviceProfileManager.cpp";
  for (const auto& file : broken) {
    const auto at = IndexOf(log, std::string("./profiles/") + file.name);
    ASSERT_NE(at, -1) << file.name;
    ASSERT_LT(static_cast<std::size_t>(at + 1), log.size()) << file.name;
    const std::string& fault = log[at + 1];
    ASSERT_GE(fault.size(), suffix.size()) << fault;
    EXPECT_EQ(fault.substr(fault.size() - suffix.size()), suffix) << fault;
    const std::string message = fault.substr(2, fault.size() - 2 - suffix.size());
    EXPECT_EQ(fault.substr(0, 2), "F ") << fault;
    if (file.message.back() == '*') {
      const std::string prefix = file.message.substr(0, file.message.size() - 1);
      EXPECT_EQ(message.substr(0, prefix.size()), prefix) << fault;
      EXPECT_GT(message.size(), prefix.size()) << "the library's message is missing: " << fault;
    } else {
      EXPECT_EQ(message, file.message) << fault;
    }
  }
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("F ", 0) == 0; }),
            static_cast<std::ptrdiff_t>(broken.size()));
}

TEST_F(BrokenFiles, FileThatCannotBeOpenedIsLogged) {
  CXDeviceProfileManager manager;
  manager.ParseProfileFile("./profiles/missing.xml");
  EXPECT_EQ(manager.GetProfileCount(), 0u);
  EXPECT_TRUE(LogHas("F XMLException message is: unable to open primary document entity './profiles/missing.xml'"
                     " in file XDeviceProfileManager.cpp"));
}

}  // namespace
