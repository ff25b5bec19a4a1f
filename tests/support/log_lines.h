// Finding lines of a run's report by what they say, not by their position,
// so that a test names what it checks and survives a line added above it.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace testing_support {

// The line after the first one that reads `line`; empty when there is none.
inline std::string lineAfter(const std::vector<std::string>& lines, const std::string& line) {
  auto found = std::find(lines.begin(), lines.end(), line);
  return found == lines.end() || found + 1 == lines.end() ? "" : *(found + 1);
}

// The lines with the first one that reads `line` replaced by `with`.
inline std::vector<std::string> replacing(std::vector<std::string> lines, const std::string& line,
                                          const std::string& with) {
  auto found = std::find(lines.begin(), lines.end(), line);
  if (found != lines.end()) *found = with;
  return lines;
}

inline bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace testing_support
