// The test double of the platform: files in memory, a set clock, a recording installer.
#include "tests/support/fake_services.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/path_text.h"
#include "platform/profile_text.h"
#include "platform/sha256.h"
#include "platform/wildcard.h"

namespace testing_support {
namespace {

// The double takes paths of either system.
std::string_view directoryOf(const std::string& path) {
  return platform::directoryPrefix(path, platform::PathStyle::kWindows);
}
std::string nameOf(const std::string& path) {
  return std::string(platform::lastComponent(path, platform::PathStyle::kWindows));
}

}  // namespace

const std::string FakeServices::kSettingsPath =
    std::string("/opt/tool") + platform::kPathSeparator + "muTesselServerDbBackupandRepair.ini";
const std::string FakeServices::kLogPath =
    std::string("/opt/tool") + platform::kPathSeparator + "muTesselServerDbBackupandRepair.log";

FakeServices::FakeServices() { setClock({day(2026, 12, 8)}); }

FakeFile& FakeServices::addFile(const std::string& path, const std::string& content) {
  files.push_back({path, content});
  return files.back();
}

FakeFile* FakeServices::find(const std::string& path) {
  auto it =
      std::find_if(files.begin(), files.end(), [&](const FakeFile& f) { return f.path == path; });
  return it == files.end() ? nullptr : &*it;
}

bool FakeServices::has(const std::string& path) const {
  return std::any_of(files.begin(), files.end(), [&](const FakeFile& f) { return f.path == path; });
}

std::string FakeServices::readSetting(const std::string& section, const std::string& key,
                                      const std::string& defaultText, std::size_t bufferSize,
                                      const std::string& path) {
  FakeFile* file = find(path);
  return platform::profileValue(file ? file->content : "", section, key, defaultText, bufferSize);
}

std::vector<std::string> FakeServices::listDirectory(const std::string& pattern, int mask) {
  std::vector<std::string> names;
  for (const FakeFile& file : files) {
    if (directoryOf(file.path) != directoryOf(pattern)) continue;
    if (!platform::matchesWildcards(nameOf(pattern), nameOf(file.path))) continue;
    if (file.attributes & platform::kDirectory) continue;
    std::uint32_t special = file.attributes & (platform::kHidden | platform::kSystem);
    if (special != 0 && (mask & special) == 0) continue;
    names.push_back(nameOf(file.path));
  }
  return names;
}

std::optional<std::uint32_t> FakeServices::attributes(const std::string& path) {
  if (FakeFile* file = find(path)) return file->attributes;
  return std::nullopt;
}

platform::Outcome FakeServices::deleteUnused(const std::string& path) {
  FakeFile* file = find(path);
  if (file == nullptr || file->undeletable) return {false, "in use"};
  if (file->useUnknown) return {false, "cannot be told on fakefs", false, true};
  files.erase(files.begin() + (file - files.data()));
  return {true, ""};
}

platform::Outcome FakeServices::copyFileNew(const std::string& source, const std::string& target,
                                            const std::string& lockFile) {
  copyLockFile = lockFile;
  copies.push_back(source + " -> " + target);
  if (copyOutcome) return *copyOutcome;
  if (has(target) || !has(source)) return {false, "cannot copy"};
  std::string content = find(source)->content;
  addFile(target, content);
  return {true, ""};
}

namespace {
platform::Outcome noAnswer() {
  platform::Outcome silence{false, "no answer for 2 minutes"};
  silence.noAnswer = true;
  return silence;
}
}  // namespace

platform::Outcome FakeServices::examineFar(const std::string& directory, const std::string&,
                                           bool& sameFileSystem) {
  if (farSilent) return noAnswer();
  const FakeFile* place = find(directory);
  if (place == nullptr) return {false, "No such file or directory"};
  if (!(place->attributes & platform::kDirectory)) return {false, "Not a directory"};
  sameFileSystem = farSameFileSystem;
  return {true, ""};
}

platform::Outcome FakeServices::listFar(const std::string& pattern,
                                        std::vector<std::string>& names) {
  if (farSilent) return noAnswer();
  names = listDirectory(pattern, platform::kListOrdinary);
  return {true, ""};
}

// The system's own SHA-256, as the program reckons it.
std::string sha256Of(const std::string& content) {
  platform::Sha256 digest;
  digest.add(reinterpret_cast<const unsigned char*>(content.data()), content.size());
  return digest.hex();
}

platform::Outcome FakeServices::copyFar(const std::string& source, const std::string& target,
                                        std::string& sha256) {
  farCalls.push_back("copy " + target);
  if (farSilent) return noAnswer();
  if (!farCopyFails.empty() && target.rfind(farCopyFails, 0) == 0) {
    return {false, "No space left on device"};
  }
  if (has(target) || !has(source)) return {false, "cannot copy"};
  std::string content = find(source)->content;
  sha256 = sha256Of(content);
  addFile(target, content);
  return {true, ""};
}

platform::Outcome FakeServices::digestFar(const std::string& path, std::string& sha256) {
  farCalls.push_back("read " + path);
  if (farSilent) return noAnswer();
  const FakeFile* file = find(path);
  if (file == nullptr) return {false, "No such file or directory"};
  sha256 = sha256Of(file->content);
  return {true, ""};
}

platform::Outcome FakeServices::readFarText(const std::string& path, std::string& text) {
  if (farSilent) return noAnswer();
  const FakeFile* file = find(path);
  if (file == nullptr) return {false, "No such file or directory"};
  text = file->content;
  return {true, ""};
}

platform::Outcome FakeServices::writeFarNew(const std::string& path, const std::string& text) {
  farCalls.push_back("write " + path);
  if (farSilent) return noAnswer();
  if (has(path)) return {false, "File exists"};
  addFile(path, text);
  return {true, ""};
}

platform::Outcome FakeServices::digestFile(const std::string& path, std::string& sha256) {
  return platform::digestByReading(*this, path, sha256);
}

platform::Outcome FakeServices::deleteFar(const std::string& path) {
  farCalls.push_back("delete " + path);
  if (farSilent) return noAnswer();
  FakeFile* file = find(path);
  if (file == nullptr) return {false, "No such file or directory"};
  files.erase(files.begin() + (file - files.data()));
  return {true, ""};
}

platform::Outcome FakeServices::readSequentially(const std::string& path, const ReadSink& sink) {
  reads.push_back(path);
  const FakeFile* file = find(path);
  if (file == nullptr) return {false, "not found"};
  if (!readFails.empty() && path.rfind(readFails, 0) == 0) return {false, "Input/output error"};
  const auto* bytes = reinterpret_cast<const unsigned char*>(file->content.data());
  for (std::size_t at = 0; at < file->content.size(); at += kReadChunk) {
    if (!sink(bytes + at, std::min(kReadChunk, file->content.size() - at))) break;
  }
  return {true, ""};
}

platform::Outcome FakeServices::readAgain(const std::string& path, std::size_t size,
                                          const NextOffset& next, const ReadSink& sink) {
  const FakeFile* file = find(path);
  if (file == nullptr) return {false, "not found"};
  const auto* bytes = reinterpret_cast<const unsigned char*>(file->content.data());
  for (std::optional<std::uint64_t> at; (at = next());) {
    if (*at + size > file->content.size()) return {false, "the file is shorter than before"};
    if (!sink(bytes + *at, size)) break;
  }
  return {true, ""};
}

void FakeServices::appendText(const std::string& path, const std::string& text) {
  if (appendRaises) throw *appendRaises;
  FakeFile* file = find(path);
  if (file == nullptr) file = &addFile(path);
  file->content += text + "\r\n";
}

platform::LocalTime FakeServices::now() {
  platform::LocalTime time = times_.front();
  if (times_.size() > 1) times_.pop_front();
  return time;
}

std::string FakeServices::generalDate(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

platform::Outcome FakeServices::configDataSource(std::uint16_t request, const std::string& driver,
                                                 const std::string& attributes) {
  repairRequests.push_back({request, driver, attributes});
  if (duringRepair) duringRepair();
  if (repairRaises) throw *repairRaises;
  return repairOutcome;
}

std::string fixture(const std::string& name) {
  std::ifstream file(MUTESSEL_ACCESS_FIXTURES "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

const std::string& soundDatabase() {
  static const std::string content = fixture("adox_jet4.mdb");
  return content;
}

platform::LocalTime day(int year, int month, int dayOfMonth, int hour, int minute, int second) {
  return {year, month, dayOfMonth, hour, minute, second};
}

}  // namespace testing_support
