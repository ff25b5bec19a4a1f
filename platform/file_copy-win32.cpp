// A copy that is either whole under the target's name or not there at all.
//
// The data goes to a hidden temporary name beside the target, is flushed to
// disk, and only then is moved to the target's name; the move never replaces
// an existing file. The temporary's name carries the process's id, so that a
// run only ever moves its own; those that killed runs left behind are
// cleared by the next copy.
#include "platform/path_text.h"
#include "platform/system-win32.h"

namespace platform::win32 {
namespace {

struct Failure {
  DWORD error;
};

[[noreturn]] void fail(DWORD error) { throw Failure{error}; }

// "~muTesselDb20261208.mdb." for the target muTesselDb20261208.mdb.
std::string temporaryPrefixFor(const std::string& target) {
  const std::string directory(directoryPrefix(target));
  return directory + "~" + target.substr(directory.size()) + ".";
}

// Deletes a temporary, even one left read-only. One that another run has
// open stays: the system refuses to delete it.
void removeTemporary(const std::string& path) {
  if (DeleteFileA(path.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

void flushToDisk(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) fail(GetLastError());
  BOOL flushed = FlushFileBuffers(file);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!flushed) fail(error);
}

void copyNew(const std::string& source, const std::string& target, const std::string& temporary) {
  if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) fail(ERROR_FILE_EXISTS);
  if (!CopyFileA(source.c_str(), temporary.c_str(), TRUE)) fail(GetLastError());
  DWORD attributes = GetFileAttributesA(temporary.c_str());
  // Hidden, so that no listing of the copies shows it; writable, to flush it.
  if (!SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN)) fail(GetLastError());
  flushToDisk(temporary);
  if (!MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    fail(GetLastError());
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(target.c_str(), attributes & ~FILE_ATTRIBUTE_HIDDEN);
  }
}

}  // namespace

Outcome Win32Services::copyFileNew(const std::string& source, const std::string& target) {
  const std::string prefix = temporaryPrefixFor(target);
  // Those that killed runs left behind.
  for (const std::string& name : listDirectory(prefix + "*.tmp", kListHiddenAndSystem)) {
    removeTemporary(std::string(directoryPrefix(prefix)) + name);
  }
  const std::string temporary = prefix + std::to_string(GetCurrentProcessId()) + ".tmp";
  try {
    copyNew(source, target, temporary);
    return {true, ""};
  } catch (const Failure& failure) {
    removeTemporary(temporary);
    return {false, errorText(failure.error)};
  }
}

}  // namespace platform::win32
