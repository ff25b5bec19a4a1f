#include "platform/system-win32.h"

namespace platform::win32 {
namespace {

[[noreturn]] void raiseAccessError(DWORD error) {
  throw RunTimeError(kPathFileAccessError, errorText(error));
}

}  // namespace

void Win32Services::appendText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) raiseAccessError(GetLastError());
  // One write, so that the blocks of two runs at the same moment never mix.
  const std::string block = text + "\r\n";
  DWORD written = 0;
  BOOL ok = WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
  DWORD error = GetLastError();
  BOOL closed = CloseHandle(file);
  if (!ok) raiseAccessError(error);
  if (written != block.size()) raiseAccessError(ERROR_DISK_FULL);
  if (!closed) raiseAccessError(GetLastError());
}

}  // namespace platform::win32
