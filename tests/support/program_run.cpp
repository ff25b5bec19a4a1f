#include "tests/support/program_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "tests/support/other_process.h"

extern char** environ;

namespace testing_support {
namespace {

constexpr auto kLongestRun = std::chrono::seconds(120);

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : extra) variables[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

// Reads both pipes until the child closes them or the time is up.
void collect(int out, int err, pid_t child, RunResult& result) {
  auto deadline = std::chrono::steady_clock::now() + kLongestRun;
  struct pollfd pipes[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&result.standardOutput, &result.standardError};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      return;
    }
    if (poll(pipes, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (pipes[i].fd < 0 || pipes[i].revents == 0) continue;
      ssize_t got = read(pipes[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        pipes[i].fd = -1;
        --open;
      }
    }
  }
}

#ifdef MUTESSEL_UNDER_WINE
std::map<std::string, std::string> wineEnvironment(bool driverRegistered) {
  return {{"WINEPREFIX", driverRegistered ? MUTESSEL_WINE_PREFIX : MUTESSEL_WINE_PREFIX_BARE},
          {"WINEDEBUG", "-all"}};
}

// A Windows program holding the file open without delete sharing.
class HeldByWindowsProgram : public FileInUse {
 public:
  explicit HeldByWindowsProgram(const std::string& path) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    std::vector<std::string> argv = {"wine", MUTESSEL_HOLD_FILE, programPath(path)};
    std::vector<std::string> variables = mergedEnvironment(wineEnvironment(true));
    std::vector<char*> args = pointersTo(argv), envp = pointersTo(variables);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(input[0], 0);
      dup2(output[1], 1);
      execvpe("wine", args.data(), envp.data());
      _exit(127);
    }
    close(input[0]);
    close(output[1]);
    release_ = input[1];
    char held[5] = {};
    std::size_t got = 0;
    while (got < 4) {
      ssize_t count = read(output[0], held + got, 4 - got);
      if (count <= 0) break;
      got += static_cast<std::size_t>(count);
    }
    close(output[0]);
    if (std::string(held) != "held") throw std::runtime_error("cannot hold " + path);
  }
  ~HeldByWindowsProgram() override {
    close(release_);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
};
#else
class HeldByOtherProcess : public FileInUse {
 public:
  HeldByOtherProcess(const std::string& path, OtherProcess::Hold hold) : process_(path, hold) {}

 private:
  OtherProcess process_;
};
#endif

std::string installerConfiguration() {
  return std::string("[Microsoft Access Driver (*.MDB)]\n") +
         "Description = stand-in\n"
         "Driver = " MUTESSEL_STANDIN_SETUP
         "\n"
         "Setup = " MUTESSEL_STANDIN_SETUP "\n";
}

}  // namespace

RunningCommand::RunningCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  std::vector<std::string> variables = mergedEnvironment(options.environment);
  std::vector<std::string> arguments = argv;
  std::vector<char*> envp = pointersTo(variables), args = pointersTo(arguments);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (chdir(options.workingDirectory.c_str()) != 0) _exit(126);
    if (options.fileSizeLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (options.asNobody &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(124);
    }
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
}

RunningCommand::~RunningCommand() {
  if (pid_ > 0) {
    kill();
    wait();
  }
}

void RunningCommand::kill() { ::kill(pid_, SIGKILL); }

RunResult RunningCommand::wait() {
  RunResult result;
  collect(out_, err_, pid_, result);
  close(out_);
  close(err_);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

RunResult runCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  return RunningCommand(argv, options).wait();
}

#ifdef MUTESSEL_UNDER_WINE
bool underWine() { return true; }

std::string programPath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ProgramUnderTest::defaultName() { return "muTesselServerDbBackupandRepair.exe"; }

const int FileInUse::kWays = 1;

std::unique_ptr<FileInUse> FileInUse::start(const std::string& path, int) {
  return std::make_unique<HeldByWindowsProgram>(path);
}
#else
bool underWine() { return false; }

std::string programPath(const std::string& hostPath) { return hostPath; }

std::string ProgramUnderTest::defaultName() { return "muTesselServerDbBackupandRepair"; }

const int FileInUse::kWays = 2;

std::unique_ptr<FileInUse> FileInUse::start(const std::string& path, int way) {
  return std::make_unique<HeldByOtherProcess>(
      path, way == 0 ? OtherProcess::Hold::kRecordLock : OtherProcess::Hold::kOpen);
}
#endif

ProgramUnderTest::ProgramUnderTest(const std::string& name) : name_(name) {
  std::filesystem::create_directory(programDirectory());
  std::filesystem::create_directory(home_ / "odbc");
  std::filesystem::copy_file(MUTESSEL_PROGRAM, programDirectory() + "/" + name);
  writeFile(home_ / "odbc/odbcinst.ini", installerConfiguration());
}

void ProgramUnderTest::setDatabase(const std::string& databasePath) {
  writeFile(settingsPath(), "[settings]\r\nDatabase=" + databasePath + "\r\n");
}

void ProgramUnderTest::unregisterDriver() {
  driverRegistered_ = false;
  writeFile(home_ / "odbc/odbcinst.ini", "");
}

RunResult ProgramUnderTest::run(const std::map<std::string, std::string>& environment,
                                const std::string& workingDirectory) const {
  RunOptions options;
  options.environment = environment;
  options.workingDirectory = workingDirectory;
  return runWith(options);
}

std::unique_ptr<RunningCommand> ProgramUnderTest::start(RunOptions options) const {
  std::map<std::string, std::string> variables = {{"HOME", home_.path()},
                                                  {"ODBCSYSINI", home_ / "odbc"},
                                                  {"STANDIN_RECORD", programPath(recordPath())},
                                                  {"LC_ALL", "C"}};
  std::vector<std::string> argv = {options.startAs.empty() ? programDirectory() + "/" + name_
                                                           : options.startAs};
#ifdef MUTESSEL_UNDER_WINE
  for (const auto& [name, value] : wineEnvironment(driverRegistered_)) variables[name] = value;
  argv.insert(argv.begin(), "wine");
#endif
  for (const auto& [name, value] : options.environment) variables[name] = value;
  options.environment = variables;
  if (options.workingDirectory.empty()) options.workingDirectory = programDirectory();
  return std::make_unique<RunningCommand>(argv, options);
}

}  // namespace testing_support
