// Comparing names as the system does, ignoring the case of ASCII letters
// alone: section and key names in the settings, and listing patterns.
#pragma once

#include <algorithm>
#include <string_view>

namespace platform {

inline char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

}  // namespace platform
