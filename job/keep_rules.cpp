// Reading and checking the settings that say how many old copies stay.
#include "job/keep_rules.h"

#include <optional>
#include <string_view>

#include "job/settings_read.h"

namespace job {
namespace {

constexpr std::size_t kLargestCount = 9999;

struct KeyRule {
  const char* key;
  std::size_t KeepRules::*count;
  std::size_t least;  // a KeepDaily of 0 would delete the night's own copy
};

// Checked in this order; the first value refused is the one reported.
constexpr KeyRule kKeys[] = {
    {"KeepDaily", &KeepRules::daily, 1},
    {"KeepWeekly", &KeepRules::weekly, 0},
    {"KeepMonthly", &KeepRules::monthly, 0},
};

// The text without the blanks around it.
std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool equalIgnoringCase(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] | 0x20) != word[i]) return false;
  }
  return true;
}

// The whole number that the text holds, blanks around it allowed; nothing
// for a sign, a point, any other character, or a number above the largest.
std::optional<std::size_t> wholeNumber(std::string_view text) {
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
    if (value > kLargestCount) return std::nullopt;
  }
  return value;
}

}  // namespace

KeepSettings readKeepSettings(platform::Services& services, const std::string& iniPath) {
  KeepSettings settings;
  for (const KeyRule& rule : kKeys) {
    std::size_t& count = settings.rules.*rule.count;
    // The default as the default text tells a missing key from an empty value.
    const std::string value = readSettingsKey(services, iniPath, rule.key, std::to_string(count));
    const std::optional<std::size_t> number = wholeNumber(value);
    if (!number || *number < rule.least) {
      settings.rules = {};
      settings.refusal = "Old backups kept: " + std::string(rule.key) + "=" + value +
                         " is not a whole number from " + std::to_string(rule.least) + " to " +
                         std::to_string(kLargestCount);
      return settings;
    }
    count = *number;
  }
  // "Yes", "NO" and blanks around are fine, as in Windows' own settings.
  const std::string value = readSettingsKey(services, iniPath, "CopyToPrune", "yes");
  const std::string_view word = trimmed(value);
  if (equalIgnoringCase(word, "yes") || equalIgnoringCase(word, "no")) {
    settings.pruneFar = equalIgnoringCase(word, "yes");
  } else {
    settings.rules = {};
    settings.refusal = "Old backups kept: CopyToPrune=" + value + " is not yes or no";
  }
  return settings;
}

}  // namespace job
