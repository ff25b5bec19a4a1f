// The services on POSIX systems, each defined in a file of its own named
// after it, and the small helpers those files share. Private to platform/.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/services.h"
#include "platform/step_failure.h"

namespace platform::posix {

class PosixServices final : public Services {
 public:
  PosixServices();

  ProgramLocation programLocation() override;
  std::string readSetting(const std::string& section, const std::string& key,
                          const std::string& defaultText, std::size_t bufferSize,
                          const std::string& path) override;
  std::vector<std::string> listDirectory(const std::string& pattern, int mask) override;
  std::optional<std::uint32_t> attributes(const std::string& path) override;
  Outcome deleteUnused(const std::string& path) override;
  std::vector<Outcome> deleteFiles(const std::vector<std::string>& paths) override;
  void appendText(const std::string& path, const std::string& text) override;
  LocalTime now() override;
  std::string generalDate(const LocalTime& time) override;
  Outcome configDataSource(std::uint16_t request, const std::string& driver,
                           const std::string& attributes) override;
  Outcome copyFileNew(const std::string& source, const std::string& target,
                      const std::string& lockFile) override;
  Outcome readSequentially(const std::string& path, const ReadSink& sink) override;
  Outcome readAgain(const std::string& path, std::size_t size, const NextOffset& next,
                    const ReadSink& sink) override;
  Outcome examineFar(const std::string& directory, const std::string& nearFile,
                     bool& sameFileSystem) override;
  Outcome listFar(const std::string& pattern, std::vector<std::string>& names) override;
  Outcome copyFar(const std::string& source, const std::string& target,
                  std::string& sha256) override;
  Outcome digestFar(const std::string& path, std::string& sha256) override;
  Outcome readFarText(const std::string& path, std::string& text) override;
  Outcome writeFarNew(const std::string& path, const std::string& text) override;
  Outcome deleteFar(const std::string& path) override;
  Outcome digestFile(const std::string& path, std::string& sha256) override;
  std::string computerName() override;
  void returnFreedMemory() override;
  void reportNight(NightEnd end, const std::string& report) override;
  PingAnswer postPing(const std::string& url, const std::string& body) override;

 private:
  // Read once, at the start: an upgrade that replaces the program's file
  // during the run must not move the log.
  ProgramLocation location_;
  std::string locationError_;  // why it could not be read, if it could not
};

inline std::string errnoText(int error) { return std::strerror(error); }

// What listDirectory lists, for callers that hold no services.
std::vector<std::string> listNames(const std::string& pattern, int mask);

[[noreturn]] inline void failWith(int error) { failStep(errnoText(error)); }

// The run-time error of a file or directory that is there but cannot be used.
[[noreturn]] inline void raiseAccessError(int error, const std::string& prefix = "") {
  throw RunTimeError(kPathFileAccessError, prefix + errnoText(error));
}

// Calls `function` again for as long as it returns `failure` with errno
// EINTR: a signal that came in the middle is no failure of the call.
template <typename Failure, typename Function, typename... Args>
auto retryAfterSignal(const Failure& failure, const Function& function, Args&&... args) {
  auto result = function(args...);
  while (result == failure && errno == EINTR) result = function(args...);
  return result;
}

inline bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The SHA-256 of all that `fd` holds, read from its start `piece` bytes at a
// time at offsets of their own, so that the descriptor's offset stays where
// another thread's copy has it; `answered` after each piece.
std::string digestOf(
    int fd, std::size_t piece, const std::function<void()>& answered = [] {});

// Writes all of `data`, going on after short writes; 0, or the errno of the
// write that failed (ENOSPC for one that wrote nothing).
int writeAll(int fd, const char* data, std::size_t size);

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset(int fd = -1);
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// How much of a far file is read at a time past the cache: direct reads of
// 64 KiB wait on the disk each, and took four times as long as of 1 MiB.
constexpr std::size_t kFarPiece = std::size_t{1} << 20;

// Makes the reads of `fd` go to the disk or the server where the file lies,
// not to this computer's cache of it: direct, in whole pieces of kFarPiece
// at aligned offsets, where the file system allows; else through the cache,
// once the pages it kept of the file are dropped. Buffered reads of a
// dropped file cost the system three times the direct ones' time.
inline void readPastCache(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0) return;
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

// A directory's descriptor, to look names up in it, sync it or lock it; -1,
// errno set, when it cannot be opened.
inline int openDirectoryFile(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A directory's entries; null, errno set, when it cannot be opened.
using DirectoryStream = std::unique_ptr<DIR, int (*)(DIR*)>;
inline DirectoryStream openDirectory(const std::string& path) {
  return {opendir(path.c_str()), closedir};
}

}  // namespace platform::posix
