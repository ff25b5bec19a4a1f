// What the lock-file check and the copy need to know of the file system a
// file is on, kept in one table. Private to platform/.
#pragma once

namespace platform::posix {

// What a write lease shows on a file system.
enum class Lease {
  kSeesAll,        // every open goes through this kernel, which the lease counts
  kSeesAllOnDisk,  // FUSE: only when its daemon serves a block device of this machine
  // SMB client: an office PC's open escapes the lease, but the server's share
  // modes refuse to delete a file a PC has open, so the delete fails there.
  kServerRefuses,
  kBlind,  // opens made elsewhere go unseen
};

struct FileSystem {
  unsigned long type;  // the number statfs gives it
  const char* name;    // for the log
  Lease lease;
  // Whether every write moves a file's times, kept to the nanosecond, so
  // that unchanged times prove a copy untorn without comparing the bytes.
  bool exactTimes;
};

// The file system's number for the open file `fd`; 0 when it cannot be had.
unsigned long fileSystemType(int fd);

// The table's row for the file system numbered `type`; nullptr for one it
// does not name, which the callers then treat as blind and inexact.
const FileSystem* knownFileSystem(unsigned long type);

// Whether a client there refuses a write lease with EAGAIN, as for a file in
// use, whenever the server has not delegated the file: there that says nothing.
bool leasesNeedDelegation(unsigned long type);

}  // namespace platform::posix
