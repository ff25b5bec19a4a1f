// The pass over the file's pages: what each page is, what it names, and the
// pages kept for the walk at the end.
#include "access/check.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "access/bytes.h"
#include "access/definition.h"
#include "access/rows.h"

namespace jet {
namespace {

constexpr std::size_t kVersionAt = 0x14;
constexpr std::size_t kProbe = 0x300;  // page 0's fixed part, read before its size is known
constexpr std::size_t kMaskedAt = 0x18;
constexpr std::size_t kKeyInMask = 0x3E - kMaskedAt;
constexpr std::size_t kEncryptionInfoAt = 0x299;  // an ACE file's password-encryption header
// A database of 32,768 objects, Access's most, needs far fewer pages to
// describe them.
constexpr std::size_t kKeptMost = 32768;

bool allZero(const unsigned char* p, std::size_t size) {
  static const std::array<unsigned char, 4096> zeros{};
  return std::memcmp(p, zeros.data(), size) == 0;
}

std::string hex2(unsigned value) {
  const char* digits = "0123456789abcdef";
  return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

}  // namespace

Check::Check() : carry_(kProbe) {}

bool Check::fail(std::string reason) {
  if (reason_.empty()) reason_ = std::move(reason);
  return false;
}

// Only the blocks that hold a page seen or named are made: a page number far
// past the end costs one block.
Check::Facts& Check::newFacts(std::uint32_t page) {
  if (blocks_.size() <= page / kFactsBlock) blocks_.resize(page / kFactsBlock + 1);
  std::unique_ptr<Facts[]>& block = blocks_[page / kFactsBlock];
  if (!block) block = std::make_unique<Facts[]>(kFactsBlock);  // zeroed: nothing known
  return block[page % kFactsBlock];
}

bool Check::feed(const unsigned char* data, std::size_t size) {
  size_ += size;
  while (size > 0 && reason_.empty()) {
    const std::uint32_t pageSize = format_ ? format_->pageSize : 0;
    if (!format_ || carried_ > 0 || size < pageSize) {
      // Page 0's fixed part, or a page split across feeds, is gathered first.
      const std::size_t want = format_ ? pageSize : kProbe;
      const std::size_t take = std::min(size, want - carried_);
      std::memcpy(carry_.data() + carried_, data, take);
      carried_ += take;
      data += take;
      size -= take;
      if (carried_ < want) break;
      if (!format_) {
        if (!readHeader()) break;
        continue;  // page 0 is complete only once a page's bytes are in
      }
      carried_ = 0;
      checkPage(carry_.data());
    } else {
      checkPage(data);
      data += pageSize;
      size -= pageSize;
    }
  }
  return reason_.empty();
}

bool Check::readHeader() {
  const unsigned char* p = carry_.data();
  static const unsigned char kStart[4] = {0, 1, 0, 0};
  const bool jet = std::memcmp(p + 4, "Standard Jet DB", 16) == 0;
  const bool ace = std::memcmp(p + 4, "Standard ACE DB", 16) == 0;
  if (std::memcmp(p, kStart, 4) != 0 || (!jet && !ace)) {
    return fail("page 0 does not begin with the signature of an Access database");
  }
  // Only the one byte: ACE 14 files hold 03 01 here.
  const unsigned version = p[kVersionAt];
  if (version > 6) return fail("page 0 names format version " + hex2(version) + ", unknown");
  if (ace != (version >= 2)) {
    return fail("page 0 names format version " + hex2(version) + " under the signature of " +
                (ace ? "ACE" : "Jet"));
  }
  format_ = version == 0 ? &kJet3 : &kJet4;
  maxPages_ = static_cast<std::uint32_t>(kMaxFileBytes / format_->pageSize);
  unsigned char masked[kKeyInMask + 4];
  Rc4(0x6B39DAC7).apply(p + kMaskedAt, masked, sizeof masked);
  key_ = le32(masked + kKeyInMask);
  // A password-encrypted ACE file carries a database key and an encryption
  // header; its other pages cannot be read without the password.
  encrypted_ = ace && (key_ != 0 || p[kEncryptionInfoAt] != 0 || p[kEncryptionInfoAt + 1] != 0);
  carry_.resize(format_->pageSize);
  if (key_ != 0) decoded_.resize(format_->pageSize);
  return true;
}

void Check::checkPage(const unsigned char* raw) {
  const std::uint32_t number = page_++;
  if (number >= maxPages_) {
    // Also what keeps a page's number within the 20 bits its namings hold.
    fail("the file is larger than the 2 GB an Access file can hold");
    return;
  }
  if (encrypted_) return;
  const std::uint32_t pageSize = format_->pageSize;
  Facts& f = facts(number);
  if (number == 0) {
    f.bytes[0] = kOther;
    return;
  }
  const unsigned char* page = raw;
  if (key_ != 0 && !allZero(raw, pageSize)) {
    // An encoded file grows by raw zero pages; every other page is encoded
    // under the database key and its number.
    Rc4(key_ ^ number).apply(raw, decoded_.data(), pageSize);
    page = decoded_.data();
  }
  std::uint8_t k = kOther;
  if (page[0] == 0 && allZero(page, pageSize)) {
    k = kBlank;
  } else if (page[1] == 1) {
    switch (page[0]) {
      case kDataPage:
        k = kData;
        break;
      case kTablePage:
        k = kTable;
        break;
      case kIndexNodePage:
        k = kNode;
        break;
      case kIndexLeafPage:
        k = kLeaf;
        break;
      case kUsageMapPage:
        k = kUsageMap;
        break;
      case 8:
      case 9:
        k = kTableLike;
        break;
      default:
        break;
    }
  }
  f.bytes[0] = static_cast<unsigned char>((f.bytes[0] & ~kKindMask) | k);
  const std::uint32_t ownerValue = le32(page + kOwnerAt);
  if (k == kData || k == kNode || k == kLeaf) {
    auto found = ownerNumbers_.find(ownerValue);
    if (found == ownerNumbers_.end()) {
      // A database holds at most 32,768 objects: more owners than the facts'
      // 16 bits tell apart is no database.
      if (ownerValues_.size() > 0xFFFF) {
        fail("the file's pages name more than 65535 tables, more than a database holds");
        return;
      }
      found =
          ownerNumbers_.emplace(ownerValue, static_cast<std::uint16_t>(ownerValues_.size())).first;
      ownerValues_.push_back(ownerValue);
    }
    const std::uint16_t n = found->second;
    f.bytes[1] = static_cast<unsigned char>(n);
    f.bytes[2] = static_cast<unsigned char>(n >> 8);
  }
  if (number == 1 && k != kData) {
    fail("page 1 is not a data page (" + (k == kBlank ? "blank" : "type " + hex2(page[0])) + ")");
    return;
  }
  if (number == 2 && k != kTable) {
    fail("page 2 is not a table definition (" + (k == kBlank ? "blank" : "type " + hex2(page[0])) +
         ")");
    return;
  }
  // The pages that describe the database are kept for the walk: definitions,
  // usage maps, the pages holding map rows (owner 0, and page 1), and the
  // catalog's rows.
  const bool describes = k == kTable || k == kUsageMap ||
                         (k == kData && (number == 1 || ownerValue == 0 || ownerValue == 2));
  if (describes) {
    // Bounded, so that a copy whose every page claims to describe tables
    // costs a verdict, not the file's size in memory.
    if (kept_.size() >= kKeptMost) {
      fail("the file has more than " + std::to_string(kKeptMost) +
           " pages of table definitions, usage maps and catalog rows, more than a database uses");
      return;
    }
    kept_[number].assign(page, page + pageSize);
  }
  if (k == kTable) learnLayout(number);
  if (k == kData) readRows(number, page, ownerValue);
  if (k == kNode || k == kLeaf) readEntries(number, page);
}

// A table's long-value columns, once its whole definition has been seen.
void Check::learnLayout(std::uint32_t number) {
  std::vector<unsigned char> bytes;
  if (!joinDefinition(number, bytes).empty()) return;
  const Definition d = readDefinition(*format_, bytes);
  if (d.damage.empty()) longValues_[number] = d.longValueColumns();
}

void Check::readRows(std::uint32_t number, const unsigned char* page, std::uint32_t ownerValue) {
  const Format& f = *format_;
  const std::optional<std::size_t> rows = rowCount(f, page);
  if (!rows) return malformed_.emplace_back(number, "its row count"), void();
  const std::size_t tableEnd = f.rowCountAt + 2 + 2 * *rows;
  // Map rows (owner 0, page 1) and long values hold no columns.
  const bool columns = number != 1 && ownerValue != 0 && ownerValue != kLongValueOwner;
  const bool wide = f.columnCountSize == 2;
  const auto layout = longValues_.find(ownerValue);
  const std::vector<std::uint16_t>* longValues =
      wide && layout != longValues_.end() && !layout->second.empty() ? &layout->second : nullptr;
  bool live = false;
  const char* damage = nullptr;
  // Every row of a large file passes here: the loop holds only what each row
  // needs, and a row's long values are read apart.
  eachRow(f, page, *rows, [&](const Row& r) {
    if (r.deleted()) return true;
    live = true;
    if (r.start < tableEnd || r.start >= r.end) return damage = "a row's offset", false;
    const unsigned char* row = page + r.start;
    if (r.word & kRowOverflow) {
      if (r.end - r.start < 4) return damage = "an overflow row", false;
      name(number, le32(row) >> 8, kWantData);
      return true;
    }
    if (!columns) return true;
    if (r.end - r.start < f.columnCountSize) return damage = "a row with no columns", false;
    const std::size_t count = wide ? le16(row) : row[0];
    if (count == 0) return damage = "a row with no columns", false;
    if (longValues) nameLongValues(number, row, r.end - r.start, count, *longValues);
    return true;
  });
  if (damage) return malformed_.emplace_back(number, damage), void();
  if (live) setFlag(number, kLiveRows);
}

// The end of a Jet 4 row: the variable columns' offsets, last first nearest
// the end, their count, and the null mask. Each memo or OLE value held
// outside the row names the long-value page of its first piece.
void Check::nameLongValues(std::uint32_t number, const unsigned char* row, std::size_t size,
                           std::size_t count, const std::vector<std::uint16_t>& columns) {
  const std::size_t nulls = (count + 7) / 8;
  if (size < 2 + nulls + 2) return;
  const std::size_t varCountAt = size - nulls - 2;
  const std::size_t vars = le16(row + varCountAt);
  if (varCountAt < 2 + 2 * (vars + 1)) return;
  for (std::uint16_t column : columns) {
    if (column >= vars) continue;
    const std::size_t from = le16(row + varCountAt - 2 * (column + 1));
    const std::size_t to = le16(row + varCountAt - 2 * (column + 2));
    if (to > varCountAt || from + kLongValueHeaderSize > to) continue;
    const unsigned char* value = row + from;
    const std::uint8_t how = value[3];
    if ((le32(value) & 0xFFFFFF) == 0 || (how != kLongValueOneRow && how != 0)) continue;
    name(number, le32(value + 4) >> 8, kWantLongValue);
  }
}

void Check::readEntries(std::uint32_t number, const unsigned char* page) {
  const Format& f = *format_;
  const std::size_t end = f.pageSize - std::min<std::size_t>(le16(page + kFreeSpaceAt), f.pageSize);
  if (end < f.entriesAt) return malformed_.emplace_back(number, "its free space"), void();
  for (std::size_t n = 0; n < 3; ++n) {
    const std::uint32_t sibling = le32(page + kIndexSiblingsAt + 4 * n);
    if (sibling != 0) name(number, sibling, kWantIndex);
  }
  const bool node = page[0] == kIndexNodePage;
  const std::size_t tail = node ? 8 : 4;  // row pointer, and a node's child page
  std::size_t start = f.entriesAt;
  for (std::size_t boundary = f.entriesAt + 1; boundary <= end; ++boundary) {
    const std::size_t bit = boundary - f.entriesAt;
    if (((page[f.entryMaskAt + bit / 8] >> (bit % 8)) & 1) == 0) continue;
    if (boundary - start < tail) {
      return malformed_.emplace_back(number, "an index entry"), void();
    }
    const unsigned char* entry = page + boundary - tail;
    name(number, be24(entry), kWantData);
    if (node) name(number, be32(entry + 4), kWantIndex);
    start = boundary;
  }
  if (start != end) malformed_.emplace_back(number, "its last index entry");
}

// Page `from` names page `to` as `want`. The pass cannot yet tell whether
// `from` is in use; the reference is settled at the end, and only one in use
// counts.
void Check::name(std::uint32_t from, std::uint32_t to, std::uint8_t want) {
  const Reference r{from, to, want};
  if (to >= maxPages_ || to <= from) {
    if (to >= maxPages_ || !meets(r).empty()) failed_.push_back(r);
    return;
  }
  Facts& target = facts(to);
  const std::uint32_t mine = from << 4 | want;
  const std::uint32_t theirs = claim(to);
  if (theirs == 0) {
    target.bytes[3] = static_cast<unsigned char>(mine);
    target.bytes[4] = static_cast<unsigned char>(mine >> 8);
    target.bytes[5] = static_cast<unsigned char>(mine >> 16);
  } else if ((theirs & 15) != want || owner(theirs >> 4) != owner(from)) {
    pending_.push_back(r);  // named as something else too: each naming is settled alone
  }
}

}  // namespace jet
