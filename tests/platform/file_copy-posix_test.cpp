// The POSIX copy on real files: what it keeps, what it leaves behind, and how it syncs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/copy_seam-posix.h"
#include "platform/services.h"
#include "tests/support/log_lines.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::exists;
using testing_support::namesIn;
using testing_support::patternedContent;
using testing_support::readFile;
using testing_support::ScratchDirectory;
using testing_support::startsWith;
using testing_support::writeFile;

using Names = std::vector<std::string>;

class CopyFile : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::unique_ptr<platform::Services> services = platform::systemServices();
};

TEST_F(CopyFile, CopiesContentModeAndModificationTime) {
  const std::string content = patternedContent(3 * 1024 * 1024 + 17);
  writeFile(dir / "db.mdb", content);
  chmod((dir / "db.mdb").c_str(), 0640);
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
  utimensat(AT_FDCWD, (dir / "db.mdb").c_str(), times, 0);

  platform::Outcome copy = services->copyFileNew(dir / "db.mdb", dir / "copy.mdb", "");
  ASSERT_TRUE(copy.ok) << copy.reason;
  EXPECT_EQ(readFile(dir / "copy.mdb"), content);
  struct stat status {};
  stat((dir / "copy.mdb").c_str(), &status);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(status.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);
}

TEST_F(CopyFile, NeverReplacesAnExistingFile) {
  writeFile(dir / "db.mdb", "new");
  writeFile(dir / "copy.mdb", "old");
  platform::Outcome copy = services->copyFileNew(dir / "db.mdb", dir / "copy.mdb", "");
  EXPECT_FALSE(copy.ok);
  EXPECT_EQ(copy.reason, "File exists");
  EXPECT_EQ(readFile(dir / "copy.mdb"), "old");
}

TEST_F(CopyFile, FailuresLeaveNothingBehind) {
  writeFile(dir / "db.mdb", "data");
  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(services->copyFileNew(dir / "missing.mdb", dir / "a.mdb", "").ok);
  EXPECT_FALSE(services->copyFileNew(dir / "folder", dir / "b.mdb", "").ok);
  EXPECT_FALSE(services->copyFileNew(dir / "db.mdb", dir / "missing/c.mdb", "").ok);
  EXPECT_EQ(namesIn(dir.path()).size(), 2u);
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
        platform::systemServices()->copyFileNew(dir / "db.mdb", dir / "copy.mdb", "");
    _exit(!copy.ok && copy.reason == "File too large" ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(exists(dir / "copy.mdb"));
  EXPECT_EQ(namesIn(dir.path()).size(), 1u);
}

TEST_F(CopyFile, TemporariesOfDeadRunsGoThoseOfLiveRunsStay) {
  writeFile(dir / "db.mdb", "data");
  writeFile(dir / ".muTesselCopy-dead01", "part of a copy");
  chmod((dir / ".muTesselCopy-dead01").c_str(), 0400);
  writeFile(dir / ".muTesselCopy-live01", "part of a copy");
  int live = open((dir / ".muTesselCopy-live01").c_str(), O_RDWR);  // as a live run holds it
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  EXPECT_TRUE(services->copyFileNew(dir / "db.mdb", dir / "copy.mdb", "").ok);
  close(live);
  EXPECT_EQ(namesIn(dir.path()), (Names{".muTesselCopy-live01", "copy.mdb", "db.mdb"}));
}

// The database changes once the data is in the copy; the copy must go.
TEST_F(CopyFile, ACopyOfAChangingDatabaseIsNotKept) {
  const std::string db = dir / "db.mdb";
  const auto edit = [db](const std::string& text, off_t at) {
    int fd = open(db.c_str(), O_WRONLY);
    EXPECT_EQ(pwrite(fd, text.data(), text.size(), at < 0 ? lseek(fd, 0, SEEK_END) : at),
              static_cast<ssize_t>(text.size()));
    close(fd);
  };
  struct Case {
    const char* what;
    bool contentsOnly;
    std::function<void()> change;
    std::string reason;  // empty: the copy is kept
  };
  const std::string changed = "The database changed during the copy";
  const Case cases[] = {
      {"the same bytes written again", false, [&] { edit("head", 0); }, changed},
      {"bytes changed, its times not looked at", true, [&] { edit("TAIL", 4 << 20); }, changed},
      {"grown", false, [&] { edit("more", -1); }, changed},
      {"replaced under its name", false,
       [&] {
         writeFile(dir / "new.mdb", "head");
         rename((dir / "new.mdb").c_str(), db.c_str());
       },
       changed},
      {"its lock file appeared", false, [&] { writeFile(dir / "db.ldb", ""); },
       "The database's lock file appeared during the copy"},
      {"unchanged, its contents compared", true, [] {}, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir / "db.ldb");
    std::filesystem::remove(dir / "copy.mdb");
    writeFile(db, "head" + std::string(8 << 20, 'x') + "tail");
    // Times long past, so that a write in the same tick of the clock still moves them.
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, db.c_str(), past, 0);
    platform::posix::CopyOptions options;
    options.afterData = c.change;
    options.contentsOnly = c.contentsOnly;
    platform::Outcome copy =
        platform::posix::copyNew(db, dir / "copy.mdb", dir / "db.ldb", options);
    EXPECT_EQ(copy.reason, c.reason) << c.what;
    EXPECT_EQ(exists(dir / "copy.mdb"), c.reason.empty()) << c.what;
    EXPECT_EQ(namesIn(dir.path()).size(), 1u + exists(dir / "db.ldb") + c.reason.empty()) << c.what;
  }
}

