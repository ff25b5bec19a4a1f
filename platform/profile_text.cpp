// Reading one entry of an initialization file by the Windows profile rules.
#include "platform/profile_text.h"

#include <optional>

#include "platform/ascii_case.h"

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

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 text (after its byte-order mark) as UTF-8, the form paths take on
// this system; a lone surrogate becomes U+FFFD and an odd last byte is
// dropped.
std::string utf16AsUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](std::size_t i) -> char32_t {
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    return bigEndian ? (byte(i) << 8 | byte(i + 1)) : (byte(i + 1) << 8 | byte(i));
  };
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    appendUtf8(out, code);
  }
  return out;
}

// The text of the file without its byte-order mark. Notepad writes UTF-8
// with one, and UTF-16 ("Unicode") always with one; the profile functions
// read all three, and without a mark take the bytes as they are.
std::string decodedText(std::string_view content) {
  auto startsWith = [&](std::string_view mark) { return content.substr(0, mark.size()) == mark; };
  if (startsWith("\xEF\xBB\xBF")) return std::string(content.substr(3));
  if (startsWith("\xFF\xFE")) return utf16AsUtf8(content.substr(2), false);
  if (startsWith("\xFE\xFF")) return utf16AsUtf8(content.substr(2), true);
  return std::string(content);
}

std::optional<std::string_view> findValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
  LineReader lines(content);
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
    // A line without "=" names a key with no value: when it is the key, the
    // first occurrence wins and the reading gives the default.
    std::size_t equals = line.find('=');
    if (equalsIgnoringCase(trimBlanks(line.substr(0, equals)), key)) {
      if (equals == std::string_view::npos) return std::nullopt;
      return trimBlanks(line.substr(equals + 1));
    }
  }
  return std::nullopt;
}

}  // namespace

std::string profileValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultText, std::size_t bufferSize) {
  const std::string text = decodedText(content);
  auto value = findValue(text, trimBlanks(section), trimBlanks(key));
  if (!value) {
    // As the profile functions do, trailing blanks of the default are dropped.
    while (!defaultText.empty() && defaultText.back() == ' ') defaultText.remove_suffix(1);
    return fitBuffer(untilNul(defaultText), bufferSize);
  }
  return fitBuffer(unquote(untilNul(*value)), bufferSize);
}

}  // namespace platform
