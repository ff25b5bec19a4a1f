// A copy that is either whole under the target's name or not there at all.
//
// The system's own copy (CopyFileExA) makes it: on a file server's share the
// server copies the data itself, without sending it to this computer and
// back; on ReFS the copy shares the database's blocks until either changes;
// alternate data streams and encryption come along, and so does the
// last-write time. The source is held open for reading, with read sharing
// only, from before the copy until the copy has its name, so no writer can
// start meanwhile and a writer already there makes the open fail; the
// system's copy opens the source for reading, sharing reads, which that
// handle allows.
//
// The copy goes to a temporary beside the target, "~mt<pid>.tmp", which the
// system creates and never over an existing file. A name already there, a
// killed run's temporary that the system has not let go of yet (process ids
// come round again), is passed over for "~mt<pid>-1.tmp" and on; none is
// longer than the dated name, so a target that fits in MAX_PATH always has
// room for it. Once made, the temporary is opened without sharing, checked
// for the database's size, flushed, given its final attributes and renamed
// through that one handle, by a rename that never replaces a file, and
// flushed again. Temporaries that killed runs left, of any day, are cleared
// by the next copy, and only those: a user's file of a like name stays. The
// system refuses to open one that a live run holds, so those stay too. Only
// between the system's copy and that open does nobody hold the temporary: a
// second run that starts its clean-up in that moment may remove it, and this
// run then fails its copy and says so, while the second run makes the copy.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/answer_guard.h"
#include "platform/path_text.h"
#include "platform/services-win32.h"
#include "platform/sha256.h"

namespace platform::win32 {
namespace {

[[noreturn]] void failWith(DWORD error) { failStep(errorText(error)); }

constexpr const char* kTemporaryPattern = "~mt*.tmp";
constexpr int kTemporaryNames = 10;  // "~mt<pid>.tmp" and nine more

// The run's temporary name of that number: 19 characters at most, against
// the dated name's 22.
std::string temporaryName(int number) {
  const std::string stem = "~mt" + std::to_string(GetCurrentProcessId());
  return (number == 0 ? stem : stem + "-" + std::to_string(number)) + ".tmp";
}

// Whether `name` is one that temporaryName gives some run, "~mt<pid>.tmp" or
// "~mt<pid>-<digit>.tmp": a user's "~mtnotes.tmp" that the listing's pattern
// also finds is not the clean-up's to delete.
bool isRunTemporary(std::string_view name) {
  constexpr std::string_view kStem = "~mt", kExtension = ".tmp";
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.size() <= kStem.size() + kExtension.size() || name.substr(0, kStem.size()) != kStem ||
      name.substr(name.size() - kExtension.size()) != kExtension) {
    return false;
  }
  std::string_view number =
      name.substr(kStem.size(), name.size() - kStem.size() - kExtension.size());
  if (number.size() > 2 && number[number.size() - 2] == '-' && isDigit(number.back())) {
    number.remove_suffix(2);
  }
  return std::all_of(number.begin(), number.end(), isDigit);
}

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

// Whether nothing is under `path`, and the error that says otherwise: a
// file there, or one that is being deleted (which the system will not open).
bool nameFree(const std::string& path, DWORD& error) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    error = ERROR_FILE_EXISTS;
    return false;
  }
  error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND;
}

// Has the system copy `source` to the first of the run's temporary names
// that is free, and returns that name; `progress`, when given, is called
// with `data` as the system's copy goes on. A copy the system fails leaves
// nothing: what it made of the temporary is removed.
std::string copyToTemporary(const std::string& source, const std::string& directory,
                            LPPROGRESS_ROUTINE progress = nullptr, void* data = nullptr) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int number = 0; number < kTemporaryNames; ++number) {
    const std::string temporary = directory + temporaryName(number);
    if (!nameFree(temporary, error)) continue;
    if (CopyFileExA(source.c_str(), temporary.c_str(), progress, data, nullptr,
                    COPY_FILE_FAIL_IF_EXISTS)) {
      return temporary;
    }
    error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;  // just taken
    removeDeadTemporary(temporary);
    failWith(error);
  }
  failWith(error);
}

// The temporary that the system's copy made, held open until it has its
// name, sharing at most reads (`share`), and removed when it has none by
// then.
class PendingCopy {
 public:
  explicit PendingCopy(const std::string& path, DWORD share = 0)
      : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!file_.valid()) {
      const DWORD error = GetLastError();
      removeDeadTemporary(path);
      failWith(error);
    }
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

