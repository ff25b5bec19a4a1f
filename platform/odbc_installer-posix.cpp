// The ODBC installer on POSIX systems is unixODBC's libodbcinst. It is
// loaded when a run first needs it, so that the program starts, and reports
// the problem in its log, on a machine that lacks it.
#include <dlfcn.h>

#include <cstdint>

#include "platform/installer_messages.h"
#include "platform/system-posix.h"

namespace platform::posix {
namespace {

// The installer's own types on these systems: BOOL is int, WORD 16 bits,
// DWORD 32 bits, and the window handle a plain pointer.
using ConfigDataSourceFunction = int (*)(void* parentWindow, std::uint16_t request,
                                         const char* driver, const char* attributes);
using InstallerErrorFunction = std::int16_t (*)(std::uint16_t errorIndex, std::uint32_t* errorCode,
                                                char* message, std::uint16_t messageSize,
                                                std::uint16_t* messageLength);

constexpr const char* kInstallerLibraries[] = {"libodbcinst.so.2", "libodbcinst.so"};

// The installer stays loaded for the rest of the run: it may have handed
// pointers into itself to the driver's setup library.
void* loadInstaller() {
  static void* library = nullptr;
  for (const char* name : kInstallerLibraries) {
    if (library != nullptr) break;
    library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  }
  if (library == nullptr) {
    throw RunTimeError(kFileNotFound, std::string("File not found: ") + kInstallerLibraries[0]);
  }
  return library;
}

std::string installerMessage(void* library) {
  auto installerError =
      reinterpret_cast<InstallerErrorFunction>(dlsym(library, "SQLInstallerError"));
  if (installerError == nullptr) return installerMessages([](auto...) { return false; });
  return installerMessages([&](std::uint16_t index, char* message, std::uint16_t size) {
    std::uint32_t code = 0;
    std::uint16_t length = 0;
    std::int16_t result = installerError(index, &code, message, size, &length);
    return returnedMessage(result);
  });
}

}  // namespace

Outcome PosixServices::configDataSource(std::uint16_t request, const std::string& driver,
                                        const std::string& attributes) {
  void* library = loadInstaller();
  auto configDataSource =
      reinterpret_cast<ConfigDataSourceFunction>(dlsym(library, "SQLConfigDataSource"));
  if (configDataSource == nullptr) {
    throw RunTimeError(kEntryPointNotFound, "Can't find DLL entry point SQLConfigDataSource in " +
                                                std::string(kInstallerLibraries[0]));
  }
  if (configDataSource(nullptr, request, driver.c_str(), attributes.c_str()) != 0) {
    return {true, ""};
  }
  return {false, installerMessage(library)};
}

}  // namespace platform::posix
