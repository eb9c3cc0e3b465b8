// Fills a printf-style format text with one integer, safely.
//
// Caller-supplied formats such as "%d%%" must never reach the C library's printf: a stray
// "%s" there reads an argument that was never passed. Only integer conversions are
// honoured (flags "-+ 0#", a width, d i u x X o), each filled with the same number, and "%%"
// prints "%". Any other conversion is copied as written.
#pragma once

#include <QString>

QString FormatNumber(const QString& format, int number);
