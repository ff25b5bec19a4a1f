// The second copy, off the database's disk, on real file systems: another
// file system, one that fills up, a directory that is missing, the
// database's own disk, and file systems of the tests' own that give back
// other bytes than they were given or stop answering.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "tests/e2e/mounted_image.h"

namespace testing_support {
namespace {

class FarCopy : public Program {
 protected:
  std::string far() const { return program.home() / "far"; }
  std::string farCopy() const { return far() + "/muTesselDb" + today() + ".mdb"; }
  std::string dayCopyName() const { return "muTesselDb" + today() + ".mdb"; }

  // Names `directory` as the far place in the settings.
  void copyTo(const std::string& directory) {
    writeFile(program.settingsPath(), "[settings]\r\nDatabase=" + programPath(database()) +
                                          "\r\nCopyTo=" + programPath(directory) + "\r\n");
  }

  // The far step's lines: from its first to the block's last of the job.
  std::vector<std::string> farLines() const {
    const std::vector<std::string> lines = log();
    auto from = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return startsWith(line, "Start copy to ");
    });
    auto to = std::find(lines.begin(), lines.end(), "End at <time>");
    return from < to ? std::vector<std::string>(from, to) : std::vector<std::string>();
  }

  // The night beside the database went as it would have without a far place.
  void expectNearDone() const {
    EXPECT_EQ(readFile(todaysCopy()), kOriginal);
    EXPECT_EQ(readFile(database()), kRepaired);
  }
};

TEST_F(FarCopy, TheDatabasesOwnDiskGetsTheCopyWithALineThatSaysSo) {
  std::filesystem::create_directory(far());
  copyTo(far());
  EXPECT_EQ(program.run().status, 0);
  expectNearDone();
  EXPECT_EQ(readFile(farCopy()), kOriginal);
  const std::string place = programPath(far());
  EXPECT_EQ(
      farLines(),
      (std::vector<std::string>{
          "Start copy to " + place,
          "Copy to " + place + " is on the database's own disk, and survives no failure of it",
          "Sent " + dayCopyName() + ", read back and verified", "Copy to " + place + " finished"}));
  EXPECT_EQ(namesIn(far()), std::vector<std::string>{dayCopyName()}) << "no temporary stays";
}

TEST_F(FarCopy, AMissingDirectoryIsNeverMadeAndFailsTheNight) {
  copyTo(far());
  EXPECT_EQ(program.run().status, 1);
  expectNearDone();
  EXPECT_FALSE(exists(far()));
  EXPECT_TRUE(startsWith(farLines().at(1), "Copy to " + programPath(far()) + " failed: "))
      << farLines().at(1);
}

#ifndef MUTESSEL_UNDER_WINE
TEST_F(FarCopy, ASecondFileSystemGetsTheCopyAndTheNextNightsPruning) {
  const FileSystem ext4{"ext4", "ext4", {"mkfs.ext4", "-q", "-F"}, {"mount", "-t", "ext4"}};
  MountedImage image(ext4, program.home() / "disk");
  if (!image.whyNot().empty()) GTEST_SKIP() << image.whyNot();
  ASSERT_EQ(image.failure(), "");
  std::filesystem::create_directory(far());
  std::filesystem::create_directory(program.home() / "disk/backups");
  for (int day = 1; day <= 9; ++day) {
    writeFile(program.home() / ("disk/backups/muTesselDb2020010" + std::to_string(day) + ".mdb"),
              "old");
  }
  copyTo(program.home() / "disk/backups");
  EXPECT_EQ(program.run().status, 0);
  expectNearDone();
  EXPECT_EQ(readFile(program.home() / ("disk/backups/" + dayCopyName())), kOriginal);
  EXPECT_EQ(farLines().at(1), "Sent " + dayCopyName() + ", read back and verified")
      << "no line of the database's own disk";
  // The day's copy and the six newest before it stay there.
  EXPECT_EQ(namesIn(program.home() / "disk/backups").size(), 7u);
  EXPECT_FALSE(exists(program.home() / "disk/backups/muTesselDb20200103.mdb"));
}

TEST_F(FarCopy, ADestinationThatFillsUpFailsTheNightAndKeepsNoTemporary) {
  SmallFileSystem full(far(), "16k");
  if (!full.mounted()) GTEST_SKIP() << "no tmpfs to be had: " << full.failure();
  copyTo(far());
  EXPECT_EQ(program.run().status, 1);
  expectNearDone();
  EXPECT_EQ(farLines().at(1), "Sending " + dayCopyName() + " failed: No space left on device");
  EXPECT_TRUE(namesIn(far()).empty());
}

// A file system of the tests' own, mounted over a directory of the host
// for the object's lifetime.
class MisbehavingMount {
 public:
  MisbehavingMount(const std::string& mode, const std::string& backing,
                   const std::string& mountPoint)
      : mountPoint_(mountPoint) {
    if (std::string(MUTESSEL_MISBEHAVING_FS).empty()) {
      whyNot_ = "libfuse3 was not there to build the tests' own file system";
    } else if (!isRoot()) {
      whyNot_ = "mounting a file system needs root";
    } else if (!exists("/dev/fuse")) {
      whyNot_ = "this machine has no /dev/fuse";
    }
    if (!whyNot_.empty()) return;
    std::filesystem::create_directories(backing);
    std::filesystem::create_directories(mountPoint);
    RunOptions options;
    options.timeoutSeconds = 600;
    daemon_ = std::make_unique<RunningCommand>(
        std::vector<std::string>{MUTESSEL_MISBEHAVING_FS, mode, backing, mountPoint}, options);
    struct stat parent {
    }, mounted{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (stat((mountPoint + "/..").c_str(), &parent) == 0 &&
          stat(mountPoint.c_str(), &mounted) == 0 && parent.st_dev != mounted.st_dev) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    whyNot_ = "the test's own file system did not mount";
  }
  ~MisbehavingMount() {
    if (!daemon_) return;
    daemon_->kill();
    daemon_->wait();
    runCommand({"umount", "-l", mountPoint_});
  }
  const std::string& whyNot() const { return whyNot_; }

 private:
  std::string mountPoint_, whyNot_;
  std::unique_ptr<RunningCommand> daemon_;
};

TEST_F(FarCopy, ADestinationThatGivesBackOtherBytesKeepsNothingThere) {
  MisbehavingMount flipping("flip", program.home() / "stored", far());
  if (!flipping.whyNot().empty()) GTEST_SKIP() << flipping.whyNot();
  copyTo(far());
  EXPECT_EQ(program.run().status, 1);
  expectNearDone();
  EXPECT_EQ(farLines().at(1), "Sending " + dayCopyName() +
                                  " failed: the copy read back there differs from the backup");
  EXPECT_TRUE(namesIn(program.home() / "stored").empty()) << "no copy, no temporary";
}

TEST_F(FarCopy, ADestinationThatNeverAnswersCostsTheFarCopyNotTheLog) {
  MisbehavingMount silent("silent", program.home() / "stored", far());
  if (!silent.whyNot().empty()) GTEST_SKIP() << silent.whyNot();
  copyTo(far());
  RunOptions options;
  options.timeoutSeconds = 300;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(program.runWith(options).status, 1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(180)) << "two minutes of silence, and little more";
  expectNearDone();
  EXPECT_EQ(farLines(), (std::vector<std::string>{
                            "Start copy to " + far(),
                            "Sending " + dayCopyName() + " failed: no answer for 2 minutes"}));
}
#endif

}  // namespace
}  // namespace testing_support
