// The ODBC installer on POSIX systems is unixODBC's libodbcinst. It is
// loaded when a run first needs it, so that the program starts, and reports
// the problem in its log, on a machine that lacks it.
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/installer_messages.h"
#include "platform/services-posix.h"

namespace platform::posix {
namespace {

// The installer's own types on these systems: BOOL is int, WORD 16 bits,
// DWORD 32 bits, and the window handle a plain pointer.
using ConfigDataSourceFunction = int (*)(void* window, std::uint16_t, const char*, const char*);
using InstallerErrorFunction = std::int16_t (*)(std::uint16_t index, std::uint32_t* code,
                                                char* message, std::uint16_t size,
                                                std::uint16_t* length);

using InstalledDriversFunction = int (*)(char* names, std::uint16_t size, std::uint16_t* length);
using ProfileStringFunction = int (*)(const char* section, const char* key, const char* defaultText,
                                      char* value, int size, const char* file);
using SystemFileFunction = char* (*)(char* buffer);

constexpr const char* kInstallerLibraries[] = {"libodbcinst.so.2", "libodbcinst.so"};

// The installer stays loaded for the rest of the run: it may have handed
// pointers into itself to the driver's setup library.
void* loadInstaller() {
  static void* library = nullptr;
  for (const char* name : kInstallerLibraries) {
    if (library == nullptr) library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  }
  if (library == nullptr) {
    throw RunTimeError(kFileNotFound, std::string("File not found: ") + kInstallerLibraries[0]);
  }
  return library;
}

template <typename Function>
Function entryPoint(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));
}

// Where the installer keeps its drivers, as it names the file itself.
std::string driverListName(void* library) {
  auto directory = entryPoint<SystemFileFunction>(library, "odbcinst_system_file_path");
  auto file = entryPoint<SystemFileFunction>(library, "odbcinst_system_file_name");
  if (directory == nullptr || file == nullptr) return "odbcinst.ini";
  std::vector<char> path(4096), name(4096);
  const char* directoryName = directory(path.data());
  const char* fileName = file(name.data());
  if (directoryName == nullptr || fileName == nullptr) return "odbcinst.ini";
  return std::string(directoryName) + "/" + fileName;
}

enum class Listed { kYes, kNo, kUnreadable, kCut };

// Whether the driver is in the installer's list. The installer takes a 16-bit
// size, and a list longer than that comes cut where the buffer ends, without
// its closing NUL and with the length equal to the size: whatever lies past
// the cut, the Access driver among it, cannot be told. A list that just fits
// counts as cut too; it fails the night, never passes it.
Listed driverListed(InstalledDriversFunction installedDrivers, const std::string& driver) {
  constexpr std::uint16_t kSize = 65535;
  std::vector<char> names(kSize + 1);  // the last NUL ends the walk of a cut list
  std::uint16_t length = 0;
  if (installedDrivers(names.data(), kSize, &length) == 0) return Listed::kUnreadable;
  if (length >= kSize - 1) return Listed::kCut;
  for (std::size_t at = 0; at < kSize && names[at] != '\0'; at += strlen(&names[at]) + 1) {
    // The installer ignores case too.
    if (strcasecmp(&names[at], driver.c_str()) == 0) return Listed::kYes;
  }
  return Listed::kNo;
}

std::string setupLibraryOf(ProfileStringFunction profileString, const std::string& driver) {
  // A 64-bit installer looks for Setup64 before Setup.
  for (const char* key : {sizeof(void*) == 8 ? "Setup64" : "Setup", "Setup"}) {
    std::vector<char> value(4096);
    int length = profileString(driver.c_str(), key, "", value.data(),
                               static_cast<int>(value.size()), "odbcinst.ini");
    if (length > 0 && value[0] != '\0') return value.data();
  }
  return "";
}

// Why the request reached no driver, and whether no driver was there at all.
struct Diagnosis {
  std::string text;
  bool driverMissing;
};

// Whether a file (the driver list, a setup library) is not there at all; one
// there but unreadable may hide a driver someone can mend by the next night.
bool absent(const std::string& path) {
  struct stat status {};
  return !path.empty() && path.front() == '/' && stat(path.c_str(), &status) != 0 &&
         (errno == ENOENT || errno == ENOTDIR);
}

// The installer never says why the request reached no driver. The password
// travels only in the request, and nothing of the request appears here.
Diagnosis setupDiagnosis(void* library, const std::string& driver) {
  const std::string quoted = "\"" + driver + "\"";
  auto installedDrivers = entryPoint<InstalledDriversFunction>(library, "SQLGetInstalledDrivers");
  auto profileString = entryPoint<ProfileStringFunction>(library, "SQLGetPrivateProfileString");
  if (installedDrivers == nullptr || profileString == nullptr) {
    return {"the ODBC installer cannot tell which drivers are registered", false};
  }
  const std::string driverList = driverListName(library);
  const std::string where = quoted + " in " + driverList;
  switch (driverListed(installedDrivers, driver)) {
    case Listed::kUnreadable:
      return {"the driver list " + driverList + " cannot be read", absent(driverList)};
    case Listed::kCut:
      return {"the driver list " + driverList + " is too long to tell whether " + quoted +
                  " is registered",
              false};
    case Listed::kNo:
      return {"no driver is registered as " + where, true};
    case Listed::kYes:
      break;
  }
  const std::string setup = setupLibraryOf(profileString, driver);
  if (setup.empty()) return {"the driver registered as " + where + " names no Setup library", true};
  const std::string named = "the setup library " + setup + " registered for " + quoted;
  // Left loaded, as the installer leaves what it loads: unloading a library
  // whose constructors have run can leave exit handlers pointing nowhere.
  void* setupLibrary = dlopen(setup.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (setupLibrary == nullptr) {
    const char* why = dlerror();
    return {named + " cannot be loaded: " + (why != nullptr ? why : "unknown reason"),
            absent(setup)};
  }
  if (dlsym(setupLibrary, "ConfigDSN") == nullptr && dlsym(setupLibrary, "ConfigDSNW") == nullptr) {
    return {named + " has no ConfigDSN", true};
  }
  return {named + " refused the request without a message", false};
}

}  // namespace

Outcome PosixServices::configDataSource(std::uint16_t request, const std::string& driver,
                                        const std::string& attributes) {
  void* library = loadInstaller();
  auto configDataSource = entryPoint<ConfigDataSourceFunction>(library, "SQLConfigDataSource");
  if (configDataSource == nullptr) {
    throw RunTimeError(kEntryPointNotFound, "Can't find DLL entry point SQLConfigDataSource in " +
                                                std::string(kInstallerLibraries[0]));
  }
  if (configDataSource(nullptr, request, driver.c_str(), attributes.c_str()) != 0) {
    return {true, ""};
  }
  auto installerError = entryPoint<InstallerErrorFunction>(library, "SQLInstallerError");
  const std::string message = installerErrors<std::uint32_t>(installerError).text;
  // The installer's general message, whatever kept the request from a driver,
  // is the only one that needs a diagnosis.
  if (message != "General installer error") return {false, message};
  const Diagnosis diagnosis = setupDiagnosis(library, driver);
  return {false, message + " (" + diagnosis.text + ")", diagnosis.driverMissing};
}

}  // namespace platform::posix
