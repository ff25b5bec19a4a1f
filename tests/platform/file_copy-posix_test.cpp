#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/services.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::exists;
using testing_support::readFile;
using testing_support::ScratchDirectory;
using testing_support::writeFile;

std::size_t entriesIn(const std::string& directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(directory)) ++count;
  return count;
}

class CopyFile : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::unique_ptr<platform::Services> services = platform::systemServices();
};

TEST_F(CopyFile, CopiesContentModeAndModificationTime) {
  std::string content(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
  writeFile(dir / "db.mdb", content);
  chmod((dir / "db.mdb").c_str(), 0640);
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
  utimensat(AT_FDCWD, (dir / "db.mdb").c_str(), times, 0);

  platform::Outcome copy = services->copyFileNew(dir / "db.mdb", dir / "copy.mdb");
  ASSERT_TRUE(copy.ok) << copy.reason;
  EXPECT_EQ(readFile(dir / "copy.mdb"), content);
  struct stat status {};
  stat((dir / "copy.mdb").c_str(), &status);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(status.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST_F(CopyFile, NeverReplacesAnExistingFile) {
  writeFile(dir / "db.mdb", "new");
  writeFile(dir / "copy.mdb", "old");
  platform::Outcome copy = services->copyFileNew(dir / "db.mdb", dir / "copy.mdb");
  EXPECT_FALSE(copy.ok);
  EXPECT_EQ(copy.reason, "File exists");
  EXPECT_EQ(readFile(dir / "copy.mdb"), "old");
}

TEST_F(CopyFile, FailuresLeaveNothingBehind) {
  writeFile(dir / "db.mdb", "data");
  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(services->copyFileNew(dir / "missing.mdb", dir / "a.mdb").ok);
  EXPECT_FALSE(services->copyFileNew(dir / "folder", dir / "b.mdb").ok);
  EXPECT_FALSE(services->copyFileNew(dir / "db.mdb", dir / "missing/c.mdb").ok);
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

// The limit on file size cuts the copy off part way, as a full disk would.
TEST_F(CopyFile, ACopyCutOffPartWayLeavesNoPartialFile) {
  writeFile(dir / "db.mdb", std::string(1024 * 1024, 'x'));
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      64 * 1024, 64 * 1024
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    platform::Outcome copy =
        platform::systemServices()->copyFileNew(dir / "db.mdb", dir / "copy.mdb");
    _exit(!copy.ok && copy.reason == "File too large" ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(exists(dir / "copy.mdb"));
  EXPECT_EQ(entriesIn(dir.path()), 1u);
}

}  // namespace
