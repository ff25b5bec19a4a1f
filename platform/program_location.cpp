#include "platform/program_location.h"

namespace platform {

ProgramLocation locationOf(const std::string& executablePath) {
  std::size_t separator = executablePath.rfind(kPathSeparator);
  ProgramLocation location;
  location.directory = executablePath.substr(0, separator == std::string::npos ? 0 : separator);
  // "/" and "C:\" keep their separator; no other directory ends in one.
  const bool driveLetterOnly = location.directory.size() == 2 && location.directory[1] == ':';
  if (location.directory.empty() || driveLetterOnly) {
    location.directory += kPathSeparator;
  }
  std::string file = executablePath.substr(separator == std::string::npos ? 0 : separator + 1);
  std::size_t dot = file.rfind('.');
  location.name = (dot == std::string::npos || dot == 0) ? file : file.substr(0, dot);
  return location;
}

}  // namespace platform
