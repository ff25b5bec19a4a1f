// The far copies' turns to be read back.
#include "job/far_turn.h"

namespace job {
namespace {

std::int64_t ofSeven(std::int64_t number) { return ((number % 7) + 7) % 7; }

// The night of the week, 0 to 6, on which a copy of this date is read back.
std::int64_t turnOf(const DatedCopy& copy) {
  if (!copy.periods) return ofSeven(copy.date);
  return ofSeven(copy.periods->day + copy.periods->week);
}

// The night of the week that the day `night` is.
std::int64_t nightOf(const DatedCopy& night) {
  return ofSeven(night.periods ? night.periods->day : night.date);
}

}  // namespace

bool readBackTonight(const DatedCopy& copy, const DatedCopy& night) {
  return turnOf(copy) == nightOf(night);
}

}  // namespace job
