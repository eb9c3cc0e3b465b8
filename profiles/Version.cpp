#include "profiles/Version.h"

#include <cstdio>

#include "profiles/ProfileNumbers.h"

Version Version::Parse(std::string_view text) {
  Version version;
  const auto point = text.find('.');
  version.m_v1 = profilenumbers::ReadInt(text.substr(0, point));
  version.m_v2 = point == std::string_view::npos ? 0 : profilenumbers::ReadInt(text.substr(point + 1));
  return version;
}

std::string Version::Format() const {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d.%02d", m_v1, m_v2);
  return buffer;
}
