// The dialog templates of the program's own windows: the main dialog, the setup wizard with its
// two pages, and the long-query wait dialog. Sizes and positions are dialog units of the
// dialog's font; every control the code addresses bears its id.
#pragma once

#include "widgets/DialogTemplate.h"

namespace templates {

// The main monitor dialog.
namespace monitor {
constexpr int kTemplate = 102;
constexpr int kName = 1025, kVersion = 1026, kProgram = 1027;
constexpr int kTabs = 1030;
constexpr int kLoad = 1041, kSave = 1042, kFirmware = 1043;
constexpr int kQueueReadout = 1044;
constexpr int kLinkStatus = 1045;  // shown while the device's line is lost
constexpr int kRecordStatus = 1046;  // shown while values are recorded (and the line is up)
constexpr int kLogo = 1054;
constexpr int kLogoFrame = 1058, kInfoGroup = 1059, kControlGroup = 1060;
}  // namespace monitor
const DialogTemplate& MonitorDialog();

// The setup wizard's frame.
namespace setup {
constexpr int kTemplate = 133;
constexpr int kHeader = 1019, kInformation = 1020;
constexpr int kNext = 1021, kPageFrame = 1022, kBack = 1023, kFinish = 1024;
constexpr int kCancel = 2;
}  // namespace setup
const DialogTemplate& SetupDialog();

// The serial-settings page.
namespace serial {
constexpr int kTemplate = 131;
constexpr int kUseCom = 1005, kUseFtdi = 1006;
constexpr int kComList = 1065, kFtdiList = 1008;
constexpr int kUseTcp = 1007, kTcpHost = 1066, kTcpPort = 1067;  // RTU over TCP: host and port
constexpr int kBaud = 1010, kParity = 1011, kStopBits = 1012, kSlave = 1013, kDataBits = 1014;
}  // namespace serial
const DialogTemplate& SerialPage();

// The profile page.
namespace profiles {
constexpr int kTemplate = 132;
constexpr int kName = 1014, kVersion = 1015, kProgram = 1016;
constexpr int kList = 1018;
}  // namespace profiles
const DialogTemplate& ProfilesPage();

// The long-query wait dialog.
namespace longquery {
constexpr int kTemplate = 103;
constexpr int kProgress = 1051, kCancel = 1052, kText = 1055;
}  // namespace longquery
const DialogTemplate& LongQueryDialog();

}  // namespace templates
