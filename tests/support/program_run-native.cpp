// The program under test is the Linux build, started directly.
#include "tests/support/other_process.h"
#include "tests/support/program_run.h"

namespace testing_support {
namespace {

class HeldByOtherProcess : public FileInUse {
 public:
  HeldByOtherProcess(const std::string& path, OtherProcess::Hold hold) : process_(path, hold) {}

 private:
  OtherProcess process_;
};

}  // namespace

bool underWine() { return false; }

std::string programPath(const std::string& hostPath) { return hostPath; }

std::string ProgramUnderTest::defaultName() { return "muTesselServerDbBackupandRepair"; }

std::vector<std::string> launcher() { return {}; }

std::map<std::string, std::string> launchEnvironment(bool) { return {}; }

const int FileInUse::kWays = 2;

std::unique_ptr<FileInUse> FileInUse::start(const std::string& path, int way) {
  return std::make_unique<HeldByOtherProcess>(
      path, way == 0 ? OtherProcess::Hold::kRecordLock : OtherProcess::Hold::kOpen);
}

}  // namespace testing_support
