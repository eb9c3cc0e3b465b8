#include "visualobject/ObjectTemplates.h"

#include <QCoreApplication>

namespace objtemplates {

namespace {

using S = std::uint32_t;
constexpr S kReadOnly = ControlStyle::kDisabled;

ControlTemplate Led(int x, int y, int cx, int cy, const char* text = "") {
  return {kLed, ControlKind::Custom, QString::fromUtf8(text), x, y, cx, cy, 0, QStringLiteral("CLedButton")};
}

ControlTemplate Label(int id, const char* text, int x, int y, int cx, int cy, S style = 0) {
  return {id, ControlKind::Static, QString::fromUtf8(text), x, y, cx, cy, style, {}};
}

ControlTemplate Field(int id, int x, int y, int cx, int cy, S style = 0) {
  return {id, ControlKind::Edit, QString(), x, y, cx, cy, style, {}};
}

// The current, minimum and maximum fields with their headings, as the edit and the
// statistics objects show them.
void AppendStatistics(std::vector<ControlTemplate>& controls) {
  controls.push_back(Field(kTextMin, 3, 24, 42, 12, kReadOnly));
  controls.push_back(Field(kTextData, 47, 24, 42, 12, kReadOnly));
  controls.push_back(Field(kTextMax, 92, 24, 42, 12, kReadOnly));
  controls.push_back(Label(1044, QT_TRANSLATE_NOOP("DialogTemplate", "Мин."), 14, 16, 20, 8));
  controls.push_back(Label(1046, QT_TRANSLATE_NOOP("DialogTemplate", "Текущее"), 48, 16, 32, 8));
  controls.push_back(Label(1045, QT_TRANSLATE_NOOP("DialogTemplate", "Макс."), 104, 16, 20, 8));
}

DialogTemplate Make(int id, int cx, int cy, std::vector<ControlTemplate> controls) {
  DialogTemplate tmpl;
  tmpl.id = id;
  tmpl.cx = cx;
  tmpl.cy = cy;
  tmpl.controls = std::move(controls);
  return tmpl;
}

}  // namespace

const DialogTemplate& Slider() {
  static const DialogTemplate tmpl = Make(
      129, 139, 42,
      {{kSlider, ControlKind::Slider, QString(), 1, 15, 104, 19, 0, {}},
       Field(kSliderEdit, 106, 16, 29, 12),
       Label(kSliderCaption, "Property Caption", 3, 3, 92, 8),
       Label(kSliderLeftCap, "Left Cap", 1, 32, 42, 8),
       Label(kSliderRightCap, "Right Cap", 83, 32, 33, 8, ControlStyle::kRight),
       Field(kSliderValue, 93, 2, 29, 12, kReadOnly),
       Led(125, 3, 9, 10, "Connected")});
  return tmpl;
}

const DialogTemplate& Check() {
  static const DialogTemplate tmpl =
      Make(136, 177, 31,
           {{kCheck, ControlKind::CheckBox, QStringLiteral("No connections"), 19, 7, 149, 17, 0, {}},
            Led(7, 7, 11, 17)});
  return tmpl;
}

const DialogTemplate& Combo() {
  static const DialogTemplate tmpl =
      Make(138, 178, 34,
           {Label(kComboCaption, "Static", 17, 5, 121, 12),
            {kCombo, ControlKind::AdvCombo, QString(), 15, 18, 158, 12, 0, {}},
            Led(4, 5, 11, 22)});
  return tmpl;
}

const DialogTemplate& Chart() {
  static const DialogTemplate tmpl =
      Make(139, 215, 95,
           {Led(5, 7, 11, 80),
            {kGraph, ControlKind::Custom, QString(), 19, 7, 189, 81, 0, QStringLiteral("CStaticGraphCtrl")}});
  return tmpl;
}

const DialogTemplate& Readout() {
  static const DialogTemplate tmpl =
      Make(140, 140, 71,
           {Label(kCaption, "Name", 26, 7, 102, 10),
            Led(7, 7, 11, 12),
            {kDigitalDisplay, ControlKind::Custom, QStringLiteral("Static"), 15, 22, 110, 35, 0,
             QStringLiteral("CSegmentDisplayCtrl")}});
  return tmpl;
}

const DialogTemplate& Button() {
  static const DialogTemplate tmpl =
      Make(143, 92, 22,
           {{kButton, ControlKind::Button, QString(), 25, 6, 60, 12, 0, {}}, Led(6, 5, 11, 12)});
  return tmpl;
}

const DialogTemplate& Text() {
  static const DialogTemplate tmpl = Make(
      145, 177, 17,
      {Label(kCaption, "Name", 20, 4, 102, 10), Led(3, 2, 11, 12), Field(kTextData, 125, 2, 49, 12, kReadOnly)});
  return tmpl;
}

const DialogTemplate& Edit() {
  static const DialogTemplate tmpl = [] {
    std::vector<ControlTemplate> controls{Label(kCaption, "Name", 4, 3, 85, 10), Field(kEditInput, 92, 3, 42, 12),
                                          Led(3, 14, 11, 10)};
    AppendStatistics(controls);
    return Make(146, 137, 40, std::move(controls));
  }();
  return tmpl;
}

const DialogTemplate& Stats() {
  static const DialogTemplate tmpl = [] {
    std::vector<ControlTemplate> controls{Label(kCaption, "Name", 4, 3, 126, 10), Led(3, 14, 11, 10)};
    AppendStatistics(controls);
    return Make(148, 137, 40, std::move(controls));
  }();
  return tmpl;
}

}  // namespace objtemplates
