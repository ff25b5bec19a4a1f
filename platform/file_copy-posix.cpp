// A copy whole under the target's name or absent, kept only when the
// database did not change while it was read: it is read under no lock that
// Access or a file server would trip over, and a torn copy is worse than
// none, because it is trusted. So size and times must be as before, to the
// nanosecond, and where times may not show a change, the bytes too.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <thread>
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
constexpr const char* kBackupChanged = "the backup changed while it was sent";

// The times that a write to a file moves.
auto writeTimes(const struct stat& s) {
  return std::tie(s.st_mtim.tv_sec, s.st_mtim.tv_nsec, s.st_ctim.tv_sec, s.st_ctim.tv_nsec);
}

// Whether the file open as `fd` has the size and times it had `before`.
bool sameState(int fd, const struct stat& before) {
  struct stat now {};
  if (fstat(fd, &now) != 0) failWith(errno);
  return now.st_size == before.st_size && writeTimes(now) == writeTimes(before);
}

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

// The far copy's first `size` bytes, read a piece of kFarPiece ahead of
// their compare, on a thread of its own: the next piece's read waits on the
// disk or the server while the one before is compared, so that the disk is
// kept as busy as by a read alone. Direct reads take whole pieces, the last
// one too.
class ReadAhead {
 public:
  ReadAhead(int fd, off_t size)
      : fd_(fd),
        size_(size),
        buffers_{ReadBuffer(kFarPiece), ReadBuffer(kFarPiece)},
        thread_([this] { readAll(); }) {}
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next piece's bytes, valid until the next call; none at the end.
  std::size_t next(const unsigned char*& data) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (state_[next_] == kHeld) {  // the piece handed out before, compared
      state_[next_] = kFree;
      next_ ^= 1;
    }
    changed_.notify_all();
    changed_.wait(lock, [this] { return state_[next_] == kFull; });
    if (got_[next_] < 0) failWith(static_cast<int>(-got_[next_]));
    state_[next_] = kHeld;
    data = buffers_[next_].data();
    return static_cast<std::size_t>(got_[next_]);
  }

 private:
  enum State { kFree, kFull, kHeld };

  void readAll() {
    for (off_t at = 0; at < size_;) {
      const int i = reads_++ & 1;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || state_[i] == kFree; });
        if (stopped_) return;
      }
      ReadBuffer& into = buffers_[i];
      const ssize_t got = retryAfterSignal(-1, pread, fd_, into.data(), into.size(), at);
      const int error = got < 0 ? errno : 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        got_[i] = got < 0 ? -error : std::min<off_t>(size_ - at, got);
        state_[i] = kFull;
      }
      changed_.notify_all();
      if (got <= 0) return;
      at += got;
    }
  }

  const int fd_;
  const off_t size_;
  ReadBuffer buffers_[2];
  std::mutex mutex_;
  std::condition_variable changed_;
  State state_[2] = {kFree, kFree};
  off_t got_[2] = {0, 0};  // bytes, or the error negated
  int next_ = 0;           // the buffer next() hands out next
  int reads_ = 0;
  bool stopped_ = false;
  std::thread thread_;  // last: it starts once the rest is made
};

// Whether the far copy, read past the cache (readPastCache), holds the
// source's `size` bytes. The source is read in the check's pieces.
bool readBackEqual(int source, int copy, off_t size, const Answered& answered) {
  ReadBuffer here(Services::kReadChunk);
  ReadAhead there(copy, size);
  for (off_t at = 0; at < size;) {
    const unsigned char* inCopy = nullptr;
    const std::size_t got = there.next(inCopy);
    if (got == 0) return false;
    for (std::size_t done = 0; done < got;) {
      const std::size_t step = std::min(here.size(), got - done);
      const ssize_t read =
          retryAfterSignal(-1, pread, source, here.data(), step, at + static_cast<off_t>(done));
      if (read < 0) failWith(errno);
      if (read == 0 || std::memcmp(here.data(), inCopy + done, read) != 0) return false;
      done += static_cast<std::size_t>(read);
    }
    at += static_cast<off_t>(got);
    answered();
  }
  return true;
}

// The SHA-256 of a file, reckoned on a thread of its own while the far copy is written and flushed,
// which wait on the disk and leave a core free: reckoned from the bytes read back, its 0.8 s of a
// core for each GiB came on top of the copy, its flush and the read there.
class DigestAside {
 public:
  explicit DigestAside(int fd) : thread_([this, fd] { reckon(fd); }) {}
  ~DigestAside() {
    if (thread_.joinable()) thread_.join();
  }
  DigestAside(const DigestAside&) = delete;
  DigestAside& operator=(const DigestAside&) = delete;

  std::string hex() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
    return hex_;
  }

 private:
  void reckon(int fd) {
    try {
      hex_ = digestOf(fd, Services::kReadChunk);
    } catch (...) {
      failure_ = std::current_exception();
    }
  }

  std::string hex_;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once the rest is made
};

// Fails unless the copy holds the database as it was all through the copy.
void checkUnchanged(const std::string& source, int from, int to, const struct stat& before,
                    off_t copied, const struct timespec& start, bool contentsOnly) {
  struct stat after = {}, named = {}, written = {};
  if (fstat(from, &after) != 0 || fstat(to, &written) != 0) failWith(errno);
  // A database replaced under its name counts as changed too.
  const bool stillThere = stat(source.c_str(), &named) == 0 && sameFile(named, before);
  if (!stillThere || after.st_size != before.st_size) failStep(kChanged);
  if (!contentsOnly && writeTimes(after) != writeTimes(before)) failStep(kChanged);
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

// The far copy: the source is a finished copy that nothing writes, but the
// far place may drop or change bytes, and a share may answer slowly or not
// at all. Its data is copied a piece at a time, so that a slow share that
// answers is told from a dead one, flushed, and read back from where it
// lies, past this computer's cache, byte for byte against the source. The
// digest is the source's, of the bytes that the copy was read back equal to;
// the source's size and times, the same after the read-back, show that it
// held those bytes all through.
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
  DigestAside digest(from.get());
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
  if (!readBackEqual(from.get(), pending.fd(), before.st_size, answered)) {
    failStep("the copy read back there differs from the backup");
  }
  const std::string sha256 = digest.hex();
  if (!sameState(from.get(), before)) failStep(kBackupChanged);
  pending.nameAs(target);
  syncDirectory(directory, target);
  return sha256;
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
