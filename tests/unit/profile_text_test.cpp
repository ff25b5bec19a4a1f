// The settings reader's rules, case by case.
#include "platform/profile_text.h"

#include <gtest/gtest.h>

#include "tests/support/settings_cases.h"

namespace {

std::string databaseOf(const std::string& content, std::size_t bufferSize = 4096) {
  return platform::profileValue(content, "settings", "Database", "", bufferSize);
}

TEST(ProfileText, FindsTheValueByTheRulesOfTheProfileFunctions) {
  for (const auto& c : testing_support::settingsCases()) {
    EXPECT_EQ(platform::profileValue(c.content, "settings", c.key, "", 4096), c.value) << c.what;
  }
}

TEST(ProfileText, CutsALongValueToTheBufferLessOne) {
  std::string content = "[settings]\nDatabase=" + std::string(10000, 'a') + "\n";
  EXPECT_EQ(databaseOf(content, 4096), std::string(4095, 'a'));
  EXPECT_EQ(databaseOf("[settings]\nDatabase=\"abcdef\"\n", 4), "abc");
  EXPECT_EQ(databaseOf("[settings]\nDatabase=x\n", 0), "");
}

TEST(ProfileText, GivesTheDefaultWithoutItsTrailingBlanks) {
  EXPECT_EQ(platform::profileValue("", "settings", "Database", "none  ", 4096), "none");
  EXPECT_EQ(platform::profileValue("[s]\nk=v\n", " s ", " K ", "", 4096), "v");
}

}  // namespace
