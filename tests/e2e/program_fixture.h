// What the end-to-end tests share: the program laid out with a database
// beside it, and the log read back with its dates and times masked.
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>

#include "tests/support/log_lines.h"
#include "tests/support/program_run.h"

namespace testing_support {

// The database every test starts from: a real, sound Access file.
inline const std::string kOriginal = accessDatabase();
// What the stand-in driver's repair makes of it: one page of zeros more.
inline const std::string kRepaired = kOriginal + std::string(4096, '\0');

inline std::string today() {
  std::time_t now = std::time(nullptr);
  char digits[16];
  std::strftime(digits, sizeof digits, "%Y%m%d", std::localtime(&now));
  return digits;
}

// The log's lines, with every date and time replaced by "<time>". Linux
// writes ISO 8601 in the C locale; Windows its default, US English.
inline std::vector<std::string> linesOf(const std::string& log) {
  static const std::regex time(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d|\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d\d:\d\d [AP]M)");
  std::vector<std::string> lines = crLfLines(log);
  for (std::string& line : lines) line = std::regex_replace(line, time, "<time>");
  return lines;
}

// A whole block of the log around the job's own lines.
inline std::vector<std::string> block(std::vector<std::string> jobLines) {
  jobLines.insert(jobLines.begin(), "Start at <time>");
  for (const char* line : {"End at <time>", kSeparator, ""}) jobLines.push_back(line);
  return jobLines;
}

// The job's own last line: a block ends with it, "End at", the separator and
// the empty line.
inline std::string lastJobLine(const std::vector<std::string>& lines) {
  return lines.size() >= 4 ? lines[lines.size() - 4] : "";
}

inline bool isRoot() { return geteuid() == 0; }

// Whether `tool` is on the PATH that commands started by the tests get.
inline bool installed(const std::string& tool) {
  return runCommand({"sh", "-c", "command -v " + tool}).status == 0;
}

// Why a command cannot be started through `unshare` (a command that starts
// with it and takes a mount namespace of its own) here, or empty when it
// can. In a chroot whose root is no mount point, unshare cannot change the
// root's propagation, and says so.
inline std::string whyNoMountNamespace(std::vector<std::string> unshare = {"unshare", "--mount"}) {
  if (!isRoot()) return "a mount namespace needs root";
  if (!installed("unshare")) return "unshare is not installed";
  unshare.push_back("true");
  RunResult probe = runCommand(unshare);
  const std::string why = probe.standardError.substr(0, probe.standardError.find('\n'));
  return probe.status == 0 ? "" : "no mount namespace here: " + why;
}

// A small file system of its own, mounted for the test's lifetime: a tmpfs
// of `size`, or any kind with its mount options.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& path, const std::string& size)
      : SmallFileSystem(path, "tmpfs", "size=" + size) {}
  SmallFileSystem(const std::string& path, const std::string& type, const std::string& options)
      : path_(path) {
    std::filesystem::create_directory(path);
    mounted_ = mount(type.c_str(), path.c_str(), type.c_str(), 0, options.c_str()) == 0;
    if (!mounted_) failure_ = std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& failure() const { return failure_; }  // why it did not mount
  void resize(const std::string& size) {
    ASSERT_EQ(mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, ("size=" + size).c_str()), 0);
  }
  unsigned long freeBlocks() const {
    struct statvfs status {};
    statvfs(path_.c_str(), &status);
    return status.f_bfree;
  }

 private:
  std::string path_, failure_;
  bool mounted_ = false;
};

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(data());
    writeFile(database(), kOriginal);
    program.setDatabase(programPath(database()));
  }

  std::string data() const { return program.home() / "data"; }
  std::string database() const { return data() + "/muTesselDb.mdb"; }
  std::string todaysCopy() const { return data() + "/muTesselDb" + today() + ".mdb"; }
  std::vector<std::string> log() const { return linesOf(readFile(program.logPath())); }

  // Lets users other than root run the program and write beside the database.
  void openToAll() const {
    for (const std::string& dir : {program.home().path(), program.programDirectory(), data()}) {
      chmod(dir.c_str(), 0777);
    }
  }

  void expectUntouched() const {
    EXPECT_EQ(readFile(database()), kOriginal);
    EXPECT_FALSE(exists(program.recordPath()));
  }

  ProgramUnderTest program;
};

}  // namespace testing_support
