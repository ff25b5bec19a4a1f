// The program under test is the Windows build, run under the Wine loader of
// its bitness in a prefix of the build tree.
#include <algorithm>
#include <stdexcept>

#include "tests/support/program_run.h"

namespace testing_support {
namespace {

// A Windows program holding the file open without delete sharing, until its
// standard input closes.
class HeldByWindowsProgram : public FileInUse {
 public:
  explicit HeldByWindowsProgram(const std::string& path) {
    RunOptions options;
    options.environment = launchEnvironment(true);
    options.inputPipe = true;
    holder_ = std::make_unique<RunningCommand>(
        std::vector<std::string>{MUTESSEL_WINE_LOADER, MUTESSEL_HOLD_FILE, programPath(path)},
        options);
    if (!holder_->awaitOutput("held")) throw std::runtime_error("cannot hold " + path);
  }
  ~HeldByWindowsProgram() override {
    holder_->closeInput();
    holder_->wait();
  }

 private:
  std::unique_ptr<RunningCommand> holder_;
};

}  // namespace

bool underWine() { return true; }

std::string programPath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string ProgramUnderTest::defaultName() { return "muTesselServerDbBackupandRepair.exe"; }

std::vector<std::string> launcher() { return {MUTESSEL_WINE_LOADER}; }

std::map<std::string, std::string> launchEnvironment(bool driverRegistered) {
  return {{"WINEPREFIX", driverRegistered ? MUTESSEL_WINE_PREFIX : MUTESSEL_WINE_PREFIX_BARE},
          {"WINEDEBUG", "-all"}};
}

const int FileInUse::kWays = 1;

std::unique_ptr<FileInUse> FileInUse::start(const std::string& path, int) {
  return std::make_unique<HeldByWindowsProgram>(path);
}

}  // namespace testing_support
