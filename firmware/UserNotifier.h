// How the firmware library tells the operator something: the GUI shows a message box, the
// command line prints the text. The library itself never shows anything.
#pragma once

#include <string_view>

enum class NoticeKind { Error, Warning, Information };

class IUserNotifier {
 public:
  virtual ~IUserNotifier() = default;
  // Called on the thread that hit the condition (reading runs on the GUI thread, `Stop` too).
  virtual void Notify(std::string_view text, NoticeKind kind) = 0;
};
