// The services on Windows, through the ANSI ("A") functions, so that texts
// stay in the system's 8-bit code page. Each service is defined in a file of
// its own, named after it; this header is private to platform/.
#pragma once

#include <windows.h>

#include <string>

#include "platform/services.h"
#include "platform/step_failure.h"

namespace platform::win32 {

class Win32Services final : public Services {
 public:
  Win32Services();

  ProgramLocation programLocation() override;
  std::string readSetting(const std::string& section, const std::string& key,
                          const std::string& defaultText, std::size_t bufferSize,
                          const std::string& path) override;
  std::vector<std::string> listDirectory(const std::string& pattern, int mask) override;
  std::optional<std::uint32_t> attributes(const std::string& path) override;
  Outcome deleteUnused(const std::string& path) override;
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
  void reportNight(NightEnd end, const std::string& report) override;
  PingAnswer postPing(const std::string& url, const std::string& body) override;
};

// What listDirectory lists, for callers that hold no services.
std::vector<std::string> listNames(const std::string& pattern, int mask);

// The system's text for an error code, without its trailing line break.
std::string errorText(DWORD error);

// Owns a handle, which `close` ends when it goes out of scope: CloseHandle,
// or FindClose for a search.
class Handle {
 public:
  using Close = BOOL(WINAPI*)(HANDLE);
  explicit Handle(HANDLE handle, Close close = CloseHandle) : handle_(handle), close_(close) {}
  ~Handle() {
    if (valid()) close_(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
  Close close_;
};

}  // namespace platform::win32
