// Reading make_database's template: only what it needs to find a table to
// fill and the two maps it rewrites, trusting a file the check calls sound.
#include "tests/bench/template_table.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "access/rows.h"

namespace bench {
namespace {

bool isDataPage(const Page& p) { return p[0] == jet::kDataPage && p[1] == 1; }

// The definition at `head`, its continuations joined from their byte 8.
std::string readDefinition(const std::vector<Page>& pages, std::uint32_t head, jet::Definition& d) {
  Page bytes;
  for (std::uint32_t page = head, n = 0; page != 0;
       page = le32(&pages[page][jet::kNextTablePageAt]), ++n) {
    if (page >= pages.size() || pages[page][0] != jet::kTablePage || n > pages.size()) {
      return "table definition " + std::to_string(head) + " does not read whole";
    }
    bytes.insert(bytes.end(), pages[page].begin() + (n == 0 ? 0 : jet::kTableContinuesAt),
                 pages[page].end());
  }
  d = jet::readDefinition(jet::kJet4, bytes);
  return d.outside + d.notUnderstood;
}

// Whether `page` defines a table make_database can fill, and its layout.
bool fillable(const std::vector<Page>& pages, std::uint32_t page, Table& t) {
  jet::Definition d;
  // No index: a logical index needs a real one.
  if (page >= pages.size() || !readDefinition(pages, page, d).empty() ||
      d.tableType != jet::kUserTable || !d.indexes.empty() || d.ownedMap == 0) {
    return false;
  }
  t = Table{};
  t.page = page;
  t.ownedMap = d.ownedMap;
  t.columns = d.columns;
  if (t.columns.empty()) return false;
  for (const Column& c : t.columns) {
    // Numbers, dates, text, binary, GUIDs: never a memo, OLE or complex value.
    if (c.type < 1 || (c.type > 10 && c.type != 15 && c.type != 16)) return false;
    t.columnCount = std::max<std::uint16_t>(t.columnCount, c.number + 1);
    if (c.flags & jet::kColumnFixed) {
      t.fixedSize = std::max<std::size_t>(t.fixedSize, c.fixedOffset + c.length);
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
  if (!isDataPage(pages[1]) || pages[2][0] != jet::kTablePage || pages[2][1] != 1) {
    return "its pages 1 and 2 are not plain";
  }
  return {};
}

bool rowBytes(const Page& p, std::size_t n, std::size_t& start, std::size_t& end) {
  const std::optional<std::size_t> rows = jet::rowCount(jet::kJet4, p.data());
  if (!isDataPage(p) || !rows || n >= *rows) return false;
  bool found = false;
  jet::eachRow(jet::kJet4, p.data(), n + 1, [&](const jet::Row& r) {
    found = r.number == n && !r.deleted() && r.start < r.end;
    start = r.start;
    end = r.end;
    return true;
  });
  return found;
}

std::string findTable(const std::vector<Page>& pages, Table& table) {
  jet::Definition catalog;
  const std::string why = readDefinition(pages, 2, catalog);
  if (!why.empty()) return "the catalog: " + why;
  const Column *id = nullptr, *type = nullptr;
  for (const Column& c : catalog.columns) {
    if (c.name == std::string("I\0d\0", 4)) id = &c;
    if (c.name == std::string("T\0y\0p\0e\0", 8)) type = &c;
  }
  if (!id || !type) return "the catalog has no Id and Type columns";
  for (const Page& p : pages) {
    if (!isDataPage(p) || le32(&p[jet::kOwnerAt]) != 2) continue;
    std::size_t start = 0, end = 0;
    for (std::size_t n = 0; n < le16(&p[jet::kJet4.rowCountAt]); ++n) {
      const std::size_t need = 2 + std::max(id->fixedOffset + 4, type->fixedOffset + 2);
      if (!rowBytes(p, n, start, end) || end - start < need) continue;
      if (le16(&p[start + 2 + type->fixedOffset]) != jet::kTableEntryType) continue;  // not a table
      if (fillable(pages, le32(&p[start + 2 + id->fixedOffset]) & 0xFFFFFF, table)) return {};
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
  if (end - start < 5 || p[start] != jet::kInlineMap) return "a usage map is not held in its row";
  const std::uint32_t first = le32(&p[start + 1]);
  reach = first == 0 ? (end - start - 5) * 8 : 0;  // pages from 0 that it maps
  for (std::size_t bit = 0; bit < (end - start - 5) * 8; ++bit) {
    if ((p[start + 5 + bit / 8] >> (bit % 8)) & 1) set.push_back(first + bit);
  }
  return {};
}

}  // namespace bench
