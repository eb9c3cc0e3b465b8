// The plug-in host against small plug-ins built for these tests (one per version and failure),
// and its host operations against a scripted server.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QSettings>
#include <filesystem>

#include "tests/visualobject/ObjectTestSupport.h"
#include "tests/visualobject/plugins/TestProbe.h"
#include "visualobject/CustomObject.h"
#include "visualobject/PluginLibrary.h"

using namespace objtest;

namespace {

namespace fs = std::filesystem;

std::string PluginPath(const std::string& name) { return std::string(KELMORA_TEST_PLUGIN_DIR) + "/lib" + name + ".so"; }

ModbusProperty Numbered(int32_t id, PropertyKind kind, double divisor) {
  ModbusProperty p = Property(kind, -1000, 1000, divisor);
  p.id = id;
  p.keywords["unit"] = "Hz";
  return p;
}

// A "custom" entry naming `plugin`, with a fixed-point property (divisor 0.1) and an integer.
DeviceProfile CustomProfile(const std::string& plugin) {
  DeviceProfile profile = OneEntry("custom", Numbered(7, PropertyKind::RangedFix, 0.1), 0,
                                   {{"plugin", plugin}, {"probe", "probed"}, {"bitmask", "Run,1"}});
  profile.keywordLists.front().entries.front().properties.push_back(Numbered(8, PropertyKind::RangedInt, 1.0));
  return profile;
}

// Whether the library at `path` is in the process now.
bool Loaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

// What the loaded test plug-in at `path` saw; null when it is not loaded.
TestProbe* Probe(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  auto probe = reinterpret_cast<TestProbeProc>(dlsym(handle, "TestComponentProbe"));
  dlclose(handle);  // the host's reference keeps it loaded
  return probe != nullptr ? probe() : nullptr;
}

bool HasFaultLine(const std::string& log) { return log.rfind("F ", 0) == 0 || log.find("\nF ") != std::string::npos; }

TEST(CustomObject, NegotiatesTheVersionAndConnectsTheMatchingHostInterface) {
  struct Case {
    const char* plugin;
    bool created;
    int connects;
    int version;  // of the interface handed over, 0 for none
  } const cases[] = {
      {"testcomponent11", false, 0, 0},  // no ComponentVersion: 1.1, never connected
      {"testcomponent22", true, 1, 22},
      {"testcomponent32", true, 1, 32},
      {"testcomponent42", true, 1, 42},
      {"testcomponent41", false, 0, 0},
      {"testcomponent42noconnect", false, 0, 0},
      {"testcomponent42refuse", false, 1, 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plugin);
    const std::string path = PluginPath(c.plugin);
    Rig<CCustomObject> rig(CustomProfile(path));
    EXPECT_EQ(rig.Create(), c.created);
    EXPECT_TRUE(rig.object->LibraryLoaded());
    EXPECT_FALSE(rig.object->isVisible());
    EXPECT_EQ(rig.object->MultiHandles().size(), 2u);

    TestProbe* probe = Probe(path);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->connects, c.connects);
    const void* expected = c.version == 42   ? static_cast<void*>(rig.object->HostInterface())
                           : c.version == 32 ? static_cast<void*>(rig.object->HostInterfaceV3())
                           : c.version == 22 ? static_cast<void*>(rig.object->HostInterfaceV2())
                                             : nullptr;
    EXPECT_EQ(probe->host, expected);
    if (c.connects > 0) {
      // The component's window goes on the entry's page at the entry's position in pixels.
      EXPECT_EQ(probe->parent, static_cast<void*>(rig.host.FindPage(0)));
      EXPECT_EQ(QPoint(probe->x, probe->y), rig.host.Units().ToPixels(QPoint(5, 5)));
      EXPECT_EQ(probe->parameter, "probed");  // each table's GetParameter slot works
    }
    const std::string log = FaultLog();
    EXPECT_FALSE(HasFaultLine(log)) << log;  // a plug-in that does not fit fails silently
    EXPECT_NE(log.find("Plug-in \"" + path + "\": " + path), std::string::npos) << log;
    if (c.version == 42) {
      EXPECT_EQ(probe->propertyCount, 2);
      EXPECT_NE(log.find("Custom: 4.2 created\n"), std::string::npos);
    }
    if (c.version == 32) {
      EXPECT_NE(log.find("Custom: 3.2 created\n"), std::string::npos);
    }

    rig.object.reset();
    EXPECT_FALSE(Loaded(path));
  }
}

