// A structural check of an Access database file, fed its bytes in one
// sequential pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace job {

// Fed a file's bytes in order, in chunks of any size; tells at the end whether
// the file is a sound Access database (Jet 3, Jet 4 or ACE). It reads only the
// few bytes of each page the checks need, and keeps one page of carry-over,
// page 1's map of free pages, and no state per page: the pages of the table
// definitions, the runs of blank pages, and the later pages that earlier
// ones name, each as few as the database has tables.
class AccessCheck {
 public:
  AccessCheck();
  // Takes the next bytes of the file. Returns false once the verdict is known
  // to be "not sound" (the caller may stop reading), true to ask for more.
  bool feed(const unsigned char* data, std::size_t size);
  // After the last feed: empty when sound, else one line of plain English
  // saying why, naming the page and what was expected.
  std::string finish();

 private:
  enum class Use { kFree, kInUse, kUnknown };

  bool fail(std::string reason);
  bool readVersion();
  void checkPage(const unsigned char* page);
  void checkHeaderPage(const unsigned char* page);
  void readFreeMap(const unsigned char* page);
  void checkNamedPage(std::uint32_t page, std::uint8_t kind, std::uint8_t state);
  void checkReference(std::uint32_t owner, bool inUse, const char* what);
  Use use(std::uint64_t page) const;
  void remember(std::uint32_t page, std::uint8_t kind);
  std::uint8_t kindOf(std::uint32_t page) const;  // of a page already checked

  std::string reason_;
  std::uint64_t size_ = 0;      // bytes fed so far
  std::uint32_t pageSize_ = 0;  // 0 until page 0's version byte is read
  std::uint32_t maxPages_ = 0;  // the most pages a file of this format can hold
  std::uint32_t page_ = 0;      // the number of the next whole page
  bool jet3_ = false;
  bool encrypted_ = false;  // a password-encrypted ACE file: only page 0 is checked
  std::uint32_t key_ = 0;   // a Jet file's database key; non-zero when its pages are encoded
  std::vector<unsigned char> carry_;  // a page split across feeds
  std::size_t carried_ = 0;
  std::vector<std::uint32_t> tables_;  // live table definitions (and 8, 9), ascending
  std::vector<std::pair<std::uint32_t, std::uint32_t>> blanks_;  // first and last of each run
  std::map<std::uint32_t, std::uint8_t> wanted_;  // later pages named, and what they must be
  // Page 1's map of free pages: a bit set for each free page from mapStart_.
  std::vector<unsigned char> freeMap_;
  std::uint32_t mapStart_ = 0;
};

}  // namespace job
