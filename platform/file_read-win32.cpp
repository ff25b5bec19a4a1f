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

}  // namespace platform::win32
