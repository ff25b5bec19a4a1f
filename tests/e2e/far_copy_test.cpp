// The second copy, off the database's disk, on real file systems: another
// file system, one that fills up, a directory that is missing, the
// database's own disk, and file systems of the tests' own that give back
// other bytes than they were given or stop answering.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
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

  // The last night's far step's lines: from its first to the block's last
  // of the job.
  std::vector<std::string> farLines() const {
    const std::vector<std::string> lines = log();
    const auto last = std::find_if(lines.rbegin(), lines.rend(), [](const std::string& line) {
      return startsWith(line, "Start copy to ");
    });
    const auto from = last == lines.rend() ? lines.end() : std::prev(last.base());
    auto to = std::find(from, lines.end(), "End at <time>");
    return from < to ? std::vector<std::string>(from, to) : std::vector<std::string>();
  }

  // Whether `sha256sum -c` reads every record in `directory` OK, or the
  // records named.
  bool recordsHold(const std::string& directory, const std::string& records = "*.sha256") const {
    return runCommand({"sh", "-c", "cd '" + directory + "' && sha256sum --quiet -c " + records})
               .status == 0;
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
  EXPECT_EQ(namesIn(far()), (std::vector<std::string>{dayCopyName(), dayCopyName() + ".sha256"}))
      << "no temporary stays";
  EXPECT_TRUE(recordsHold(far()));
  EXPECT_TRUE(startsWith(readFile(far() + "/" + dayCopyName() + ".sha256"),
                         "# A copy of the database " + programPath(database()) + " on "));
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
  // The day's copy, its record and the six newest copies before it stay there.
  EXPECT_EQ(namesIn(program.home() / "disk/backups").size(), 8u);
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
    const bool up = eventually(
        [&] {
          return stat((mountPoint + "/..").c_str(), &parent) == 0 &&
                 stat(mountPoint.c_str(), &mounted) == 0 && parent.st_dev != mounted.st_dev;
        },
        10);
    if (!up) whyNot_ = "the test's own file system did not mount";
  }
  void signal() { daemon_->signal(SIGUSR1); }
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

TEST_F(FarCopy, ADestinationThatGivesBackOtherBytesOrNoneKeepsNothingThere) {
  const std::string failed = "Sending " + dayCopyName() + " failed: ";
  const std::pair<std::string, std::string> places[] = {
      {"flip", failed + "the copy read back there differs from the backup"},
      {"unreadable", failed + "Input/output error"}};
  for (const auto& [mode, line] : places) {
    SCOPED_TRACE(mode);
    const std::string stored = program.home() / ("stored-" + mode);
    MisbehavingMount misbehaving(mode, stored, far());
    if (!misbehaving.whyNot().empty()) GTEST_SKIP() << misbehaving.whyNot();
    copyTo(far());
    EXPECT_EQ(program.run().status, 1);
    expectNearDone();
    EXPECT_EQ(farLines().at(1), line);
    EXPECT_TRUE(namesIn(stored).empty()) << "no copy, no temporary";
  }
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
  // A place that answers again later gets nothing more of that night's.
  silent.signal();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  for (const std::string& name : namesIn(program.home() / "stored")) {
    EXPECT_FALSE(startsWith(name, "muTesselDb")) << name;
  }
}

TEST_F(FarCopy, ABackupChangedWhileItIsSentIsNotKeptThere) {
  const std::string stored = program.home() / "stored";
  MisbehavingMount silent("silent", stored, far());
  if (!silent.whyNot().empty()) GTEST_SKIP() << silent.whyNot();
  copyTo(far());
  const auto night = program.start();
  // The send waits on the place from its first write, its temporary there.
  EXPECT_TRUE(eventually([&] { return !namesIn(stored).empty(); }, 60));
  std::filesystem::last_write_time(todaysCopy(), std::filesystem::file_time_type::clock::now());
  silent.signal();
  EXPECT_EQ(night->wait().status, 1);
  EXPECT_EQ(farLines().at(1),
            "Sending " + dayCopyName() + " failed: the backup changed while it was sent");
  EXPECT_TRUE(namesIn(stored).empty()) << "no copy, no temporary";
}

TEST_F(FarCopy, ACopyChangedThereAtRestIsFoundInItsTurnAndSentAgain) {
  MisbehavingMount rotting("rot", program.home() / "stored", far());
  if (!rotting.whyNot().empty()) GTEST_SKIP() << rotting.whyNot();
  // Two weeks of copies: whatever the day, some are read back tonight.
  writeFile(program.settingsPath(), "[settings]\r\nDatabase=" + database() + "\r\nCopyTo=" + far() +
                                        "\r\nKeepDaily=30\r\n");
  const std::time_t now = std::time(nullptr);
  for (int back = 1; back < 14; ++back) {
    const std::time_t then = now - back * 86400;
    char digits[16];
    std::strftime(digits, sizeof digits, "%Y%m%d", std::localtime(&then));
    writeFile(data() + "/muTesselDb" + digits + ".mdb", kOriginal);
  }
  EXPECT_EQ(program.run().status, 0);
  EXPECT_TRUE(recordsHold(far()));
  rotting.signal();
  EXPECT_EQ(program.run().status, 1) << "the same day again: only the turns' reads";
  std::vector<std::string> mended;
  const std::vector<std::string> lines = farLines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!startsWith(lines[i], "Verifying ")) continue;
    const std::string name = lines[i].substr(10, 22);
    EXPECT_EQ(lines[i], "Verifying " + name + " there failed: it differs from its record");
    ASSERT_LT(i + 1, lines.size());
    EXPECT_EQ(lines[i + 1], "Sent " + name + " again, read back and verified");
    mended.push_back(name);
  }
  ASSERT_FALSE(mended.empty()) << "every night of the week has copies of two weeks to read";
  for (const std::string& name : mended) EXPECT_TRUE(recordsHold(far(), name + ".sha256")) << name;
  EXPECT_FALSE(recordsHold(far())) << "those not read tonight still hold the changed byte";
}
#endif

}  // namespace
}  // namespace testing_support
