// The pass over the file's pages: what each page is, what it names, and the
// pages kept for the walk at the end.
#include "access/check.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "access/bytes.h"
#include "access/definition.h"
#include "access/rows.h"

namespace jet {
namespace {

constexpr std::size_t kVersionAt = 0x14;
constexpr unsigned kVersionsKnown = 6;  // up to ACE 17
constexpr std::size_t kProbe = 0x300;   // page 0's fixed part, read before its size is known
constexpr std::size_t kMaskedAt = 0x18;
constexpr std::size_t kKeyInMask = 0x3E - kMaskedAt;
constexpr std::size_t kEncryptionInfoAt = 0x299;  // an ACE file's password-encryption header
// A database of 32,768 objects, Access's most, needs far fewer pages to
// describe them.
constexpr std::size_t kKeptMost = 32768;
// Pieces of long values and moved rows named ahead of the pass, kept to be
// read when it gets there, and those named behind it; past this many of
// either, the rest are not followed.
constexpr std::size_t kPiecesMost = 1 << 15;
// The pages read again after the pass, at most: 16 MiB of 4 KiB pages.
constexpr std::uint32_t kRevisitsMost = 1 << 12;

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

// The kind of evidence is named at every verdict, so that what can fail a
// night is found by one name; the text is what the log says.
std::string Check::damage(Evidence, std::string why) { return why; }

bool Check::fail(Evidence evidence, std::string why) {
  if (reason_.empty()) reason_ = damage(evidence, std::move(why));
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
    return fail(kNotAnAccessFile, "page 0 does not begin with the signature of an Access database");
  }
  // Only the one byte: ACE 14 files hold 03 01 here.
  const unsigned version = p[kVersionAt];
  if (ace != (version >= 2)) {
    return fail(kNotAnAccessFile, "page 0 names format version " + hex2(version) +
                                      " under the signature of " + (ace ? "ACE" : "Jet"));
  }
  format_ = version == 0 ? &kJet3 : &kJet4;
  // A later version than the check knows keeps its 4 KiB pages, but what
  // they hold is not followed.
  opaque_ = version > kVersionsKnown;
  maxPages_ = static_cast<std::uint32_t>(kMaxFileBytes / format_->pageSize);
  unsigned char masked[kKeyInMask + 4];
  Rc4(0x6B39DAC7).apply(p + kMaskedAt, masked, sizeof masked);
  key_ = le32(masked + kKeyInMask);
  // A password-encrypted ACE file carries a database key and an encryption
  // header; its other pages cannot be read without the password.
  opaque_ =
      opaque_ || (ace && (key_ != 0 || p[kEncryptionInfoAt] != 0 || p[kEncryptionInfoAt + 1] != 0));
  carry_.resize(format_->pageSize);
  if (key_ != 0) decoded_.resize(format_->pageSize);
  return true;
}

void Check::checkPage(const unsigned char* raw) {
  const std::uint32_t number = page_++;
  if (number >= maxPages_) {
    // Also what keeps a page's number within the 20 bits its namings hold.
    fail(kNotAnAccessFile, "the file is larger than the 2 GB an Access file can hold");
    return;
  }
  if (opaque_) return;
  const std::uint32_t pageSize = format_->pageSize;
  Facts& f = facts(number);
  if (number == 0) {
    f.bytes[0] = kOther;
    return;
  }
  at_ = number;
  const unsigned char* page = decode(number, raw);
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
      default:
        // Types 8 and 9 are in real files, nearly always free; the other
        // small types of the same form are taken as kinds not known here.
        if (page[0] == 0 || (page[0] >= 6 && page[0] <= 15)) k = kUnknownKind;
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
      if (ownerValues_.size() > 0xFFFF) return giveUp();
      found =
          ownerNumbers_.emplace(ownerValue, static_cast<std::uint16_t>(ownerValues_.size())).first;
      ownerValues_.push_back(ownerValue);
    }
    const std::uint16_t n = found->second;
    f.bytes[1] = static_cast<unsigned char>(n);
    f.bytes[2] = static_cast<unsigned char>(n >> 8);
  }
  // The format names these two: the map of free pages, and the catalog.
  if (number == 1 && k != kData) {
    fail(kNamedPageLost,
         "page 1 is not a data page (" + (k == kBlank ? "blank" : "type " + hex2(page[0])) + ")");
    return;
  }
  if (number == 2 && k != kTable) {
    fail(kNamedPageLost, "page 2 is not a table definition (" +
                             (k == kBlank ? "blank" : "type " + hex2(page[0])) + ")");
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
    if (kept_.size() >= kKeptMost) return giveUp();
    kept_[number].assign(page, page + pageSize);
  }
  if (k == kTable) learnLayout(number);
  if (k == kData) readRows(number, page, ownerValue);
  if (k == kNode || k == kLeaf) readEntries(number, page);
  // After the page's own rows, which may name pieces on the page itself.
  if (!pieces_.empty() && pieces_.front().pointer >> 8 <= number) followPieces(number, page);
}

