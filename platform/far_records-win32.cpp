// Reading the far place's copies and records again, each read given up when
// the place stops answering; and what the records name: the digest of a
// copy here, and this computer's name.
#include <memory>

#include "platform/answer_guard.h"
#include "platform/services-win32.h"
#include "platform/sha256.h"

namespace platform::win32 {

Outcome Win32Services::digestFar(const std::string& path, std::string& sha256) {
  Found digest;
  const Outcome outcome = whileAnswering(
      [path](const Answered& answered, Found& found) {
        return outcomeOf([&] {
          // Without the system's cache, so from the disk or the server: a
          // copy at rest that changed there is seen as it is now.
          Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
          if (!file.valid()) failStep(errorText(GetLastError()));
          constexpr DWORD kPiece = 1 << 20;  // a whole number of any disk's sectors
          // Unbuffered reads go to sector-aligned memory.
          std::unique_ptr<void, void (*)(void*)> memory(
              VirtualAlloc(nullptr, kPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
              [](void* p) { VirtualFree(p, 0, MEM_RELEASE); });
          if (!memory) failStep(errorText(GetLastError()));
          Sha256 hash;
          for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), memory.get(), kPiece, &got, nullptr)) {
              failStep(errorText(GetLastError()));
            }
            if (got == 0) break;
            hash.add(static_cast<const unsigned char*>(memory.get()), got);
            answered();
          }
          found = hash.hex();
        });
      },
      kFarSilenceSeconds, &digest);
  sha256 = outcome.ok ? digest : "";
  return outcome;
}

Outcome Win32Services::readFarText(const std::string& path, std::string& text) {
  Found carried;
  const Outcome outcome = whileAnswering(
      [path](const Answered&, Found& found) {
        return outcomeOf([&] {
          Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
          if (!file.valid()) failStep(errorText(GetLastError()));
          std::string bytes(kFarTextLimit, '\0');
          DWORD got = 0, step = 0;
          while (got < bytes.size()) {
            if (!ReadFile(file.get(), &bytes[got], static_cast<DWORD>(bytes.size()) - got, &step,
                          nullptr)) {
              failStep(errorText(GetLastError()));
            }
            if (step == 0) break;
            got += step;
          }
          found = bytes.substr(0, got);
        });
      },
      kFarSilenceSeconds, &carried);
  text = outcome.ok ? carried : "";
  return outcome;
}

Outcome Win32Services::digestFile(const std::string& path, std::string& sha256) {
  return digestByReading(*this, path, sha256);
}

std::string Win32Services::computerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace platform::win32
