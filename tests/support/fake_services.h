// A test double of the platform: files held in memory and listed in the
// order they were added, a clock the test sets, an installer that records
// what it is asked.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace testing_support {

struct FakeFile {
  std::string path;
  std::string content;
  std::uint32_t attributes = platform::kArchive;
  bool undeletable = false;  // read-only or in use
  bool useUnknown = false;   // on a file system that cannot tell whether it is in use
};

struct RepairRequest {
  std::uint16_t request;
  std::string driver;
  std::string attributes;
};

class FakeServices : public platform::Services {
 public:
  FakeServices();

  // The program lives in /opt/tool, and its settings file and log beside it
  // are joined to that with the system's separator.
  static const std::string kSettingsPath;
  static const std::string kLogPath;

  FakeFile& addFile(const std::string& path, const std::string& content = "");
  bool has(const std::string& path) const;
  // Each reading of the clock takes the next time; the last one stays.
  void setClock(std::vector<platform::LocalTime> times) {
    times_.assign(times.begin(), times.end());
  }

  std::vector<FakeFile> files;
  std::vector<RepairRequest> repairRequests;
  std::vector<std::string> copies;  // "source -> target"
  std::string copyLockFile;         // the lock file that the last copy watched
  std::vector<std::string> reads;   // the files read back, in order
  std::optional<platform::Outcome> copyOutcome;
  platform::Outcome repairOutcome{true, ""};
  std::optional<platform::RunTimeError> repairRaises;
  std::function<void()> duringRepair;  // what else happens while the driver works
  std::optional<platform::RunTimeError> appendRaises;
  std::string readFails;  // reading back a file whose path begins so fails
  // The far place: a directory is a file with the directory attribute.
  // "copy TARGET", "read PATH", "write PATH", "delete PATH", in order
  std::vector<std::string> farCalls;
  bool farSameFileSystem = false;
  std::string farCopyFails;                   // a copy to a path that begins so fails
  bool farSilent = false;                     // the place answers nothing
  std::vector<std::string> pings;             // their URLs, in order
  std::vector<platform::PingAnswer> answers;  // to the pings in turn; then ok

  platform::ProgramLocation programLocation() override { return {"/opt/tool", kProgramName}; }
  std::string readSetting(const std::string& section, const std::string& key,
                          const std::string& defaultText, std::size_t bufferSize,
                          const std::string& path) override;
  std::vector<std::string> listDirectory(const std::string& pattern, int mask) override;
  std::optional<std::uint32_t> attributes(const std::string& path) override;
  platform::Outcome deleteUnused(const std::string& path) override;
  platform::Outcome readSequentially(const std::string& path, const ReadSink& sink) override;
  platform::Outcome readAgain(const std::string& path, std::size_t size, const NextOffset& next,
                              const ReadSink& sink) override;
  void appendText(const std::string& path, const std::string& text) override;
  platform::LocalTime now() override;
  std::string generalDate(const platform::LocalTime& time) override;
  platform::Outcome configDataSource(std::uint16_t request, const std::string& driver,
                                     const std::string& attributes) override;
  platform::Outcome copyFileNew(const std::string& source, const std::string& target,
                                const std::string& lockFile) override;
  platform::Outcome examineFar(const std::string& directory, const std::string& nearFile,
                               bool& sameFileSystem) override;
  platform::Outcome listFar(const std::string& pattern, std::vector<std::string>& names) override;
  platform::Outcome copyFar(const std::string& source, const std::string& target,
                            std::string& sha256) override;
  platform::Outcome digestFar(const std::string& path, std::string& sha256) override;
  platform::Outcome readFarText(const std::string& path, std::string& text) override;
  platform::Outcome writeFarNew(const std::string& path, const std::string& text) override;
  platform::Outcome deleteFar(const std::string& path) override;
  platform::Outcome digestFile(const std::string& path, std::string& sha256) override;
  std::string computerName() override { return "OFFICE1"; }
  void reportNight(platform::NightEnd, const std::string&) override {}
  platform::PingAnswer postPing(const std::string& url, const std::string&) override {
    pings.push_back(url);
    return pings.size() <= answers.size() ? answers[pings.size() - 1]
                                          : platform::PingAnswer{true, false, ""};
  }

 private:
  static constexpr const char* kProgramName = "muTesselServerDbBackupandRepair";
  FakeFile* find(const std::string& path);
  std::deque<platform::LocalTime> times_;
};

// The SHA-256 of the bytes, as the far place's records carry it.
std::string sha256Of(const std::string& content);

// A small, sound Access database: one of the tests' real fixtures.
const std::string& soundDatabase();
// The bytes of a fixture in tests/fixtures/access.
std::string fixture(const std::string& name);

// A time on the given day, at noon unless said otherwise.
platform::LocalTime day(int year, int month, int dayOfMonth, int hour = 12, int minute = 0,
                        int second = 0);

}  // namespace testing_support
