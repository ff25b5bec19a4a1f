// The ODBC installer on Windows is odbccp32.dll. It is loaded when a run
// first needs it, so that a machine without it gets a line in the log, not a
// program that cannot start.
#include "platform/installer_messages.h"
#include "platform/services-win32.h"

namespace platform::win32 {
namespace {

using ConfigDataSourceFunction = BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR);
using InstallerErrorFunction = SHORT(WINAPI*)(WORD, DWORD*, LPSTR, WORD, WORD*);

constexpr const char* kInstallerLibrary = "odbccp32.dll";

template <typename Function>
Function entryPoint(HMODULE library, const char* name) {
  // GetProcAddress hands every entry point back as one generic type.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

HMODULE loadInstaller() {
  static HMODULE library = nullptr;
  if (library == nullptr) library = LoadLibraryA(kInstallerLibrary);
  if (library == nullptr) {
    throw RunTimeError(kFileNotFound, std::string("File not found: ") + kInstallerLibrary);
  }
  return library;
}

}  // namespace

Outcome Win32Services::configDataSource(std::uint16_t request, const std::string& driver,
                                        const std::string& attributes) {
  HMODULE library = loadInstaller();
  auto configDataSource = entryPoint<ConfigDataSourceFunction>(library, "SQLConfigDataSource");
  if (configDataSource == nullptr) {
    throw RunTimeError(kEntryPointNotFound, std::string("Can't find DLL entry point "
                                                        "SQLConfigDataSource in ") +
                                                kInstallerLibrary);
  }
  if (configDataSource(nullptr, request, driver.c_str(), attributes.c_str())) return {true, ""};
  return {false, installerMessages<DWORD>(
                     entryPoint<InstallerErrorFunction>(library, "SQLInstallerError"))};
}

}  // namespace platform::win32
