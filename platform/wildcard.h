// Matching names as the system does, ignoring the case of ASCII letters:
// against each other, and against a listing pattern with "*" and "?".
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

bool matchesWildcards(std::string_view pattern, std::string_view name);

}  // namespace platform
