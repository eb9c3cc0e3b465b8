// kelmora-cli config save, diff and apply against the simulated device: the round trip, a file
// of another device, and a setting the device refuses while the others apply.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <functional>
#include <sstream>

#include "cli/Cli.h"
#include "tests/cli/CliRig.h"

namespace {

struct Outcome {
  int code;
  std::string out, err;
};

Outcome Cli(const CliSimRig& rig, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunCli(rig.With(args), out, err);
  return {code, out.str(), err.str()};
}

// Changes the snapshot file with `edit` on its JSON root.
void EditFile(const std::string& path, const std::function<void(QJsonObject&)>& edit) {
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
  file.close();
  edit(root);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(QJsonDocument(root).toJson());
}

void SetRaw(QJsonObject& root, int id, int raw) {
  QJsonArray values = root["values"].toArray();
  for (QJsonValueRef v : values)
    if (v.toObject()["id"].toInt() == id) {
      QJsonObject o = v.toObject();
      o["raw"] = raw;
      v = o;
    }
  root["values"] = values;
}

}  // namespace

TEST(CliConfig, SaveChangeDiffApplyRestores) {
  CliSimRig rig;
  ASSERT_TRUE(rig.SimUp());
  Outcome r = Cli(rig, {"config", "save", "device.json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "saved 9 settings of SIM-TEST7 1.05 to device.json\n");
  // Gauges (the input registers) and buttons are not settings.
  const std::string text = testing_support::ReadTextFile("device.json");
  EXPECT_EQ(text.find("\"wave\""), std::string::npos);
  EXPECT_NE(text.find("\"fixed preset\""), std::string::npos);
  EXPECT_NE(text.find("\"profile\": \"SIM-TEST7 1.05\""), std::string::npos);

  r = Cli(rig, {"config", "diff", "device.json"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "0 of 9 settings differ\n");

  ASSERT_EQ(Cli(rig, {"write", "preset=77", "fixed preset=3.5"}).code, 0);
  r = Cli(rig, {"config", "diff", "device.json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "7 preset: file 1234, device 77\n8 fixed preset: file 12.5, device 3.5\n2 of 9 settings differ\n");

  r = Cli(rig, {"config", "apply", "device.json", "--flash"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("7 preset: 77 -> 1234: written\n8 fixed preset: 3.5 -> 12.5: written\n2 of 9 settings differed\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("flash save: Updated"), std::string::npos) << r.out;
  EXPECT_EQ(Cli(rig, {"config", "diff", "device.json"}).out, "0 of 9 settings differ\n");
}

TEST(CliConfig, AnotherDevicesFileIsRefusedUnlessForced) {
  CliSimRig rig;
  ASSERT_TRUE(rig.SimUp());
  ASSERT_EQ(Cli(rig, {"config", "save", "other.json"}).code, 0);
  EditFile("other.json", [](QJsonObject& root) {
    root["device"] = QJsonObject{{"name", "PDC-4120"}, {"version", "2.03"}, {"program", "1.14"}};
    SetRaw(root, 7, 99);
  });
  Outcome r = Cli(rig, {"config", "apply", "other.json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "kelmora-cli: other.json was made for PDC-4120 2.03, the device is SIM-TEST7 1.05; nothing was written "
            "(--force applies it anyway)\n");
  EXPECT_EQ(Cli(rig, {"read", "preset"}).out, "7 preset = 1234\n");
  r = Cli(rig, {"config", "apply", "other.json", "--force"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Cli(rig, {"read", "preset"}).out, "7 preset = 99\n");
  // Files that are not snapshots, or hold values that cannot be written, are refused as such.
  std::ofstream("broken.json") << "{\"values\": 3}";
  r = Cli(rig, {"config", "diff", "broken.json"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "kelmora-cli: broken.json is not a Kelmora configuration file\n");
}

TEST(CliConfig, ARefusedSettingFailsWhileTheOthersApply) {
  CliSimRig rig;
  ASSERT_TRUE(rig.SimUp());
  ASSERT_EQ(Cli(rig, {"config", "save", "device.json"}).code, 0);
  EditFile("device.json", [](QJsonObject& root) {
    SetRaw(root, 4, 11);   // setpoint, holding register 100
    SetRaw(root, 7, 22);   // preset, 200: the device refuses it
    SetRaw(root, 9, 500);  // in range: beyond its 5..50
  });
  rig.Start({"--exception", "200:4"});
  ASSERT_TRUE(rig.SimUp());
  const Outcome r = Cli(rig, {"config", "apply", "device.json", "--flash"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("4 setpoint: 0 -> 11: written\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("7 preset: Device Error -> 22: refused: Device Error\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("9 in range: 5 -> 500: not applied: raw value 500 is outside the range 5 to 50\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "kelmora-cli: not every setting was applied; the flash was not saved\n");
  EXPECT_EQ(Cli(rig, {"read", "setpoint"}).out, "4 setpoint = 11\n");
}
