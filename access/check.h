// The structural check of an Access database file (Jet 3, Jet 4 or ACE),
// fed the file's bytes once, in order, in pieces of any size, and then the
// few pages it asks to see again.
//
// Its alarm must mean damage. A verdict needs evidence that something was
// lost, of one of the four kinds of `Evidence` below, and every verdict is
// made by `damage`, which names its kind. Anything else that the check does
// not understand, a shape of the format it has not met, is no evidence: the
// check stops following that structure there and says nothing of it. The
// absence of a name is never evidence either: a page that no map counts is
// a leak, whatever its bytes say.
//
// A page is required only where something in use names it, and it must then
// be what the name says: the catalog names each table's definition, a
// definition its usage maps and index roots, a usage map the pages it
// counts, an index page its entries' rows and its child and sibling pages,
// a row its overflow row and the pieces of its long values. A page that page
// 1's map counts in use but that nothing names has lost nothing (it is a
// leak): it need only be a page of some kind, or blank. A page that a
// table's map does not count is lost to the table only where an index in
// use still names rows on it: the second witness a torn map leaves.
//
// The pass keeps nine bytes a page (its kind, its owner, the first later page
// that named it, the first index page that named a row on it) and the pages
// that describe the database: table definitions, the pages that hold usage
// maps, the catalog's data pages. The walk from the catalog happens at the
// end, over what the pass kept. Of the pages of one table that name a later
// page as the same thing, only the first is kept: when that one is not in
// use, the others' naming goes unchecked.
//
// Rows name pieces of long values, and the rows they moved to, on any page:
// those on pages the pass has yet to reach wait for it; those behind it are
// read again after the pass (`revisit`, `feedAgain`), a bounded number of
// pages, never the whole file twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "access/definition.h"
#include "access/format.h"

namespace jet {

class Check {
 public:
  Check();
  // Takes the next bytes of the file. Returns false once the verdict is known
  // to be "not sound" (the caller may stop reading), true to ask for more.
  bool feed(const unsigned char* data, std::size_t size);
  // After the last feed: empty when sound, else one line of plain English
  // saying why, naming the page and what named it.
  std::string finish();
  // After the last feed and before finish: the next page to read again, or
  // 0 when there is none (the pass's verdict is in, or nothing lies behind
  // it). Each page named is handed back, as the file holds it, to feedAgain.
  std::uint32_t revisit();
  void feedAgain(const unsigned char* raw);
  // For a file held whole in memory: revisits from its bytes.
  void revisitFrom(const unsigned char* file, std::size_t size);
  // The bytes fed so far, and the format's page size (0 before page 0).
  std::uint64_t bytes() const { return size_; }
  std::uint32_t pageSize() const { return format_ ? format_->pageSize : 0; }
  // After finish, for tools that damage a file where it counts: whether page
  // 1's map counts the page in use, and whether pages past page 0 were read.
  bool countedInUse(std::uint32_t page) const { return page < inUse_.size() && inUse_[page]; }
  // Whether the walk reached the page from the catalog: a page of a table's
  // maps, or a long value of one of its rows.
  bool reached(std::uint32_t page) const { return (flags(page) & (kListed | kFollowed)) != 0; }
  bool readable() const { return !opaque_; }

  // What a verdict of damage rests on: the only four.
  enum Evidence : std::uint8_t {
    kNamedPageLost,    // a page or row that something in use names is missing, blank or
                       // of another kind than named; or a page of a table's rows that an
                       // index in use names but the table's map, whose range takes it
                       // in, no longer counts
    kNoPageInUse,      // a page that page 1's map counts in use is no page of any kind
    kPointerOutside,   // bytes a reader must follow point outside their page or the file
    kNotAnAccessFile,  // the header is not an Access header, or the length is wrong
  };

  // What a page is, as the pass saw it.
  enum Kind : std::uint8_t {
    kUnseen = 0,  // past the end
    kBlank,
    kData,
    kTable,
    kNode,
    kLeaf,
    kUsageMap,
    kUnknownKind,  // types 8 and 9 (real files hold them), and others of their form: not read
    kOther,        // anything else: stale bytes of a free page, or damage
  };
  // What a page requires of a page it names.
  enum Want : std::uint8_t {
    kWantData = 1,   // a data page of the same table
    kWantIndex,      // an index page of the same table
    kWantLongValue,  // a long-value page
  };

