// What the check knows of the Access file format: one table per format, and
// the few facts both formats share. Everything that names an offset inside a
// page is here, so that the check reads as the walk it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

struct Format {
  std::uint32_t pageSize;
  // Data pages: the row count, then one offset a row.
  std::size_t rowCountAt;
  // A live row begins with its column count, of this many bytes.
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
  // Index pages: a bitmask marks where each entry ends; entries from here.
  std::size_t entryMaskAt;
  std::size_t entriesAt;
};

// Access 97: 2 KiB pages. The fields in the order above.
constexpr Format kJet3{2048, 8, 1,  20, 25, 31, 35, 39, 43, 8,    18,
                       1,    3, 13, 14, 16, 1,  39, 30, 34, 0x16, 0xF8};
// Access 2000 and later (Jet 4 and ACE): 4 KiB pages.
constexpr Format kJet4{4096, 12, 2,  40, 45, 51, 55, 59, 63, 12,   25,
                       5,    7,  15, 21, 23, 2,  52, 34, 38, 0x1B, 0x1E0};

// Facts both formats share.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;  // 2 GiB, Access's own limit
// 255 columns and 32 indexes, all with names of 64 characters, take about
// 48 KB of a table definition: a chain of more pages is damage or a loop.
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
constexpr std::size_t kIndexSiblingsAt = 8;            // index pages: previous, next and tail page
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL": a page of long values
constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint16_t kRowOverflow = 0x4000;  // the row holds a row pointer
constexpr std::uint16_t kRowStartMask = 0x1FFF;
constexpr std::uint8_t kColumnFixed = 0x01;  // column flags
constexpr std::uint8_t kColumnOle = 0x0B;
constexpr std::uint8_t kColumnMemo = 0x0C;
constexpr std::size_t kLongValueHeaderSize = 12;  // length and flags, row pointer, unused
constexpr std::uint8_t kLongValueInline = 0x80;   // the top byte of the length
constexpr std::uint8_t kLongValueOneRow = 0x40;
constexpr std::uint8_t kInlineMap = 0;       // a usage map held in its row: first page, bits
constexpr std::uint8_t kReferenceMap = 1;    // a list of usage-map pages
constexpr std::size_t kUsageMapBitsAt = 4;   // usage-map pages
constexpr std::uint8_t kTableEntryType = 1;  // the catalog's Type of a table

}  // namespace jet
