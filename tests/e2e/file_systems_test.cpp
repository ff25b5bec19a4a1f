// The built program on the file systems that databases live on, each made
// on an image file in the build tree and mounted through a loop device:
// ext4, XFS with reflink, exFAT and NTFS (both through FUSE). On each: a full
// run with the clean-up of old copies, a run killed in mid-copy and the run
// after it, and a database written to while it is copied.
#include <sys/statvfs.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/e2e/mounted_image.h"

namespace testing_support {
namespace {

const FileSystem kFileSystems[] = {
    {"ext4", "ext4", {"mkfs.ext4", "-q", "-F"}, {"mount", "-t", "ext4"}},
    {"xfs_reflink", "xfs", {"mkfs.xfs", "-q", "-f", "-m", "reflink=1"}, {"mount", "-t", "xfs"}},
    kExfatFuse,
    {"ntfs_3g", "fuseblk", {"mkntfs", "-q", "-F", "-f"}, {"ntfs-3g"}},
};

class OnFileSystem : public Program, public ::testing::WithParamInterface<FileSystem> {
 protected:
  void SetUp() override {
    Program::SetUp();
    std::filesystem::remove(database());  // FUSE mounts only on an empty directory
    image_ = std::make_unique<MountedImage>(GetParam(), data());
    if (!image_->whyNot().empty()) GTEST_SKIP() << image_->whyNot();
    ASSERT_EQ(image_->failure(), "");
    std::filesystem::remove_all(data() + "/lost+found");
    writeFile(database(), content_);
  }
  void TearDown() override { image_.reset(); }

  unsigned long long freeBytes() const {
    struct statvfs status {};
    statvfs(data().c_str(), &status);
    return status.f_bfree * status.f_frsize;
  }
  // Waits until the copy has taken a few MiB of the free space: the copy is
  // then under way, past the database's head.
  void awaitCopyUnderWay(unsigned long long freeBefore) const {
    ASSERT_TRUE(eventually([&] { return freeBytes() + (4 << 20) < freeBefore; }, 60,
                           std::chrono::microseconds(200)))
        << "the copy never started";
  }

  const std::string content_ = accessDatabase(64 << 20);
  std::unique_ptr<MountedImage> image_;
};

// A stale lock file goes: each of these file systems' leases sees every opener.
TEST_P(OnFileSystem, AFullRunKeepsAWholeCopyAndTheSevenNewest) {
  for (int day = 1; day <= 9; ++day) {
    writeFile(data() + "/muTesselDb2020010" + std::to_string(day) + ".mdb", "old");
  }
  writeFile(data() + "/muTesselDb.ldb", "");
  EXPECT_EQ(program.run().status, 0);
  EXPECT_EQ(log(), block(staleLockRunOf(programPath(database()))));
  EXPECT_TRUE(readFile(todaysCopy()) == content_);
  std::vector<std::string> expected = {"muTesselDb.mdb"};
  for (int day = 4; day <= 9; ++day)
    expected.push_back("muTesselDb2020010" + std::to_string(day) + ".mdb");
  expected.push_back("muTesselDb" + today() + ".mdb");
  EXPECT_EQ(namesIn(data()), expected);
}

TEST_P(OnFileSystem, AKillInMidCopyIsUndoneByTheNextRun) {
  auto killed = program.start();
  ASSERT_NO_FATAL_FAILURE(awaitCopyUnderWay(freeBytes()));
  killed->kill();
  killed->wait();
  // The next run may have the killed run's process id, and with it the name
  // of the temporary that the system may not have let go of yet.
  EXPECT_EQ(program.run().status, 0) << testing::PrintToString(log());
  EXPECT_EQ(namesIn(data()),
            (std::vector<std::string>{"muTesselDb.mdb", "muTesselDb" + today() + ".mdb"}));
  EXPECT_TRUE(readFile(todaysCopy()) == content_);
}

// 4 KiB near the head and 4 KiB at the tail, written once the copy has
// passed the head: a copy that kept both would be torn. Both pages are
// ones a sound database may hold there: a free page, and a page of a kind
// Access leaves free.
TEST_P(OnFileSystem, ACopyTakenWhileTheDatabaseIsWrittenIsNotKept) {
  if (underWine()) {
    GTEST_SKIP() << "a writer outside Wine is not held off by the share mode that holds off "
                    "writers on Windows";
  }
  if (std::string(GetParam().name) == "xfs_reflink") {
    GTEST_SKIP() << "the copy shares the database's blocks, so no free space shows its progress";
  }
  constexpr std::size_t kHead = 16 * 4096;  // past the fixture's own pages
  std::string edited = content_;
  edited.replace(kHead, 4096, 4096, 'H');
  edited.replace(edited.size() - 4096, 4096, "\x08\x01" + std::string(4094, 'T'));
  auto running = program.start();
  ASSERT_NO_FATAL_FAILURE(awaitCopyUnderWay(freeBytes()));
  {
    std::fstream writer(database(), std::ios::in | std::ios::out | std::ios::binary);
    writer.seekp(kHead);
    writer.write(edited.data() + kHead, 4096);
    writer.seekp(static_cast<std::streamoff>(edited.size() - 4096));
    writer.write(edited.data() + edited.size() - 4096, 4096);
  }
  if (running->wait().status == 0) {
    const std::string copy = readFile(todaysCopy());
    EXPECT_TRUE(copy == content_ || copy == edited) << "a torn copy was kept";
    return;
  }
  const std::vector<std::string> lines = log();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_TRUE(startsWith(lastJobLine(lines), "Copy failed: ")) << lastJobLine(lines);
  EXPECT_EQ(namesIn(data()), std::vector<std::string>{"muTesselDb.mdb"});
  EXPECT_FALSE(exists(program.recordPath())) << "a repair was asked for";
  // The next run, with the database left alone, does the whole job.
  EXPECT_EQ(program.run().status, 0);
  EXPECT_TRUE(readFile(todaysCopy()) == edited);
}

INSTANTIATE_TEST_SUITE_P(RealFileSystems, OnFileSystem, ::testing::ValuesIn(kFileSystems),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace testing_support
