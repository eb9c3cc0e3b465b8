// One step of a visual object that must not stop the steps after it: an exception is caught
// and logged with the step's statement text and the source file that ran it.
#pragma once

#include <string_view>

#include "comm/FaultLog.h"

template <typename Step>
bool Guarded(std::string_view statement, std::string_view sourceFile, Step&& step) {
  try {
    step();
    return true;
  } catch (...) {
    faultlog::ExceptionLine(statement, sourceFile);
    return false;
  }
}

// The calling file's name, as fault lines give it.
#define KELMORA_UNIT ::faultlog::SourceName(__FILE__)