TEST(CustomObject, ForwardsShowAndHideAndDestroysTheComponentOnce) {
  const std::string path = PluginPath("testcomponent42");
  {
    Rig<CCustomObject> rig(CustomProfile(path));
    ASSERT_TRUE(rig.Create());
    TestProbe* probe = Probe(path);
    QWidget* window = rig.host.FindPage(0)->childAt(probe->x + 1, probe->y + 1);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());

    rig.object->hide();
    EXPECT_EQ(probe->hides, 1);
    EXPECT_FALSE(window->isVisible());
    rig.object->show();
    EXPECT_EQ(probe->shows, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(rig.object->isVisible());  // the host's own window never shows

    rig.object->Shutdown();
    EXPECT_EQ(probe->destroys, 1);
    EXPECT_EQ(rig.host.FindPage(0)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);  // the host only
    rig.object->show();
    rig.object->Shutdown();
    EXPECT_EQ(probe->shows, 1);
    EXPECT_EQ(probe->destroys, 1);
  }
  EXPECT_FALSE(Loaded(path));

  // Destroyed without a shutdown: the component's window goes before its code is unloaded.
  Rig<CCustomObject> rig(CustomProfile(path));
  ASSERT_TRUE(rig.Create());
  EXPECT_EQ(Probe(path)->destroys, 0);
  rig.object.reset();
  EXPECT_EQ(rig.host.FindPage(0)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 0);
  EXPECT_FALSE(Loaded(path));
}

TEST(CustomObject, RefusesAPlugInThatOthersCouldHaveWritten) {
  struct Case {
    fs::perms folder;
    fs::perms file;
    const char* refusal;  // null: loads
  } const cases[] = {
      {fs::perms(0755), fs::perms(0755), nullptr},
      {fs::perms(0755), fs::perms(0775), "the file is writable by its group or by others"},
      {fs::perms(0755), fs::perms(0757), "the file is writable by its group or by others"},
      {fs::perms(0777), fs::perms(0755), "is writable by its group or by others and has no sticky bit"},
      {fs::perms(0770), fs::perms(0755), "is writable by its group or by others and has no sticky bit"},
      {fs::perms(01777), fs::perms(0755), nullptr},  // like /tmp: others cannot replace the file
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    testutil::ScratchFolder scratch;
    const fs::path folder = fs::path(scratch.Path().toStdString()) / ("drop" + std::to_string(n++));
    fs::create_directory(folder);
    const fs::path file = folder / "libshared.so";
    fs::copy_file(PluginPath("testcomponent42"), file);
    fs::permissions(file, c.file);
    fs::permissions(folder, c.folder);

    Rig<CCustomObject> rig(CustomProfile(file.string()));
    EXPECT_EQ(rig.Create(), c.refusal == nullptr);
    EXPECT_EQ(rig.object->LibraryLoaded(), c.refusal == nullptr);
    if (c.refusal != nullptr) {
      const std::string log = FaultLog();
      EXPECT_NE(log.find("F Plug-in " + file.string() + " refused: "), std::string::npos) << log;
      EXPECT_NE(log.find(c.refusal), std::string::npos) << log;
      EXPECT_FALSE(Loaded(file.string()));
    }
    rig.object.reset();
    fs::permissions(folder, fs::perms(0755));
  }
}

