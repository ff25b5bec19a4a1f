// Writing and reading the far copies' records.
#include "job/far_record.h"

#include <cctype>
#include <sstream>

namespace job {
namespace {

constexpr const char* kFirstComment = "# A copy of the database ";
constexpr std::size_t kDigits = 64;

bool isHex(const std::string& text) {
  if (text.size() != kDigits) return false;
  for (unsigned char c : text) {
    if (!std::isxdigit(c)) return false;
  }
  return true;
}

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string databaseNamed(const std::string& computer, const std::string& databasePath) {
  return databasePath + " on " + (computer.empty() ? "a computer without a name" : computer);
}

std::string recordText(const std::string& database, const std::string& copyName,
                       const std::string& sha256) {
  // Line feeds alone: sha256sum reads them, and so does PowerShell.
  return kFirstComment + database + "\n" + sha256 + "  " + copyName + "\n";
}

Record readRecord(const std::string& text, const std::string& copyName) {
  Record record;
  bool firstComment = true;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind('#', 0) == 0) {
      const std::string start = kFirstComment;
      if (firstComment && line.rfind(start, 0) == 0) record.database = line.substr(start.size());
      firstComment = false;
      continue;
    }
    // "HASH  NAME", or "HASH *NAME" as sha256sum writes it for binary reads.
    const std::string digest = line.substr(0, kDigits);
    const std::string name = line.size() > kDigits + 2 ? line.substr(kDigits + 2) : "";
    const bool separated = line.size() > kDigits + 1 && line[kDigits] == ' ' &&
                           (line[kDigits + 1] == ' ' || line[kDigits + 1] == '*');
    if (separated && isHex(digest) && name == copyName) record.sha256 = lowercase(digest);
  }
  return record;
}

}  // namespace job
