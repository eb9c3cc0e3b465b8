// A dark colour scheme for the Fusion style, as a dark desktop gives it: light text on dark
// grey windows and darker fields. The screenshot tour and the readability tests run every
// window under it; the program itself takes whatever palette the desktop hands it.
#pragma once

#include <QPalette>

class QApplication;

QPalette DarkPalette();
// Switches the application to the Fusion style with DarkPalette(); call it before any window
// is made, so every widget starts from that palette.
void UseDarkFusion(QApplication& application);
