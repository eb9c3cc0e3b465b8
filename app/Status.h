// Start-up progress: each step's text goes to the splash window's status line (when the
// splash is up) and as a plain line to the fault log.
#pragma once

class CSplashScreen;

void ShowStartupStatus(CSplashScreen* splash, const char* text);
