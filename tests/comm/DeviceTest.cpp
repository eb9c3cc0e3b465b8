// The device layer and the pack manager against a register-image slave on a pty.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "comm/PackManager.h"
#include "tests/comm/DeviceLine.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

class DeviceTest : public ::testing::Test, protected DeviceLine {};

TEST_F(DeviceTest, RegisterKindsAndLayoutsPickTheFunction) {
  slave.SetCoil(3, true);
  slave.SetDiscrete(4, true);
  slave.SetInput(5, 0xFFFE);
  slave.SetHolding(6, 77);
  struct Case { ModbusMapping mapping; uint8_t function; uint16_t quantity; int32_t first; };
  const std::vector<Case> cases = {
      {Map(RegisterKind::Coil, 3), 1, 1, 255},
      {Map(RegisterKind::DiscreteInput, 4), 2, 1, 255},
      {Map(RegisterKind::InputRegister, 5), 4, 1, -2},
      {Map(RegisterKind::HoldingRegister, 6), 3, 1, 77},
      {Map(RegisterKind::HoldingRegister, 6, RegisterLayout::Array, 3), 3, 3, 77},
      {Map(RegisterKind::InputRegister, 5, RegisterLayout::Register32), 4, 2, 0xFFFE},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const ModbusAnswer answer = device.ReadElement(cases[i].mapping);
    ASSERT_EQ(answer.code, 0u) << i;
    EXPECT_EQ(answer.values.at(0), cases[i].first) << i;
    const auto request = slave.Requests().at(i);
    EXPECT_EQ(request.function, cases[i].function) << i;
    EXPECT_EQ(request.quantity, cases[i].quantity) << i;
  }
  EXPECT_EQ(device.ReadElement(Map(RegisterKind::HoldingRegister, 6, RegisterLayout::Array, 3)).values.size(), 3u);
}

TEST_F(DeviceTest, ThirtyTwoBitValuesBothWays) {
  slave.SetHolding(20, 0x1234);
  slave.SetHolding(21, 0x5678);
  const ModbusMapping wide = Map(RegisterKind::HoldingRegister, 20, RegisterLayout::Register32);
  EXPECT_EQ(device.ReadElement(wide), (ModbusAnswer{0, {0x56781234}}));

  EXPECT_EQ(device.WriteElementValues(wide, {0x12345678}).code, 0u);
  EXPECT_EQ(slave.Holding(20), 0x5678);
  EXPECT_EQ(slave.Holding(21), 0x1234);
  EXPECT_EQ(slave.Requests().back().function, 16);
  EXPECT_EQ(device.ReadElement(wide), (ModbusAnswer{0, {0x12345678}}));
  EXPECT_EQ(device.WriteElementValues(wide, {-2}).code, 0u);
  EXPECT_EQ(device.ReadElement(wide), (ModbusAnswer{0, {-2}}));

  slave.SetException(3, 20, 2);
  EXPECT_EQ(device.ReadElement(wide), (ModbusAnswer{2, {}}));
}

TEST_F(DeviceTest, WritesPickTheFunction) {
  EXPECT_EQ(device.WriteElement(Map(RegisterKind::Coil, 7), 1).code, 0u);
  EXPECT_TRUE(slave.Coil(7));
  EXPECT_EQ(device.WriteElement(Map(RegisterKind::HoldingRegister, 8), 0xABCD).code, 0u);
  EXPECT_EQ(slave.Holding(8), 0xABCD);
  EXPECT_EQ(device.WriteElementValues(Map(RegisterKind::Coil, 30, RegisterLayout::Array, 3), {1, 0, 1}).code, 0u);
  EXPECT_TRUE(slave.Coil(30) && !slave.Coil(31) && slave.Coil(32));
  EXPECT_EQ(device.WriteElementValues(Map(RegisterKind::HoldingRegister, 40, RegisterLayout::Array, 2), {5, 6}).code, 0u);
  EXPECT_EQ(slave.Holding(41), 6);
  EXPECT_EQ(device.WriteElementValues(Map(RegisterKind::HoldingRegister, 42), {9, 10}).code, 0u);
  EXPECT_EQ(slave.Holding(42), 9);
  std::vector<uint8_t> functions;
  for (const auto& r : slave.Requests()) functions.push_back(r.function);
  EXPECT_THAT(functions, ElementsAre(5, 6, 15, 16, 6));
}

