#include "platform/profile_text.h"

#include <optional>

namespace platform {
namespace {

// The profile functions count these as blanks; the last is the end-of-file
// mark that old editors leave behind.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// Splits the text into lines at CR LF, LF or a lone CR, one at a time.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  std::optional<std::string_view> next() {
    if (rest_.empty()) return std::nullopt;
    std::size_t end = rest_.find_first_of("\r\n");
    std::string_view line = rest_.substr(0, end);
    if (end == std::string_view::npos) {
      rest_ = {};
    } else {
      bool crlf = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n';
      rest_.remove_prefix(end + (crlf ? 2 : 1));
    }
    return line;
  }

 private:
  std::string_view rest_;
};

// The name of a section header line ("[name]", closed by its last "]"), or
// nothing when the line is not one.
std::optional<std::string_view> sectionName(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trimBlanks(line.substr(1, close - 1));
}

// Drops one pair of matching enclosing quotation marks.
std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// A value ends at its first NUL, as a C string would.
std::string_view untilNul(std::string_view value) { return value.substr(0, value.find('\0')); }

// What a buffer of `bufferSize` characters holds of `value`, cut to leave
// room for the terminator.
std::string fitBuffer(std::string_view value, std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  return std::string(value.substr(0, bufferSize - 1));
}

std::string_view skipByteOrderMark(std::string_view content) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) content.remove_prefix(kUtf8Bom.size());
  return content;
}

std::optional<std::string_view> findValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
  LineReader lines(skipByteOrderMark(content));
  bool inSection = false;
  while (auto raw = lines.next()) {
    std::string_view line = trimBlanks(*raw);
    if (auto name = sectionName(line)) {
      // Only the first section of the name is searched.
      if (inSection) return std::nullopt;
      inSection = equalsIgnoringCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (equalsIgnoringCase(trimBlanks(line.substr(0, equals)), key)) {
      return trimBlanks(line.substr(equals + 1));
    }
  }
  return std::nullopt;
}

}  // namespace

std::string profileValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultText, std::size_t bufferSize) {
  auto value = findValue(content, trimBlanks(section), trimBlanks(key));
  if (!value) {
    // As the profile functions do, trailing blanks of the default are dropped.
    while (!defaultText.empty() && defaultText.back() == ' ') defaultText.remove_suffix(1);
    return fitBuffer(untilNul(defaultText), bufferSize);
  }
  return fitBuffer(unquote(untilNul(*value)), bufferSize);
}

}  // namespace platform
