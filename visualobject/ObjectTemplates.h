// The dialog templates of the visual objects: control ids, kinds, places and sizes in dialog
// units. Every template holds the state lamp, control 1033.
#pragma once

#include "widgets/DialogTemplate.h"

namespace objtemplates {

// Controls shared by several templates.
constexpr int kLed = 1033;
constexpr int kCaption = 1039;
constexpr int kTextData = 1040;  // IDC_TEXT_DATA
constexpr int kTextMin = 1042;   // IDC_TEXT_MIN
constexpr int kTextMax = 1043;   // IDC_TEXT_MAX

// Readout (template 140) and chart (139).
constexpr int kDigitalDisplay = 1057;
constexpr int kGraph = 1037;

// Edit (146).
constexpr int kEditInput = 1041;

// Slider (129).
constexpr int kSlider = 1000;         // IDC_PI_SLIDER
constexpr int kSliderEdit = 1001;     // IDC_PI_EDIT
constexpr int kSliderCaption = 1002;
constexpr int kSliderValue = 1003;    // IDC_VALUE
constexpr int kSliderLeftCap = 1032;
constexpr int kSliderRightCap = 1031;

// Check box (136), list (138), button (143).
constexpr int kCheck = 1029;
constexpr int kComboCaption = 1036;
constexpr int kCombo = 1035;
constexpr int kButton = 1056;

const DialogTemplate& Slider();     // 129
const DialogTemplate& Check();      // 136
const DialogTemplate& Combo();      // 138
const DialogTemplate& Chart();      // 139
const DialogTemplate& Readout();    // 140
const DialogTemplate& Button();     // 143
const DialogTemplate& Text();       // 145
const DialogTemplate& Edit();       // 146
const DialogTemplate& Stats();      // 148

}  // namespace objtemplates
