// Reading a file once, from start to end, in pieces of a fixed size: how a
// copy is read back to be checked, whatever its size, in the same memory.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "platform/read_buffer.h"
#include "platform/services-posix.h"

namespace platform::posix {

Outcome PosixServices::readSequentially(const std::string& path, const ReadSink& sink) {
  return outcomeOf([&] {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.valid()) failWith(errno);
    // Read-ahead in larger steps; advice only, so a refusal changes nothing.
    posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ReadBuffer buffer(kReadChunk);
    ssize_t step = 0;
    while ((step = retryAfterSignal(-1, read, file.get(), buffer.data(), buffer.size())) > 0) {
      if (!sink(buffer.data(), static_cast<std::size_t>(step))) return;
    }
    if (step < 0) failWith(errno);
  });
}

Outcome PosixServices::readAgain(const std::string& path, std::size_t size, const NextOffset& next,
                                 const ReadSink& sink) {
  return outcomeOf([&] {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.valid()) failWith(errno);
    posix_fadvise(file.get(), 0, 0, POSIX_FADV_RANDOM);
    ReadBuffer buffer(size);
    for (std::optional<std::uint64_t> at; (at = next());) {
      std::size_t got = 0;
      while (got < size) {
        const ssize_t step = retryAfterSignal(-1, pread, file.get(), buffer.data() + got,
                                              size - got, static_cast<off_t>(*at + got));
        if (step < 0) failWith(errno);
        if (step == 0) failStep("the file is shorter than before");
        got += static_cast<std::size_t>(step);
      }
      if (!sink(buffer.data(), size)) return;
    }
  });
}

// The C library keeps freed heap for later allocations; the check's pages of
// table definitions would otherwise stay resident through the repair.
void PosixServices::returnFreedMemory() { malloc_trim(0); }

}  // namespace platform::posix
