// Makes a sound Access database of a given size that is nearly all data, for
// tools/bench to copy and check: make_database TEMPLATE OUT MIB.
//
// TEMPLATE is a real Jet 4 file with a user table that has no index and no
// long-value column. The output is the template's pages, then usage-map
// pages, then data pages of that table to the end, full of rows of random
// bytes, so that no file system can compress or share them and the check
// reads every row as a large table's. The table's map of owned pages and
// page 1's map of free pages become maps by reference to the new usage-map
// pages, as a database grown that large has them, and the table's row count
// counts the new rows. The same arguments make the same file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/bench/template_table.h"

namespace {

using bench::kPage;
using Page = bench::Page;

constexpr std::uint32_t kSpan =
    (kPage - jet::kUsageMapBitsAt) * 8;  // the pages one usage-map page maps
constexpr std::uint64_t kMaxPages = jet::kMaxFileBytes / kPage;

// splitmix64: fast, and its bytes do not compress.
class Random {
 public:
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  void fill(unsigned char* p, std::size_t size) {
    for (; size >= 8; size -= 8, p += 8) {
      const std::uint64_t v = next();
      std::memcpy(p, &v, 8);
    }
    const std::uint64_t v = next();
    std::memcpy(p, &v, size);
  }

 private:
  std::uint64_t state_ = 29;
};

// A text column's value: UTF-16 code units, none a surrogate, and not
// starting with the mark of compressed text.
void fillText(unsigned char* p, std::size_t size, Random& random) {
  random.fill(p, size);
  for (std::size_t at = 0; at + 1 < size; at += 2) {
    if ((p[at + 1] & 0xF8) == 0xD8) p[at + 1] ^= 0x40;
  }
  if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) p[0] = 0;
}

// One row of the table, `vars` holding each variable column's length, laid
// out as a Jet 4 row: column count, fixed part, variable part, its end and
// the variable columns' offsets (last first), their count, the null mask.
void writeRow(unsigned char* r, const bench::Table& t, const std::vector<std::size_t>& lengths,
              Random& random) {
  bench::put16(r, t.columnCount);
  random.fill(r + 2, t.fixedSize);
  std::size_t at = 2 + t.fixedSize;
  std::vector<std::size_t> offsets;
  for (std::size_t v = 0; v < t.variable.size(); ++v) {
    offsets.push_back(at);
    if (t.variable[v].type == bench::kText) {
      fillText(r + at, lengths[v], random);
    } else {
      random.fill(r + at, lengths[v]);
    }
    at += lengths[v];
  }
  offsets.push_back(at);
  const std::size_t vars = t.variable.size();
  for (std::size_t c = 0; c <= vars; ++c) bench::put16(r + at + 2 * (vars - c), offsets[c]);
  at += 2 * (vars + 1);
  bench::put16(r + at, static_cast<unsigned>(vars));
  at += 2;
  // Every column present; a yes/no column's value is its bit.
  for (const bench::Column& c : t.columns) {
    const bool set = c.type != bench::kBoolean || (random.next() & 1);
    if (set) r[at + c.number / 8] |= static_cast<unsigned char>(1u << (c.number % 8));
  }
}

// A data page of the table, rows from the end downward until the next would
// not fit even with its variable columns empty. Returns the rows it holds.
unsigned fillDataPage(unsigned char* p, const bench::Table& t, Random& random) {
  std::memset(p, 0, kPage);
  p[0] = jet::kDataPage;
  p[1] = 1;
  bench::put32(p + jet::kOwnerAt, t.page);
  const std::size_t least =
      2 + t.fixedSize + 2 * (t.variable.size() + 1) + 2 + (t.columnCount + 7u) / 8;
  std::size_t top = kPage;
  unsigned rows = 0;
  std::vector<std::size_t> lengths(t.variable.size());
  while (top >= 14 + 2 * (rows + 1) + least) {
    std::size_t room = top - 14 - 2 * (rows + 1) - least;
    std::size_t size = least;
    for (std::size_t v = 0; v < lengths.size(); ++v) {
      const bench::Column& c = t.variable[v];
      std::size_t length = std::min<std::size_t>(random.next() % (c.length + 1u), room);
      if (c.type == bench::kText) length &= ~std::size_t{1};
      lengths[v] = length;
      room -= length;
      size += length;
    }
    top -= size;
    writeRow(p + top, t, lengths, random);
    bench::put16(p + 14 + 2 * rows, static_cast<unsigned>(top));
    ++rows;
  }
  bench::put16(p + 12, rows);
  bench::put16(p + 2, static_cast<unsigned>(top - 14 - 2 * rows));
  return rows;
}

