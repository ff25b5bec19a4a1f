// The settings reader's rules, case by case.
#include "platform/profile_text.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

struct Case {
  const char* what;
  std::string content;
  std::string expected;
};

// The text in UTF-16 with its byte-order mark, as Notepad saves "Unicode".
std::string utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

std::string databaseOf(const std::string& content, std::size_t bufferSize = 4096) {
  return platform::profileValue(content, "settings", "Database", "", bufferSize);
}

TEST(ProfileText, FindsTheValueByTheRulesOfTheProfileFunctions) {
  const Case cases[] = {
      {"plain", "[settings]\r\nDatabase=C:\\db.mdb\r\n", "C:\\db.mdb"},
      {"names ignore case", "[SETTINGS]\nDATABASE=x\n", "x"},
      {"blanks around names and value", "  [ settings ]  \n\t Database \t=  x y \t\n", "x y"},
      {"double quotes dropped", "[settings]\nDatabase=\" x \"\n", " x "},
      {"single quotes dropped", "[settings]\nDatabase='x'\n", "x"},
      {"unmatched quote kept", "[settings]\nDatabase=\"x\n", "\"x"},
      {"mixed quotes kept", "[settings]\nDatabase=\"x'\n", "\"x'"},
      {"lone quote kept", "[settings]\nDatabase=\"\n", "\""},
      {"only the outer pair", "[settings]\nDatabase=\"\"x\"\"\n", "\"x\""},
      {"empty value", "[settings]\nDatabase=\n", ""},
      {"value holding =", "[settings]\nDatabase=a=b\n", "a=b"},
      {"first key wins", "[settings]\nDatabase=first\nDatabase=second\n", "first"},
      {"first section only", "[settings]\nOther=1\n[settings]\nDatabase=x\n", ""},
      {"later section ignored", "[settings]\nDatabase=x\n[other]\nDatabase=y\n", "x"},
      {"before any section", "Database=x\n[settings]\n", ""},
      {"key without =, then with", "[settings]\nDatabase\nDatabase=x\n", ""},
      {"other line without =", "[settings]\nData\nDatabase=x\n", "x"},
      {"comment line", "[settings]\n;Database=old\nDatabase=x\n", "x"},
      {"lone CR", "[settings]\rDatabase=x\rOther=y", "x"},
      {"no final newline", "[settings]\nDatabase=x", "x"},
      {"byte-order mark", "\xEF\xBB\xBF[settings]\nDatabase=x\n", "x"},
      {"missing ] is no section", "[settings]\nDatabase=x\n[other\nDatabase=y\n", "x"},
      {"last ] closes", "[settings]x]\nDatabase=y\n[settings]\nDatabase=z\n", "z"},
      {"NUL ends the value", std::string("[settings]\nDatabase=ab\0cd\n", 25), "ab"},
      {"missing section", "[other]\nDatabase=x\n", ""},
      {"empty file", "", ""},
      {"UTF-8 passes through", "[settings]\nDatabase=/srv/b\xC3\xBCro.mdb\n",
       "/srv/b\xC3\xBCro.mdb"},
      {"UTF-16 little-endian", utf16(u"[settings]\r\nDatabase=b\u00fcro\U0001F600\r\n", false),
       "b\xC3\xBCro\xF0\x9F\x98\x80"},
      {"UTF-16 big-endian, a lone surrogate", utf16(u"[settings]\nDatabase=\xD800x", true),
       "\xEF\xBF\xBDx"},
  };
  for (const Case& c : cases) EXPECT_EQ(databaseOf(c.content), c.expected) << c.what;
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
