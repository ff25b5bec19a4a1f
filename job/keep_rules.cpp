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

// The whole number that the text holds, blanks around it allowed; nothing
// for a sign, a point, any other character, or a number above the largest.
std::optional<std::size_t> wholeNumber(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
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
  return settings;
}

}  // namespace job
