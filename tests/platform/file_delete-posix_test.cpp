// Deleting on POSIX systems: what counts as in use, for the lock file's
// strict test and for the batch of old copies.
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
  // "free", "read-only", "locked" and "open", the last two held by another
  // process as long as the fixture lives.
  void SetUp() override {
    for (const char* name : {"free", "read-only", "locked", "open"}) writeFile(dir / name, "data");
    chmod((dir / "read-only").c_str(), 0444);
    locker = std::make_unique<OtherProcess>(dir / "locked", OtherProcess::Hold::kRecordLock);
    opener = std::make_unique<OtherProcess>(dir / "open", OtherProcess::Hold::kOpen);
  }

  ScratchDirectory dir;
  std::unique_ptr<OtherProcess> locker, opener;
  std::unique_ptr<platform::Services> services = platform::systemServices();
  const std::vector<std::string> names = {"free", "read-only", "locked", "open", "missing", "."};

  // Which of `paths` one batch deleted, in order.
  std::vector<bool> deletedByBatch(const std::vector<std::string>& paths) {
    std::vector<bool> deleted;
    for (const platform::Outcome& outcome : services->deleteFiles(paths)) {
      deleted.push_back(outcome.ok);
    }
    return deleted;
  }
};

TEST_F(DeleteFile, ABatchLeavesFilesThatAreReadOnlyOrInUse) {
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(dir / name);
  EXPECT_EQ(deletedByBatch(paths), (std::vector<bool>{true, false, false, false, false, false}));
  EXPECT_FALSE(exists(dir / "free"));
  for (const char* name : {"read-only", "locked", "open"}) EXPECT_TRUE(exists(dir / name)) << name;
}

// Each file is looked up in its own directory, however the batch mixes them;
// a directory that is missing, or a path that names one, deletes nothing.
TEST_F(DeleteFile, ABatchSpanningDirectoriesJudgesEachFileInItsOwn) {
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  for (const char* name : {"sub/free", "sub/read-only"}) writeFile(dir / name, "data");
  chmod((dir / "sub/read-only").c_str(), 0444);
  const std::vector<std::string> paths = {dir / "sub/free",      dir / "open",      dir / "free",
                                          dir / "sub/read-only", dir / "none/free", dir / "sub/"};
  EXPECT_EQ(deletedByBatch(paths), (std::vector<bool>{true, false, true, false, false, false}));
  EXPECT_TRUE(exists(dir / "sub/read-only"));
}

TEST_F(DeleteFile, AnUnusedFileNeedsTheKernelsWordThatNobodyHasItOpen) {
  for (const std::string& name : names) {
    platform::Outcome outcome = services->deleteUnused(dir / name);
    EXPECT_EQ(outcome.ok, name == "free") << name << ": " << outcome.reason;
  }
  for (const char* name : {"read-only", "locked", "open"}) EXPECT_TRUE(exists(dir / name)) << name;
  opener.reset();
  EXPECT_TRUE(services->deleteUnused(dir / "open").ok) << "free once the other process lets go";
}

}  // namespace
