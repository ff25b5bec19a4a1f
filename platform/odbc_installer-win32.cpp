// The ODBC installer on Windows is odbccp32.dll. It is loaded when a run
// first needs it, so that a machine without it gets a line in the log, not a
// program that cannot start.
#include "platform/services-win32.h"
// After windows.h, which it needs.
#include <odbcinst.h>

#include <algorithm>

#include "platform/installer_messages.h"

namespace platform::win32 {
namespace {

using ConfigDataSourceFunction = BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR);
using InstallerErrorFunction = SHORT(WINAPI*)(WORD, DWORD*, LPSTR, WORD, WORD*);

constexpr const char* kInstallerLibrary = "odbccp32.dll";

// The installer's codes for a request that found no driver to take it: no
// driver of that name in the registry (which the installer reports either
// way), or its setup library could not be loaded. Only when every report
// carries one of them is the driver missing; a driver that was asked and
// refused is reported as a failed request, perhaps after its own message.
constexpr DWORD kNoDriverCodes[] = {ODBC_ERROR_COMPONENT_NOT_FOUND, ODBC_ERROR_INVALID_NAME,
                                    ODBC_ERROR_LOAD_LIB_FAILED};

bool noDriverCode(std::uint32_t code) {
  return std::find(std::begin(kNoDriverCodes), std::end(kNoDriverCodes), code) !=
         std::end(kNoDriverCodes);
}

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
  InstallerErrors errors =
      installerErrors<DWORD>(entryPoint<InstallerErrorFunction>(library, "SQLInstallerError"));
  const bool driverMissing =
      !errors.codes.empty() && std::all_of(errors.codes.begin(), errors.codes.end(), noDriverCode);
  return {false, errors.text, driverMissing};
}

}  // namespace platform::win32
