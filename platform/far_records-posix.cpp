// Reading the far place's copies and records again, each read given up when
// the place stops answering; and what the records name: the digest of a
// copy here, and this computer's name.
#include <fcntl.h>
#include <unistd.h>

#include "platform/answer_guard.h"
#include "platform/read_buffer.h"
#include "platform/services-posix.h"
#include "platform/sha256.h"

namespace platform::posix {

std::string digestOf(int fd, std::size_t piece, const std::function<void()>& answered) {
  Sha256 hash;
  ReadBuffer buffer(piece);
  off_t at = 0;
  ssize_t step = 0;
  while ((step = retryAfterSignal(-1, pread, fd, buffer.data(), buffer.size(), at)) > 0) {
    hash.add(buffer.data(), static_cast<std::size_t>(step));
    at += step;
    answered();
  }
  if (step < 0) failWith(errno);
  return hash.hex();
}

Outcome PosixServices::digestFar(const std::string& path, std::string& sha256) {
  Found digest;
  const Outcome outcome = whileAnswering(
      [&](const Answered& answered, Found& found) {
        return outcomeOf([&] {
          FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
          if (!file.valid()) failWith(errno);
          // A copy at rest that changed there is seen as it is now.
          readPastCache(file.get());
          found = digestOf(file.get(), kFarPiece, answered);
        });
      },
      kFarSilenceSeconds, &digest);
  sha256 = outcome.ok ? digest : "";
  return outcome;
}

Outcome PosixServices::readFarText(const std::string& path, std::string& text) {
  Found carried;
  const Outcome outcome = whileAnswering(
      [&](const Answered&, Found& found) {
        return outcomeOf([&] {
          FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
          if (!file.valid()) failWith(errno);
          std::string bytes(kFarTextLimit, '\0');
          std::size_t got = 0;
          ssize_t step = 0;
          while (got < bytes.size() && (step = retryAfterSignal(-1, read, file.get(), &bytes[got],
                                                                bytes.size() - got)) > 0) {
            got += static_cast<std::size_t>(step);
          }
          if (step < 0) failWith(errno);
          found = bytes.substr(0, got);
        });
      },
      kFarSilenceSeconds, &carried);
  text = outcome.ok ? carried : "";
  return outcome;
}

Outcome PosixServices::digestFile(const std::string& path, std::string& sha256) {
  return digestByReading(*this, path, sha256);
}

std::string PosixServices::computerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace platform::posix
