#include "app/AppTemplates.h"

#include <QCoreApplication>

namespace templates {

// A column on the left (logo, device information, the three device commands) and the page
// area to its right. The pages resize only the tab control and the dialog, so nothing to the
// left of it moves when a profile sets its own page size.
const DialogTemplate& MonitorDialog() {
  using namespace monitor;
  static const DialogTemplate tmpl{
      kTemplate,
      QStringLiteral("Kelmora"),
      440,
      214,
      {
          {kLogoFrame, ControlKind::GroupBox, {}, 7, 4, 120, 46, 0, {}},
          {kLogo, ControlKind::Custom, {}, 11, 11, 112, 36, 0, QStringLiteral("CStaticLogo")},
          {kInfoGroup, ControlKind::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Информация об устройстве"), 7, 54, 120, 56, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Имя:"), 13, 67, 44, 10, 0, {}},
          {kName, ControlKind::Static, {}, 58, 67, 64, 10, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Версия:"), 13, 80, 44, 10, 0, {}},
          {kVersion, ControlKind::Static, {}, 58, 80, 64, 10, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Программа:"), 13, 93, 44, 10, 0, {}},
          {kProgram, ControlKind::Static, {}, 58, 93, 64, 10, 0, {}},
          {kControlGroup, ControlKind::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Управление устройством"), 7, 114, 120, 66, 0, {}},
          {kLoad, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Загрузка"), 14, 127, 106, 14, 0, {}},
          {kSave, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Сохранение"), 14, 144, 106, 14, 0, {}},
          {kFirmware, ControlKind::Button, QStringLiteral("Firmware..."), 14, 161, 106, 14, 0, {}},
          {kQueueReadout, ControlKind::Static, QStringLiteral("-1"), 7, 184, 120, 10, ControlStyle::kHidden, {}},
          {kLinkStatus, ControlKind::Static, {}, 7, 184, 120, 22, ControlStyle::kWordWrap | ControlStyle::kHidden, {}},
          {kRecordStatus, ControlKind::Static, {}, 7, 184, 120, 22, ControlStyle::kHidden, {}},
          {kTabs, ControlKind::Tab, {}, 133, 7, 300, 200, 0, {}},
      }};
  return tmpl;
}

// A header band (header and information text) over the page frame, the buttons below.
const DialogTemplate& SetupDialog() {
  using namespace setup;
  static const DialogTemplate tmpl{
      kTemplate,
      QT_TRANSLATE_NOOP("DialogTemplate", "Настройка программы"),
      300,
      226,
      {
          {kHeader, ControlKind::Static, {}, 10, 6, 280, 12, 0, {}},
          {kInformation, ControlKind::Static, {}, 16, 19, 274, 22, ControlStyle::kWordWrap, {}},
          {kPageFrame, ControlKind::Frame, {}, 7, 52, 286, 146, 0, {}},
          {kBack, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "< Назад"), 79, 206, 50, 14, 0, {}},
          {kNext, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Далее >"), 129, 206, 50, 14, 0, {}},
          {kFinish, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Завершить"), 185, 206, 52, 14, 0, {}},
          {kCancel, ControlKind::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Отмена"), 243, 206, 50, 14, 0, {}},
      }};
  return tmpl;
}

const DialogTemplate& SerialPage() {
  using namespace serial;
  static const DialogTemplate tmpl{
      kTemplate,
      {},
      286,
      146,
      {
          {-1, ControlKind::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Порт"), 0, 0, 286, 50, 0, {}},
          {kUseCom, ControlKind::Radio, QT_TRANSLATE_NOOP("DialogTemplate", "Используя COM"), 8, 13, 160, 10, 0, {}},
          {kComList, ControlKind::AdvCombo, {}, 170, 11, 108, 13, 0, {}},
          {kUseFtdi, ControlKind::Radio, QT_TRANSLATE_NOOP("DialogTemplate", "Используя устройство из списка"), 8, 31, 160, 10, 0, {}},
          {kFtdiList, ControlKind::AdvCombo, {}, 170, 29, 108, 13, 0, {}},
          {-1, ControlKind::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Параметры связи"), 0, 56, 286, 90, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Скорость:"), 8, 72, 58, 10, 0, {}},
          {kBaud, ControlKind::AdvCombo, {}, 68, 70, 72, 13, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Чётность:"), 150, 72, 56, 10, 0, {}},
          {kParity, ControlKind::AdvCombo, {}, 208, 70, 70, 13, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Биты данных:"), 8, 92, 58, 10, 0, {}},
          {kDataBits, ControlKind::AdvCombo, {}, 68, 90, 72, 13, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Стоп-биты:"), 150, 92, 56, 10, 0, {}},
          {kStopBits, ControlKind::AdvCombo, {}, 208, 90, 70, 13, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "ID Устройства"), 8, 112, 58, 10, 0, {}},
          {kSlave, ControlKind::Edit, {}, 68, 110, 72, 13, 0, {}},
          // The third way to the device, in the free row below the line parameters: the
          // converter's host and TCP port, in the column of the port lists above.
          {kUseTcp, ControlKind::Radio, QT_TRANSLATE_NOOP("DialogTemplate", "Используя TCP (RTU поверх TCP)"), 8, 130, 160, 10, 0, {}},
          {kTcpHost, ControlKind::Edit, {}, 170, 128, 68, 13, 0, {}},
          {-1, ControlKind::Static, QStringLiteral(":"), 240, 130, 5, 10, ControlStyle::kCenter, {}},
          {kTcpPort, ControlKind::Edit, {}, 246, 128, 32, 13, 0, {}},
      }};
  return tmpl;
}

const DialogTemplate& ProfilesPage() {
  using namespace profiles;
  static const DialogTemplate tmpl{
      kTemplate,
      {},
      286,
      146,
      {
          {-1, ControlKind::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Устройство на линии"), 0, 0, 286, 52, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Имя:"), 8, 13, 80, 10, 0, {}},
          {kName, ControlKind::Static, {}, 90, 13, 188, 10, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Версия:"), 8, 25, 80, 10, 0, {}},
          {kVersion, ControlKind::Static, {}, 90, 25, 188, 10, 0, {}},
          {-1, ControlKind::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Версия программы:"), 8, 37, 80, 10, 0, {}},
          {kProgram, ControlKind::Static, {}, 90, 37, 188, 10, 0, {}},
          {-1, ControlKind::GroupBox, QT_TRANSLATE_NOOP("DialogTemplate", "Профиль устройства"), 0, 56, 286, 90, 0, {}},
          {kList, ControlKind::Custom, {}, 8, 69, 270, 71, 0, QStringLiteral("ListBox")},
      }};
  return tmpl;
}

const DialogTemplate& LongQueryDialog() {
  using namespace longquery;
  static const DialogTemplate tmpl{
      kTemplate,
      {},
      300,
      34,
      {
          {kProgress, ControlKind::Progress, {}, 7, 6, 228, 10, 0, {}},
          {kCancel, ControlKind::Button, QStringLiteral("Cancel"), 243, 5, 50, 14, 0, {}},
          {kText, ControlKind::Static, QStringLiteral("Please wait, while processing long-time query..."), 7, 19, 228,
           10, 0, {}},
      }};
  return tmpl;
}

}  // namespace templates
