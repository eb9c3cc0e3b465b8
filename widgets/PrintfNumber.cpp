#include "widgets/PrintfNumber.h"

#include <cstdio>
#include <string>

QString FormatNumber(const QString& format, int number) {
  const std::string text = format.toStdString();
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    std::size_t j = i + 1;
    while (j < text.size() && std::string_view("-+ 0#").find(text[j]) != std::string_view::npos) ++j;
    std::size_t digits = 0;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9' && digits < 3) {
      ++j;
      ++digits;
    }
    if (j < text.size() && std::string_view("diuxXo").find(text[j]) != std::string_view::npos) {
      const std::string conversion = text.substr(i, j - i + 1);
      char buffer[64];
      const char conv = text[j];
      if (conv == 'd' || conv == 'i') {
        std::snprintf(buffer, sizeof buffer, conversion.c_str(), number);
      } else {
        std::snprintf(buffer, sizeof buffer, conversion.c_str(), static_cast<unsigned>(number));
      }
      out += buffer;
      i = j + 1;
    } else {
      out.append(text, i, j - i);
      i = j;
    }
  }
  return QString::fromStdString(out);
}
