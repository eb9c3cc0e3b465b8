// A major.minor version as profiles and devices give it, shown as "%d.%02d".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Version {
  std::int32_t m_v1 = 0;  // major
  std::int32_t m_v2 = 0;  // minor

  // The text before the first "." is the major part, the text after it the minor part, each
  // read like atoi; without a "." the whole text is the major part and the minor is 0.
  // So 1.5 and 1.05 both give minor 5.
  static Version Parse(std::string_view text);
  // "%d.%02d": major 1, minor 5 shows as 1.05.
  std::string Format() const;

  bool operator==(const Version&) const = default;
};
