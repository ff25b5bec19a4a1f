// What a night tells those who watch it rather than its log: the monitoring
// server that PingUrl names, and, on Linux, standard error, which cron
// mails and the journal keeps. Under Wine the program also writes its event
// where no event log takes it, and must end each night as it would anyway.
#include <chrono>

#include "tests/e2e/program_fixture.h"
#include "tests/support/ping_server.h"

namespace testing_support {
namespace {

TEST_F(Program, ANightTellsItsWatchersHowItWent) {
  struct Night {
    const char* name;
    bool withKey, answers, fails;
  };
  for (const Night& night :
       {Night{"sound", true, true, false}, Night{"failed", true, true, true},
        Night{"server never answers", true, false, false}, Night{"no key", false, true, false}}) {
    SCOPED_TRACE(night.name);
    std::filesystem::remove(program.logPath());
    std::filesystem::remove(todaysCopy());
    writeFile(database(), kOriginal);
    PingServer server(night.answers);
    const std::string check = server.url() + "/ping/the-checks-secret";  // only the host is logged
    writeFile(program.settingsPath(), "[settings]\r\nDatabase=" + programPath(database()) +
                                          (night.withKey ? "\r\nPingUrl=" + check : "") + "\r\n");
    const auto started = std::chrono::steady_clock::now();
    RunResult result = night.fails ? program.run({{"STANDIN_MODE", "refuse"}}) : program.run();
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string log = readFile(program.logPath());
    EXPECT_EQ(result.status, night.fails ? 1 : 0);
    std::string failedBlock;  // the log's block, with the system's own line ends
    for (char c : log) {
      if (c != '\r') failedBlock += c;
    }
    EXPECT_EQ(result.standardError, night.fails && !underWine() ? failedBlock : "");
    if (!night.answers) {
      EXPECT_LT(took, std::chrono::seconds(2 * 2 * 10)) << "two pings, of two tries of 10 s";
      EXPECT_EQ(server.requests().size(), 2u) << "a try that ran out of time is tried no more";
      std::vector<std::string> lines = fullRunOf(programPath(database()));
      for (const char* ping : {"Start", "End"}) {
        lines.push_back(std::string(ping) +
                        " ping to http://127.0.0.1 failed: no answer within 10 seconds");
      }
      EXPECT_EQ(linesOf(log), block(lines));
      continue;
    }
    const std::vector<std::string> expected = {
        "/ping/the-checks-secret/start ",
        "/ping/the-checks-secret" + std::string(night.fails ? "/fail " : " ") + log};
    EXPECT_EQ(server.requests(), night.withKey ? expected : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace testing_support
