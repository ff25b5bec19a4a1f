// Where a program lives and what it is called, from its own file's path.
#include "platform/program_location.h"

#include "platform/path_text.h"

namespace platform {

ProgramLocation locationOf(const std::string& executablePath) {
  ProgramLocation location;
  location.directory = directoryOf(executablePath);
  const std::string file(lastComponent(executablePath));
  std::size_t dot = file.rfind('.');
  location.name = (dot == std::string::npos || dot == 0) ? file : file.substr(0, dot);
  return location;
}

}  // namespace platform
