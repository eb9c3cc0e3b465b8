// Start-up progress: each step's text goes to the splash window's status line (when the
// splash is up, translated in the context "Startup") and as a plain line to the fault log, as
// written. Mark the texts with QT_TRANSLATE_NOOP("Startup", ...).
#pragma once

class CSplashScreen;

inline constexpr const char* kStartupContext = "Startup";

void ShowStartupStatus(CSplashScreen* splash, const char* text);
