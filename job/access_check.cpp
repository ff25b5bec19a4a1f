// A structural check of an Access database file, fed its bytes in one
// sequential pass.
//
// What a sound file looks like, as far as this check reads it:
// - page 0 begins 00 01 00 00 and a signature, then the format version at
//   0x14 (0: Jet 3 with 2 KiB pages; 1 to 6: 4 KiB pages, ACE from 2 on);
// - the file is a whole number of pages, at least 3;
// - every page is blank (all zero) or begins with its type and 01;
// - page 1 is a data page whose first row maps the free pages; page 2 is the
//   table definition of the system catalog;
// - a data or index page names the table definition that owns it (a data
//   page holding usage maps names none, a long-value page "LVAL").
// Free pages may hold anything, so the map of free pages decides which pages
// the owner checks trust.
#include "job/access_check.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace job {
namespace {

constexpr std::size_t kVersionAt = 0x14;
constexpr std::size_t kProbe = 0x300;  // page 0's fixed part, read before its size is known
constexpr std::size_t kMaskedAt = 0x18;
constexpr std::size_t kKeyInMask = 0x3E - kMaskedAt;
constexpr std::size_t kEncryptionInfoAt = 0x299;  // an ACE file's password-encryption header
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;  // 2 GiB, Access's own limit
constexpr std::uint32_t kLongValueOwner = 0x4C41564C;            // "LVAL": a long-value page

// What a page is, and what a page before it requires of it.
enum Kind : std::uint8_t {
  kUnseen = 0,
  kBlank,
  kData,
  kTable,
  kIndex,
  kUsageMap,
  kTableLike,  // types 8 and 9: real files hold them, nearly always free
  kOther,      // a free page holding anything, or, looked back at, any other kind
};
constexpr std::uint8_t kMustExist = 0x08;    // named by some page: must not be blank
constexpr std::uint8_t kMustBeTable = 0x10;  // named by a page in use: must be a live table

const char* kindName(std::uint8_t kind) {
  switch (kind) {
    case kBlank:
      return "blank";
    case kData:
      return "a data page";
    case kTable:
      return "a table definition";
    case kIndex:
      return "an index page";
    case kUsageMap:
      return "a usage map page";
    case kTableLike:
      return "a page of type 8 or 9";
    default:
      return "no table definition";
  }
}

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

std::string hex2(unsigned value) {
  const char* digits = "0123456789abcdef";
  return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

std::string typeText(const unsigned char* page, std::uint8_t kind) {
  return kind == kBlank ? "blank" : "type " + hex2(page[0]);
}

bool allZero(const unsigned char* p, std::size_t size) {
  static const std::array<unsigned char, 4096> zeros{};
  return std::memcmp(p, zeros.data(), size) == 0;
}

// RC4, of which page 0's masked block and an encoded Jet file's pages need
// only the first bytes: the keystream is made as far as it is read.
class Rc4 {
 public:
  explicit Rc4(std::uint32_t key) {
    const unsigned char k[4] = {
        static_cast<unsigned char>(key), static_cast<unsigned char>(key >> 8),
        static_cast<unsigned char>(key >> 16), static_cast<unsigned char>(key >> 24)};
    for (int n = 0; n < 256; ++n) s_[n] = static_cast<unsigned char>(n);
    unsigned char j = 0;
    for (int n = 0; n < 256; ++n) {
      j = static_cast<unsigned char>(j + s_[n] + k[n & 3]);
      std::swap(s_[n], s_[j]);
    }
  }
  void apply(const unsigned char* in, unsigned char* out, std::size_t size) {
    for (std::size_t n = 0; n < size; ++n) {
      i_ = static_cast<unsigned char>(i_ + 1);
      j_ = static_cast<unsigned char>(j_ + s_[i_]);
      std::swap(s_[i_], s_[j_]);
      out[n] = in[n] ^ s_[static_cast<unsigned char>(s_[i_] + s_[j_])];
    }
  }

 private:
  unsigned char s_[256];
  unsigned char i_ = 0, j_ = 0;
};

}  // namespace

AccessCheck::AccessCheck() : carry_(kProbe) {}

bool AccessCheck::fail(std::string reason) {
  if (reason_.empty()) reason_ = std::move(reason);
  return false;
}

bool AccessCheck::feed(const unsigned char* data, std::size_t size) {
  size_ += size;
  while (size > 0 && reason_.empty()) {
    if (pageSize_ == 0 || carried_ > 0 || size < pageSize_) {
      // Page 0's fixed part, or a page split across feeds, is gathered first.
      const std::size_t want = pageSize_ == 0 ? kProbe : pageSize_;
      const std::size_t take = std::min(size, want - carried_);
      std::memcpy(carry_.data() + carried_, data, take);
      carried_ += take;
      data += take;
      size -= take;
      if (carried_ < want) break;
      if (pageSize_ == 0) {
        if (!readVersion()) break;
        continue;  // page 0 is complete only once pageSize_ bytes are in
      }
      carried_ = 0;
      checkPage(carry_.data());
    } else {
      checkPage(data);
      data += pageSize_;
      size -= pageSize_;
    }
  }
  return reason_.empty();
}

bool AccessCheck::readVersion() {
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
  jet3_ = version == 0;
  pageSize_ = jet3_ ? 2048 : 4096;
  maxPages_ = static_cast<std::uint32_t>(kMaxFileBytes / pageSize_);
  unsigned char masked[kKeyInMask + 4];
  Rc4(0x6B39DAC7).apply(p + kMaskedAt, masked, sizeof masked);
  key_ = le32(masked + kKeyInMask);
  // A password-encrypted ACE file carries a database key and an encryption
  // header; its other pages cannot be read without the password.
  encrypted_ = ace && (key_ != 0 || p[kEncryptionInfoAt] != 0 || p[kEncryptionInfoAt + 1] != 0);
  carry_.resize(pageSize_);
  return true;
}

AccessCheck::Use AccessCheck::use(std::uint64_t page) const {
  if (page < mapStart_ || page - mapStart_ >= freeMap_.size() * 8) return Use::kUnknown;
  const std::uint64_t bit = page - mapStart_;
  return (freeMap_[bit / 8] >> (bit % 8)) & 1 ? Use::kFree : Use::kInUse;
}

void AccessCheck::checkPage(const unsigned char* raw) {
  const std::uint32_t number = page_++;
  if (encrypted_) return;
  if (number == 0) return;
  // Only the first 8 bytes are read (type, 01, free space, owner), except on
  // page 1, whose map of free pages lies at its end, and on pages of type 0,
  // which must be blank throughout.
  unsigned char head[8];
  std::vector<unsigned char> whole;
  const unsigned char* page = raw;
  std::uint8_t kind = kOther;
  if (key_ != 0 && allZero(raw, pageSize_)) {
    kind = kBlank;  // an encoded file grows by raw zero pages
  } else {
    if (key_ != 0) {
      Rc4 rc4(key_ ^ number);
      if (number == 1) {
        whole.resize(pageSize_);
        rc4.apply(raw, whole.data(), pageSize_);
        page = whole.data();
      } else {
        rc4.apply(raw, head, sizeof head);
        if (head[0] == 0) {
          whole.resize(pageSize_);
          std::memcpy(whole.data(), head, sizeof head);
          rc4.apply(raw + sizeof head, whole.data() + sizeof head, pageSize_ - sizeof head);
          page = whole.data();
        } else {
          page = head;
        }
      }
    }
    if (page[0] == 0 && allZero(page, pageSize_)) {
      kind = kBlank;
    } else if (page[1] == 1) {
      switch (page[0]) {
        case 1:
          kind = kData;
          break;
        case 2:
          kind = kTable;
          break;
        case 3:
        case 4:
          kind = kIndex;
          break;
        case 5:
          kind = kUsageMap;
          break;
        case 8:
        case 9:
          kind = kTableLike;
          break;
        default:
          break;
      }
    }
  }
  remember(number, kind);
  const auto at = [number] { return "page " + std::to_string(number); };
  if (number == 1) {
    if (kind != kData)
      return void(fail(at() + " is not a data page (" + typeText(page, kind) + ")"));
    return readFreeMap(page);
  }
  if (number == 2 && kind != kTable) {
    return void(fail(at() + " is not a table definition (" + typeText(page, kind) + ")"));
  }
  const Use inUse = use(number);
  if (kind == kBlank && inUse == Use::kInUse) {
    return void(fail(at() + " is blank, but the map of free pages counts it in use"));
  }
  if (kind == kOther) {
    if (inUse == Use::kFree) return;  // a free page may hold anything
    return void(fail(at() + " is not a database page (it begins " + hex2(page[0]) + " " +
                     hex2(page[1]) + ")"));
  }
  std::uint8_t required = 0;
  if (!wanted_.empty() && wanted_.begin()->first == number) {
    required = wanted_.begin()->second;
    wanted_.erase(wanted_.begin());
  }
  checkNamedPage(number, kind, required);
  if (!reason_.empty() || inUse == Use::kFree) return;
  const std::uint32_t named = le32(page + 4);
  if (kind == kData && named != kLongValueOwner) {
    checkReference(named, inUse == Use::kInUse, "a data page");
  } else if (kind == kIndex) {
    checkReference(named, inUse == Use::kInUse, "an index page");
  }
}

// A page named by a page before it, now that its kind is known.
void AccessCheck::checkNamedPage(std::uint32_t number, std::uint8_t kind, std::uint8_t state) {
  if ((state & (kMustExist | kMustBeTable)) == 0) return;
  const std::string at = "page " + std::to_string(number);
  if (kind == kBlank) {
    fail(at + " is named as a table definition, but it is blank");
  } else if ((state & kMustBeTable) && kind != kTable && kind != kTableLike) {
    fail(at + " is named as a table definition, but it is " + kindName(kind));
  } else if ((state & kMustBeTable) && use(number) == Use::kFree) {
    fail(at + " is named as a table definition, but the map of free pages counts it free");
  }
}

// The current page, not free, names `named` as its table; 0 names none. A
// page the map counts in use needs a live table; one outside the map, which
// may be a free page's stale content, needs only an existing page.
void AccessCheck::checkReference(std::uint32_t named, bool inUse, const char* what) {
  const std::uint32_t number = page_ - 1;
  if (named == 0) return;
  if (named >= maxPages_) {
    fail("page " + std::to_string(number) + ", " + what + ", names page " + std::to_string(named) +
         ", beyond any Access file");
    return;
  }
  const std::uint8_t state = kMustExist | (inUse ? kMustBeTable : 0);
  if (named > number) {
    wanted_[named] |= state;
  } else {
    checkNamedPage(named, kindOf(named), state);
  }
}

void AccessCheck::remember(std::uint32_t number, std::uint8_t kind) {
  if (kind == kTable || kind == kTableLike) tables_.push_back(number);
  if (kind != kBlank) return;
  if (!blanks_.empty() && blanks_.back().second + 1 == number) {
    blanks_.back().second = number;
  } else {
    blanks_.emplace_back(number, number);
  }
}

std::uint8_t AccessCheck::kindOf(std::uint32_t page) const {
  if (std::binary_search(tables_.begin(), tables_.end(), page)) return kTable;
  const auto run = std::upper_bound(blanks_.begin(), blanks_.end(), std::make_pair(page, ~0u));
  return run != blanks_.begin() && std::prev(run)->second >= page ? kBlank : kOther;
}

void AccessCheck::readFreeMap(const unsigned char* page) {
  // The row count and the rows' offsets follow the page's header; row 0 runs
  // to the end of the page, and its low 13 bits give where it starts.
  const std::size_t counted = jet3_ ? 8 : 12;
  const std::size_t rows = page[counted] | page[counted + 1] << 8;
  const std::size_t start = (page[counted + 2] | page[counted + 3] << 8) & 0x1FFF;
  if (rows == 0 || start < counted + 4 || start + 5 > pageSize_) {
    fail("page 1 holds no map of free pages");
    return;
  }
  // A map held in the row itself: 00, the first page it maps, then one bit
  // per page, set where the page is free. Any other map is not read: pages
  // outside the map get only the checks that hold for free pages too.
  if (page[start] != 0) return;
  mapStart_ = le32(page + start + 1);
  freeMap_.assign(page + start + 5, page + pageSize_);
}

std::string AccessCheck::finish() {
  if (!reason_.empty()) return reason_;
  if (size_ == 0) return "the file is empty";
  if (pageSize_ == 0)
    return "the file is " + std::to_string(size_) + " bytes, too short for a database";
  if (size_ % pageSize_ != 0) {
    return "the file is " + std::to_string(size_) + " bytes, not a whole number of " +
           std::to_string(pageSize_) + "-byte pages";
  }
  const std::uint64_t pages = size_ / pageSize_;
  const std::string has = "the file has " + std::to_string(pages) + " pages";
  if (pages < 3) return has + ", fewer than the 3 of any database";
  if (encrypted_) return {};
  if (!wanted_.empty()) {
    return "page " + std::to_string(wanted_.begin()->first) +
           " is named as a table definition, but " + has;
  }
  // Pages past the end are free to the map; one it counts in use was cut off.
  const std::uint64_t mapped = mapStart_ + std::uint64_t{freeMap_.size()} * 8;
  for (std::uint64_t page = std::max<std::uint64_t>(pages, mapStart_); page < mapped; ++page) {
    if (use(page) == Use::kInUse) {
      return "the map of free pages counts page " + std::to_string(page) + " in use, but " + has;
    }
  }
  return {};
}

}  // namespace job
