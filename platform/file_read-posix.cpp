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

// The C library keeps freed heap for later allocations; the check's pages of
// table definitions would otherwise stay resident through the repair.
void PosixServices::returnFreedMemory() { malloc_trim(0); }

}  // namespace platform::posix
