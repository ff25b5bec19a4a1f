// The copy's parts on POSIX systems, private to platform/ and its tests: the
// ways of giving a finished copy its name, and the options that let the
// platform tests drive each way and change the database in mid-copy.
#pragma once

#include <functional>
#include <string>

#include "platform/services.h"
#include "platform/system-posix.h"

namespace platform::posix {

// The ways of writing a copy and giving it its name, in the order tried. A
// way that the file system does not support hands over to the next one.
enum class CopyWay {
  kUnnamedFile,      // O_TMPFILE, then linkat: never visible before it is whole
  kLink,             // a named temporary, then link: fails when the name is taken
  kRenameNoReplace,  // a named temporary, then renameat2(RENAME_NOREPLACE)
  kRename,           // a named temporary, then rename under the directory's lock
};

// What production leaves at its defaults and the platform tests set.
struct CopyOptions {
  CopyWay firstWay = CopyWay::kUnnamedFile;
  // Runs once the data is in the copy, before the copy is checked against
  // the database.
  std::function<void()> afterData;
  // Checks the copy against the database's contents alone, as on a file
  // system whose times show no change.
  bool contentsOnly = false;
};

// The temporaries' names begin with this; a dot hides them from listings.
constexpr const char* kTemporaryPrefix = ".muTesselCopy-";

// Copies `source` to `target`, which must not exist, and fails when the
// source changed during the copy or `lockFile` (unless empty) appeared.
Outcome copyNew(const std::string& source, const std::string& target, const std::string& lockFile,
                const CopyOptions& options = {});

// The file that the data is written to, before it is given the target's
// name. Its destructor removes whatever has not been named.
class PendingCopy {
 public:
  // Opens one in `directory` by the first way from `firstWay` that the file
  // system supports.
  PendingCopy(const std::string& directory, CopyWay firstWay);
  ~PendingCopy();
  PendingCopy(const PendingCopy&) = delete;
  PendingCopy& operator=(const PendingCopy&) = delete;

  int fd() const { return fd_.get(); }
  CopyWay way() const { return way_; }

  // Gives the copy its name, by the first way from the current one that the
  // file system supports; fails when the name is taken.
  void nameAs(const std::string& target);

 private:
  void openNamedTemporary();

  std::string directory_;
  CopyWay way_;
  FileDescriptor fd_;
  std::string temporary_;  // its name, for the named ways; empty once named
};

// Removes the temporaries that killed runs left in `directory`: those whose
// lock nobody holds. A live run holds the lock on its own.
void clearDeadTemporaries(const std::string& directory);

// Fails the copy's current step with the system's text for `error`.
[[noreturn]] void failWith(int error);

}  // namespace platform::posix
