// Fuzz target: the Lumora panel's layout from its "bitmask" keyword, `BuildLedLayout`.
//
// Input: the keyword's text.
#include <QGuiApplication>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugin/LedLayout.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The layout makes fonts and brushes, as it does inside the program's window. Qt gets an
  // argument list of its own: it would take out of libFuzzer's what it recognises.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "fuzz_led_layout";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const LedLayout layout = BuildLedLayout(std::string_view(reinterpret_cast<const char*>(data), size));
  if (layout.rows < 1 || layout.columns < 0 || layout.width < 0 || layout.height < 0) std::abort();
  for (const LedCell& cell : layout.cells) {
    if (cell.column < 0 || cell.column >= layout.columns || cell.row < 1 || cell.row > layout.rows) std::abort();
    if (!std::isfinite(cell.centre.x()) || !std::isfinite(cell.centre.y()) || !(cell.led.rect.width() > 0)) std::abort();
  }
  return 0;
}
