// The dialog templates of the widgets folder.
#pragma once

#include "widgets/DialogTemplate.h"

namespace templates {

// Control ids of the splash view.
constexpr int kSplashTemplate = 147;
constexpr int kSplashStatus = 1061;
constexpr int kSplashLogo = 1063;
constexpr int kSplashVersion = 1064;

// The splash view: logo frame, version text and status line (319 x 104 dialog units).
const DialogTemplate& Splash();

}  // namespace templates
