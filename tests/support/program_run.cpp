// Starting commands as a scheduler does, and laying out the program under
// test in a directory of its own.
#include "tests/support/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace testing_support {
namespace {

// What systemd gives a service.
constexpr const char* kPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> bareEnvironment(const std::map<std::string, std::string>& given) {
  std::map<std::string, std::string> variables = {{"PATH", kPath}};
  for (const auto& [name, value] : given) variables[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

// As cron and systemd start a job: every signal at its default action and
// none blocked, whatever this test process inherited.
void defaultSignals() {
  for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The child's side of the start; returns only to _exit on failure.
void becomeCommand(const RunOptions& options, int in, int out, int err, char** args, char** envp) {
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  closefrom(3);  // nothing the test runner left open reaches the command
  defaultSignals();
  if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
    _exit(126);
  }
  for (const auto& [resource, value] : options.limits) {
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = value;
    if (setrlimit(resource, &limit) != 0) _exit(125);
  }
  if (!becomeUser(options.user)) _exit(124);
  execvpe(args[0], args, envp);
  _exit(127);
}

// Reads what is there on one pipe; false at its end.
bool readInto(int fd, std::string& sink) {
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer);
  if (got > 0) sink.append(buffer, static_cast<std::size_t>(got));
  return got > 0 || (got < 0 && errno == EINTR);
}

}  // namespace

RunningCommand::RunningCommand(const std::vector<std::string>& argv, const RunOptions& options)
    : timeout_(options.timeoutSeconds) {
  std::vector<std::string> variables = bareEnvironment(options.environment);
  std::vector<std::string> arguments = options.wrapper;
  arguments.insert(arguments.end(), argv.begin(), argv.end());
  std::vector<char*> envp = pointersTo(variables), args = pointersTo(arguments);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int input = options.inputPipe ? in[0] : open("/dev/null", O_RDONLY);
    becomeCommand(options, input, out[1], err[1], args.data(), envp.data());
  }
  for (int fd : {in[0], out[1], err[1]}) close(fd);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (!options.inputPipe) closeInput();
}

RunningCommand::~RunningCommand() {
  if (pid_ > 0) {
    kill();
    wait();
  }
}

bool RunningCommand::awaitOutput(const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + timeout_;
  while (earlyOutput_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    struct pollfd pipe = {out_, POLLIN, 0};
    if (poll(&pipe, 1, 1000) > 0 && !readInto(out_, earlyOutput_)) return false;
  }
  return true;
}

void RunningCommand::sendInput(const std::string& text) {
  if (in_ < 0 || write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot write to the command's input");
  }
}

void RunningCommand::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void RunningCommand::kill() { ::kill(pid_, SIGKILL); }
void RunningCommand::signal(int number) { ::kill(pid_, number); }

RunResult RunningCommand::wait() {
  RunResult result;
  result.standardOutput = earlyOutput_;
  auto deadline = std::chrono::steady_clock::now() + timeout_;
  struct pollfd pipes[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  std::string* sinks[2] = {&result.standardOutput, &result.standardError};
  int status = 0;
  bool ended = false;
  for (int open = 2; open > 0;) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill();  // a run that hangs is a failure, not a stuck suite
      break;
    }
    // Once the command has ended, all it wrote is in the pipes: a process it
    // left behind (Wine's server, say) may hold them open long after, and
    // is not waited for.
    if (poll(pipes, 2, ended ? 0 : 1000) <= 0) {
      if (ended) break;
      ended = waitpid(pid_, &status, WNOHANG) == pid_;
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (pipes[i].fd < 0 || pipes[i].revents == 0) continue;
      if (!readInto(pipes[i].fd, *sinks[i])) {
        pipes[i].fd = -1;
        --open;
      }
    }
  }
  closeInput();
  close(out_);
  close(err_);
  if (!ended) waitpid(pid_, &status, 0);
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

RunResult runCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  return RunningCommand(argv, options).wait();
}

ProgramUnderTest::ProgramUnderTest(const std::string& name) : name_(name) {
  std::filesystem::create_directory(programDirectory());
  std::filesystem::create_directory(home_ / "odbc");
  std::filesystem::copy_file(MUTESSEL_PROGRAM, programDirectory() + "/" + name);
  layOutStandInDriver(home_ / "odbc");
}

void layOutStandInDriver(const std::string& directory) {
  // Beside the configuration, not in the build tree: a run as another user
  // must be able to load it wherever the checkout is.
  const std::string library =
      directory + "/" + std::filesystem::path(MUTESSEL_STANDIN_SETUP).filename().string();
  std::filesystem::copy_file(MUTESSEL_STANDIN_SETUP, library);
  writeFile(directory + "/odbcinst.ini",
            "[Microsoft Access Driver (*.MDB)]\nDescription = stand-in\n"
            "Driver = " +
                library + "\nSetup = " + library + "\n");
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
  for (const auto& [name, value] : launchEnvironment(driverRegistered_)) variables[name] = value;
  for (const auto& [name, value] : options.environment) variables[name] = value;
  options.environment = variables;
  std::vector<std::string> argv = launcher();
  argv.push_back(options.startAs.empty() ? programDirectory() + "/" + name_ : options.startAs);
  if (options.workingDirectory.empty()) options.workingDirectory = programDirectory();
  return std::make_unique<RunningCommand>(argv, options);
}

}  // namespace testing_support
