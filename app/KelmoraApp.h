// The program's start and end: the fault log emptied, the splash shown, the main window run
// modally, and "end.log" marking whether the run ended through the main window.
#pragma once

#include "app/Language.h"

#include <optional>
#include <string>
#include <vector>

namespace kelmora {

// The clean-exit marker in the working folder: "0" while the main window runs, "1" after.
inline constexpr const char* kEndLog = "end.log";
// Replaces the marker's content with `text` (no line end); false when it cannot be written.
bool WriteEndLog(const char* text);

struct AppOptions {
  bool help = false;
  bool version = false;
  bool autoConnect = false;
  bool userFolder = false;  // work in the per-user data folder, as the desktop menu starts it
  std::optional<language::Language> language;  // --lang: this run's language over the stored one
};
// Reads the program's own options; Qt's options (-platform, ...) are left to Qt. False, with
// `error`, for an unknown option.
bool ParseAppOptions(const std::vector<std::string>& arguments, AppOptions& options, std::string& error);
std::string AppHelpText();

// The whole program; the exit code.
int RunKelmora(int argc, char** argv);

}  // namespace kelmora
