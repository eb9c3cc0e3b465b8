#include "comm/FaultLog.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace faultlog {
namespace {

// Lines from the GUI thread and the worker must not interleave inside one line, so the text
// and its line feed go out in one write under a process-wide lock.
std::mutex g_mutex;

void Append(std::string line) {
  line.push_back('\n');
  std::lock_guard lock(g_mutex);
  std::FILE* file = std::fopen(kFileName, "a");
  if (file == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace

void FaultLine(std::string_view message, std::string_view sourceFile) {
  std::string line;
  line.reserve(message.size() + sourceFile.size() + 11);
  line.append("F ").append(message).append(" in file ").append(sourceFile);
  Append(std::move(line));
}

void ExceptionLine(std::string_view statement, std::string_view sourceFile) {
  FaultLine(std::string("Exception while trying ").append(statement), sourceFile);
}

void NullAssertion(std::string_view expression, std::string_view sourceFile) {
  FaultLine(std::string("Assert: Expression is null ").append(expression), sourceFile);
}

void PlainLine(std::string_view text) { Append(std::string(text)); }

void Truncate() {
  std::lock_guard lock(g_mutex);
  if (std::FILE* file = std::fopen(kFileName, "w")) std::fclose(file);
}

}  // namespace faultlog
