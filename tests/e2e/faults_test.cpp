// Real faults, driven against the built program: a full disk, a file-size
// limit, a kill in mid-copy, two runs at once, hostile settings, an
// unwritable log and special files under the database's name. None of them
// may lose data or leave a state that the next run cannot recover from.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/e2e/program_fixture.h"

namespace testing_support {
namespace {

class Faults : public Program {
 protected:
  // A run under strace in which `call` fails with EIO on the database's
  // directory alone, as on a failing disk, where strace's `when` says.
  RunOptions failingOnData(const std::string& call, const std::string& when) const {
    RunOptions options;
    options.wrapper = {"strace",
                       "-f",
                       "-qq",
                       "-o",
                       "/dev/null",
                       "-P",
                       data(),
                       "-e",
                       "trace=" + call,
                       "-e",
                       "inject=" + call + ":error=EIO:when=" + when};
    options.environment = {{"ASAN_OPTIONS", "detect_leaks=0"}};  // LeakSanitizer shuns ptrace
    return options;
  }
};

TEST_F(Faults, AFullDiskFailsTheCopyAndHoldsNoSpace) {
  if (!isRoot()) GTEST_SKIP() << "mounting a file system needs root";
  SmallFileSystem small(program.home() / "small", "512k");
  if (!small.mounted()) GTEST_SKIP() << "this machine cannot mount tmpfs";
  const std::string database = program.home() / "small/muTesselDb.mdb";
  const std::string content = accessDatabase(300 * 1024);
  writeFile(database, content);
  program.setDatabase(programPath(database));
  const unsigned long freeBefore = small.freeBlocks();

  EXPECT_EQ(program.run().status, 1);
  std::vector<std::string> lines = log();
  ASSERT_EQ(lines.size(), 8u);
  const std::string copyLine = lineAfter(lines, "Start copy");
  EXPECT_TRUE(startsWith(copyLine, "Copy failed: ")) << copyLine;
  if (!underWine()) {
    EXPECT_EQ(copyLine, "Copy failed: No space left on device");
  }
  EXPECT_EQ(small.freeBlocks(), freeBefore);
  EXPECT_EQ(namesIn(program.home() / "small").size(), 1u);
  EXPECT_EQ(readFile(database), content);
  EXPECT_FALSE(exists(program.recordPath()));

  small.resize("2m");
  EXPECT_EQ(program.run().status, 0);
  EXPECT_EQ(readFile(program.home() / "small/muTesselDb" + today() + ".mdb"), content);
}

TEST_F(Faults, ALogWhoseDiskFillsIsLeftAsItWas) {
  if (!isRoot()) GTEST_SKIP() << "mounting a file system needs root";
  // The program and its log on a file system of their own, filled up but
  // for a few bytes of the log's last block.
  const std::string file = program.programDirectory() + "/" + ProgramUnderTest::defaultName();
  const std::string stash = program.home() / "program.stash";
  std::filesystem::copy_file(file, stash);
  SmallFileSystem small(program.programDirectory(),
                        std::to_string(std::filesystem::file_size(stash) + (1 << 20)));
  if (!small.mounted()) GTEST_SKIP() << "this machine cannot mount tmpfs";
  std::filesystem::copy_file(stash, file);
  program.setDatabase(programPath(database()));
  const std::string earlier = std::string(4096 - 40, 'x') + "\r\n";
  writeFile(program.logPath(), earlier);
  writeFile(program.programDirectory() + "/filler", std::string(small.freeBlocks() * 4096, 'f'));
  ASSERT_EQ(small.freeBlocks(), 0u);

  RunResult result = program.run();
  EXPECT_EQ(result.status, 2) << result.standardError;
  EXPECT_EQ(splitLines(result.standardError).size(), 1u) << result.standardError;
  const std::string log = readFile(program.logPath());
  EXPECT_TRUE(log == earlier) << "no torn block at the log's end: " << log.substr(earlier.size());
}

TEST_F(Faults, AFileSizeLimitReadsAsAFailedCopy) {
  if (underWine()) GTEST_SKIP() << "the limit would reach the Wine server too";
  writeFile(database(), accessDatabase(1024 * 1024));
  RunOptions options;
  options.limits = {
      {RLIMIT_FSIZE, 64 * 1024}};  // SIGXFSZ at its default action, as a shell leaves it
  RunResult result = program.runWith(options);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(lastJobLine(log()), "Copy failed: File too large");
  EXPECT_FALSE(exists(todaysCopy()));
  EXPECT_FALSE(exists(program.recordPath()));
}

TEST_F(Faults, AKillInMidCopyLeavesNothingOrTheWholeCopy) {
  const std::string content = accessDatabase(64 * 1024 * 1024);
  for (int delay : {0, 5, 20, 50, 100, 200}) {
    writeFile(database(), content);
    auto running = program.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    running->kill();
    running->wait();
    if (exists(todaysCopy())) {
      EXPECT_EQ(std::filesystem::file_size(todaysCopy()), content.size()) << "after " << delay;
      EXPECT_TRUE(readFile(todaysCopy()) == content) << "after " << delay;
      std::filesystem::remove(todaysCopy());
    }
  }
  writeFile(database(), content);
  std::filesystem::remove(program.logPath());
  EXPECT_EQ(program.run().status, 0);
  EXPECT_EQ(log(), block(fullRunOf(programPath(database()))));
  EXPECT_TRUE(readFile(todaysCopy()) == content);
}

TEST_F(Faults, ACopyWhoseNameCannotBeFlushedToDiskIsNoCopy) {
  if (underWine()) GTEST_SKIP() << "the fault is injected into Linux system calls";
  if (!installed("strace")) GTEST_SKIP() << "strace is not installed";
  EXPECT_EQ(program.runWith(failingOnData("fsync", "1+")).status, 1);
  EXPECT_EQ(lastJobLine(log()), "Copy failed: Input/output error");
  EXPECT_EQ(namesIn(data()), std::vector<std::string>{"muTesselDb.mdb"});
  expectUntouched();
}

// The clean-up's listing fails on its second read, after a first that gave
// names; the existence tests' two listings before it read twice each.
TEST_F(Faults, ACleanUpWhoseListingFailsPartWayFailsTheNight) {
  if (underWine()) GTEST_SKIP() << "the fault is injected into Linux system calls";
  if (!installed("strace")) GTEST_SKIP() << "strace is not installed";
  EXPECT_EQ(program.runWith(failingOnData("getdents64", "6")).status, 1);
  EXPECT_EQ(lastJobLine(log()), "Fout:75 Path/File access error: Input/output error");
  EXPECT_EQ(readFile(todaysCopy()), kOriginal);
}

TEST_F(Faults, ARunWaitsForTheLogAndItsCutBackKeepsTheOtherRunsBlock) {
  if (underWine()) GTEST_SKIP() << "Wine keeps its file locks to itself";
  const std::string other = std::string(4000, 'o') + "\r\n";
  const int held = open(program.logPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  RunOptions options;
  options.limits = {{RLIMIT_FSIZE, other.size() + 100}};  // too little for this run's block
  auto running = program.start(options);
  for (int tries = 0; tries < 600 && !exists(program.recordPath()); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_TRUE(std::filesystem::is_empty(program.logPath())) << "appended while the log was held";
  // The holder's own block, appended while this run waits.
  ASSERT_EQ(write(held, other.data(), other.size()), static_cast<ssize_t>(other.size()));
  close(held);
  RunResult result = running->wait();
  EXPECT_EQ(result.status, 2) << result.standardError;
  EXPECT_TRUE(readFile(program.logPath()) == other) << "the failed append was not taken back whole";
}

TEST_F(Faults, TwoRunsAtOnceMakeOneCopyAndOneRepair) {
  writeFile(database(), accessDatabase(8 * 1024 * 1024));
  auto first = program.start();
  auto second = program.start();
  const int statuses = first->wait().status + second->wait().status;
  EXPECT_LE(statuses, 1) << "one full run, and one that stopped or failed";

  // Two whole blocks, each ending with the separator and the empty line.
  std::vector<std::string> lines = log();
  auto firstEnd = std::find(lines.begin(), lines.end(), kSeparator);
  ASSERT_NE(firstEnd, lines.end());
  std::vector<std::string> blocks[2] = {{lines.begin(), firstEnd + 2}, {firstEnd + 2, lines.end()}};
  const std::vector<std::string> full = block(fullRunOf(programPath(database())));
  const int fullBlock = blocks[0] == full ? 0 : 1;
  EXPECT_EQ(blocks[fullBlock], full);
  const std::vector<std::string>& later = blocks[1 - fullBlock];
  ASSERT_GE(later.size(), 4u);
  EXPECT_EQ(later.back(), "");
  const std::string stop = lastJobLine(later);
  EXPECT_TRUE(stop == "backup already exists" || startsWith(stop, "Copy failed: ")) << stop;

  const std::string requests = program.requests();
  EXPECT_EQ(requests.find("end\n"), requests.size() - 4) << "one repair request";
}

TEST_F(Faults, HostileSettingsEndTheJobWithItsOwnLine) {
  const std::string path = programPath(database());
  std::string junk = patternedContent(4096);
  struct Case {
    const char* what;
    std::string settings;
    int status;
    std::string stop;  // the job's last line
  };
  const Case cases[] = {
      {"empty", "", 1, "Databasefile niet gevonden"},
      {"binary junk", junk, 1, "Databasefile niet gevonden"},
      {"NUL bytes", std::string(64, '\0') + "[settings]\nDatabase=" + path, 1,
       "Databasefile niet gevonden"},
      {"NUL after the value", "[settings]\nDatabase=" + path + std::string(1, '\0') + "x", 0,
       "Cleanup of old backups finished"},
      {"no final newline", "[settings]\nDatabase=" + path, 0, "Cleanup of old backups finished"},
      {"a 1 MiB line", "[settings]\n" + std::string(1 << 20, 'x') + "\nDatabase=" + path + "\n", 0,
       "Cleanup of old backups finished"},
      {"a value of 10,000 characters", "[settings]\nDatabase=" + std::string(10000, 'd'), 1,
       "Databasefile niet gevonden"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(program.logPath());
    std::filesystem::remove(todaysCopy());
    writeFile(program.settingsPath(), c.settings);
    EXPECT_EQ(program.run().status, c.status) << c.what;
    EXPECT_EQ(lastJobLine(log()), c.stop) << c.what;
  }
  std::filesystem::remove(program.logPath());
  std::filesystem::remove(program.settingsPath());
  std::filesystem::create_directory(program.settingsPath());
  EXPECT_EQ(program.run().status, 1);
  EXPECT_EQ(lastJobLine(log()), "Inifile niet gevonden");
}

// For the tests that need a user whom permissions stop: root passes them all.
class AsAnotherUser : public Program {
 protected:
  void SetUp() override {
    if (underWine()) GTEST_SKIP() << "the Wine prefix belongs to this user";
    if (!isRoot()) GTEST_SKIP() << "changing user needs root";
    Program::SetUp();
    openToAll();
    options.user = &kNobody;
  }
  RunOptions options;
};

TEST_F(AsAnotherUser, UnreadableSettingsReadAsEmpty) {
  chmod(program.settingsPath().c_str(), 0);
  EXPECT_EQ(program.runWith(options).status, 1);
  EXPECT_EQ(log(), block({"Databasefile niet gevonden"}));
}

TEST_F(AsAnotherUser, ACleanUpThatCannotListTheCopiesEndsTheRunWithAnError) {
  for (int day = 1; day <= 8; ++day) {
    writeFile(data() + "/muTesselDb2020010" + std::to_string(day) + ".mdb", "old");
  }
  // The directory's owner takes away the right to read it during the repair.
  ASSERT_EQ(chown(data().c_str(), kNobody.uid, kNobody.gid), 0);
  options.environment = {{"STANDIN_UNREADABLE", data()}};
  EXPECT_EQ(program.runWith(options).status, 1);
  EXPECT_EQ(lastJobLine(log()), "Fout:75 Path/File access error: Permission denied");
  EXPECT_EQ(lineAfter(log(), "Repair performed"), "Start cleanup old backups");
  EXPECT_TRUE(exists(data() + "/muTesselDb20200101.mdb"));
}

TEST_F(AsAnotherUser, AReadOnlyLogDirectoryGivesStatusTwoAndOneLine) {
  chmod(program.programDirectory().c_str(), 0555);
  RunResult result = program.runWith(options);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(splitLines(result.standardError).size(), 1u) << result.standardError;
  EXPECT_NE(result.standardError.find(program.logPath()), std::string::npos);
  EXPECT_FALSE(exists(program.logPath()));
}

TEST_F(Faults, SpecialFilesUnderTheDatabaseNameAreNotDatabases) {
  if (underWine()) GTEST_SKIP() << "Windows has no FIFOs or devices under a file name";
  mkfifo((data() + "/fifo.mdb").c_str(), 0600);
  std::filesystem::create_symlink(data() + "/gone.mdb", data() + "/dangling.mdb");
  for (const std::string& path : {data() + "/fifo.mdb", std::string("/dev/null"),
                                  std::string("/dev/zero"), data() + "/dangling.mdb"}) {
    std::filesystem::remove(program.logPath());
    program.setDatabase(path);
    EXPECT_EQ(program.run().status, 1) << path;
    EXPECT_EQ(log(), block({"Databasefile niet gevonden"})) << path;
  }
}

}  // namespace
}  // namespace testing_support