 private:
  struct Facts {
    // Kind and flags, owner's number, first later naming, first index page
    // naming a row here.
    unsigned char bytes[9];
  };
  static constexpr std::uint32_t kFactsBlock = 1 << 12;  // pages a block of facts
  struct Reference {
    std::uint32_t from, to;
    std::uint8_t want;
  };

  // Every verdict of damage is made here.
  static std::string damage(Evidence evidence, std::string why);
  bool fail(Evidence evidence, std::string why);
  bool readHeader();
  void checkPage(const unsigned char* raw);
  void readRows(std::uint32_t number, const unsigned char* page, std::uint32_t owner);
  void nameLongValues(std::uint32_t origin, const unsigned char* row, std::size_t size,
                      const std::vector<std::uint16_t>& columns);
  void nameLongValue(std::uint32_t origin, const unsigned char* value, std::size_t size);
  void followPieces(std::uint32_t number, const unsigned char* page);
  struct Piece;
  void awaitPiece(const Piece& piece);
  void readLater(const Piece& piece);
  void readLongValues(std::uint32_t number, const unsigned char* page,
                      const std::vector<std::uint16_t>& columns);
  void readMovedRow(const Piece& piece, const unsigned char* page, std::size_t start,
                    std::size_t end);
  const unsigned char* decode(std::uint32_t number, const unsigned char* raw);
  void readEntries(std::uint32_t number, const unsigned char* page);
  void name(std::uint32_t from, std::uint32_t to, std::uint8_t want);
  void learnLayout(std::uint32_t number);

  // The per-page facts, in blocks, so that growing never copies them. The
  // walk asks them of every page: they are defined below, inline.
  static constexpr std::uint8_t kKindMask = 0x0F;  // the rest of the byte is flags:
  static constexpr std::uint8_t kLiveRows = 0x10;  // a data page holding a row not deleted
  static constexpr std::uint8_t kListed = 0x20;  // named by its table's maps, or a named map holder
  static constexpr std::uint8_t kFollowed = 0x40;  // a long value of a row in use lies here
  static constexpr std::uint8_t kCovered = 0x80;   // inside the range of its table's owned map
  std::uint32_t witness(std::uint32_t page) const;
  Facts& facts(std::uint32_t page);
  Facts& newFacts(std::uint32_t page);
  const Facts* known(std::uint32_t page) const;
  std::uint8_t kind(std::uint32_t page) const;
  std::uint8_t flags(std::uint32_t page) const;
  void setFlag(std::uint32_t page, std::uint8_t flag);
  std::uint32_t owner(std::uint32_t page) const;
  std::uint32_t claim(std::uint32_t page) const;
  std::string meets(const Reference& r) const;
  bool live(std::uint32_t page) const;

  // The walk at the end (walk.cpp).
  std::string walk();
  std::string readMap(std::uint32_t pointer, const std::string& whose, std::uint8_t role,
                      std::uint32_t table, bool named);
  std::string usageMap(const std::vector<unsigned char>& row, const std::string& whose,
                       std::uint8_t role, std::uint32_t table, bool named);
  std::string countPage(std::uint32_t page, const std::string& whose, std::uint8_t role,
                        std::uint32_t table);
  std::string joinDefinition(std::uint32_t head, std::vector<unsigned char>& bytes,
                             std::uint32_t* missing) const;
  std::string namedDefinition(std::uint32_t t, std::vector<unsigned char>& bytes,
                              Definition& d) const;
  std::string settle();
  void giveUp();
  bool unnamedTable(std::uint32_t page, std::vector<unsigned char>& bytes) const;
  const std::vector<unsigned char>* row(std::uint32_t pointer, std::vector<unsigned char>& into,
                                        std::string& why) const;

  const Format* format_ = nullptr;
  std::string reason_;
  std::uint64_t size_ = 0;      // bytes fed so far
  std::uint32_t maxPages_ = 0;  // the most pages a file of this format can hold
  std::uint32_t page_ = 0;      // the number of the next whole page
  std::uint32_t pages_ = 0;     // at the end: how many the file has
  // Only page 0 and the length are checked: a password-encrypted ACE file, a
  // format version not known here, a file past what the check keeps.
  bool opaque_ = false;
  std::uint32_t key_ = 0;             // a Jet file's database key; non-zero when pages are encoded
  std::vector<unsigned char> carry_;  // a page split across feeds
  std::size_t carried_ = 0;
  std::vector<unsigned char> decoded_;

