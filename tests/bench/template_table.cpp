// Reading make_database's template: only what it needs to find a table to
// fill and the two maps it rewrites, trusting a file the check calls sound.
#include "tests/bench/template_table.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace bench {
namespace {

// Jet 4 table definitions.
constexpr std::size_t kTableTypeAt = 40, kColumnCountAt = 45, kIndexCountAt = 47;
constexpr std::size_t kRealIndexCountAt = 51, kOwnedMapAt = 55, kRealIndexesAt = 63;
constexpr std::size_t kRealIndexSize = 12, kColumnEntrySize = 25;
constexpr std::uint8_t kUserTable = 'N';

bool isDataPage(const Page& p) { return p[0] == 1 && p[1] == 1; }

// The definition at `head`, its continuations joined from their byte 8.
std::string joinDefinition(const std::vector<Page>& pages, std::uint32_t head, Page& bytes) {
  bytes.clear();
  for (std::uint32_t page = head, n = 0; page != 0; page = le32(&pages[page][4]), ++n) {
    if (page >= pages.size() || pages[page][0] != 2 || n > pages.size()) {
      return "table definition " + std::to_string(head) + " does not read whole";
    }
    bytes.insert(bytes.end(), pages[page].begin() + (n == 0 ? 0 : 8), pages[page].end());
  }
  return {};
}

std::string readColumns(const Page& b, std::vector<Column>& columns) {
  const std::size_t count = le16(&b[kColumnCountAt]);
  std::size_t at = kRealIndexesAt + kRealIndexSize * le32(&b[kRealIndexCountAt]);
  for (std::size_t n = 0; n < count; ++n, at += kColumnEntrySize) {
    if (at + kColumnEntrySize > b.size()) return "a definition ends inside its columns";
    Column c;
    c.type = b[at];
    c.number = static_cast<std::uint16_t>(le16(&b[at + 5]));
    c.varIndex = static_cast<std::uint16_t>(le16(&b[at + 7]));
    c.flags = b[at + 15];
    c.fixedAt = static_cast<std::uint16_t>(le16(&b[at + 21]));
    c.length = static_cast<std::uint16_t>(le16(&b[at + 23]));
    columns.push_back(c);
  }
  for (Column& c : columns) {
    const std::size_t length = at + 2 <= b.size() ? le16(&b[at]) : b.size();
    if (at + 2 + length > b.size()) return "a definition ends inside its column names";
    c.name.assign(b.begin() + at + 2, b.begin() + at + 2 + length);
    at += 2 + length;
  }
  return {};
}

// Whether `page` defines a table make_database can fill, and its layout.
bool fillable(const std::vector<Page>& pages, std::uint32_t page, Table& t) {
  Page b;
  if (page >= pages.size() || !joinDefinition(pages, page, b).empty()) return false;
  if (b[kTableTypeAt] != kUserTable || le32(&b[kIndexCountAt]) != 0 ||
      le32(&b[kRealIndexCountAt]) != 0 || le32(&b[kOwnedMapAt]) == 0) {
    return false;
  }
  t = Table{};
  t.page = page;
  t.ownedMap = le32(&b[kOwnedMapAt]);
  if (!readColumns(b, t.columns).empty() || t.columns.empty()) return false;
  for (const Column& c : t.columns) {
    // Numbers, dates, text, binary, GUIDs: never a memo, OLE or complex value.
    if (c.type < 1 || (c.type > 10 && c.type != 15 && c.type != 16)) return false;
    t.columnCount = std::max<std::uint16_t>(t.columnCount, c.number + 1);
    if (c.flags & 1) {
      t.fixedSize = std::max<std::size_t>(t.fixedSize, c.fixedAt + c.length);
    } else {
      t.variable.push_back(c);
    }
  }
  std::sort(t.variable.begin(), t.variable.end(),
            [](const Column& a, const Column& b) { return a.varIndex < b.varIndex; });
  for (std::size_t v = 0; v < t.variable.size(); ++v) {
    if (t.variable[v].varIndex != v) return false;
  }
  return true;
}

}  // namespace

std::string readPages(const char* path, std::vector<Page>& pages) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot be read";
  const Page bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 3 * kPage || bytes.size() % kPage != 0 || bytes[0x14] != 1) {
    return "not a Jet 4 file";
  }
  for (std::size_t at = 0; at < bytes.size(); at += kPage) {
    pages.emplace_back(bytes.begin() + at, bytes.begin() + at + kPage);
  }
  // A file encoded under a database key reads as noise here.
  if (!isDataPage(pages[1]) || pages[2][0] != 2 || pages[2][1] != 1) {
    return "its pages 1 and 2 are not plain";
  }
  return {};
}

bool rowBytes(const Page& p, std::size_t n, std::size_t& start, std::size_t& end) {
  const std::size_t rows = le16(&p[12]);
  if (!isDataPage(p) || n >= rows || 14 + 2 * rows > kPage) return false;
  const std::uint32_t word = le16(&p[14 + 2 * n]);
  start = word & 0x1FFF;
  end = n == 0 ? kPage : le16(&p[12 + 2 * n]) & 0x1FFF;
  return (word & 0x8000) == 0 && start < end && end <= kPage;
}

std::string findTable(const std::vector<Page>& pages, Table& table) {
  Page catalog;
  std::vector<Column> columns;
  std::string why = joinDefinition(pages, 2, catalog);
  if (why.empty()) why = readColumns(catalog, columns);
  if (!why.empty()) return "the catalog: " + why;
  const Column *id = nullptr, *type = nullptr;
  for (const Column& c : columns) {
    if (c.name == std::string("I\0d\0", 4)) id = &c;
    if (c.name == std::string("T\0y\0p\0e\0", 8)) type = &c;
  }
  if (!id || !type) return "the catalog has no Id and Type columns";
  for (const Page& p : pages) {
    if (!isDataPage(p) || le32(&p[4]) != 2) continue;
    std::size_t start = 0, end = 0;
    for (std::size_t n = 0; n < le16(&p[12]); ++n) {
      const std::size_t need = 2 + std::max(id->fixedAt + 4, type->fixedAt + 2);
      if (!rowBytes(p, n, start, end) || end - start < need) continue;
      if (le16(&p[start + 2 + type->fixedAt]) != 1) continue;  // not a table
      if (fillable(pages, le32(&p[start + 2 + id->fixedAt]) & 0xFFFFFF, table)) return {};
    }
  }
  return "no user table without indexes and long values";
}

std::string inlineMap(const std::vector<Page>& pages, std::uint32_t pointer,
                      std::vector<std::uint32_t>& set, std::uint64_t& reach) {
  std::size_t start = 0, end = 0;
  if ((pointer >> 8) >= pages.size() ||
      !rowBytes(pages[pointer >> 8], pointer & 0xFF, start, end)) {
    return "the usage map at row pointer " + std::to_string(pointer) + " is missing";
  }
  const Page& p = pages[pointer >> 8];
  if (end - start < 5 || p[start] != 0) return "a usage map is not held in its row";
  const std::uint32_t first = le32(&p[start + 1]);
  reach = first == 0 ? (end - start - 5) * 8 : 0;  // pages from 0 that it maps
  for (std::size_t bit = 0; bit < (end - start - 5) * 8; ++bit) {
    if ((p[start + 5 + bit / 8] >> (bit % 8)) & 1) set.push_back(first + bit);
  }
  return {};
}

}  // namespace bench
