#include "tests/support/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace testing_support {
namespace {

constexpr auto kLongestRun = std::chrono::seconds(60);

std::string installerConfiguration() {
  return std::string("[Microsoft Access Driver (*.MDB)]\n") +
         "Description = stand-in\n"
         "Driver = " MUTESSEL_STANDIN_SETUP
         "\n"
         "Setup = " MUTESSEL_STANDIN_SETUP "\n";
}

std::vector<std::string> environmentFor(const ScratchDirectory& home,
                                        const std::map<std::string, std::string>& extra,
                                        const std::string& recordPath) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  variables["HOME"] = home.path();
  variables["ODBCSYSINI"] = home / "odbc";
  variables["STANDIN_RECORD"] = recordPath;
  variables["LC_ALL"] = "C";
  for (const auto& [name, value] : extra) variables[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ProgramUnderTest::ProgramUnderTest(const std::string& name) : name_(name) {
  std::filesystem::create_directory(programDirectory());
  std::filesystem::create_directory(home_ / "odbc");
  std::filesystem::copy_file(MUTESSEL_PROGRAM, programDirectory() + "/" + name);
  writeFile(home_ / "odbc/odbcinst.ini", installerConfiguration());
}

std::string ProgramUnderTest::settingsPath() const {
  return programDirectory() + "/" + name_.substr(0, name_.rfind('.')) + ".ini";
}

std::string ProgramUnderTest::logPath() const {
  return programDirectory() + "/" + name_.substr(0, name_.rfind('.')) + ".log";
}

void ProgramUnderTest::setDatabase(const std::string& databasePath) {
  writeFile(settingsPath(), "[settings]\r\nDatabase=" + databasePath + "\r\n");
}

void ProgramUnderTest::unregisterDriver() { writeFile(home_ / "odbc/odbcinst.ini", ""); }

RunResult ProgramUnderTest::run(const std::map<std::string, std::string>& environment,
                                const std::string& workingDirectory) const {
  std::vector<std::string> variables = environmentFor(home_, environment, recordPath());
  std::vector<char*> envp = pointersTo(variables);
  std::string program = programDirectory() + "/" + name_;
  std::string directory = workingDirectory.empty() ? programDirectory() : workingDirectory;
  int errors[2];
  if (pipe2(errors, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    dup2(errors[1], 2);
    if (chdir(directory.c_str()) != 0) _exit(126);
    char* argv[] = {program.data(), nullptr};
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  close(errors[1]);
  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + kLongestRun;
  char buffer[4096];
  for (;;) {
    struct pollfd readable {
      errors[0], POLLIN, 0
    };
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      break;
    }
    if (poll(&readable, 1, 1000) <= 0) continue;
    ssize_t got = read(errors[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.standardError.append(buffer, static_cast<std::size_t>(got));
  }
  close(errors[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace testing_support