TEST_F(DeviceTest, RequestsTheLayerCannotExpressAreRefusedWithoutTraffic) {
  const std::vector<std::function<ModbusAnswer()>> refused = {
      [&] { return device.WriteElement(Map(RegisterKind::InputRegister, 1), 1); },
      [&] { return device.WriteElement(Map(RegisterKind::DiscreteInput, 1), 1); },
      [&] { return device.WriteElementValues(Map(RegisterKind::InputRegister, 1), {1}); },
      [&] { return device.WriteElementValues(Map(RegisterKind::Coil, 1, RegisterLayout::Register32), {1}); },
      [&] { return device.WriteElementValues(Map(RegisterKind::HoldingRegister, 1), {}); },
      [&] { return device.WriteElementValues(Map(RegisterKind::HoldingRegister, 1, RegisterLayout::Array, 2), {}); },
      [&] { return device.ReadElement(Map(RegisterKind::None, 1)); },
      [&] { return device.ReadElement(Map(RegisterKind::HoldingRegister, 9, RegisterLayout::Array, -3)); },
  };
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(refused[i](), (ModbusAnswer{1, {}})) << i;
  EXPECT_TRUE(slave.Requests().empty());
}

TEST(DeviceWithoutProtocol, LogsAndAnswersCode4) {
  TempWorkDir dir;
  ModbusDevice device;
  EXPECT_EQ(device.ReadElement(Map(RegisterKind::HoldingRegister, 1)).code, 4u);
  EXPECT_EQ(device.WriteElement(Map(RegisterKind::HoldingRegister, 1), 1).code, 4u);
  EXPECT_EQ(device.WriteElementValues(Map(RegisterKind::HoldingRegister, 1), {1}).code, 4u);
  device.Stop();
  EXPECT_EQ(ReadLines(faultlog::kFileName),
            std::vector<std::string>(4, "F Modbus handle is NULL in file ModbusDevice.cpp"));
}

// A device's command register: 0x0FFF asks whether it knows the commands (it answers 0x0F00),
// then a command runs and the register reads 0 when it is done.
void CommandRegister(RegisterSlave& slave, uint16_t address, uint16_t handshakeAnswer) {
  slave.SetHolding(address, 0);
  slave.OnWrite([=](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a != address) return;
    s.HoldingRef(a) = value == 0x0FFF ? handshakeAnswer : 0;
  });
}

TEST_F(DeviceTest, FlashSaveAndLoadHandshake) {
  CommandRegister(slave, 1, 0x0F00);
  std::atomic<int32_t> stage{0};
  EXPECT_EQ(device.SpecialOperation(kFlashPropertyId, 1, stage), (ModbusAnswer{0, {}}));
  EXPECT_EQ(stage, stage_text::kWaitingForDevice);
  std::vector<uint16_t> written;
  for (const auto& r : slave.Requests())
    if (r.function == 6) written.push_back(r.address);
  EXPECT_EQ(written.size(), 2u);
  EXPECT_EQ(FaultLines(), (std::vector<std::string>{"Flash: Exist Device", "Flash: Save/Load functionality check complete",
                                                    "Flash: Save/Load complete"}));
  EXPECT_EQ(modbus->timeoutMs, 100);
  EXPECT_EQ(device.FlashLoadSave(false, stage).code, 0u);
  EXPECT_STREQ(stage_text::Text(stage_text::kLoadingConfiguration), "Loading configuration...");
}

