// Appending the run's block to the log: whole, or not at all.
#include "platform/services-win32.h"

namespace platform::win32 {
namespace {

[[noreturn]] void raiseAccessError(DWORD error) {
  throw RunTimeError(kPathFileAccessError, errorText(error));
}

// Holds the handle, and the lock that lets one run at a time append.
class LockedFile {
 public:
  explicit LockedFile(HANDLE file) : file_(file) {}
  ~LockedFile() {
    if (locked_) UnlockFileEx(file_.get(), 0, MAXDWORD, MAXDWORD, &whole_);
  }

  HANDLE get() const { return file_.get(); }
  bool valid() const { return file_.valid(); }
  bool lock() {
    return locked_ =
               LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_);
  }

 private:
  Handle file_;
  bool locked_ = false;
  OVERLAPPED whole_{};
};

}  // namespace

void Win32Services::appendText(const std::string& path, const std::string& text) {
  LockedFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) raiseAccessError(GetLastError());
  // One run at a time appends, so that two blocks never mix and a failed
  // append can be taken back without touching another run's block.
  LARGE_INTEGER before{};
  if (!file.lock() || !GetFileSizeEx(file.get(), &before) ||
      !SetFilePointerEx(file.get(), before, nullptr, FILE_BEGIN)) {
    raiseAccessError(GetLastError());
  }
  const std::string block = text + "\r\n";
  DWORD written = 0;
  DWORD error = ERROR_SUCCESS;
  if (!WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr)) {
    error = GetLastError();
  } else if (written != block.size()) {
    error = ERROR_DISK_FULL;
  } else if (!FlushFileBuffers(file.get())) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    // A full disk must not leave half a block for every later one to start
    // inside.
    if (!SetFilePointerEx(file.get(), before, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
      throw RunTimeError(kPathFileAccessError,
                         errorText(error) + " (and the part written could not be taken back: " +
                             errorText(GetLastError()) + ")");
    }
    raiseAccessError(error);
  }
}

}  // namespace platform::win32
