// A copy that is either whole under the target's name or not there at all.
//
// The source is held open for reading with read sharing only, so that no
// writer can start while it is read; a writer already there makes the open
// fail. The data goes to a hidden temporary beside the target, "~mt<pid>.tmp",
// never longer than the dated name, so that a target that fits in MAX_PATH
// always has room for it. The run holds its temporary open, without sharing,
// from its creation to its rename: it writes, flushes, gives it its final
// attributes and renames it through that one handle, and the rename never
// replaces an existing file. Temporaries that killed runs left, of any day,
// are cleared by the next copy; the system refuses to open one that a live
// run holds, so those stay.
#include <vector>

#include "platform/path_text.h"
#include "platform/services-win32.h"

namespace platform::win32 {
namespace {

[[noreturn]] void failWith(DWORD error) { failStep(errorText(error)); }

constexpr const char* kTemporaryPattern = "~mt*.tmp";

// Marks an open file for deletion when its handle closes.
bool deleteOnClose(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

bool setAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times left at zero stay as they are
  basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// Deletes an open file when its handle closes, even a read-only one.
bool discard(HANDLE file) {
  setAttributes(file, FILE_ATTRIBUTE_NORMAL);
  return deleteOnClose(file);
}

// Deletes a temporary that no run has open.
void removeDeadTemporary(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), DELETE | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid()) discard(file.get());  // else held by a live run, or gone
}

// The temporary that the data goes to, held open until it has its name, and
// removed when it has none by then.
class PendingCopy {
 public:
  explicit PendingCopy(const std::string& path)
      : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
    if (!file_.valid()) failWith(GetLastError());
  }
  ~PendingCopy() {
    if (!named_) discard(file_.get());
  }
  PendingCopy(const PendingCopy&) = delete;
  PendingCopy& operator=(const PendingCopy&) = delete;

  HANDLE get() const { return file_.get(); }

  // Renames it to `target`; fails when that name is taken.
  void nameAs(const std::string& target) {
    const int length = MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, nullptr, 0);
    if (length <= 0) failWith(GetLastError());
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + sizeof(WCHAR) * length);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(sizeof(WCHAR) * (length - 1));
    MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, rename->FileName, length);
    if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
      failWith(GetLastError());
    }
    named_ = true;
    // The rename reaches the disk with the file's next flush; a copy whose
    // name is not known to be on disk is no copy.
    if (!FlushFileBuffers(file_.get())) {
      const DWORD error = GetLastError();
      named_ = !discard(file_.get());
      failWith(error);
    }
  }

 private:
  Handle file_;
  bool named_ = false;
};

void copyContents(HANDLE from, HANDLE to, ULONGLONG size) {
  std::vector<char> buffer(1 << 20);
  ULONGLONG copied = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      failWith(GetLastError());
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(to, buffer.data(), got, &written, nullptr)) failWith(GetLastError());
    if (written != got) failWith(ERROR_DISK_FULL);
    copied += got;
  }
  if (copied != size) {
    failStep("Only " + std::to_string(copied) + " of " + std::to_string(size) +
             " bytes were copied");
  }
}

void copyNew(const std::string& source, const std::string& target, const std::string& lockFile,
             const std::string& temporary) {
  Handle from(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!from.valid()) failWith(GetLastError());
  BY_HANDLE_FILE_INFORMATION status{};
  if (!GetFileInformationByHandle(from.get(), &status)) failWith(GetLastError());
  if (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) failWith(ERROR_ACCESS_DENIED);
  if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) failWith(ERROR_FILE_EXISTS);

  PendingCopy pending(temporary);
  copyContents(from.get(), pending.get(),
               (static_cast<ULONGLONG>(status.nFileSizeHigh) << 32) | status.nFileSizeLow);
  if (!SetFileTime(pending.get(), nullptr, nullptr, &status.ftLastWriteTime)) {
    failWith(GetLastError());
  }
  if (!FlushFileBuffers(pending.get())) failWith(GetLastError());
  if (!lockFile.empty() && GetFileAttributesA(lockFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
    failStep("The database's lock file appeared during the copy");
  }
  // The source's attributes, less hidden: a copy that stayed hidden would
  // never be seen by the clean-up of old copies again.
  if (!setAttributes(pending.get(), status.dwFileAttributes & ~FILE_ATTRIBUTE_HIDDEN)) {
    failWith(GetLastError());
  }
  pending.nameAs(target);
}

}  // namespace

Outcome Win32Services::copyFileNew(const std::string& source, const std::string& target,
                                   const std::string& lockFile) {
  const std::string directory(directoryPrefix(target));
  for (const std::string& name :
       listDirectory(directory + kTemporaryPattern, kListHiddenAndSystem)) {
    removeDeadTemporary(directory + name);
  }
  const std::string temporary = directory + "~mt" + std::to_string(GetCurrentProcessId()) + ".tmp";
  return outcomeOf([&] { copyNew(source, target, lockFile, temporary); });
}

}  // namespace platform::win32