// Rewrites a map's row, in place and at its length, as a map by reference
// to the usage-map pages from `first` on, one for each range of kSpan pages.
bool referTo(Page& holder, std::uint32_t pointer, std::uint32_t first, std::uint32_t ranges) {
  std::size_t start = 0, end = 0;
  if (!bench::rowBytes(holder, pointer & 0xFF, start, end) || end - start < 1 + 4 * ranges) {
    return false;
  }
  std::memset(holder.data() + start, 0, end - start);
  holder[start] = jet::kReferenceMap;
  for (std::uint32_t j = 0; j < ranges; ++j) bench::put32(&holder[start + 1 + 4 * j], first + j);
  return true;
}

void setBit(std::vector<Page>& maps, std::uint32_t page) {
  maps[page / kSpan][jet::kUsageMapBitsAt + page % kSpan / 8] |=
      static_cast<unsigned char>(1u << (page % 8));
}

int fail(const std::string& why) {
  std::fprintf(stderr, "make_database: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return fail("usage: make_database TEMPLATE OUT MIB");
  std::vector<Page> pages;
  std::string why = bench::readPages(argv[1], pages);
  bench::Table t;
  std::vector<std::uint32_t> tableOwns, freeInTemplate;
  if (why.empty()) why = bench::findTable(pages, t);
  std::uint64_t ownedReach = 0, reach = 0;
  if (why.empty()) why = bench::inlineMap(pages, t.ownedMap, tableOwns, ownedReach);
  if (why.empty()) why = bench::inlineMap(pages, 1u << 8, freeInTemplate, reach);
  // Every page of the template must have its say in page 1's map: those it
  // does not map would count in use once the new map maps them.
  if (why.empty() && reach < pages.size()) why = "page 1's map does not map all its pages";
  if (!why.empty()) return fail(std::string(argv[1]) + ": " + why);

  const unsigned long mib = std::strtoul(argv[3], nullptr, 10);
  const std::uint64_t total = std::uint64_t{mib} * (1 << 20) / kPage;
  const std::uint32_t held = static_cast<std::uint32_t>(pages.size());
  const std::uint32_t ranges = static_cast<std::uint32_t>((total + kSpan - 1) / kSpan);
  const std::uint32_t ownedAt = held, freeAt = held + ranges, dataAt = held + 2 * ranges;
  if (total > kMaxPages || total <= dataAt) {
    return fail("MIB must leave room for data pages and be at most 2048");
  }
  // The new usage-map pages: the table owns its old pages and the new data
  // pages; page 1's map counts free what the template's counted free, and
  // every page past the end.
  Page usage(kPage, 0);
  usage[0] = jet::kUsageMapPage;
  usage[1] = 1;
  std::vector<Page> owned(ranges, usage), freeMap(ranges, usage);
  for (std::uint32_t p : tableOwns) setBit(owned, p);
  for (std::uint32_t p : freeInTemplate) {
    if (p < held) setBit(freeMap, p);
  }
  for (std::uint64_t p = dataAt; p < total; ++p) setBit(owned, static_cast<std::uint32_t>(p));
  for (std::uint64_t p = total; p < std::uint64_t{ranges} * kSpan; ++p) {
    setBit(freeMap, static_cast<std::uint32_t>(p));
  }
  if (!referTo(pages[t.ownedMap >> 8], t.ownedMap, ownedAt, ranges) ||
      !referTo(pages[1], 1u << 8, freeAt, ranges)) {
    return fail("a map's row is too short for a map of " + std::to_string(ranges) + " pages");
  }

  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return fail(std::string("cannot write ") + argv[2]);
  // Written a page at a time, the file's page cache would hold small pieces
  // that read back more slowly than a copy's (by a third, here), and cat and
  // the check would time the cache, not their work.
  std::vector<char> buffer(1 << 20);
  std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
  bool written = true;
  for (const std::vector<Page>* list : {&pages, &owned, &freeMap}) {
    for (const Page& p : *list) written = written && std::fwrite(p.data(), kPage, 1, out) == 1;
  }
  Random random;
  std::uint64_t rows = bench::le32(&pages[t.page][bench::kRowCountAt]);
  Page data(kPage);
  for (std::uint64_t p = dataAt; p < total && written; ++p) {
    rows += fillDataPage(data.data(), t, random);
    written = std::fwrite(data.data(), kPage, 1, out) == 1;
  }
  // The definition's row count, known only now.
  unsigned char count[4];
  bench::put32(count, static_cast<std::uint32_t>(rows));
  written = written && std::fseek(out, long(t.page) * kPage + bench::kRowCountAt, SEEK_SET) == 0 &&
            std::fwrite(count, 4, 1, out) == 1;
  if (std::fclose(out) != 0 || !written) return fail(std::string("cannot write ") + argv[2]);
  return 0;
}