TEST_F(DeviceTest, FlashHandshakeFailures) {
  std::atomic<int32_t> stage{0};
  // The device answers the check with 0x0F01: nothing is written to flash.
  CommandRegister(slave, 1, 0x0F01);
  EXPECT_EQ(device.FlashLoadSave(true, stage).code, 1u);
  for (const auto& r : slave.Requests()) EXPECT_FALSE(r.function == 6 && slave.Holding(1) == 0x0FAA);
  EXPECT_EQ(slave.Requests().size(), 3u);  // read, write 0x0FFF, read
  // Every write of the register is refused, the 0x0FFF check included: no handshake.
  slave.ClearRequests();
  CommandRegister(slave, 1, 0x0F00);
  slave.OnWrite([](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a == 1 && value == 0x0FFF) s.HoldingRef(1) = 0x0F00;
  });
  slave.SetException(6, 1, 4);
  EXPECT_EQ(device.FlashLoadSave(true, stage).code, 1u);
  slave.SetException(6, 1, 0);
  // The handshake succeeds, then the save command itself is refused: the flash operation
  // failed, and nobody waits for the register to return to 0.
  slave.ClearRequests();
  slave.OnWrite([](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a != 1 || value != 0x0FFF) return;
    s.HoldingRef(1) = 0x0F00;
    s.SetExceptionUnlocked(6, 1, 4);
  });
  EXPECT_EQ(device.FlashLoadSave(true, stage).code, 4u);
  EXPECT_EQ(slave.Requests().size(), 4u);  // read, write 0x0FFF, read, the refused command
  EXPECT_EQ(stage, stage_text::kSavingConfiguration);
  EXPECT_EQ(modbus->timeoutMs, 100);
  slave.SetException(6, 1, 0);
  // The register does not return to 0: the operation did not complete.
  slave.OnWrite([](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a == 1) s.HoldingRef(1) = value == 0x0FFF ? 0x0F00 : 0x0BAD;
  });
  EXPECT_EQ(device.FlashLoadSave(true, stage).code, 4u);
  // Nobody there at all.
  slave.SetSilent(1, true);
  EXPECT_EQ(device.FlashLoadSave(false, stage).code, 1u);
  EXPECT_EQ(stage, stage_text::kCheckingDevice);
}

TEST_F(DeviceTest, BootloaderStartSucceedsEvenWhenTheLastWriteGetsNoAnswer) {
  CommandRegister(slave, 10, 0x0F00);
  slave.OnWrite([](uint16_t a, uint16_t value, RegisterSlave& s) {
    if (a != 10) return;
    s.HoldingRef(10) = value == 0x0FFF ? 0x0F00 : 0;
    if (value == 0x0FAA) s.SetSilentUnlocked(10);
  });
  std::atomic<int32_t> stage{0};
  EXPECT_EQ(device.SpecialOperation(kBootloaderPropertyId, 0, stage), (ModbusAnswer{0, {}}));
  EXPECT_EQ(stage, stage_text::kStartingBootloader);
  EXPECT_EQ(FaultLines().front(), "Program: Exist Device");
  EXPECT_EQ(device.SpecialOperation(7, 0, stage).code, 255u);
}

class PackTest : public DeviceTest {
 protected:
  std::vector<PackRecord> Packs(std::string record = "") {
    return {PackRecord{Map(RegisterKind::HoldingRegister, 10, RegisterLayout::Array, 4), std::move(record)}};
  }
};

TEST_F(PackTest, OneRequestServesTheWholePackOnce) {
  for (uint16_t a = 10; a <= 14; ++a) slave.SetHolding(a, a * 100);
  CPackManager packs(Packs(), &device);
  for (uint16_t a = 10; a <= 13; ++a)
    EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, a)), (ModbusAnswer{0, {a * 100}})) << a;
  ASSERT_EQ(slave.Requests().size(), 1u);
  EXPECT_EQ(slave.Requests()[0].function, 3);
  EXPECT_EQ(slave.Requests()[0].address, 10);
  EXPECT_EQ(slave.Requests()[0].quantity, 4);
  // A cached value is served once: the next read of 10 asks again and refreshes 11..13.
  slave.SetHolding(11, 5);
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 10)).values, std::vector<int32_t>{1000});
  EXPECT_EQ(slave.Requests().size(), 2u);
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 11)).values, std::vector<int32_t>{5});
  // Outside the pack, or another kind, or another layout: a plain read.
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 14)).values, std::vector<int32_t>{1400});
  packs.Result(Map(RegisterKind::InputRegister, 12));
  packs.Result(Map(RegisterKind::HoldingRegister, 12, RegisterLayout::Register32));
  ASSERT_EQ(slave.Requests().size(), 5u);
  EXPECT_EQ(slave.Requests()[2].quantity, 1);
  EXPECT_EQ(slave.Requests()[3].function, 4);
  EXPECT_EQ(slave.Requests()[4].quantity, 2);
  EXPECT_TRUE(FaultLines().empty());
}