TEST(PluginLibrary, LooksInThePlugInFolderThenTheWorkingFolderThenTheSystem) {
  using C = CPluginLibrary::Candidate;
  const std::vector<std::string> folders{"/opt/k/bin/plugins", "/opt/k/lib/kelmora/plugins"};
  struct Case {
    const char* name;
    std::vector<C> expected;
  } const cases[] = {
      {"liblumora.so",
       {{"/opt/k/bin/plugins/liblumora.so", false}, {"/opt/k/lib/kelmora/plugins/liblumora.so", false},
        {"/home/u/liblumora.so", false}, {"liblumora.so", true}}},
      {"Lumora.DLL",
       {{"/opt/k/bin/plugins/Lumora.DLL", false}, {"/opt/k/bin/plugins/liblumora.so", false},
        {"/opt/k/lib/kelmora/plugins/Lumora.DLL", false}, {"/opt/k/lib/kelmora/plugins/liblumora.so", false},
        {"/home/u/Lumora.DLL", false}, {"/home/u/liblumora.so", false}, {"Lumora.DLL", true}, {"liblumora.so", true}}},
      {"sub\\My.dll",
       {{"/opt/k/bin/plugins/sub/My.dll", false}, {"/opt/k/bin/plugins/sub/libmy.so", false},
        {"/opt/k/lib/kelmora/plugins/sub/My.dll", false}, {"/opt/k/lib/kelmora/plugins/sub/libmy.so", false},
        {"/home/u/sub/My.dll", false}, {"/home/u/sub/libmy.so", false}}},
      {"/abs/x.so", {{"/abs/x.so", false}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    const std::vector<C> got = CPluginLibrary::Candidates(c.name, folders, "/home/u");
    ASSERT_EQ(got.size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].path, c.expected[i].path) << c.name << " #" << i;
      EXPECT_EQ(got[i].systemSearch, c.expected[i].systemSearch) << c.name << " #" << i;
    }
  }
  // The test program's own plug-in folder comes first, as the program's does.
  EXPECT_EQ(CPluginLibrary::ProgramPluginFolders().front(), fs::path(KELMORA_TEST_PLUGIN_DIR).string());
}

TEST(PluginLibrary, FindsAWindowsNameInThePlugInFolderAndANameInTheWorkingFolder) {
  {
    Rig<CCustomObject> rig(CustomProfile("TestComponent42.dll"));
    EXPECT_TRUE(rig.Create());
    EXPECT_NE(FaultLog().find("Plug-in \"TestComponent42.dll\": " + PluginPath("testcomponent42")), std::string::npos);
  }
  Rig<CCustomObject> rig(CustomProfile("mine.so"));
  fs::copy_file(PluginPath("testcomponent42"), "mine.so");
  EXPECT_TRUE(rig.Create());
  const std::string here = fs::canonical("mine.so").string();
  EXPECT_NE(FaultLog().find("Plug-in \"mine.so\": " + here), std::string::npos) << FaultLog();

  Rig<CCustomObject> missing(CustomProfile("nowhere.so"));
  EXPECT_FALSE(missing.Create());
  EXPECT_NE(FaultLog().find("Plug-in \"nowhere.so\" not found in "), std::string::npos);
  EXPECT_FALSE(HasFaultLine(FaultLog()));
}

// The host operations, with no plug-in behind them: the object is made against a scripted
// server and its operations are called as a component would call them.
struct HostRig : Rig<CCustomObject> {
  HostRig() : Rig(CustomProfile("")) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.Path() + "/config");
    Create();
  }
  CCustomObject& host() { return *object; }
};

