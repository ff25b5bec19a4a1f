// Reading a file once, from start to end, in pieces of a fixed size: how a
// copy is read back to be checked, whatever its size, in the same memory.
#include "platform/read_buffer.h"
#include "platform/services-win32.h"

namespace platform::win32 {

Outcome Win32Services::readSequentially(const std::string& path, const ReadSink& sink) {
  return outcomeOf([&] {
    // Others may read meanwhile, not write: the bytes checked are the copy's.
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) failStep(errorText(GetLastError()));
    ReadBuffer buffer(kReadChunk);
    for (;;) {
      DWORD step = 0;
      if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &step, nullptr)) {
        failStep(errorText(GetLastError()));
      }
      if (step == 0 || !sink(buffer.data(), step)) return;  // the end, or enough
    }
  });
}

Outcome Win32Services::readAgain(const std::string& path, std::size_t size, const NextOffset& next,
                                 const ReadSink& sink) {
  return outcomeOf([&] {
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!file.valid()) failStep(errorText(GetLastError()));
    ReadBuffer buffer(size);
    for (std::optional<std::uint64_t> at; (at = next());) {
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(*at);
      where.OffsetHigh = static_cast<DWORD>(*at >> 32);
      DWORD got = 0;
      if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(size), &got, &where) &&
          GetLastError() != ERROR_HANDLE_EOF) {
        failStep(errorText(GetLastError()));
      }
      if (got != size) failStep("the file is shorter than before");
      if (!sink(buffer.data(), size)) return;
    }
  });
}

}  // namespace platform::win32
