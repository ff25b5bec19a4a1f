// Runs the built program the way a scheduler does: a copy of it in a
// directory of its own, no arguments, no input, and a bounded wait.
#pragma once

#include <map>
#include <string>

#include "tests/support/scratch_directory.h"

namespace testing_support {

struct RunResult {
  int status = -1;  // the exit status, or -1 when it did not exit normally
  std::string standardError;
};

class ProgramUnderTest {
 public:
  // Lays out `home/program` (a copy of the built program under `name`) with
  // an installer configuration that registers the stand-in Access driver.
  explicit ProgramUnderTest(const std::string& name = "muTesselServerDbBackupandRepair");

  const ScratchDirectory& home() const { return home_; }
  std::string programDirectory() const { return home_ / "program"; }
  std::string settingsPath() const;
  std::string logPath() const;
  std::string recordPath() const { return home_ / "requests.txt"; }
  std::string requests() const { return readFile(recordPath()); }

  // Writes the settings file naming `databasePath`.
  void setDatabase(const std::string& databasePath);
  // Registers no Access driver with the installer.
  void unregisterDriver();

  // Runs the program once from `workingDirectory` (its own directory when
  // empty) with these extra environment variables.
  RunResult run(const std::map<std::string, std::string>& environment = {},
                const std::string& workingDirectory = "") const;

 private:
  ScratchDirectory home_;
  std::string name_;
};

}  // namespace testing_support
