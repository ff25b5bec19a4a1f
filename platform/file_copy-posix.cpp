// A copy whole under the target's name or absent, kept only when the
// database did not change while it was read: it is read under no lock that
// Access or a file server would trip over, and a torn copy is worse than
// none, because it is trusted. So size and times must be as before, to the
// nanosecond, and where times may not show a change, the bytes too.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <tuple>

#include "platform/answer_guard.h"
#include "platform/copy_seam-posix.h"
#include "platform/file_systems-posix.h"
#include "platform/path_text.h"
#include "platform/pending_copy-posix.h"
#include "platform/read_buffer.h"
#include "platform/sha256.h"

namespace platform::posix {
namespace {

constexpr const char* kChanged = "The database changed during the copy";
constexpr const char* kLockAppeared = "The database's lock file appeared during the copy";

// Copies to the end of the source, `step` bytes a call and `answered` after
// each; the bytes written. The kernel's copy shares the blocks where it can
// (XFS with reflink, btrfs) and has a server copy where it can (NFS 4.2,
// SMB); where it has no copy of its own, plain reads and writes take over.
off_t copyContents(
    int from, int to, std::size_t stepSize = std::size_t{1} << 30,
    const Answered& answered = [] {}) {
  off_t copied = 0;
  ssize_t step = 0;
  while ((step = retryAfterSignal(-1, copy_file_range, from, nullptr, to, nullptr, stepSize, 0u)) >
         0) {
    copied += step;
    answered();
  }
  if (step == 0) return copied;
  const bool unsupported =
      errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL || errno == EBADF;
  if (copied > 0 || !unsupported) failWith(errno);
  ReadBuffer buffer(1 << 16);
  while ((step = retryAfterSignal(-1, read, from, buffer.data(), buffer.size())) > 0) {
    const int error =
        writeAll(to, reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(step));
    if (error != 0) failWith(error);
    copied += step;
    answered();
  }
  if (step < 0) failWith(errno);
  return copied;
}

// Whether a write during the copy would have moved the source's times: on
// file systems whose times are exact, unless written just before (a write in
// the same tick as the last, or one under way, leaves them).
bool timesShowEveryChange(int fd, const struct stat& before, const struct timespec& start) {
  const FileSystem* system = knownFileSystem(fileSystemType(fd));
  return system != nullptr && system->exactTimes &&
         start.tv_sec - std::max(before.st_mtim.tv_sec, before.st_ctim.tv_sec) > 2;
}

// Whether both files begin with the same `size` bytes, compared `piece`
// bytes at a time; `answered` after each piece.
bool sameContents(
    int a, int b, off_t size, std::size_t piece = 1 << 20, const Answered& answered = [] {}) {
  ReadBuffer left(piece), right(piece);
  for (off_t at = 0; at < size;) {
    const auto want = static_cast<std::size_t>(std::min<off_t>(size - at, left.size()));
    const ssize_t inA = retryAfterSignal(-1, pread, a, left.data(), want, at);
    if (inA < 0) failWith(errno);
    const ssize_t inB = retryAfterSignal(-1, pread, b, right.data(), want, at);
    if (inB < 0) failWith(errno);
    // A short read of either is compared as far as it goes.
    const ssize_t both = std::min(inA, inB);
    if (both == 0 || std::memcmp(left.data(), right.data(), both) != 0) return false;
    at += both;
    answered();
  }
  return true;
}

// Whether the far copy, read past the cache (readPastCache), holds the
// source's `size` bytes; what it holds goes to `digest`. The source is read
// in the check's pieces, the copy in kFarPiece.
bool readBackEqual(int source, int copy, off_t size, const Answered& answered, Sha256& digest) {
  ReadBuffer there(kFarPiece), here(Services::kReadChunk);
  for (off_t at = 0; at < size;) {
    // Direct reads take whole pieces, the last one too.
    const ssize_t got = retryAfterSignal(-1, pread, copy, there.data(), there.size(), at);
    if (got < 0) failWith(errno);
    const auto inCopy = static_cast<std::size_t>(std::min<off_t>(size - at, got));
    if (inCopy == 0) return false;
    for (std::size_t done = 0; done < inCopy;) {
      const std::size_t step = std::min(here.size(), inCopy - done);
      const ssize_t read =
          retryAfterSignal(-1, pread, source, here.data(), step, at + static_cast<off_t>(done));
      if (read < 0) failWith(errno);
      if (read == 0 || std::memcmp(here.data(), there.data() + done, read) != 0) return false;
      done += static_cast<std::size_t>(read);
    }
    digest.add(there.data(), inCopy);
    at += static_cast<off_t>(inCopy);
    answered();
  }
  return true;
}

// Fails unless the copy holds the database as it was all through the copy.
void checkUnchanged(const std::string& source, int from, int to, const struct stat& before,
                    off_t copied, const struct timespec& start, bool contentsOnly) {
  struct stat after = {}, named = {}, written = {};
  if (fstat(from, &after) != 0 || fstat(to, &written) != 0) failWith(errno);
  // A database replaced under its name counts as changed too.
  const bool stillThere = stat(source.c_str(), &named) == 0 && sameFile(named, before);
  if (!stillThere || after.st_size != before.st_size) failStep(kChanged);
  const auto times = [](const struct stat& s) {
    return std::tie(s.st_mtim.tv_sec, s.st_mtim.tv_nsec, s.st_ctim.tv_sec, s.st_ctim.tv_nsec);
  };
  if (!contentsOnly && times(after) != times(before)) failStep(kChanged);
  if (copied != before.st_size || written.st_size != before.st_size) {
    failStep("Only " + std::to_string(copied) + " of " + std::to_string(before.st_size) +
             " bytes were copied");
  }
  if ((contentsOnly || !timesShowEveryChange(from, before, start)) &&
      !sameContents(from, to, before.st_size)) {
    failStep(kChanged);
  }
}

// A program that opens the database creates its lock file; one that came
// during the copy may have written to the database.
void checkNoLockFile(const std::string& lockFile) {
  struct stat status {};
  if (lockFile.empty()) return;
  if (lstat(lockFile.c_str(), &status) == 0) failStep(kLockAppeared);
  if (errno != ENOENT && errno != ENOTDIR) failWith(errno);
}

// Makes the new name durable. File systems that cannot sync a directory
// (some FUSE and network mounts) say so; any other failure means the name
// may not survive a crash, and a copy not known to be on disk is no copy.
void syncDirectory(const std::string& directory, const std::string& target) {
  FileDescriptor dir(openDirectoryFile(directory));
  const int error = !dir.valid() ? errno : fsync(dir.get()) != 0 ? errno : 0;
  if (error == 0 || error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS) {
    return;
  }
  unlink(target.c_str());
  failWith(error);
}

// The far copy: the source is a finished copy that nothing writes, so it
// needs no watch, but the far place may drop or change bytes, and a share
// may answer slowly or not at all. Its data is copied a piece at a time, so
// that a slow share that answers is told from a dead one, flushed, and read
// back from where it lies, past this computer's cache. The digest is of
// the bytes read back there, what the place holds; the copy's.
std::string copyVerified(const std::string& source, const std::string& target,
                         const Answered& answered) {
  constexpr std::size_t kFarStep = std::size_t{16} << 20;
  FileDescriptor from(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!from.valid()) failWith(errno);
  struct stat before {};
  if (fstat(from.get(), &before) != 0) failWith(errno);
  struct stat existing {};
  if (lstat(target.c_str(), &existing) == 0) failWith(EEXIST);
  const std::string directory = directoryOf(target);
  clearDeadTemporaries(directory);
  answered();
  PendingCopy pending(directory, 0);
  const off_t copied = copyContents(from.get(), pending.fd(), kFarStep, answered);
  if (copied != before.st_size) {
    failStep("Only " + std::to_string(copied) + " of " + std::to_string(before.st_size) +
             " bytes were copied");
  }
  // The mode and times are the source's where the place keeps them; a share
  // that keeps neither still holds the copy.
  fchmod(pending.fd(), before.st_mode & 0777);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  futimens(pending.fd(), times);
  if (fsync(pending.fd()) != 0) failWith(errno);
  answered();
  readPastCache(pending.fd());
  Sha256 digest;
  if (!readBackEqual(from.get(), pending.fd(), before.st_size, answered, digest)) {
    failStep("the copy read back there differs from the backup");
  }
  pending.nameAs(target);
  syncDirectory(directory, target);
  return digest.hex();
}

// A small file there, as a copy is named: never over a file. Anyone may
// read it, as the copies' checks need.
void writeNew(const std::string& target, const std::string& text) {
  struct stat existing {};
  if (lstat(target.c_str(), &existing) == 0) failWith(EEXIST);
  const std::string directory = directoryOf(target);
  PendingCopy pending(directory, 0);
  if (const int error = writeAll(pending.fd(), text.data(), text.size())) failWith(error);
  fchmod(pending.fd(), 0644);
  if (fsync(pending.fd()) != 0) failWith(errno);
  pending.nameAs(target);
  syncDirectory(directory, target);
}

}  // namespace

Outcome copyNew(const std::string& source, const std::string& target, const std::string& lockFile,
                const CopyOptions& options) {
  return outcomeOf([&] {
    FileDescriptor from(open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!from.valid()) failWith(errno);
    struct stat before {};
    if (fstat(from.get(), &before) != 0) failWith(errno);
    if (!S_ISREG(before.st_mode)) failWith(S_ISDIR(before.st_mode) ? EISDIR : EINVAL);
    struct timespec start {};
    clock_gettime(CLOCK_REALTIME, &start);
    struct stat existing {};
    if (lstat(target.c_str(), &existing) == 0) failWith(EEXIST);

    const std::string directory = directoryOf(target);
    clearDeadTemporaries(directory);
    PendingCopy pending(directory, options.firstWay);
    const off_t copied = copyContents(from.get(), pending.fd());
    if (fchmod(pending.fd(), before.st_mode & 0777) != 0) failWith(errno);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (futimens(pending.fd(), times) != 0) failWith(errno);
    if (fsync(pending.fd()) != 0) failWith(errno);
    if (options.afterData) options.afterData();
    checkUnchanged(source, from.get(), pending.fd(), before, copied, start, options.contentsOnly);
    checkNoLockFile(lockFile);
    pending.nameAs(target);
    syncDirectory(directory, target);
  });
}

Outcome PosixServices::copyFar(const std::string& source, const std::string& target,
                               std::string& sha256) {
  Found digest;
  const Outcome outcome = whileAnswering(
      [&](const Answered& answered, Found& found) {
        return outcomeOf([&] { found = copyVerified(source, target, answered); });
      },
      kFarSilenceSeconds, &digest);
  sha256 = outcome.ok ? digest : "";
  return outcome;
}

Outcome PosixServices::writeFarNew(const std::string& path, const std::string& text) {
  return whileAnswering(
      [&](const Answered&, Found&) { return outcomeOf([&] { writeNew(path, text); }); },
      kFarSilenceSeconds);
}

Outcome PosixServices::copyFileNew(const std::string& source, const std::string& target,
                                   const std::string& lockFile) {
  return copyNew(source, target, lockFile, {});
}

}  // namespace platform::posix