TEST_F(PackTest, PacksWithoutTheArrayLayoutAreIgnored) {
  std::vector<PackRecord> packs = {PackRecord{Map(RegisterKind::HoldingRegister, 10), ""},
                                   PackRecord{Map(RegisterKind::HoldingRegister, 20, RegisterLayout::Register32), ""}};
  CPackManager manager(packs, &device);
  EXPECT_TRUE(manager.Elements().empty());
  EXPECT_EQ(FaultLines(), std::vector<std::string>(2, "F CPackManager::CPackManager incorrect use in file PackManager.cpp"));
}

TEST_F(PackTest, FailedPackReadLeavesTheCachesAlone) {
  for (uint16_t a = 10; a <= 13; ++a) slave.SetHolding(a, a);
  CPackManager packs(Packs(), &device);
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 10)).code, 0u);  // 11..13 now cached
  slave.SetSilent(10, true);
  modbus->timeoutMs = 20;
  // 11 is served from the cache; a second read of 11 needs the pack, which times out.
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 11)).values, std::vector<int32_t>{11});
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 11)).code, 255u);
  EXPECT_TRUE(packs.Elements()[2].fresh);  // 12 still holds its value
  EXPECT_EQ(packs.Result(Map(RegisterKind::HoldingRegister, 12)).values, std::vector<int32_t>{12});
}

TEST_F(PackTest, RecordFileGetsOneLinePerPackRead) {
  for (uint16_t a = 10; a <= 13; ++a) slave.SetHolding(a, a + 1000);
  slave.SetHolding(12, 0xFFFF);
  CPackManager packs(Packs("temp"), &device);
  const std::string path = packs.Records()[0].record;
  EXPECT_TRUE(std::regex_match(path, std::regex(R"(Packs/\d{4}\.\d{2}\.\d{2}-\d{2}\.\d{2}\.\d{2}-temp)"))) << path;
  EXPECT_EQ(ReadTextFile(path), "");  // created empty
  packs.Result(Map(RegisterKind::HoldingRegister, 10));
  packs.Result(Map(RegisterKind::HoldingRegister, 11));  // from the cache: no line
  packs.Result(Map(RegisterKind::HoldingRegister, 10));
  const auto lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines)
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d+\.\d{4} 1010 1011 -1 1013 )"))) << line;
  // A record name cannot put the file outside the folder.
  CPackManager sneaky(Packs("../../escape"), &device);
  EXPECT_EQ(std::filesystem::path(sneaky.Records()[0].record).parent_path(), "Packs");
}

TEST_F(PackTest, CoilPackPaddingIsNotAnError) {
  std::vector<PackRecord> coils = {PackRecord{Map(RegisterKind::Coil, 1, RegisterLayout::Array, 3), ""}};
  slave.SetCoil(2, true);
  CPackManager packs(coils, &device);
  EXPECT_EQ(packs.Result(Map(RegisterKind::Coil, 1)).values, std::vector<int32_t>{0});
  EXPECT_EQ(packs.Result(Map(RegisterKind::Coil, 2)).values, std::vector<int32_t>{255});
  EXPECT_EQ(FaultLines(), std::vector<std::string>{"F CPackManager::Result of wrong length in file PackManager.cpp"});
}

}  // namespace
