// What a night tells its watchers: PingUrl's server, and on Linux standard
// error. Under Wine its events go where no event log takes them, harmlessly.
#include <chrono>

#include "tests/e2e/program_fixture.h"
#include "tests/support/ping_server.h"

namespace testing_support {
namespace {

TEST_F(Program, ANightTellsItsWatchersHowItWent) {
  // Each night: its name, whether PingUrl is set, whether its server answers, whether it fails.
  for (const auto& [name, withKey, answers, fails] :
       {std::tuple{"sound", true, true, false}, std::tuple{"failed", true, true, true},
        std::tuple{"server never answers", true, false, false},
        std::tuple{"no key", false, true, false}}) {
    SCOPED_TRACE(name);
    std::filesystem::remove(program.logPath());
    std::filesystem::remove(todaysCopy());
    writeFile(database(), kOriginal);
    PingServer server(answers);
    const std::string check = "/ping/the-checks-secret";  // only the host is logged
    const std::string key = withKey ? "PingUrl=" + server.url + check + "\r\n" : "";
    writeFile(program.settingsPath(),
              "[settings]\r\nDatabase=" + programPath(database()) + "\r\n" + key);
    const auto started = std::chrono::steady_clock::now();
    RunResult result = program.run({{"STANDIN_MODE", fails ? "refuse" : ""}});
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string log = readFile(program.logPath());
    EXPECT_EQ(result.status, fails ? 1 : 0);
    // A failed night's block, with the system's own line ends.
    EXPECT_EQ(result.standardError,
              fails && !underWine() ? std::regex_replace(log, std::regex("\r"), "") : "");
    std::vector<std::string> expected = {check + "/start ", check + (fails ? "/fail " : " ") + log};
    if (!answers) {
      EXPECT_LT(took, std::chrono::seconds(2 * 2 * 10)) << "two pings, of two tries of 10 s";
      expected = {"<no answer>", "<no answer>"};  // a try out of time is not made again
      const std::string failed = " ping to http://127.0.0.1 failed: no answer within 10 seconds";
      std::vector<std::string> lines = fullRunOf(programPath(database()));
      lines.insert(lines.end(), {"Start" + failed, "End" + failed});
      EXPECT_EQ(linesOf(log), block(lines));
    }
    EXPECT_EQ(server.stop(), withKey ? expected : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace testing_support