// The source opened for reading with read sharing only, so that no writer
// can start meanwhile.
HANDLE openSource(const std::string& source) {
  HANDLE from = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (from == INVALID_HANDLE_VALUE) failWith(GetLastError());
  return from;
}

// The open source's facts; fails for a folder, or when `target` is taken.
void examineSource(const Handle& from, const std::string& target,
                   BY_HANDLE_FILE_INFORMATION& status) {
  if (!GetFileInformationByHandle(from.get(), &status)) failWith(GetLastError());
  if (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) failWith(ERROR_ACCESS_DENIED);
  if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) failWith(ERROR_FILE_EXISTS);
}

// The system gave the copy the source's attributes: it is hidden from here
// to its rename, and not read-only, which would keep it from being opened
// for the flush.
void hideTemporary(const std::string& temporary) {
  if (!SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN)) {
    const DWORD error = GetLastError();
    removeDeadTemporary(temporary);
    failWith(error);
  }
}

// Fails unless the copy is as large as the source, then flushes it.
void checkSizeAndFlush(const PendingCopy& pending, const BY_HANDLE_FILE_INFORMATION& status) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(pending.get(), &size)) failWith(GetLastError());
  const ULONGLONG expected =
      (static_cast<ULONGLONG>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
  if (static_cast<ULONGLONG>(size.QuadPart) != expected) {
    failStep("Only " + std::to_string(size.QuadPart) + " of " + std::to_string(expected) +
             " bytes were copied");
  }
  if (!FlushFileBuffers(pending.get())) failWith(GetLastError());
}

// The source's attributes, less hidden: a copy that stayed hidden would
// never be seen by the clean-up of old copies again. Those that no handle
// sets (compressed, encrypted, sparse) came with the system's copy.
void giveAttributes(const PendingCopy& pending, const BY_HANDLE_FILE_INFORMATION& status) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (!setAttributes(pending.get(), status.dwFileAttributes & kKept)) {
    failWith(GetLastError());
  }
}

void copyNew(const std::string& source, const std::string& target, const std::string& lockFile) {
  const Handle from(openSource(source));
  BY_HANDLE_FILE_INFORMATION status{};
  examineSource(from, target, status);
  const std::string temporary = copyToTemporary(source, std::string(directoryPrefix(target)));
  hideTemporary(temporary);
  PendingCopy pending(temporary);
  checkSizeAndFlush(pending, status);
  if (!lockFile.empty() && GetFileAttributesA(lockFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
    failStep("The database's lock file appeared during the copy");
  }
  giveAttributes(pending, status);
  pending.nameAs(target);
}

// The system's copy tells of its progress: the far place answered.
DWORD CALLBACK answeredOnProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                                  DWORD, HANDLE, HANDLE, void* answered) {
  (*static_cast<const Answered*>(answered))();
  return PROGRESS_CONTINUE;
}

// Reads `size` bytes, or up to the end of the file; the bytes read.
DWORD readFully(HANDLE file, unsigned char* into, DWORD size) {
  DWORD got = 0;
  while (got < size) {
    DWORD step = 0;
    if (!ReadFile(file, into + got, size - got, &step, nullptr)) failWith(GetLastError());
    if (step == 0) break;
    got += step;
  }
  return got;
}

// Whether the temporary, read without the system's cache, so from the disk
// or the server where it lies, holds the source's bytes; what it holds goes
// to `digest`.
bool readBackEqual(const std::string& source, const std::string& temporary,
                   const Answered& answered, Sha256& digest) {
  constexpr DWORD kPiece = 1 << 20;  // a whole number of any disk's sectors
  Handle original(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!original.valid()) failWith(GetLastError());
  Handle copy(CreateFileA(
      temporary.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!copy.valid()) failWith(GetLastError());
  // Unbuffered reads go to sector-aligned memory.
  std::unique_ptr<void, void (*)(void*)> memory(
      VirtualAlloc(nullptr, 2 * kPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
      [](void* p) { VirtualFree(p, 0, MEM_RELEASE); });
  if (!memory) failWith(GetLastError());
  auto* there = static_cast<unsigned char*>(memory.get());
  unsigned char* here = there + kPiece;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(copy.get(), there, kPiece, &got, nullptr)) failWith(GetLastError());
    const DWORD expected = readFully(original.get(), here, got == 0 ? 1 : got);
    if (got == 0) return expected == 0;
    if (expected != got || std::memcmp(here, there, got) != 0) return false;
    digest.add(there, got);
    answered();
  }
}

