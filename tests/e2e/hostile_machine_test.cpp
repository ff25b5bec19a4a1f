// The program on a machine that is not kind to it: a planted set-user-ID
// file, holders of the lock file that the run cannot see, a dead mount
// elsewhere, a log whose disk fills, the program replaced mid-run. Most of
// it needs root (other users, namespaces, mounts, a file server) and skips
// itself otherwise.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/e2e/mounted_image.h"
#include "tests/support/other_process.h"

namespace testing_support {
namespace {

#ifdef MUTESSEL_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr Account kOfficeUser{61001, 61001};   // owns the office's files
constexpr Account kServiceUser{61002, 61002};  // the service's own user

// Whether some process holds `path` open, asked `attempts` times a tenth of
// a second apart, for holders that open it through a server.
bool openSomewhere(const std::string& path, int attempts) {
  for (int tries = 0; tries < attempts; ++tries) {
    // Processes come and go while they are looked at: every step takes an
    // error code rather than throwing.
    std::error_code error;
    using Entries = std::filesystem::directory_iterator;
    for (Entries process("/proc", error), end; !error && process != end; process.increment(error)) {
      std::error_code gone;
      for (Entries fd(process->path() / "fd", gone); !gone && fd != end; fd.increment(gone)) {
        if (std::filesystem::read_symlink(fd->path(), gone) == path) return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

class HostileMachine : public Program {
 protected:
  void SetUp() override {
    Program::SetUp();
    writeFile(lockFile(), "");
  }

  // The same for the lock file.
  void openToAll() const {
    Program::openToAll();
    chmod(lockFile().c_str(), 0666);
  }

  std::string lockFile() const { return data() + "/muTesselDb.ldb"; }

  // A run to which the lock file seems to be on the file system numbered `type`.
  RunResult runOn(const char* type) const {
    RunOptions options;
    options.environment = {{"LD_PRELOAD", MUTESSEL_FAKE_FILE_SYSTEM},
                           {"FAKE_FILE_SYSTEM_TYPE", type},
                           {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    return program.runWith(options);
  }

  void expectLeftAlone(const RunResult& result, const std::string& what,
                       const std::string& lastLine = "Lockfile still present") {
    EXPECT_EQ(result.status, 1) << what << ": " << result.standardError;
    EXPECT_EQ(lastJobLine(log()), lastLine) << what;
    EXPECT_TRUE(exists(lockFile())) << what;
    EXPECT_FALSE(exists(todaysCopy())) << what;
    expectUntouched();
    std::filesystem::remove(program.logPath());
  }
};

TEST_F(HostileMachine, ACopyNeverCarriesSetUserOrGroupIdBits) {
  std::filesystem::remove(lockFile());
  chmod(database().c_str(), 06755);
  ASSERT_EQ(program.run().status, 0);
  struct stat copy {};
  ASSERT_EQ(stat(todaysCopy().c_str(), &copy), 0);
  EXPECT_EQ(copy.st_mode & 07777, 0755u);
}

TEST_F(HostileMachine, ALockFileHeldWhereTheRunCannotSeeStaysAndStopsTheRun) {
  if (!isRoot()) GTEST_SKIP() << "other users, namespaces and limits need root";
  openToAll();
  ASSERT_EQ(chown(lockFile().c_str(), kOfficeUser.uid, kOfficeUser.gid), 0);
  {
    OtherProcess holder(lockFile(), OtherProcess::Hold::kOpen, &kOfficeUser);
    RunOptions asThirdUser;
    asThirdUser.user = &kServiceUser;
    expectLeftAlone(program.runWith(asThirdUser), "held by another user, run by a third");
  }
  OtherProcess holder(lockFile(), OtherProcess::Hold::kOpen);
  if (!kSanitized) {  // their checks open descriptors of their own, and fail without
    RunOptions fewDescriptors;
    fewDescriptors.limits = {{RLIMIT_NOFILE, 4}};
    expectLeftAlone(program.runWith(fewDescriptors), "run with 4 file descriptors");
  }
  RunOptions ownNamespace;
  ownNamespace.wrapper = {"unshare", "--pid", "--fork", "--mount-proc"};
  const std::string whyNot = whyNoMountNamespace(ownNamespace.wrapper);
  if (!whyNot.empty()) GTEST_SKIP() << whyNot << " (for a PID namespace of the run's own)";
  expectLeftAlone(program.runWith(ownNamespace), "holder outside the run's PID namespace");
}

// overlayfs does not see a holder that opened the lock file through the
// upper directory, here the database's own.
TEST_F(HostileMachine, ALockFileOnOverlayfsStaysWhateverItsLease) {
  if (!isRoot()) GTEST_SKIP() << "mounting needs root";
  for (const char* dir : {"lower", "work"}) std::filesystem::create_directory(program.home() / dir);
  SmallFileSystem overlay(program.home() / "merged", "overlay",
                          "lowerdir=" + program.home() / "lower" + ",upperdir=" + data() +
                              ",workdir=" + program.home() / "work");
  if (!overlay.mounted()) GTEST_SKIP() << "no overlay can be mounted here: " << overlay.failure();
  OtherProcess holder(lockFile(), OtherProcess::Hold::kOpen);
  program.setDatabase(programPath(program.home() / "merged/muTesselDb.mdb"));
  expectLeftAlone(program.run(), "held through the upper directory",
                  "Lockfile kept: whether it is in use cannot be told on overlayfs");
}

// ZFS, bcachefs, JFS, ReiserFS and NILFS2, which cannot be mounted here.
class OnALocalDisk : public HostileMachine, public ::testing::WithParamInterface<const char*> {};

TEST_P(OnALocalDisk, ALockFileHeldOpenStopsTheRunAndAStaleOneGoes) {
  {
    OtherProcess holder(lockFile(), OtherProcess::Hold::kOpen);
    expectLeftAlone(runOn(GetParam()), "held open");
  }
  EXPECT_EQ(runOn(GetParam()).status, 0);
  EXPECT_EQ(log(), block(staleLockRunOf(database())));
}

INSTANTIATE_TEST_SUITE_P(Faked, OnALocalDisk,
                         ::testing::Values("0x2fc12fc1", "0xca451a4e", "0x3153464a", "0x52654973",
                                           "0x3434"));

// A kind not known, and cluster file systems, whose other machines' opens
// no lease sees.
TEST_F(HostileMachine, ALockFileWhereNoLeaseCanTellStays) {
  for (const auto& [type, name] : {std::pair{"0x5ca1ab1e", "file system 0x5ca1ab1e"},
                                   {"0x01161970", "GFS2"},
                                   {"0x7461636f", "OCFS2"}}) {
    expectLeftAlone(runOn(type), name,
                    "Lockfile kept: whether it is in use cannot be told on " + std::string(name));
  }
}

// A program that opens the lock file between the lease and the delete waits
// in the lease break, then has the file without its name: it is in use.
TEST_F(HostileMachine, ALockFileOpenedAsTheRunDeletesItStopsTheRun) {
  if (!installed("strace")) GTEST_SKIP() << "strace is not installed";
  RunOptions options;
  options.wrapper = {"strace", "-qq", "-o/dev/null", "-P" + lockFile(),
                     "-einject=unlinkat:delay_enter=2000000"};
  options.environment = {{"ASAN_OPTIONS", "detect_leaks=0"}};  // LeakSanitizer shuns ptrace
  auto running = program.start(options);
  ASSERT_TRUE(openSomewhere(lockFile(), 100)) << "the run never opened the lock file";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));    // its lease taken, 2 s to go
  const int late = open(lockFile().c_str(), O_RDWR | O_CLOEXEC);  // waits for the lease
  EXPECT_EQ(running->wait().status, 1);
  close(late);
  EXPECT_EQ(lastJobLine(log()), "Lockfile still present");
  EXPECT_FALSE(exists(lockFile())) << "found in use only once deleted";
  expectUntouched();
}

TEST_F(HostileMachine, AStaleLockFileOfTheRunningUserIsCleared) {
  if (!isRoot()) GTEST_SKIP() << "running as the service's own user needs root";
  openToAll();
  ASSERT_EQ(chown(lockFile().c_str(), kServiceUser.uid, kServiceUser.gid), 0);
  RunOptions options;
  options.user = &kServiceUser;
  EXPECT_EQ(program.runWith(options).status, 0);
  EXPECT_EQ(log(), block(staleLockRunOf(database())));
  EXPECT_FALSE(exists(lockFile()));
}

// An exFAT image mounted through FUSE, with a file on it held open by a
// process that has nothing to do with the job, and then its daemon stopped:
// whatever touches that file now waits for ever, as on a dead network mount.
class DeadMount {
 public:
  explicit DeadMount(const std::string& directory) : image_(kExfatFuse, directory) {
    if (!image_.mounted()) return;
    writeFile(directory + "/elsewhere.txt", "x");
    holder_ =
        std::make_unique<OtherProcess>(directory + "/elsewhere.txt", OtherProcess::Hold::kOpen);
    daemon_ = processWith(image_.device());
    if (daemon_ > 0) kill(daemon_, SIGSTOP);
  }
  ~DeadMount() {
    if (daemon_ > 0) kill(daemon_, SIGCONT);
    holder_.reset();
  }
  bool dead() const { return daemon_ > 0; }

 private:
  // The process whose command line names `text`.
  static pid_t processWith(const std::string& text) {
    for (auto& process : std::filesystem::directory_iterator("/proc")) {
      const std::string line = readFile(process.path() / "cmdline");
      if (line.find(text) != std::string::npos && line.find("exfat") != std::string::npos) {
        return static_cast<pid_t>(std::atoi(process.path().filename().c_str()));
      }
    }
    return -1;
  }

  MountedImage image_;  // unmounted last
  std::unique_ptr<OtherProcess> holder_;
  pid_t daemon_ = -1;
};

TEST_F(HostileMachine, ADeadMountElsewhereHoldsUpNeitherTheLockCheckNorTheCleanUp) {
  if (!isRoot()) GTEST_SKIP() << "mounting needs root";
  if (!installed("mount.exfat-fuse") || !installed("mkfs.exfat") || !exists("/dev/fuse")) {
    GTEST_SKIP() << "exfat-fuse, exfatprogs or /dev/fuse is missing";
  }
  for (int day = 1; day <= 8; ++day)
    writeFile(data() + "/muTesselDb2020010" + std::to_string(day) + ".mdb", "old");
  DeadMount mount(program.home() / "usb");
  if (!mount.dead()) GTEST_SKIP() << "the FUSE file system could not be mounted here";
  RunOptions options;
  options.timeoutSeconds = 60;
  RunResult result = program.runWith(options);
  EXPECT_EQ(result.status, 0) << "a run that hangs is killed after a minute";
  EXPECT_EQ(log(), block(staleLockRunOf(database())));
  EXPECT_FALSE(exists(data() + "/muTesselDb20200102.mdb"));
}

TEST_F(HostileMachine, TheLogStaysBesideTheProgramWhenAnUpgradeReplacesIt) {
  std::filesystem::remove(lockFile());
  const std::string file = program.programDirectory() + "/" + ProgramUnderTest::defaultName();
  EXPECT_EQ(program.run({{"STANDIN_REMOVE", file}}).status, 0);
  EXPECT_FALSE(exists(file)) << "the stand-in removed the program during the repair";
  EXPECT_EQ(log(), block(fullRunOf(database())));
  EXPECT_EQ(namesIn(program.programDirectory()).size(), 2u)
      << "the settings file and the log, and nothing else";
}

// A Samba server on loopback sharing the database's directory, and a
// client that opens the lock file through it, as an office PC does.
class SambaShare {
 public:
  explicit SambaShare(const ScratchDirectory& home, const std::string& shared)
      : directory_(home / "samba") {
    std::filesystem::create_directory(directory_);
    writeFile(config(),
              "[global]\n"
              "interfaces = lo\nbind interfaces only = yes\nsmb ports = " +
                  std::to_string(kPort) + "\ndisable netbios = yes\n" +
                  "private dir = " + directory_ + "\nstate directory = " + directory_ +
                  "\ncache directory = " + directory_ + "\nlock directory = " + directory_ +
                  "\npid directory = " + directory_ + "\nncalrpc dir = " + directory_ +
                  "/rpc\nlog file = " + directory_ +
                  "/log\nmap to guest = Bad User\nguest account = nobody\n"
                  "load printers = no\nprintcap name = /dev/null\n"
                  "[data]\npath = " +
                  shared + "\nguest ok = yes\nread only = no\n");
    RunOptions options;
    options.timeoutSeconds = 600;
    server_ = std::make_unique<RunningCommand>(
        std::vector<std::string>{"smbd", "--foreground", "--no-process-group", "-s", config()},
        options);
  }
  ~SambaShare() {
    client_.reset();
    runCommand({"pkill", "-KILL", "-f", config()});
  }

  // Opens `name` through the share and keeps it open, as Access on a PC does.
  bool openThroughShare(const std::string& name, const std::string& hostPath) {
    RunOptions options;
    options.inputPipe = true;
    for (int tries = 0; tries < 50 && !openSomewhere(hostPath, 1); ++tries) {
      client_ = std::make_unique<RunningCommand>(
          std::vector<std::string>{"smbclient", "//127.0.0.1/data", "-p", std::to_string(kPort),
                                   "-N", "-s", config()},
          options);
      client_->sendInput("open " + name + "\n");
      if (openSomewhere(hostPath, 20)) return true;
    }
    return false;
  }

 private:
  static constexpr int kPort = 4455;
  std::string config() const { return directory_ + "/smb.conf"; }
  std::string directory_;
  std::unique_ptr<RunningCommand> server_, client_;
};

TEST_F(HostileMachine, ALockFileOpenThroughASambaShareStays) {
  if (!isRoot()) GTEST_SKIP() << "a Samba server and other users need root";
  if (!installed("smbd") || !installed("smbclient")) GTEST_SKIP() << "Samba is not installed";
  openToAll();
  SambaShare share(program.home(), data());
  ASSERT_TRUE(share.openThroughShare("muTesselDb.ldb", lockFile())) << "no client got the file";
  expectLeftAlone(program.run(), "run as root");
  RunOptions asServiceUser;
  asServiceUser.user = &kServiceUser;
  expectLeftAlone(program.runWith(asServiceUser), "run as the service's user");
}

}  // namespace
}  // namespace testing_support