// An encoded file grows by raw zero pages; every other page is encoded under
// the database key and its number.
const unsigned char* Check::decode(std::uint32_t number, const unsigned char* raw) {
  if (key_ == 0 || allZero(raw, format_->pageSize)) return raw;
  Rc4(key_ ^ number).apply(raw, decoded_.data(), format_->pageSize);
  return decoded_.data();
}

std::uint32_t Check::revisit() {
  if (!revisiting_) {
    // What still waits ahead lies past the end: its naming fails on that.
    revisiting_ = true;
    pieces_ = std::move(behind_);
    behind_.clear();
    std::make_heap(pieces_.begin(), pieces_.end(), std::greater<>());
  }
  if (!reason_.empty() || opaque_ || revisits_ >= kRevisitsMost) pieces_.clear();
  while (!pieces_.empty() && pieces_.front().pointer >> 8 >= page_) {
    std::pop_heap(pieces_.begin(), pieces_.end(), std::greater<>());
    pieces_.pop_back();
  }
  return pieces_.empty() ? 0 : pieces_.front().pointer >> 8;
}

void Check::feedAgain(const unsigned char* raw) {
  const std::uint32_t number = revisit();
  if (number == 0) return;
  ++revisits_;
  at_ = number;
  followPieces(number, decode(number, raw));
}

void Check::revisitFrom(const unsigned char* file, std::size_t size) {
  for (std::uint32_t page; (page = revisit()) != 0;) {
    const std::uint64_t at = std::uint64_t{page} * format_->pageSize;
    if (at + format_->pageSize > size) return;
    feedAgain(file + at);
  }
}

// More than the check keeps in memory: no sound file comes near, and a
// hostile one costs only its verdict, which rests on page 0 and the length.
void Check::giveUp() {
  opaque_ = true;
  kept_.clear();
  pieces_.clear();
}

// A table's long-value columns, once its whole definition has been seen: at
// its first page, or at the later page it waits for. Any page of a
// definition may be its first, as far as the pass can tell.
void Check::learnLayout(std::uint32_t number) {
  std::vector<unsigned char> bytes;
  std::vector<std::uint32_t> ready{number};
  for (auto [w, end] = waiting_.equal_range(number); w != end; w = waiting_.erase(w)) {
    ready.push_back(w->second);
  }
  for (std::uint32_t head : ready) {
    std::uint32_t missing = 0;
    if (!joinDefinition(head, bytes, &missing).empty()) {
      if (missing > number && waiting_.size() < kKeptMost) waiting_.emplace(missing, head);
      continue;
    }
    const Definition d = readDefinition(*format_, bytes);
    if (d.readsWhole()) longValues_[head] = d.longValueColumns();
  }
}

void Check::readRows(std::uint32_t number, const unsigned char* page, std::uint32_t ownerValue) {
  const Format& f = *format_;
  const std::optional<std::size_t> rows = rowCount(f, page);
  if (!rows) {
    return malformed_.push_back(
               {number, kPointerOutside, "has row offsets that run past the page"}),
           void();
  }
  const std::size_t tableEnd = f.rowCountAt + 2 + 2 * *rows;
  // Map rows (owner 0, page 1) and long values hold no columns.
  const bool columns = number != 1 && ownerValue != 0 && ownerValue != kLongValueOwner;
  const auto layout = longValues_.find(ownerValue);
  const std::vector<std::uint16_t>* longValues =
      columns && layout != longValues_.end() && !layout->second.empty() ? &layout->second : nullptr;
  bool live = false;
  const char* outside = nullptr;
  bool blank = false;
  // Every row of a large file passes here: the loop holds only what each row
  // needs, and a row's long values are read apart.
  eachRow(f, page, *rows, [&](const Row& r) {
    if (r.deleted()) return true;
    live = true;
    if (r.start < tableEnd || r.start >= f.pageSize) {
      return outside = "has a row whose offset points outside its rows", false;
    }
    // Rows out of the order the page keeps them in are not understood here.
    if (r.start >= r.end) return true;
    const unsigned char* row = page + r.start;
    if (r.word & kRowOverflow) {
      // The row's columns moved to another page's row, which a reader follows.
      if (r.end - r.start >= 4) {
        name(number, le32(row) >> 8, kWantData);
        if (columns) awaitPiece({le32(row), number, kMovedRow});
      }
      return true;
    }
    // A row of a table holds at least its column count: one all zero was lost.
    if (columns && row[0] == 0 && allZero(row, r.end - r.start)) return blank = true, false;
    if (longValues) nameLongValues(number, row, r.end - r.start, *longValues);
    return true;
  });
  if (outside) return malformed_.push_back({number, kPointerOutside, outside}), void();
  if (blank) return malformed_.push_back({number, kNamedPageLost, "holds a blank row"}), void();
  if (live) setFlag(number, kLiveRows);
  // A table redesigned may hold rows before its definition: their long
  // values are read once the pass has seen it.
  if (live && columns && layout == longValues_.end() && ownerValue > number) {
    readLater({number << 8, number, kRowsOfPage});
  }
}