  std::vector<std::unique_ptr<Facts[]>> blocks_;
  std::vector<std::uint32_t> ownerValues_{0};  // owners by their number in Facts
  std::unordered_map<std::uint32_t, std::uint16_t> ownerNumbers_;
  std::vector<Reference> failed_;   // references that failed when made
  std::vector<Reference> pending_;  // later pages named differently by a second page
  struct Malformed {
    std::uint32_t page;
    Evidence evidence;
    const char* what;
  };
  std::vector<Malformed> malformed_;  // pages whose own bytes show a loss
  // The rows that rows named on other pages: the pieces of long values, and
  // the rows that rows too long for their page moved to. Each with the page
  // of the row in use that named it, whose being in use decides.
  enum PieceKind : std::uint8_t {
    kOnePiece,    // a long value held in one row
    kChained,     // a piece of a long value that begins with the pointer to the next
    kMovedRow,    // a row's columns, moved to another page's row
    kRowsOfPage,  // a page's rows, read before their table's layout was known
  };
  struct Piece {
    std::uint32_t pointer, origin;
    PieceKind what;
    bool operator>(const Piece& other) const { return pointer > other.pointer; }
  };
  std::vector<Piece> pieces_;  // a heap, nearest first: those ahead, then those read again
  std::vector<Piece> behind_;  // named on a page the pass had left
  bool revisiting_ = false;
  std::uint32_t revisits_ = 0;
  std::uint32_t at_ = 0;  // the page whose bytes are in hand
  enum Found : std::uint8_t { kHoldsNoRow, kBlankRow };
  struct LostPiece {
    std::uint32_t origin, pointer;
    PieceKind what;
    Found found;  // what the page holds instead of the row
  };
  std::vector<LostPiece> lostPieces_;  // rows named that the page does not hold
  // The pages that describe the database, decoded.
  std::map<std::uint32_t, std::vector<unsigned char>> kept_;
  // Each table's variable-length columns that may point to long values,
  // known once its whole definition has been seen; and the definitions that
  // wait for a later page of theirs, by that page.
  std::map<std::uint32_t, std::vector<std::uint16_t>> longValues_;
  std::multimap<std::uint32_t, std::uint32_t> waiting_;
  // At the end: page 1's map, a bit for each page it counts in use.
  std::vector<bool> inUse_;
};

inline const Check::Facts* Check::known(std::uint32_t page) const {
  const std::size_t b = page / kFactsBlock;
  if (b >= blocks_.size() || !blocks_[b]) return nullptr;
  return &blocks_[b][page % kFactsBlock];
}

inline Check::Facts& Check::facts(std::uint32_t page) {
  const std::size_t b = page / kFactsBlock;
  if (b < blocks_.size() && blocks_[b]) return blocks_[b][page % kFactsBlock];
  return newFacts(page);
}

inline std::uint8_t Check::kind(std::uint32_t page) const {
  const Facts* f = known(page);
  if (!f || (page >= pages_ && page >= page_)) return kUnseen;
  return f->bytes[0] & kKindMask;
}

inline std::uint8_t Check::flags(std::uint32_t page) const {
  const Facts* f = known(page);
  return f ? f->bytes[0] & ~kKindMask : 0;
}

inline void Check::setFlag(std::uint32_t page, std::uint8_t flag) { facts(page).bytes[0] |= flag; }

inline std::uint32_t Check::owner(std::uint32_t page) const {
  const Facts* f = known(page);
  if (!f) return 0;
  const unsigned char* b = f->bytes;
  return ownerValues_[b[1] | b[2] << 8];  // every number given has its value
}

inline std::uint32_t Check::claim(std::uint32_t page) const {
  const Facts* f = known(page);
  if (!f) return 0;
  const unsigned char* b = f->bytes;
  return std::uint32_t{b[3]} | std::uint32_t{b[4]} << 8 | std::uint32_t{b[5]} << 16;
}

inline std::uint32_t Check::witness(std::uint32_t page) const {
  const Facts* f = known(page);
  if (!f) return 0;
  const unsigned char* b = f->bytes;
  return std::uint32_t{b[6]} | std::uint32_t{b[7]} << 8 | std::uint32_t{b[8]} << 16;
}

}  // namespace jet
