// Settings files that tell readers apart, each with the value of a key in
// section "settings" that the system's own reader gives: the unit tests
// hold our reader to these values, and under Wine the system's reader is
// asked for the same files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

struct SettingsCase {
  const char* what;
  std::string content;
  std::string value;
  bool askSystem = true;  // false: the system's reader is not asked (UTF-8 out, or one like it)
  const char* key = "Database";
};

// The text in UTF-16 with its byte-order mark, as Notepad saves "Unicode".
inline std::string utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

inline const std::vector<SettingsCase>& settingsCases() {
  static const std::vector<SettingsCase> cases = {
      {"plain", "[settings]\r\nDatabase=C:\\db.mdb\r\n", "C:\\db.mdb"},
      {"names ignore case", "[SETTINGS]\nDATABASE=x\n", "x"},
      {"blanks around names and value", "  [ settings ]  \n\t Database \t=  x y \t\n", "x y",
       false},
      {"blanks around lines", "  [settings]  \n\t Database \t=  x y \t\n", "x y"},
      {"blanks in the brackets", "[ settings ]\nDatabase=x\n", "x"},
      {"blanks around a quoted value", "[settings]\n Database = \"x\" \n", "x"},
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
      {"line with = only", "[settings]\n=x\nDatabase=y\n", "y"},
      {"comment line", "[settings]\n;Database=old\nDatabase=x\n", "x"},
      {"hash line", "[settings]\n# Database=old\nDatabase=x\n", "x"},
      {"comment after a section", "[settings] ; comment\nDatabase=x\n", "x"},
      {"comment after a value kept", "[settings]\nDatabase=x ; comment\n", "x ; comment"},
      {"lone CR", "[settings]\rDatabase=x\rOther=y", "x"},
      {"empty line", "[settings]\r\n\r\nDatabase=x\r\n", "x"},
      {"no final newline", "[settings]\nDatabase=x", "x"},
      {"byte-order mark", "\xEF\xBB\xBF[settings]\nDatabase=x\n", "x"},
      {"byte-order mark later", "[settings]\nDatabase=x\n\xEF\xBB\xBF[settings]\nDatabase=y\n",
       "x"},
      {"missing ] is no section", "[settings]\nDatabase=x\n[other\nDatabase=y\n", "x"},
      {"last ] closes", "[settings]x]\nDatabase=y\n[settings]\nDatabase=z\n", "z"},
      {"empty section name", "[]\nDatabase=x\n[settings]\nDatabase=y\n", "y"},
      {"NUL ends the value", std::string("[settings]\nDatabase=ab\0cd\n", 25), "ab", false},
      {"NUL in the value", std::string("[settings]\nDatabase=a\0b\n", 22), "a"},
      {"NUL in a key", std::string("[settings]\nData\0base=a\nDatabase=b\n", 33), "b"},
      {"end-of-file mark", "[settings]\nDatabase=x\x1a\n", "x"},
      {"vertical tab and form feed", "[settings]\nDatabase=\vx\f\n", "x"},
      {"missing section", "[other]\nDatabase=x\n", ""},
      {"empty file", "", ""},
      {"a UTF-16 mark and a bracket", "\xFF\xFE[", ""},
      {"a long value", "[settings]\nDatabase=" + std::string(5000, 'a') + "\n",
       std::string(4095, 'a')},
      {"a 1 MiB value", "[settings]\nDatabase=" + std::string(1 << 20, 'b'),
       std::string(4095, 'b')},
      {"UTF-8 passes through", "[settings]\nDatabase=/srv/b\xC3\xBCro.mdb\n",
       "/srv/b\xC3\xBCro.mdb", false},
      {"UTF-16 little-endian", utf16(u"[settings]\r\nDatabase=C:\\db.mdb\r\n", false),
       "C:\\db.mdb"},
      {"UTF-16 big-endian", utf16(u"[Settings]\nDatabase = \"x\" \n", true), "x"},
      {"UTF-16 beyond ASCII", utf16(u"[settings]\r\nDatabase=b\u00fcro\U0001F600\r\n", false),
       "b\xC3\xBCro\xF0\x9F\x98\x80", false},
      {"UTF-16, a lone surrogate", utf16(u"[settings]\nDatabase=\xD800x", true), "\xEF\xBF\xBDx",
       false},
      {"a count, quoted", "[settings]\nKeepDaily = \" 14 \" \n", " 14 ", true, "KeepDaily"},
      {"a count not a number", "[Settings]\r\nkeepweekly=4 weeks\r\n", "4 weeks", true,
       "KeepWeekly"},
      {"a count left empty", "[settings]\nKeepMonthly=\nKeepMonthly=12\n", "", true, "KeepMonthly"},
      {"a share by its UNC path", "[settings]\r\nCopyTo = \\\\nas\\backups\\office \r\n",
       "\\\\nas\\backups\\office", true, "CopyTo"},
      {"a yes or no, quoted", "[SETTINGS]\ncopytoprune='No'\n", "No", true, "CopyToPrune"},
  };
  return cases;
}

}  // namespace testing_support
