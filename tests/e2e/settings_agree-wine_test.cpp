// Our own reading of settings files, which the Linux build uses, against the
// system's GetPrivateProfileStringA, run under Wine on the same odd files.
#include <gtest/gtest.h>

#include "platform/profile_text.h"
#include "tests/support/log_lines.h"
#include "tests/support/program_run.h"
#include "tests/support/settings_cases.h"

namespace {

using testing_support::programPath;
using testing_support::writeFile;

std::string hexOf(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : text) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

TEST(SettingsAgree, OurReaderAndTheSystemsGiveTheSameValue) {
  testing_support::ScratchDirectory dir;
  std::vector<std::string> argv = testing_support::launcher();
  argv.push_back(MUTESSEL_READ_SETTING);
  std::vector<const testing_support::SettingsCase*> asked;
  for (const auto& c : testing_support::settingsCases()) {
    if (!c.askSystem) continue;
    std::string path = dir / ("odd" + std::to_string(asked.size()) + ".ini");
    writeFile(path, c.content);
    argv.push_back(c.key);
    argv.push_back(programPath(path));
    asked.push_back(&c);
  }
  testing_support::RunOptions options;
  options.environment = testing_support::launchEnvironment(true);
  options.workingDirectory = dir.path();
  testing_support::RunResult result = testing_support::runCommand(argv, options);
  ASSERT_EQ(result.status, 0) << result.standardError;
  // The Windows program's standard output, in text mode, ends its lines in CR LF.
  std::vector<std::string> systemValues =
      testing_support::splitLines(result.standardOutput, "\r\n");
  ASSERT_EQ(systemValues.size(), asked.size()) << result.standardOutput;
  for (std::size_t i = 0; i < asked.size(); ++i) {
    std::string ours =
        platform::profileValue(asked[i]->content, "settings", asked[i]->key, "", 4096);
    EXPECT_EQ(hexOf(ours), systemValues[i]) << asked[i]->what;
  }
}

}  // namespace
