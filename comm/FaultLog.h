// The fault log "faults.log" in the working folder, which every part of Kelmora appends to.
//
// Each entry opens the file in append mode, writes one line and closes it again, so the log
// survives a crash up to its last line and needs no shared handle. A log that cannot be opened
// drops the entry; logging never stops the program.
#pragma once

#include <string_view>

namespace faultlog {

// The file name, relative to the working folder.
inline constexpr const char* kFileName = "faults.log";

// "F <message> in file <source>": something went wrong in the code of <source>.
void FaultLine(std::string_view message, std::string_view sourceFile);
// "F Exception while trying <statement> in file <source>": a call threw and was contained.
void ExceptionLine(std::string_view statement, std::string_view sourceFile);
// "F Assert: Expression is null <expression> in file <source>": a required pointer was null.
void NullAssertion(std::string_view expression, std::string_view sourceFile);
// The text alone: warnings, progress and check messages.
void PlainLine(std::string_view text);
// Empties the log (done once at start-up, so the log describes the last run only).
void Truncate();

// The bare file name of a source path, so log lines do not depend on where the tree was built.
constexpr std::string_view SourceName(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace faultlog

// Shorthands that record the calling source file.
#define KELMORA_FAULT(message) ::faultlog::FaultLine((message), ::faultlog::SourceName(__FILE__))
#define KELMORA_EXCEPTION(statement) \
  ::faultlog::ExceptionLine((statement), ::faultlog::SourceName(__FILE__))
#define KELMORA_ASSERT_NOT_NULL(pointer)                                                  \
  ((pointer) != nullptr ? true                                                          \
                        : (::faultlog::NullAssertion(#pointer, ::faultlog::SourceName(__FILE__)), \
                           false))
