// Deleting on POSIX systems: what counts as in use, for the lock file's
// strict test and for the batch of old copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/services.h"
#include "tests/support/other_process.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::becomeUser;
using testing_support::exists;
using testing_support::kNobody;
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

// Where the kernel cannot answer, here for another user's files without
// CAP_LEASE, the lock file stays and an old copy goes as it always has.
TEST_F(DeleteFile, WhereNoLeaseCanBeHadTheLockFileStaysAndAnOldCopyGoes) {
  if (geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
  chmod(dir.path().c_str(), 0777);
  const pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<platform::Services> asNobody = platform::systemServices();
    const bool judged = becomeUser(&kNobody) && !asNobody->deleteUnused(dir / "free").ok &&
                        asNobody->deleteFiles({dir / "free"}).front().ok;
    _exit(judged ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(exists(dir / "free"));
}

// The kernel sees a holder whatever its root: here a chroot whose root is a
// plain directory, in a mount namespace of its own.
TEST_F(DeleteFile, ABatchLeavesACopyHeldOpenInsideAChroot) {
  if (geteuid() != 0) GTEST_SKIP() << "a mount namespace and a chroot need root";
  ASSERT_EQ(mkdir((dir / "root").c_str(), 0755), 0);
  writeFile(dir / "root/copy", "data");
  std::unique_ptr<OtherProcess> holder;
  try {
    holder =
        std::make_unique<OtherProcess>("/copy", OtherProcess::Hold::kOpen, nullptr, dir / "root");
  } catch (const std::exception& error) {
    GTEST_SKIP() << "no process can hold a file from a chroot of its own here: " << error.what();
  }
  EXPECT_EQ(deletedByBatch({dir / "root/copy"}), std::vector<bool>{false});
  holder.reset();
  EXPECT_EQ(deletedByBatch({dir / "root/copy"}), std::vector<bool>{true});
}

}  // namespace
