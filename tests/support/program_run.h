// Runs the built program the way a scheduler does: a copy of it in a
// directory of its own, no arguments, no input, a bare environment, default
// signal dispositions, and a bounded wait.
//
// The same tests drive the Linux build and, under Wine, the Windows build.
// How the two differ (how the program is started, how it spells paths, how
// another program holds a file) is in program_run-native.cpp and
// program_run-wine.cpp; one of them is linked into each test program.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/other_process.h"
#include "tests/support/scratch_directory.h"

namespace testing_support {

struct RunResult {
  int status = -1;  // the exit status, or -1 when it did not exit normally
  int signal = 0;   // the signal that ended it, if one did
  std::string standardError;
  std::string standardOutput;
};

struct RunOptions {
  // The whole environment, besides PATH: nothing leaks in from the tests.
  std::map<std::string, std::string> environment;
  std::string workingDirectory;                // the program's own when empty
  std::vector<std::pair<int, rlim_t>> limits;  // resource limits, such as RLIMIT_FSIZE
  const Account* user = nullptr;               // run as this user; needs root
  std::vector<std::string> wrapper;            // a command to start it through, such as unshare
  std::string startAs;                         // a link to the program, to start it by
  bool inputPipe = false;                      // standard input open until closeInput()
  int timeoutSeconds = 120;                    // then it is killed: a hang fails, not the suite
};

// A command started with no input, its output collected when it is waited for.
class RunningCommand {
 public:
  RunningCommand(const std::vector<std::string>& argv, const RunOptions& options);
  ~RunningCommand();
  RunningCommand(const RunningCommand&) = delete;
  RunningCommand& operator=(const RunningCommand&) = delete;

  // Reads standard output until `text` has come, or the command has closed
  // it; tells which.
  bool awaitOutput(const std::string& text);
  void sendInput(const std::string& text);
  void closeInput();
  void kill();
  void signal(int number);
  // Waits, at most a couple of minutes, and tells how it ended.
  RunResult wait();

 private:
  pid_t pid_ = -1;
  std::chrono::seconds timeout_;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string earlyOutput_;
};

RunResult runCommand(const std::vector<std::string>& argv, const RunOptions& options = {});

// Whether the program under test is the Windows build, run under Wine.
bool underWine();

// How the program spells a path of this machine.
std::string programPath(const std::string& hostPath);

class ProgramUnderTest {
 public:
  // Lays out `home/program` (a copy of the built program under `name`) with
  // an installer configuration that registers the stand-in Access driver.
  explicit ProgramUnderTest(const std::string& name = defaultName());

  static std::string defaultName();

  const ScratchDirectory& home() const { return home_; }
  std::string programDirectory() const { return home_ / "program"; }
  std::string settingsPath() const { return programDirectory() + "/" + stem() + ".ini"; }
  std::string logPath() const { return programDirectory() + "/" + stem() + ".log"; }
  std::string recordPath() const { return home_ / "requests.txt"; }
  std::string requests() const { return readFile(recordPath()); }

  // Writes the settings file naming `databasePath`, a path as the program
  // spells it.
  void setDatabase(const std::string& databasePath);
  // Registers no Access driver with the installer.
  void unregisterDriver();

  // Runs the program once from `workingDirectory` (its own directory when
  // empty) with these extra environment variables.
  RunResult run(const std::map<std::string, std::string>& environment = {},
                const std::string& workingDirectory = "") const;
  RunResult runWith(const RunOptions& options) const { return start(options)->wait(); }
  std::unique_ptr<RunningCommand> start(RunOptions options = {}) const;

 private:
  std::string stem() const { return name_.substr(0, name_.rfind('.')); }

  ScratchDirectory home_;
  std::string name_;
  bool driverRegistered_ = true;
};

// Lays out in `directory` an installer configuration (odbcinst.ini) that
// registers the stand-in as the Access driver, with a copy of the stand-in.
void layOutStandInDriver(const std::string& directory);

// What the program is started through, and what it needs in its
// environment, on the build under test.
std::vector<std::string> launcher();
std::map<std::string, std::string> launchEnvironment(bool driverRegistered);

// Another program that has a file in use, as long as the object lives.
class FileInUse {
 public:
  virtual ~FileInUse() = default;
  // How many ways there are that the program under test must see as "in
  // use", and one of them started.
  static const int kWays;
  static std::unique_ptr<FileInUse> start(const std::string& path, int way);
};

}  // namespace testing_support
