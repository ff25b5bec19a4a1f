// Real files for the tests that need them: a fresh directory under the
// system's temporary directory, removed with everything in it afterwards.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
// The names in a directory, hidden ones too, in order.
std::vector<std::string> namesIn(const std::string& directory);

// Whether `condition` holds within `seconds`, asked again every `pause`.
bool eventually(const std::function<bool()>& condition, int seconds,
                std::chrono::microseconds pause = std::chrono::milliseconds(20));
// The paths that match a shell pattern, in order.
std::vector<std::string> pathsMatching(const std::string& pattern);
// `size` bytes of a pattern that repeats only every 251 bytes.
std::string patternedContent(std::size_t size);
// A real, sound Access database from the tests' fixtures, grown to at least
// `size` bytes as Access grows a file: by whole pages that hold nothing yet.
std::string accessDatabase(std::size_t size = 0);

}  // namespace testing_support
