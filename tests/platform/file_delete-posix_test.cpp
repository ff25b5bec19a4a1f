#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/services.h"
#include "tests/support/other_process.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::exists;
using testing_support::OtherProcess;
using testing_support::ScratchDirectory;
using testing_support::writeFile;

class DeleteFile : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::unique_ptr<platform::Services> services = platform::systemServices();
};

TEST_F(DeleteFile, LeavesFilesThatAreReadOnlyOrInUse) {
  for (const char* name : {"free", "read-only", "locked", "open"}) writeFile(dir / name, "data");
  chmod((dir / "read-only").c_str(), 0444);
  OtherProcess locker(dir / "locked", OtherProcess::Hold::kRecordLock);
  OtherProcess opener(dir / "open", OtherProcess::Hold::kOpen);
  std::vector<bool> deleted = services->deleteFiles(
      {dir / "free", dir / "read-only", dir / "locked", dir / "open", dir / "missing", dir.path()});
  EXPECT_EQ(deleted, (std::vector<bool>{true, false, false, false, false, false}));
  EXPECT_FALSE(exists(dir / "free"));
  for (const char* name : {"read-only", "locked", "open"}) EXPECT_TRUE(exists(dir / name)) << name;
}

TEST_F(DeleteFile, AFileIsFreeAgainOnceTheOtherProcessLetsGo) {
  writeFile(dir / "lock.ldb", "");
  {
    OtherProcess locker(dir / "lock.ldb", OtherProcess::Hold::kRecordLock);
    EXPECT_FALSE(services->deleteFile(dir / "lock.ldb"));
  }
  EXPECT_TRUE(services->deleteFile(dir / "lock.ldb"));
}

}  // namespace
