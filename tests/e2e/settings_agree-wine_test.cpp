// Our own reading of settings files, which the Linux build uses, against the
// system's GetPrivateProfileStringA, run under Wine on the same odd files.
#include <gtest/gtest.h>

#include "platform/profile_text.h"
#include "tests/support/log_lines.h"
#include "tests/support/program_run.h"

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

// The bytes of ASCII text in UTF-16 with its byte-order mark.
std::string utf16(const std::string& ascii, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}

const std::vector<std::string> kOddFiles = {
    "[settings]\r\nDatabase=C:\\db.mdb\r\n",
    "[SETTINGS]\nDATABASE=x\n",
    "  [settings]  \n\t Database \t=  x y \t\n",
    "[settings]\nDatabase=\" x \"\n",
    "[settings]\nDatabase='x'\n",
    "[settings]\nDatabase=\"x\n",
    "[settings]\nDatabase=\"x'\n",
    "[settings]\nDatabase=\"\n",
    "[settings]\nDatabase=\"\"x\"\"\n",
    "[settings]\nDatabase=\n",
    "[settings]\nDatabase=a=b\n",
    "[settings]\nDatabase=first\nDatabase=second\n",
    "[settings]\nOther=1\n[settings]\nDatabase=x\n",
    "[settings]\nDatabase=x\n[other]\nDatabase=y\n",
    "Database=x\n[settings]\n",
    "[settings]\n;Database=old\nDatabase=x\n",
    "[settings]\n# Database=old\nDatabase=x\n",
    "[settings]\rDatabase=x\rOther=y",
    "[settings]\nDatabase=x",
    "\xEF\xBB\xBF[settings]\nDatabase=x\n",
    "[settings]\nDatabase=x\n[other\nDatabase=y\n",
    "[settings]x]\nDatabase=y\n[settings]\nDatabase=z\n",
    "[other]\nDatabase=x\n",
    "",
    "[settings]\nDatabase=" + std::string(5000, 'a') + "\n",
    "[ settings ]\nDatabase=x\n",
    "[settings]\n Database = \"x\" \n",
    std::string("[settings]\nDatabase=a\0b\n", 22),
    std::string("[settings]\nData\0base=a\nDatabase=b\n", 33),
    "[settings]\nDatabase=x\x1a\n",
    "[settings]\nDatabase=\vx\f\n",
    "[settings]\r\n\r\nDatabase=x\r\n",
    "[settings]\nDatabase=x\n\xEF\xBB\xBF[settings]\nDatabase=y\n",
    "[settings]\nDatabase=" + std::string(1 << 20, 'b'),
    "[settings] ; comment\nDatabase=x\n",
    "[settings]\nDatabase=x ; comment\n",
    "[settings]\n=x\nDatabase=y\n",
    "[]\nDatabase=x\n[settings]\nDatabase=y\n",
    "\xFF\xFE[\0s\0e\0t\0t\0i\0n\0g\0s\0]\0\n\0",
    "[settings]\nDatabase\nDatabase=x\n",
    "[settings]\nData\nDatabase=x\n",
    utf16("[settings]\r\nDatabase=C:\\db.mdb\r\n", false),
    utf16("[Settings]\nDatabase = \"x\" \n", true),
};

TEST(SettingsAgree, OurReaderAndTheSystemsGiveTheSameValue) {
  testing_support::ScratchDirectory dir;
  std::vector<std::string> argv = testing_support::launcher();
  argv.push_back(MUTESSEL_READ_SETTING);
  for (std::size_t i = 0; i < kOddFiles.size(); ++i) {
    std::string path = dir / ("odd" + std::to_string(i) + ".ini");
    writeFile(path, kOddFiles[i]);
    argv.push_back(programPath(path));
  }
  testing_support::RunOptions options;
  options.environment = testing_support::launchEnvironment(true);
  options.workingDirectory = dir.path();
  testing_support::RunResult result = testing_support::runCommand(argv, options);
  ASSERT_EQ(result.status, 0) << result.standardError;
  // The Windows program's standard output, in text mode, ends its lines in CR LF.
  std::vector<std::string> systemValues =
      testing_support::splitLines(result.standardOutput, "\r\n");
  ASSERT_EQ(systemValues.size(), kOddFiles.size()) << result.standardOutput;
  for (std::size_t i = 0; i < kOddFiles.size(); ++i) {
    std::string ours = platform::profileValue(kOddFiles[i], "settings", "Database", "", 4096);
    EXPECT_EQ(hexOf(ours), systemValues[i]) << "file " << i << ": " << kOddFiles[i].substr(0, 60);
  }
}

}  // namespace
