// The far place's look-ups and deletes, each given up when the place stops
// answering; the copy there is in file_copy-win32.cpp.
#include "platform/answer_guard.h"
#include "platform/services-win32.h"

namespace platform::win32 {
namespace {

[[noreturn]] void failWith(DWORD error) { failStep(errorText(error)); }

// The serial number of the volume that holds `path`, a file or a folder.
DWORD volumeOf(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) failWith(GetLastError());
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information)) failWith(GetLastError());
  return information.dwVolumeSerialNumber;
}

}  // namespace

Outcome Win32Services::examineFar(const std::string& directory, const std::string& nearFile,
                                  bool& sameFileSystem) {
  Found same;
  const Outcome outcome = whileAnswering(
      [directory, nearFile](const Answered&, Found& found) {
        return outcomeOf([&] {
          const DWORD bits = GetFileAttributesA(directory.c_str());
          if (bits == INVALID_FILE_ATTRIBUTES) failWith(GetLastError());
          if ((bits & FILE_ATTRIBUTE_DIRECTORY) == 0) failWith(ERROR_DIRECTORY);
          found = volumeOf(directory) == volumeOf(nearFile) ? "same" : "";
        });
      },
      kFarSilenceSeconds, &same);
  sameFileSystem = outcome.ok && same == "same";
  return outcome;
}

Outcome Win32Services::listFar(const std::string& pattern, std::vector<std::string>& names) {
  return listWhileAnswering(listNames, pattern, names, kFarSilenceSeconds);
}

Outcome Win32Services::deleteFar(const std::string& path) {
  return whileAnswering(
      [path](const Answered&, Found&) {
        return outcomeOf([&] {
          if (!DeleteFileA(path.c_str())) failWith(GetLastError());
        });
      },
      kFarSilenceSeconds);
}

}  // namespace platform::win32