TEST(CustomObjectHost, ParametersComeFromSettingsOrTheEntry) {
  HostRig rig;
  EXPECT_EQ(rig.host().SetParameter("Settings\\Display\\Mode", "dark"), 1);
  EXPECT_EQ(rig.host().SetParameter("Settings\\", "lost"), 0);
  EXPECT_EQ(rig.host().SetParameter("Settings", "lost"), 0);
  EXPECT_EQ(rig.host().SetParameter("Other", "x"), 0);
  EXPECT_EQ(rig.host().SetParameter(".\\Log", "started"), 0);
  EXPECT_EQ(rig.host().SetParameter(".\\Logfile", "again"), 0);

  struct Case {
    const char* key;
    const char* value;
  } const cases[] = {
      {"Settings\\Display\\Mode", "dark"}, {"Settings\\Display\\Other", ""}, {"Settings", ""},
      {"Settings\\", ""},                  {"bitmask", "Run,1"},            {"absent", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(rig.host().GetParameter(c.key), c.value) << c.key;
  // The store is the program's settings, under the section's levels.
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Kelmora", QCoreApplication::applicationName());
  EXPECT_EQ(store.value("Settings/Display/Mode").toString(), "dark");

  const std::string log = FaultLog();
  EXPECT_NE(log.find("Custom: started\nCustom: again\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("lost"), std::string::npos);
  EXPECT_EQ(rig.host().GetPropertyParameter(0, "unit"), "Hz");
  EXPECT_EQ(rig.host().GetPropertyParameter(2, "unit"), "");
  EXPECT_EQ(rig.host().GetPropertyParameter(-1, "unit"), "");
  EXPECT_EQ(rig.host().GetPropertyCount(), 2);
}

TEST(CustomObjectHost, TypedValuesAreScaledByTheProperty) {
  HostRig rig;
  rig.server.readValue = 235;
  struct Read {
    int32_t iProp;
    bool isDouble;
    double value;
  } const reads[] = {{0, true, 23.5}, {1, false, 235}};
  for (const Read& r : reads) {
    rig.host().GetProperty(r.iProp);
    std::vector<boost::any> values{std::string("stale")};
    ASSERT_EQ(rig.host().GetValues(r.iProp, values), QueryHandle::Updated);
    ASSERT_EQ(values.size(), 1u);
    if (r.isDouble)
      EXPECT_DOUBLE_EQ(boost::any_cast<double>(values[0]), r.value);
    else
      EXPECT_EQ(boost::any_cast<int32_t>(values[0]), r.value);
  }

  struct Write {
    int32_t iProp;
    std::vector<boost::any> values;
    std::vector<int32_t> raw;
  } const writes[] = {
      {0, {2.38}, {23}},
      {0, {int32_t{5}}, {50}},
      {0, {std::string("x"), -0.55}, {0, -5}},
      {1, {7.9, int32_t{-3}}, {7, -3}},
      {1, {1e12}, {2147483647}},
      {1, {'c'}, {0}},
  };
  for (const Write& w : writes) {
    rig.host().SetValues(w.iProp, w.values);
    EXPECT_EQ(rig.server.Last().values, w.raw);
    EXPECT_EQ(rig.host().GetValue(), w.raw.front());
  }
  rig.host().SetProperty(1, {12, 13});
  EXPECT_EQ(rig.server.Last().values, (std::vector<int32_t>{12, 13}));
  EXPECT_EQ(rig.host().GetValue(), 12);

  // A write's state is seen, its answer is not a read's values.
  std::vector<int32_t> raw{99};
  EXPECT_EQ(rig.host().QueryState(1, raw), QueryHandle::Updated);
  EXPECT_EQ(raw, std::vector<int32_t>{99});
  // Queued or in process: the result stays as it was.
  rig.server.outcome.reset();
  rig.host().GetProperty(1);
  std::vector<boost::any> typed{int32_t{4}};
  EXPECT_EQ(rig.host().GetValues(1, typed), QueryHandle::InProcess);
  EXPECT_EQ(boost::any_cast<int32_t>(typed.at(0)), 4);
}

TEST(CustomObjectHost, IndicesOutOfRangeNeverReachTheServer) {
  HostRig rig;
  std::vector<int32_t> raw{42};
  EXPECT_EQ(rig.host().QueryState(0, raw), QueryHandle::Canceled);  // never queried
  for (const int32_t iProp : {-1, 2, 1000}) {
    rig.host().GetProperty(iProp);
    EXPECT_EQ(rig.host().QueryState(iProp, raw), QueryHandle::DeviceError);
    std::vector<boost::any> typed;
    EXPECT_EQ(rig.host().GetValues(iProp, typed), QueryHandle::DeviceError);
    EXPECT_TRUE(typed.empty());
  }
  EXPECT_EQ(raw, std::vector<int32_t>{42});

  rig.host().SetProperty(5, {7});
  EXPECT_EQ(rig.host().GetValue(), 7);
  rig.host().SetValues(5, {2.5});
  EXPECT_EQ(rig.host().GetValue(), 0);  // the zero that was never written
  rig.host().SetValues(5, {});
  EXPECT_EQ(rig.host().GetValue(), 0);
  EXPECT_TRUE(rig.server.requests.empty());
}

}  // namespace
