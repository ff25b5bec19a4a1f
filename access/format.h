// What the check knows of the Access file format: one table of the facts that
// differ between Jet 3 and the later formats, side by side, and the few facts
// they share. Everything that names an offset inside a page is here, so that
// the check reads as the walk it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

struct Format {
  std::uint32_t pageSize;
  // Data pages: the row count, then one offset a row.
  std::size_t rowCountAt;
  // A live row begins with its column count, of this many bytes; the
  // offsets of its variable columns, at its end, are of the same size.
  std::size_t columnCountSize;
  // Table definitions: a definition goes on at the page named at offset 4,
  // a continuation from byte 8.
  std::size_t tableTypeAt;
  std::size_t columnCountAt;
  std::size_t realIndexCountAt;
  std::size_t ownedMapAt;  // row pointers: page << 8 | row; 0 for none
  std::size_t freeSpaceMapAt;
  std::size_t realIndexCountsAt;  // one entry a real index, before the columns
  std::size_t realIndexCountSize;
  std::size_t columnEntrySize;
  std::size_t columnNumberAt;    // within a column entry
  std::size_t columnVarIndexAt;  // within a column entry
  std::size_t columnFlagsAt;
  std::size_t columnFixedAt;  // where a fixed column sits in its row's fixed part
  std::size_t columnLengthAt;
  std::size_t nameLengthSize;  // each column name: its length, then its bytes
  std::size_t realIndexSize;
  std::size_t indexMapAt;   // within a real index
  std::size_t indexRootAt;  // within a real index
  // Index pages: the previous, next and tail page of the same level; the
  // length of the prefix every entry after the first shares with the first;
  // a bitmask that marks where each entry ends; the entries.
  std::size_t siblingsAt;
  std::size_t sharedPrefixAt;
  std::size_t entryMaskAt;
  std::size_t entriesAt;
};

// clang-format off
constexpr Format formatOf(bool jet4) {
  Format f{};
  //                        Access 97        Access 2000 and later
  f.pageSize           = jet4 ? 4096       : 2048;
  f.rowCountAt         = jet4 ? 12         : 8;
  f.columnCountSize    = jet4 ? 2          : 1;
  f.tableTypeAt        = jet4 ? 40         : 20;
  f.columnCountAt      = jet4 ? 45         : 25;
  f.realIndexCountAt   = jet4 ? 51         : 31;
  f.ownedMapAt         = jet4 ? 55         : 35;
  f.freeSpaceMapAt     = jet4 ? 59         : 39;
  f.realIndexCountsAt  = jet4 ? 63         : 43;
  f.realIndexCountSize = jet4 ? 12         : 8;
  f.columnEntrySize    = jet4 ? 25         : 18;
  f.columnNumberAt     = jet4 ? 5          : 1;
  f.columnVarIndexAt   = jet4 ? 7          : 3;
  f.columnFlagsAt      = jet4 ? 15         : 13;
  f.columnFixedAt      = jet4 ? 21         : 14;
  f.columnLengthAt     = jet4 ? 23         : 16;
  f.nameLengthSize     = jet4 ? 2          : 1;
  f.realIndexSize      = jet4 ? 52         : 39;
  f.indexMapAt         = jet4 ? 34         : 30;
  f.indexRootAt        = jet4 ? 38         : 34;
  f.siblingsAt         = jet4 ? 12         : 8;
  f.sharedPrefixAt     = jet4 ? 24         : 20;
  f.entryMaskAt        = jet4 ? 0x1B       : 0x16;
  f.entriesAt          = jet4 ? 0x1E0      : 0xF8;
  return f;
}
// clang-format on
constexpr Format kJet3 = formatOf(false);
constexpr Format kJet4 = formatOf(true);

// Facts both formats share.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;  // 2 GiB, Access's own limit
// 255 columns and 32 indexes, all with names of 64 characters, take about
// 48 KB of a table definition: a chain of more pages is a loop, or no definition.
constexpr std::size_t kDefinitionPagesMost = 64;
enum PageType : std::uint8_t {
  kDataPage = 1,
  kTablePage = 2,
  kIndexNodePage = 3,
  kIndexLeafPage = 4,
  kUsageMapPage = 5,
};
constexpr std::size_t kOwnerAt = 4;      // data and index pages: the owning table's page
constexpr std::size_t kFreeSpaceAt = 2;  // index pages: the bytes unused at the end
constexpr std::size_t kNextTablePageAt = 4;
constexpr std::size_t kTableContinuesAt = 8;
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL": a page of long values
constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint16_t kRowOverflow = 0x4000;  // the row holds a row pointer
constexpr std::uint16_t kRowStartMask = 0x1FFF;
constexpr std::uint8_t kUserTable = 0x4E;  // a definition's table type
constexpr std::uint8_t kSystemTable = 0x53;
constexpr std::uint8_t kColumnFixed = 0x01;  // column flags
constexpr std::uint8_t kColumnOle = 0x0B;
constexpr std::uint8_t kColumnMemo = 0x0C;
// Where a memo or OLE value lies: its length and flags, a row pointer, four
// unused bytes; held in the row itself, in one row of a long-value page, or
// in a chain of rows each of which begins with the pointer to the next.
constexpr std::size_t kLongValueHeaderSize = 12;
constexpr std::uint32_t kLongValueHow = 0xC0000000;  // of the first four bytes
constexpr std::uint32_t kLongValueInline = 0x80000000;
constexpr std::uint32_t kLongValueOneRow = 0x40000000;
constexpr std::uint32_t kLongValueChain = 0;
constexpr std::uint8_t kInlineMap = 0;       // a usage map held in its row: first page, bits
constexpr std::uint8_t kReferenceMap = 1;    // a list of usage-map pages
constexpr std::size_t kUsageMapBitsAt = 4;   // usage-map pages
constexpr std::uint8_t kTableEntryType = 1;  // the catalog's Type of a table

}  // namespace jet
