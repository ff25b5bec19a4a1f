// The walk at the end of the pass: from page 1's map of free pages and the
// catalog to every table's definition, usage maps and indexes, and then the
// references each page in use made.
#include <algorithm>
#include <set>

#include "access/bytes.h"
#include "access/check.h"
#include "access/definition.h"
#include "access/rows.h"

namespace jet {
namespace {

enum Role : std::uint8_t { kFreePages, kOwnedPages, kFreeSpace, kIndexPages };

const char* kindName(std::uint8_t kind) {
  switch (kind) {
    case Check::kUnseen:
      return "past the end";
    case Check::kBlank:
      return "blank";
    case Check::kData:
      return "a data page";
    case Check::kTable:
      return "a table definition";
    case Check::kNode:
    case Check::kLeaf:
      return "an index page";
    case Check::kUsageMap:
      return "a usage map page";
    case Check::kUnknownKind:
      return "a page of a kind not read here";
    default:
      return "no database page";
  }
}

std::string table(std::uint32_t page) { return "table definition " + std::to_string(page); }
std::string at(std::uint32_t page) { return "page " + std::to_string(page); }

}  // namespace

// A page in use: one that a table's maps name. A page that only page 1's
// map counts in use, and that no table reaches, is a leak: what it names
// is not followed.
bool Check::live(std::uint32_t page) const {
  if (page >= pages_) return false;
  return (flags(page) & kListed) != 0;
}

std::string Check::meets(const Reference& r) const {
  // Most references hold: they are judged before any text is made. A page of
  // a kind not read here is not understood, wherever it is named from.
  const std::uint8_t k = r.to < maxPages_ ? kind(r.to) : std::uint8_t{kUnseen};
  if (k == kUnknownKind) return {};
  const bool kindOk = r.want == kWantIndex ? (k == kNode || k == kLeaf) : k == kData;
  const std::uint32_t wanted = r.want == kWantLongValue ? kLongValueOwner : owner(r.from);
  if (kindOk && owner(r.to) == wanted) return {};
  // A sound database may keep, in a column that nothing reads, a long value
  // whose page has since gone to a table's rows: a row is there all the same.
  if (kindOk && r.want == kWantLongValue) return {};
  const char* as = r.want == kWantData    ? " as a row of its table"
                   : r.want == kWantIndex ? " as an index page of its table"
                                          : " as a long value";
  std::string by = kindName(kind(r.from));
  by = ", but " + by.substr(by.find(' ') + 1) + " " + std::to_string(r.from) + " names it" + as;
  if (r.to >= maxPages_)
    return damage(kPointerOutside, at(r.to) + " lies beyond any Access file" + by);
  if (k == kUnseen) {
    return damage(kNamedPageLost, at(r.to) + " is past the end (the file has " +
                                      std::to_string(pages_) + " pages)" + by);
  }
  if (!kindOk) return damage(kNamedPageLost, at(r.to) + " is " + kindName(k) + by);
  const std::uint32_t o = owner(r.to);
  return damage(kNamedPageLost,
                at(r.to) + " belongs to " +
                    (o == kLongValueOwner ? std::string("the long values") : table(o)) + by);
}

// Joins a definition's pages; on a page that is not (or not yet) a kept
// definition page, says so, and gives its number in `missing`. A chain
// longer than any definition takes, a loop most likely, is not understood:
// it joins to nothing.
std::string Check::joinDefinition(std::uint32_t head, std::vector<unsigned char>& bytes,
                                  std::uint32_t* missing) const {
  bytes.clear();
  std::uint32_t page = head;
  for (std::size_t pages = 0; page != 0; ++pages) {
    const auto kept = kept_.find(page);
    if (pages >= kDefinitionPagesMost) return bytes.clear(), std::string();
    if (kind(page) == kUnknownKind) return bytes.clear(), std::string();
    if (kept == kept_.end() || kept->second[0] != kTablePage) {
      if (missing) *missing = page;
      return damage(kNamedPageLost, at(page) + ", which " + table(head) + " continues on, is " +
                                        kindName(kind(page)));
    }
    const std::vector<unsigned char>& p = kept->second;
    bytes.insert(bytes.end(), p.begin() + (pages == 0 ? 0 : kTableContinuesAt), p.end());
    page = le32(p.data() + kNextTablePageAt);
  }
  return {};
}

// A definition page that nothing names is a table of its own (hidden tables
// own pages too) only where it begins a definition that reads whole; a
// leftover tail of one is no table, and no damage.
bool Check::unnamedTable(std::uint32_t page, std::vector<unsigned char>& bytes) const {
  if (!joinDefinition(page, bytes, nullptr).empty()) return false;
  const Definition d = readDefinition(*format_, bytes);
  return d.readsWhole() && (d.tableType == kUserTable || d.tableType == kSystemTable) &&
         !d.columns.empty();
}

// The bytes of the row at `pointer` (page << 8 | row), from a kept page; or
// nothing, and why the row is lost, or no reason where the row lies out of
// the order the check knows.
const std::vector<unsigned char>* Check::row(std::uint32_t pointer,
                                             std::vector<unsigned char>& into,
                                             std::string& why) const {
  const std::uint32_t page = pointer >> 8, number = pointer & 0xFF;
  const auto kept = kept_.find(page);
  if (kept == kept_.end() || kind(page) != kData) {
    why = at(page) + " is " + kindName(kind(page));
    return nullptr;
  }
  const unsigned char* p = kept->second.data();
  const std::optional<std::size_t> rows = rowCount(*format_, p);
  if (!rows || number >= *rows) {
    why = at(page) + " holds no row " + std::to_string(number);
    return nullptr;
  }
  std::optional<Row> found;
  eachRow(*format_, p, number + 1, [&](const Row& r) {
    if (r.number == number) found = r;
    return true;
  });
  if (found->deleted()) {
    why = at(page) + "'s row " + std::to_string(number) + " is deleted";
    return nullptr;
  }
  if (found->start >= found->end) return nullptr;  // out of order: not understood
  into.assign(p + found->start, p + found->end);
  return &into;
}

// One page that a usage map counts: what it must then be.
std::string Check::countPage(std::uint32_t page, const std::string& whose, std::uint8_t role,
                             std::uint32_t owningTable) {
  if (page >= pages_) {
    return damage(kNamedPageLost, whose + " names " + at(page) + ", but the file has " +
                                      std::to_string(pages_) + " pages");
  }
  const std::uint8_t k = kind(page);
  const bool index = role == kIndexPages;
  if (k == kUnknownKind) return {};
  if (index ? (k != kNode && k != kLeaf) : k != kData) {
    return damage(kNamedPageLost, at(page) + " is " + kindName(k) + ", but " + whose + " names it");
  }
  // A table's long values may lie on pages its map counts as its own.
  if (owner(page) != owningTable && !(role != kIndexPages && owner(page) == kLongValueOwner)) {
    return damage(kNamedPageLost,
                  at(page) + " belongs to " + table(owner(page)) + ", but " + whose + " names it");
  }
  if (role != kFreeSpace) setFlag(page, kListed);
  return {};
}

// A usage map: a first page and its bits, or a list of usage-map pages.
// A map of another type, or too short to hold its start, is not understood.
std::string Check::usageMap(const std::vector<unsigned char>& r, const std::string& whose,
                            std::uint8_t role, std::uint32_t owningTable, bool named) {
  const std::uint32_t pageSize = format_->pageSize;
  // Each mapped page with its bit: set for a free page in page 1's map, for a
  // counted page in a table's. Page 1's map may count pages past the end in
  // use: nothing is lost there.
  std::string damage;
  const auto visit = [&](std::uint32_t page, bool set) {
    if (!damage.empty()) return;
    if (role == kFreePages) {
      if (page < pages_ && !set) inUse_[page] = true;
      return;
    }
    // A data page of the table in the range of its map of owned pages:
    // should the map not count it, an index that names its rows says the
    // map lost it.
    if (named && role == kOwnedPages && page < pages_ && kind(page) == kData &&
        owner(page) == owningTable) {
      setFlag(page, kCovered);
    }
    if (set) damage = countPage(page, whose, role, owningTable);
  };
  if (r.empty()) return {};
  if (r[0] == kInlineMap) {
    if (r.size() < 5) return {};
    const std::uint64_t first = le32(r.data() + 1);
    for (std::size_t bit = 0; bit < (r.size() - 5) * 8 && damage.empty(); ++bit) {
      const std::uint64_t page = first + bit;
      if (page >= maxPages_ || (role == kFreePages && page >= pages_)) break;
      visit(static_cast<std::uint32_t>(page), (r[5 + bit / 8] >> (bit % 8)) & 1);
    }
    return damage;
  }
  if (r[0] != kReferenceMap) return {};
  const std::uint64_t span = std::uint64_t{pageSize - kUsageMapBitsAt} * 8;
  for (std::size_t j = 0; 1 + 4 * (j + 1) <= r.size() && j * span < maxPages_; ++j) {
    const std::uint32_t mapPage = le32(r.data() + 1 + 4 * j);
    if (mapPage == 0) continue;  // a range without a page says nothing either way
    const auto kept = kept_.find(mapPage);
    if (mapPage < pages_ && kind(mapPage) == kUnknownKind) return {};
    if (mapPage >= pages_ || kept == kept_.end() || kind(mapPage) != kUsageMap) {
      return Check::damage(kNamedPageLost, at(mapPage) + " is " + kindName(kind(mapPage)) +
                                               ", but " + whose + " names it as a usage map page");
    }
    setFlag(mapPage, kListed);
    const unsigned char* bits = kept->second.data() + kUsageMapBitsAt;
    for (std::uint64_t bit = 0; bit < span && damage.empty(); ++bit) {
      const std::uint64_t page = j * span + bit;
      if (page >= maxPages_ || (role == kFreePages && page >= pages_)) break;
      visit(static_cast<std::uint32_t>(page), (bits[bit / 8] >> (bit % 8)) & 1);
    }
    if (!damage.empty()) return damage;
  }
  return damage;
}

// A map named by a table's definition. An unnamed table's maps are read
// only to learn which pages they list: what is wrong with them is no
// evidence, since the table may be a stale one that nothing uses.
std::string Check::readMap(std::uint32_t pointer, const std::string& whose, std::uint8_t role,
                           std::uint32_t owningTable, bool named) {
  if (pointer == 0) return {};
  std::vector<unsigned char> bytes;
  std::string why;
  if (!row(pointer, bytes, why)) {
    return why.empty() || !named ? std::string()
                                 : damage(kNamedPageLost, whose + " is held nowhere: " + why);
  }
  setFlag(pointer >> 8, kListed);
  std::string damage = usageMap(bytes, whose, role, owningTable, named);
  return named ? damage : std::string();
}

// A definition that the catalog or the format names: what runs outside it
// is damage; a shape not understood leaves the table unfollowed.
std::string Check::namedDefinition(std::uint32_t t, std::vector<unsigned char>& bytes,
                                   Definition& d) const {
  std::string damage = joinDefinition(t, bytes, nullptr);
  if (!damage.empty()) return damage;
  if (bytes.empty()) return d.notUnderstood = "runs over more pages than a definition takes", "";
  d = readDefinition(*format_, bytes);
  if (!d.outside.empty()) return Check::damage(kPointerOutside, table(t) + " " + d.outside);
  return {};
}

std::string Check::walk() {
  const Format& f = *format_;
  inUse_.assign(pages_, false);
  std::string damage = readMap(1 << 8, "the map of free pages", kFreePages, 0, true);
  if (!damage.empty()) return damage;

  // The catalog: its rows of type 1 name the tables' definitions.
  std::vector<unsigned char> bytes;
  Definition catalog;
  if (!(damage = namedDefinition(2, bytes, catalog)).empty()) return damage;
  if (!catalog.notUnderstood.empty()) return settle();
  const Column *id = nullptr, *type = nullptr;
  const std::string idName = f.nameLengthSize == 1 ? "Id" : std::string("I\0d\0", 4);
  const std::string typeName = f.nameLengthSize == 1 ? "Type" : std::string("T\0y\0p\0e\0", 8);
  for (const Column& c : catalog.columns) {
    if ((c.flags & kColumnFixed) && c.name == idName) id = &c;
    if ((c.flags & kColumnFixed) && c.name == typeName) type = &c;
  }
  if (!id || !type) return settle();  // a catalog not understood here
  if (!(damage =
            readMap(catalog.ownedMap, "the catalog's map of owned pages", kOwnedPages, 2, true))
           .empty()) {
    return damage;
  }
  std::set<std::uint32_t> tables{2};
  for (const auto& kept : kept_) {
    // Named, not bound: C++17 lambdas cannot capture a structured binding.
    const std::uint32_t number = kept.first;
    const std::vector<unsigned char>& page = kept.second;
    if (owner(number) != 2 || kind(number) != kData || !(flags(number) & kListed)) continue;
    const std::optional<std::size_t> rows = rowCount(f, page.data());
    const std::size_t fixed = f.columnCountSize;
    const std::size_t needed = fixed + std::max(id->fixedOffset + 4, type->fixedOffset + 2);
    eachRow(f, page.data(), rows.value_or(0), [&](const Row& r) {
      if ((r.word & (kRowDeleted | kRowOverflow)) || r.start + needed > r.end) return true;
      const unsigned char* fields = page.data() + r.start + fixed;
      if (le16(fields + type->fixedOffset) != kTableEntryType) return true;
      const std::uint32_t definition = le32(fields + id->fixedOffset) & 0xFFFFFF;
      if (kind(definition) == kUnknownKind) return true;
      if (kind(definition) != kTable) {
        damage =
            Check::damage(kNamedPageLost, at(definition) + " is " + kindName(kind(definition)) +
                                              ", but the catalog names it as a table definition");
        return false;
      }
      tables.insert(definition);
      return true;
    });
    if (!damage.empty()) return damage;
  }
  // Tables the catalog does not list as such (linked and hidden ones) still
  // own pages: a definition page in use that no definition continues on
  // counts as one where it reads whole.
  std::set<std::uint32_t> continuations;
  for (const auto& [number, page] : kept_) {
    if (page[0] == kTablePage) continuations.insert(le32(page.data() + kNextTablePageAt));
  }
  std::set<std::uint32_t> unnamed;
  for (const auto& [number, page] : kept_) {
    if (page[0] == kTablePage && inUse_[number] && !tables.count(number) &&
        !continuations.count(number) && unnamedTable(number, bytes)) {
      unnamed.insert(number);
    }
  }
  tables.insert(unnamed.begin(), unnamed.end());

  // The catalog's definition and its map of owned pages were read above.
  for (std::uint32_t t : tables) {
    Definition read;
    if (t != 2 && !(damage = namedDefinition(t, bytes, read)).empty()) return damage;
    const Definition& d = t == 2 ? catalog : read;
    if (!d.readsWhole()) continue;
    const bool named = !unnamed.count(t);
    const std::string name = table(t) + "'s ";
    if ((t != 2 &&
         !(damage = readMap(d.ownedMap, name + "map of owned pages", kOwnedPages, t, named))
              .empty()) ||
        !(damage = readMap(d.freeSpaceMap, name + "map of free space", kFreeSpace, t, named))
             .empty()) {
      return damage;
    }
    for (const RealIndex& index : d.indexes) {
      if (!(damage = readMap(index.map, name + "index map", kIndexPages, t, named)).empty()) {
        return damage;
      }
      // A small table's index may be rooted in a data page.
      const std::uint8_t k = kind(index.root);
      if (!named || index.root == 0 || k == kData || k == kUnknownKind) continue;
      if ((k != kNode && k != kLeaf) || owner(index.root) != t) {
        return Check::damage(
            kNamedPageLost,
            at(index.root) + " is " +
                (k == kNode || k == kLeaf ? "an index page of " + table(owner(index.root))
                                          : kindName(k)) +
                ", but " + table(t) + " names it as an index root");
      }
    }
  }

  // Each page in use must be a page of some kind. A page of a table's rows
  // that the table's map does not count, inside the map's range, is a leak,
  // unless an index page in use names rows on it: then the map lost it, and
  // a reader of the table loses its rows.
  for (std::uint32_t p = 3; p < pages_; ++p) {
    if (!inUse_[p]) continue;
    const std::uint8_t k = kind(p), fl = flags(p);
    if (k == kOther) {
      return Check::damage(kNoPageInUse, at(p) +
                                             " is not a database page, but the map of free "
                                             "pages counts it in use");
    }
    const std::uint32_t w = witness(p);
    const bool lost = k == kData && (fl & kLiveRows) && (fl & kCovered) && !(fl & kListed);
    if (lost && w != 0 && live(w) && (kind(w) == kNode || kind(w) == kLeaf) &&
        owner(w) == owner(p)) {
      return Check::damage(kNamedPageLost, at(p) + " is a data page of " + table(owner(p)) +
                                               " that index page " + std::to_string(w) +
                                               " names rows on, but the table's map of owned "
                                               "pages does not count it");
    }
  }
  return settle();
}

// What the pages in use named, and where their bytes pointed.
std::string Check::settle() {
  std::string damage;
  for (const Malformed& m : malformed_) {
    if (live(m.page)) {
      return Check::damage(m.evidence, at(m.page) + ", " + kindName(kind(m.page)) + " of " +
                                           table(owner(m.page)) + " in use, " + m.what);
    }
  }
  for (const LostPiece& l : lostPieces_) {
    if (!live(l.origin)) continue;
    const std::string page = at(l.pointer >> 8), row = "row " + std::to_string(l.pointer & 0xFF);
    const std::string found =
        l.found == kHoldsNoRow ? page + " holds no " + row : page + "'s " + row + " is blank";
    return Check::damage(kNamedPageLost,
                         found + ", but data page " + std::to_string(l.origin) +
                             (l.what == kMovedRow ? " holds a row whose columns moved there"
                                                  : " holds a row whose long value lies there"));
  }
  const auto judge = [&](const Reference& r) {
    if (!live(r.from)) return true;
    damage = meets(r);
    if (damage.empty() && r.want == kWantLongValue) setFlag(r.to, kFollowed);
    return damage.empty();
  };
  for (const std::vector<Reference>* list : {&failed_, &pending_}) {
    for (const Reference& r : *list) {
      if (!judge(r)) return damage;
    }
  }
  const std::uint32_t named = static_cast<std::uint32_t>(blocks_.size()) * kFactsBlock;
  for (std::uint32_t p = 0; p < named; ++p) {
    if (!known(p)) continue;
    const std::uint32_t c = claim(p);
    if (c != 0 && !judge({c >> 4, p, static_cast<std::uint8_t>(c & 15)})) return damage;
  }
  return {};
}

std::string Check::finish() {
  if (!reason_.empty()) return reason_;
  if (size_ == 0) return damage(kNotAnAccessFile, "the file is empty");
  if (!format_) {
    return damage(kNotAnAccessFile,
                  "the file is " + std::to_string(size_) + " bytes, too short for a database");
  }
  if (size_ % format_->pageSize != 0) {
    return damage(kNotAnAccessFile, "the file is " + std::to_string(size_) +
                                        " bytes, not a whole number of " +
                                        std::to_string(format_->pageSize) + "-byte pages");
  }
  pages_ = static_cast<std::uint32_t>(size_ / format_->pageSize);
  if (pages_ < 3) {
    return damage(kNotAnAccessFile, "the file has " + std::to_string(pages_) +
                                        " pages, fewer than the 3 of any database");
  }
  if (opaque_) return {};
  return walk();
}

}  // namespace jet
