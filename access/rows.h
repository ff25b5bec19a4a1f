// A data page's rows, as its offset table places them: rows run from the
// end of the page downward, each ending where the rows before it begin.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "access/bytes.h"
#include "access/format.h"

namespace jet {

struct Row {
  std::size_t number;
  std::uint16_t word;  // its offset with the deleted and overflow flags
  std::size_t start, end;
  bool deleted() const { return (word & kRowDeleted) != 0; }
};

// How many rows the page holds; nothing when its offset table runs past it.
inline std::optional<std::size_t> rowCount(const Format& f, const unsigned char* page) {
  const std::size_t rows = le16(page + f.rowCountAt);
  if (f.rowCountAt + 2 + 2 * rows > f.pageSize) return std::nullopt;
  return rows;
}

// Hands each row to `visit` in order, until it returns false.
template <class Visit>
void eachRow(const Format& f, const unsigned char* page, std::size_t rows, Visit visit) {
  const unsigned char* offsets = page + f.rowCountAt + 2;
  std::size_t end = f.pageSize;
  for (std::size_t n = 0; n < rows; ++n) {
    const std::uint16_t word = le16(offsets + 2 * n);
    const Row row{n, word, static_cast<std::size_t>(word & kRowStartMask), end};
    end = std::min(end, row.start);
    if (!visit(row)) return;
  }
}

}  // namespace jet
