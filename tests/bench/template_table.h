// What make_database reads of its template, a plain Jet 4 file: its pages,
// rows, usage maps held in their rows, and a user table it can fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "access/bytes.h"
#include "access/definition.h"
#include "access/format.h"

namespace bench {

constexpr std::size_t kPage = jet::kJet4.pageSize;
constexpr std::size_t kRowCountAt = 16;  // a table definition's count of rows
constexpr std::uint8_t kBoolean = 1;     // column types
constexpr std::uint8_t kText = 10;

using Page = std::vector<unsigned char>;

using jet::le16;
using jet::le32;
inline void put16(unsigned char* p, std::size_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, std::uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

using Column = jet::Column;

struct Table {
  std::uint32_t page = 0;      // its definition
  std::uint32_t ownedMap = 0;  // row pointer: page << 8 | row
  std::vector<Column> columns;
  std::vector<Column> variable;  // the variable-length ones, by their index
  std::size_t fixedSize = 0;     // of a row's fixed part
  std::uint16_t columnCount = 0;
};

// Each returns an empty string when it did what it says, else why not.
std::string readPages(const char* path, std::vector<Page>& pages);
// The first user table the catalog lists that has no index and no column
// of a kind whose values may live elsewhere.
std::string findTable(const std::vector<Page>& pages, Table& table);
// The pages whose bits are set in the inline usage map at `pointer`, and
// how many pages from page 0 on it maps (0 if it starts later).
std::string inlineMap(const std::vector<Page>& pages, std::uint32_t pointer,
                      std::vector<std::uint32_t>& set, std::uint64_t& reach);
// Where row `n` of a data page lies; false if deleted or misplaced.
bool rowBytes(const Page& page, std::size_t n, std::size_t& start, std::size_t& end);

}  // namespace bench