// The long values of a page's rows in use, as its table's columns place them.
void Check::readLongValues(std::uint32_t number, const unsigned char* page,
                           const std::vector<std::uint16_t>& columns) {
  const std::optional<std::size_t> rows = rowCount(*format_, page);
  eachRow(*format_, page, rows.value_or(0), [&](const Row& r) {
    if (!r.deleted() && !(r.word & kRowOverflow) && r.start < r.end && r.end <= format_->pageSize)
      nameLongValues(number, page + r.start, r.end - r.start, columns);
    return true;
  });
}

// The end of a row: the offsets of its variable columns, the first nearest
// the end, their count, and the null mask; in Jet 3 one byte each, in Jet 4
// two. A Jet 3 row of 256 bytes or more adds a jump table, which is not
// followed here. Only a row whose offsets read in order is followed, so
// that no bytes are taken for a long value that are not one.
void Check::nameLongValues(std::uint32_t origin, const unsigned char* row, std::size_t size,
                           const std::vector<std::uint16_t>& columns) {
  const std::size_t w = format_->columnCountSize;
  const bool wide = w == 2;
  if (!wide && size >= 256) return;
  const std::size_t count = wide ? le16(row) : row[0];
  const std::size_t nulls = (count + 7) / 8;
  if (count == 0 || size < w + nulls + w) return;
  const std::size_t varCountAt = size - nulls - w;
  const std::size_t vars = wide ? le16(row + varCountAt) : row[varCountAt];
  if (varCountAt < w + w * (vars + 1)) return;
  const auto offset = [&](std::size_t column) {  // the start of a column, or the end of the last
    const unsigned char* at = row + varCountAt - w * (column + 1);
    return wide ? std::size_t{le16(at)} : std::size_t{*at};
  };
  const std::size_t end = offset(vars);
  if (end > varCountAt - w * (vars + 1)) return;
  for (std::uint16_t column : columns) {
    if (column >= vars) continue;
    const std::size_t from = offset(column), to = offset(column + 1);
    if (from > to || to > end) return;
    if (to - from >= kLongValueHeaderSize) nameLongValue(origin, row + from, to - from);
  }
}

// A memo or OLE value held outside its row names the row of its first piece.
void Check::nameLongValue(std::uint32_t origin, const unsigned char* value, std::size_t size) {
  const std::uint32_t how = le32(value) & kLongValueHow;
  if ((how != kLongValueOneRow && how != kLongValueChain) || size != kLongValueHeaderSize) return;
  if ((le32(value) & ~kLongValueHow) == 0) return;
  const std::uint32_t pointer = le32(value + 4);
  name(origin, pointer >> 8, kWantLongValue);
  awaitPiece({pointer, origin, how == kLongValueChain ? kChained : kOnePiece});
}

// A row on the page in hand, or on one the pass has yet to reach, is read
// when it gets there; one on a page it has left, after the pass. Either
// only while the rows waiting are few enough to keep.
void Check::awaitPiece(const Piece& piece) {
  const std::uint32_t page = piece.pointer >> 8;
  if (page == 0 || page >= maxPages_) return;
  if (!revisiting_ && page < at_) return readLater(piece);
  if (pieces_.size() >= kPiecesMost) return;
  pieces_.push_back(piece);
  std::push_heap(pieces_.begin(), pieces_.end(), std::greater<>());
}

void Check::readLater(const Piece& piece) {
  if (behind_.size() < kPiecesMost) behind_.push_back(piece);
}