// Where the kernel offers no copy of its own (an old kernel, a seccomp
// filter), plain reads and writes make the same copy.
TEST_F(CopyFile, PlainReadsAndWritesTakeOverWhereTheKernelCannotCopy) {
  const std::string content = patternedContent(200 * 1024 + 3);
  writeFile(dir / "db.mdb", content);
  const std::string command =
      "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e "
      "inject=copy_file_range:error=ENOSYS " MUTESSEL_COPY_TOOL " 0 " +
      dir / "db.mdb" + " " + dir / "copy.mdb" + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(readFile(dir / "copy.mdb"), content);
}

// Every way of copying, driven on purpose and traced: the copy's data is
// synced before the call that names it, and the directory after; nothing
// but the database and the copy stays, also when the name is taken.
class CopyWay : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(CopyWay, SyncsBeforeNamingAndLeavesNothingElse) {
  // Plain names, not a structured binding: the lambdas below capture them.
  const int way = std::get<0>(GetParam());
  const bool clash = std::get<1>(GetParam());
  ScratchDirectory dir, traces;
  const std::string content(300 * 1024, 'd'), target = dir / "copy.mdb";
  writeFile(dir / "db.mdb", content);
  // LeakSanitizer, in the sanitized build, cannot run under ptrace.
  const std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -o " + traces / "calls" +
                              " -e trace=openat,write,copy_file_range,fsync,fdatasync,link,linkat,"
                              "rename,renameat,renameat2 " MUTESSEL_COPY_TOOL " " +
                              std::to_string(way) + " " + dir / "db.mdb" + " " + target +
                              (clash ? " clash" : "") + " >" + traces / "output" + " 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (clash ? 1 : 0))
      << readFile(traces / "output");
  EXPECT_EQ(namesIn(dir.path()), (Names{"copy.mdb", "db.mdb"}));
  EXPECT_EQ(readFile(target), clash ? "other" : content);
  if (clash) return;

  std::vector<std::string> calls = testing_support::splitLines(readFile(traces / "calls"));
  for (std::string& call : calls) call = call.substr(call.find_first_not_of("0123456789 "));
  const char* namers[] = {"linkat(", "link(", "renameat2(", "rename("};
  const auto named = std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
    return startsWith(call, namers[way]) && call.find('"' + target + '"') != std::string::npos &&
           call.find(") = 0") != std::string::npos;
  });
  ASSERT_NE(named, calls.end()) << readFile(traces / "calls");
  // The copy's descriptor: the unnamed file's, or the one its temporary was opened as.
  const std::size_t quote = named->find('"') + 1;
  const std::string from = named->substr(quote, named->find('"', quote) - quote);
  std::string fd = from.substr(std::string("/proc/self/fd/").size());
  for (const std::string& call : calls) {
    if (startsWith(call, "openat(AT_FDCWD, \"" + from + '"')) fd = call.substr(call.rfind(' ') + 1);
  }
  const auto lastWrite =
      std::find_if(std::make_reverse_iterator(named), calls.rend(), [&](const std::string& call) {
        return startsWith(call, "write(" + fd + ",") ||
               (startsWith(call, "copy_file_range(") &&
                call.find(", NULL, " + fd + ", ") != std::string::npos);
      });
  ASSERT_NE(lastWrite, calls.rend());
  EXPECT_TRUE(std::any_of(lastWrite.base(), named,
                          [&](const std::string& call) {
                            return startsWith(call, "fsync(" + fd + ")") ||
                                   startsWith(call, "fdatasync(" + fd + ")");
                          }))
      << "no sync of descriptor " << fd << " before " << *named;
  EXPECT_TRUE(std::any_of(named, calls.end(),
                          [&](const std::string& call) { return startsWith(call, "fsync("); }))
      << "no sync of the directory after " << *named;
}

INSTANTIATE_TEST_SUITE_P(EveryWay, CopyWay,
                         ::testing::Combine(::testing::Range(0, 4), ::testing::Bool()));

}  // namespace