// The far copy: as the copy beside the database, made by the system's copy
// (which has a file server copy between its own shares), but read back,
// unbuffered, before it is named. Others may read the temporary meanwhile;
// no run can delete it. The digest is of the bytes read back there.
std::string copyVerified(const std::string& source, const std::string& target,
                         const Answered& answered) {
  const Handle from(openSource(source));
  BY_HANDLE_FILE_INFORMATION status{};
  examineSource(from, target, status);
  const std::string temporary =
      copyToTemporary(source, std::string(directoryPrefix(target)), answeredOnProgress,
                      const_cast<Answered*>(&answered));
  hideTemporary(temporary);
  PendingCopy pending(temporary, FILE_SHARE_READ);
  checkSizeAndFlush(pending, status);
  answered();
  Sha256 digest;
  if (!readBackEqual(source, temporary, answered, digest)) {
    failStep("the copy read back there differs from the backup");
  }
  // As on POSIX systems, whose digest is reckoned from the backup itself: a
  // backup that changed while it was sent may not be what the copy holds.
  BY_HANDLE_FILE_INFORMATION after{};
  if (!GetFileInformationByHandle(from.get(), &after)) failWith(GetLastError());
  if (after.nFileSizeHigh != status.nFileSizeHigh || after.nFileSizeLow != status.nFileSizeLow ||
      CompareFileTime(&after.ftLastWriteTime, &status.ftLastWriteTime) != 0) {
    failStep("the backup changed while it was sent");
  }
  giveAttributes(pending, status);
  pending.nameAs(target);
  return digest.hex();
}

// A small file there, named as a copy is: by a rename that never replaces.
void writeNew(const std::string& target, const std::string& text) {
  if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) failWith(ERROR_FILE_EXISTS);
  const std::string directory(directoryPrefix(target));
  for (int number = 0; number < kTemporaryNames; ++number) {
    const std::string temporary = directory + temporaryName(number);
    DWORD error = ERROR_SUCCESS;
    bool wrote = false;
    {
      Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr));
      if (!file.valid()) {
        error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        failWith(error);
      }
      DWORD written = 0;
      wrote =
          WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
          written == text.size();
      if (!wrote) error = GetLastError();
    }
    PendingCopy pending(temporary);
    if (!wrote) failWith(error == ERROR_SUCCESS ? ERROR_HANDLE_DISK_FULL : error);
    if (!FlushFileBuffers(pending.get())) failWith(GetLastError());
    if (!setAttributes(pending.get(), FILE_ATTRIBUTE_ARCHIVE)) failWith(GetLastError());
    pending.nameAs(target);
    return;
  }
  failWith(ERROR_FILE_EXISTS);
}

// Clears the temporaries that killed runs left in `directory`.
void clearDeadTemporaries(const std::string& directory) {
  try {
    for (const std::string& name : listNames(directory + kTemporaryPattern, kListHiddenAndSystem)) {
      if (isRunTemporary(name)) removeDeadTemporary(directory + name);
    }
  } catch (const RunTimeError&) {
    // A folder that cannot be listed: the copy itself says what fails there.
  }
}

}  // namespace

Outcome Win32Services::copyFileNew(const std::string& source, const std::string& target,
                                   const std::string& lockFile) {
  clearDeadTemporaries(std::string(directoryPrefix(target)));
  return outcomeOf([&] { copyNew(source, target, lockFile); });
}

Outcome Win32Services::copyFar(const std::string& source, const std::string& target,
                               std::string& sha256) {
  Found digest;
  const Outcome outcome = whileAnswering(
      [source, target](const Answered& answered, Found& found) {
        clearDeadTemporaries(std::string(directoryPrefix(target)));
        answered();
        return outcomeOf([&] { found = copyVerified(source, target, answered); });
      },
      kFarSilenceSeconds, &digest);
  sha256 = outcome.ok ? digest : "";
  return outcome;
}

Outcome Win32Services::writeFarNew(const std::string& path, const std::string& text) {
  return whileAnswering(
      [path, text](const Answered&, Found&) { return outcomeOf([&] { writeNew(path, text); }); },
      kFarSilenceSeconds);
}

}  // namespace platform::win32
