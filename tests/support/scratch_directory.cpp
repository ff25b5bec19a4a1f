// Scratch directories and small file helpers for the tests.
#include "tests/support/scratch_directory.h"

#include <glob.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testing_support {

ScratchDirectory::ScratchDirectory() {
  std::string base = std::filesystem::temp_directory_path().string() + "/mutessel-test-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = base;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  // Tests make files read-only; give the owner its rights back first.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::vector<std::string> namesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool eventually(const std::function<bool()>& condition, int seconds,
                std::chrono::microseconds pause) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(pause);
  }
  return true;
}

std::vector<std::string> pathsMatching(const std::string& pattern) {
  glob_t found{};
  std::vector<std::string> paths;
  if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
    paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
  }
  globfree(&found);
  return paths;
}

std::string patternedContent(std::size_t size) {
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131) % 251);
  return content;
}

std::string accessDatabase(std::size_t size) {
  constexpr std::size_t kPage = 4096;
  std::string content = readFile(MUTESSEL_ACCESS_FIXTURES "/adox_jet4.mdb");
  if (content.size() < size) content.resize((size + kPage - 1) / kPage * kPage, '\0');
  return content;
}

}  // namespace testing_support
