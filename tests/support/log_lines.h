// Text split into lines, and the lines of a run's report: those of the
// common runs, and finding lines by what they say, not by their position, so
// that a test names what it checks and survives a line added above it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace testing_support {

// The line that closes every block of the log.
constexpr const char* kSeparator = "_________________________________";

// The lines of `text` that end in `lineEnd`, without it; what follows the
// last one is left out.
inline std::vector<std::string> splitLines(const std::string& text,
                                           const std::string& lineEnd = "\n") {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(lineEnd, start)) != std::string::npos;
       start = end + lineEnd.size()) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The lines of a run's report, every one of which ends in CR LF.
inline std::vector<std::string> crLfLines(const std::string& text) {
  EXPECT_TRUE(text.empty() || (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n"))
      << "every line ends in CR LF";
  return splitLines(text, "\r\n");
}

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

// The lines of a full run on the database, as the program spells its path.
inline std::vector<std::string> fullRunOf(const std::string& database) {
  return {"Databasefile = " + database,
          "No lockfile present",
          "Start copy",
          "Copy performed",
          "Start compress and repair",
          "Repair performed",
          "Start cleanup old backups",
          "Cleanup of old backups finished"};
}

// The same when a stale lock file was found and deleted first.
inline std::vector<std::string> staleLockRunOf(const std::string& database) {
  std::vector<std::string> lines = fullRunOf(database);
  lines.erase(std::find(lines.begin(), lines.end(), "No lockfile present"));
  lines.insert(lines.begin() + 1, {"Lockfile still present", "Lockfile deleted"});
  return lines;
}

inline bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace testing_support