// The rows of this page that other rows named: each must be there. A chain
// of long-value pieces goes on at the row its piece names; a moved row's
// columns are read as its table's.
void Check::followPieces(std::uint32_t number, const unsigned char* page) {
  const Format& f = *format_;
  const std::optional<std::size_t> rows = rowCount(f, page);
  while (!pieces_.empty() && pieces_.front().pointer >> 8 <= number) {
    std::pop_heap(pieces_.begin(), pieces_.end(), std::greater<>());
    const Piece piece = pieces_.back();
    pieces_.pop_back();
    // Not a page of the kind named: the naming fails on its kind, at the end.
    const bool rowsOfTable = piece.what == kMovedRow || piece.what == kRowsOfPage;
    const std::uint32_t wanted = rowsOfTable ? owner(piece.origin) : kLongValueOwner;
    if (piece.pointer >> 8 != number || !rows || le32(page + kOwnerAt) != wanted ||
        page[0] != kDataPage) {
      continue;
    }
    if (piece.what == kRowsOfPage) {
      const auto layout = longValues_.find(wanted);
      if (layout != longValues_.end()) readLongValues(number, page, layout->second);
      continue;
    }
    const std::size_t n = piece.pointer & 0xFF;
    std::optional<Row> found;
    if (n < *rows) {
      eachRow(f, page, n + 1,
              [&](const Row& r) { return r.number == n ? (found = r, false) : true; });
    }
    if (!found || found->start >= f.pageSize) {
      lostPieces_.push_back({piece.origin, piece.pointer, piece.what, kHoldsNoRow});
      continue;
    }
    // A row's deleted flag says nothing here: a moved row is marked deleted
    // where it lies, so that a reader of the page's rows passes it by, and a
    // sound database may keep a row in use naming a long value whose piece is
    // so marked. A reader follows the offset either way.
    if (piece.what == kMovedRow) {
      readMovedRow(piece, page, found->start, found->end);
      continue;
    }
    if (piece.what != kChained || found->start >= found->end || found->end - found->start < 4) {
      continue;
    }
    const std::uint32_t next = le32(page + found->start);
    if (next == 0) continue;  // the last piece
    name(piece.origin, next >> 8, kWantLongValue);
    awaitPiece({next, piece.origin, kChained});
  }
}

// The row that a row of a table moved to holds that row's columns, long
// values among them; one that is all zero was lost. Its long values are
// named from the page it lies on, where their pointers are.
void Check::readMovedRow(const Piece& piece, const unsigned char* page, std::size_t start,
                         std::size_t end) {
  if (start >= end) return;  // out of order: not understood here
  if (allZero(page + start, end - start)) {
    lostPieces_.push_back({piece.origin, piece.pointer, piece.what, kBlankRow});
    return;
  }
  const auto layout = longValues_.find(owner(piece.origin));
  if (layout != longValues_.end() && !layout->second.empty()) {
    nameLongValues(piece.pointer >> 8, page + start, end - start, layout->second);
  } else if (layout == longValues_.end() && !revisiting_) {
    readLater(piece);  // its table's layout may come later
  }
}

// An index page's entries, each whole only with the prefix it shares with
// the page's first entry: its last bytes are a row pointer, and on a node
// the child page after it.
void Check::readEntries(std::uint32_t number, const unsigned char* page) {
  const Format& f = *format_;
  const std::size_t free = le16(page + kFreeSpaceAt);
  if (free > f.pageSize - f.entriesAt) {
    return malformed_.push_back(
               {number, kPointerOutside, "counts more free space than the page holds"}),
           void();
  }
  const std::size_t end = f.pageSize - free;
  for (std::size_t n = 0; n < 3; ++n) {
    const std::uint32_t sibling = le32(page + f.siblingsAt + 4 * n);
    if (sibling != 0) name(number, sibling, kWantIndex);
  }
  const bool node = page[0] == kIndexNodePage;
  const std::size_t tail = node ? 8 : 4;  // row pointer, and a node's child page
  const std::size_t shared = le16(page + f.sharedPrefixAt);
  const unsigned char* first = page + f.entriesAt;
  unsigned char whole[8];
  std::size_t start = f.entriesAt, firstSize = 0;
  for (std::size_t boundary = f.entriesAt + 1; boundary <= end; ++boundary) {
    const std::size_t bit = boundary - f.entriesAt;
    if (((page[f.entryMaskAt + bit / 8] >> (bit % 8)) & 1) == 0) continue;
    const std::size_t stored = boundary - start;
    const std::size_t prefix = start == f.entriesAt ? 0 : shared;
    if (start == f.entriesAt) firstSize = stored;
    // An entry shorter than its row pointer, even with its prefix, or a
    // prefix longer than the first entry, is not understood: the rest of
    // the page is not read.
    if (prefix + stored < tail || shared > firstSize) return;
    for (std::size_t b = 0; b < tail; ++b) {
      const std::size_t from = prefix + stored - tail + b;  // in the whole entry
      whole[b] = from < prefix ? first[from] : page[start + from - prefix];
    }
    const std::uint32_t rows = be24(whole);
    name(number, rows, kWantData);
    if (rows < maxPages_) {
      // The first index page that names a row there: a witness that the page
      // holds rows of its table, should the table's map lose it.
      Facts& held = facts(rows);
      if (witness(rows) == 0 && rows != number) {
        held.bytes[6] = static_cast<unsigned char>(number);
        held.bytes[7] = static_cast<unsigned char>(number >> 8);
        held.bytes[8] = static_cast<unsigned char>(number >> 16);
      }
    }
    if (node) name(number, be32(whole + 4), kWantIndex);
    start = boundary;
  }
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
