// What the Windows services share: the start of a run, error texts, the program's file.
#include "platform/services-win32.h"

#include <string>

#include "platform/path_text.h"

namespace platform {

namespace win32 {

Win32Services::Win32Services() {
  // A scheduled run has nobody to answer a dialog: a missing drive, a missing
  // DLL or a crash must fail, not wait on a box that nobody sees.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
}

std::string errorText(DWORD error) {
  char* buffer = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : "error " + std::to_string(error);
  LocalFree(buffer);
  text.erase(text.find_last_not_of("\r\n ") + 1);
  return text;
}

ProgramLocation Win32Services::programLocation() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw RunTimeError(kPathFileAccessError,
                         "cannot find the program's own file: " + errorText(GetLastError()));
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return locationOf(path);
}

}  // namespace win32

std::unique_ptr<Services> systemServices() { return std::make_unique<win32::Win32Services>(); }

}  // namespace platform
