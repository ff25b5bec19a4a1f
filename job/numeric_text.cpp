// The numeric test and the leading-number reading of copies' dates.
#include "job/numeric_text.h"

#include <cmath>

namespace job {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSign(char c) { return c == '+' || c == '-'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Consumes digits, with at most one decimal point among them when allowed;
// tells how many digits it took.
std::size_t consumeDigits(std::string_view text, std::size_t& at, bool allowPoint) {
  std::size_t digits = 0;
  bool pointSeen = !allowPoint;
  for (; at < text.size(); ++at) {
    if (isDigit(text[at])) {
      ++digits;
    } else if (text[at] == '.' && !pointSeen) {
      pointSeen = true;
    } else {
      break;
    }
  }
  return digits;
}

}  // namespace

bool isNumeric(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  if (at < text.size() && isSign(text[at])) ++at;
  if (consumeDigits(text, at, true) == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && isSign(text[at])) ++at;
    if (consumeDigits(text, at, false) == 0) return false;
  }
  while (at < text.size() && isBlank(text[at])) ++at;
  return at == text.size();
}

double leadingNumber(std::string_view text) {
  double value = 0;
  double scale = 1;  // below 1 once past the decimal point
  bool negative = false;
  bool started = false;
  bool pointSeen = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    if (!started && isSign(c)) {
      negative = c == '-';
      started = true;
    } else if (isDigit(c)) {
      started = true;
      if (pointSeen) {
        scale /= 10;
        value += (c - '0') * scale;
      } else {
        value = value * 10 + (c - '0');
      }
    } else if (c == '.' && !pointSeen) {
      started = true;
      pointSeen = true;
    } else {
      break;
    }
  }
  return negative ? -value : value;
}

std::int64_t roundHalfEven(double value) {
  double floor = std::floor(value);
  double fraction = value - floor;
  auto whole = static_cast<std::int64_t>(floor);
  if (fraction > 0.5 || (fraction == 0.5 && whole % 2 != 0)) ++whole;
  return whole;
}

}  // namespace job
