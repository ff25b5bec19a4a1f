// The structural check of an Access file, over every sound fixture and over
// damage made from a few of them.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <random>

#include "access/check.h"
#include "job/sound_copy.h"
#include "tests/support/access_damage.h"
#include "tests/support/fake_services.h"

namespace {

using Bytes = std::string;
constexpr std::size_t kNone = ~std::size_t{0};

std::string verdict(const Bytes& file, std::size_t chunk) {
  jet::Check check;
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  for (std::size_t at = 0; at < file.size(); at += chunk) {
    if (!check.feed(bytes + at, std::min(chunk, file.size() - at))) break;
  }
  check.revisitFrom(bytes, file.size());
  return check.finish();
}

// Fills one page with bytes from a fixed seed, the same on every system.
void scramble(Bytes& file, std::size_t page, std::size_t pageSize) {
  std::mt19937 random(24);
  for (std::size_t at = 0; at < pageSize; ++at) {
    file[page * pageSize + at] = static_cast<char>(random());
  }
}

// The first page of the given type after page 2 that a user's table owns
// (not the catalog, a page of usage maps, owned by none, nor of long values).
std::size_t firstOfType(const Bytes& file, std::size_t pageSize, char type) {
  for (std::size_t page = 3; page < file.size() / pageSize; ++page) {
    const char* p = file.data() + page * pageSize;
    const std::string owner(p + 4, 4);
    const bool owned =
        owner != std::string(4, '\0') && owner != std::string("\2\0\0\0", 4) && owner != "LVAL";
    if (p[0] == type && p[1] == 1 && (type == 2 || owned)) return page;
  }
  ADD_FAILURE() << "no page of type " << int{type};
  return 0;
}

// The first long-value page that a row in use names, or kNone.
std::size_t firstLongValues(const Bytes& f, std::size_t ps) {
  jet::Check sound;
  const auto* bytes = reinterpret_cast<const unsigned char*>(f.data());
  sound.feed(bytes, f.size());
  sound.revisitFrom(bytes, f.size());
  sound.finish();
  for (std::size_t page = 3; page < f.size() / ps; ++page) {
    if (sound.reached(static_cast<std::uint32_t>(page)) && f.compare(page * ps + 4, 4, "LVAL") == 0)
      return page;
  }
  return kNone;
}

TEST(AccessCheck, PassesEverySoundFileInAnyChunks) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(MUTESSEL_ACCESS_FIXTURES)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".mdb") == std::string::npos && name.find(".accdb") == std::string::npos) {
      continue;
    }
    ++files;
    const Bytes file = testing_support::fixture(name);
    const std::size_t pageSize = testing_support::pageSizeOf(file);
    // Access grows files by zero pages, and the stand-in driver's repair adds one.
    const Bytes grown = file + Bytes(37 * pageSize, '\0');
    for (std::size_t chunk : {std::size_t{4095}, std::size_t{1} << 18}) {
      EXPECT_EQ(verdict(file, chunk), "") << name << " in chunks of " << chunk;
    }
    EXPECT_EQ(verdict(grown, 1), "") << name << ", grown, byte by byte";
  }
  EXPECT_EQ(files, 85);
  // Free pages may hold anything: empty2007's page 66 is free.
  Bytes stale = testing_support::fixture("empty2007.accdb");
  scramble(stale, 66, 4096);
  EXPECT_EQ(verdict(stale, 4096), "");
  // A leftover tail of a definition in a page counted in use (calcField's
  // page 108 is blank and counted): column entries from byte 8 on, which
  // begin no definition, and that nothing names, are no table.
  Bytes leftover = testing_support::fixture("calcFieldTestV2010.accdb");
  leftover.replace(108 * 4096, 8, "\x02\x01\0\0\0\0\0\0", 8);
  leftover.replace(108 * 4096 + 8, 2048, leftover, 2 * 4096 + 63, 2048);
  EXPECT_EQ(verdict(leftover, 4096), "");
}

TEST(AccessCheck, CatchesEachDamage) {
  struct Damage {
    const char* kind;
    // Damages the file (given its page size); returns the page that the
    // reason must name, 0 for damage to the whole file, or kNone where the
    // file has no page to damage so.
    std::function<std::size_t(Bytes&, std::size_t)> apply;
  };
  const auto zero = [](Bytes& f, std::size_t page, std::size_t from, std::size_t pageSize) {
    std::fill_n(f.begin() + page * pageSize + from, pageSize - from, '\0');
    return page;
  };
  const Damage damages[] = {
      {"nothing", [](Bytes& f, std::size_t) { return f.clear(), 0; }},
      {"random bytes",
       [](Bytes& f, std::size_t ps) {
         for (std::size_t p = 0; p < f.size() / ps; ++p) scramble(f, p, ps);
         return 0;
       }},
      {"cut inside a page", [](Bytes& f, std::size_t) { return f.resize(f.size() - 100), 0; }},
      {"cut at a page boundary",
       [](Bytes& f, std::size_t ps) { return f.resize(f.size() / ps * 2 / 3 * ps), 0; }},
      {"last quarter zeroed",
       [](Bytes& f, std::size_t) { return f = testing_support::withLastQuarterZeroed(f), 0; }},
      {"catalog zeroed", [&](Bytes& f, std::size_t ps) { return zero(f, 2, 0, ps); }},
      {"data page zeroed",
       [&](Bytes& f, std::size_t ps) { return zero(f, firstOfType(f, ps, 1), 0, ps); }},
      {"table definition zeroed",
       [&](Bytes& f, std::size_t ps) { return zero(f, firstOfType(f, ps, 2), 0, ps); }},
      {"index leaf zeroed",
       [&](Bytes& f, std::size_t ps) { return zero(f, firstOfType(f, ps, 4), 0, ps); }},
      {"data page torn",
       [&](Bytes& f, std::size_t ps) { return zero(f, firstOfType(f, ps, 1), ps / 2, ps); }},
      {"a data page's first row cut to its last byte, zero",
       [](Bytes& f, std::size_t ps) {
         const std::size_t page = firstOfType(f, ps, 1), at = page * ps + (ps == 2048 ? 10 : 14);
         f[at] = static_cast<char>((ps - 1) & 0xFF), f[at + 1] = static_cast<char>((ps - 1) >> 8);
         f[page * ps + ps - 1] = '\0';
         return page;
       }},
      {"random over a data page",
       [](Bytes& f, std::size_t ps) {
         const std::size_t page = firstOfType(f, ps, 1);
         return scramble(f, page, ps), page;
       }},
      {"random over the first long-value page that a row names",
       [](Bytes& f, std::size_t ps) {
         const std::size_t page = firstLongValues(f, ps);
         if (page != kNone) scramble(f, page, ps);
         return page;
       }},
      // The row a long value names, gone: only following its pieces, ahead
      // of the pass or behind it (empty2016's rows on pages 84 to 88 name
      // page 49), finds it.
      {"the first long-value page that a row names holds no rows",
       [](Bytes& f, std::size_t ps) {
         const std::size_t page = firstLongValues(f, ps);
         if (page != kNone) f.replace(page * ps + (ps == 2048 ? 8 : 12), 2, std::string(2, '\0'));
         return page;
       }},
  };
  for (const char* name :
       {"delTestV1997.mdb", "adox_jet4.mdb", "empty2007.accdb", "calcFieldTestV2010.accdb",
        "testRefGlobalV2000.mdb", "empty2016.accdb"}) {
    const Bytes sound = testing_support::fixture(name);
    const std::size_t pageSize = testing_support::pageSizeOf(sound);
    for (const Damage& d : damages) {
      Bytes file = sound;
      const std::size_t page = d.apply(file, pageSize);
      if (page == kNone) continue;  // no such page in this file
      const std::string reason = verdict(file, 4095);
      EXPECT_NE(reason, "") << d.kind << " on " << name;
      const std::string named = "page " + std::to_string(page);
      const std::size_t at = reason.find(named);
      EXPECT_TRUE(page == 0 || (at != std::string::npos && !std::isdigit(static_cast<unsigned char>(
                                                               reason[at + named.size()]))))
          << d.kind << " on " << name << ": " << reason;
      EXPECT_EQ(reason.find_first_of(".\n"), std::string::npos) << reason;
    }
  }
}

TEST(AccessCheck, SeesAPageLostToItsMapThroughTheIndexThatNamesItsRows) {
  // Bit 6 of byte 106435 counts page 30 in its table's map. Index page 113
  // names rows there only in entries that share part of their row pointer
  // with the page's first entry, so they are read whole only with it.
  Bytes file = testing_support::fixture("vb6-samples-OCX-Advanced-Control-sample.mdb");
  file[106435] = static_cast<char>(file[106435] & ~0x40);
  EXPECT_EQ(verdict(file, 4096),
            "page 30 is a data page of table definition 24 that index page 113 names rows on, "
            "but the table's map of owned pages does not count it");
}

TEST(AccessCheck, FollowsLongValuesOfMovedRowsBehindThePass) {
  // empty2016's system table of forms and code moved rows from page 48 to
  // pages 84 to 88, whose long values lie on page 49: read before them, and
  // seen again after the pass.
  const Bytes sound = testing_support::fixture("empty2016.accdb");
  Bytes file = sound;
  file.replace(49 * 4096, 4096, 4096, '\0');
  EXPECT_EQ(verdict(file, 4096), "page 49 is blank, but data page 84 names it as a long value");
  file = sound;
  file.replace(49 * 4096 + 12, 2, 2, '\0');
  EXPECT_EQ(verdict(file, 4096).substr(0, 20), "page 49 holds no row");
}

TEST(AccessCheck, AFileOfTableDefinitionsAloneCostsNotItsSize) {
  // More pages describing tables than any database holds: past its bound the
  // check keeps no more of them and follows nothing, so that the file costs
  // neither its size in memory nor a verdict the check cannot back.
  Bytes hostile = testing_support::fixture("delTestV1997.mdb").substr(0, 3 * 2048);
  hostile.resize(40000 * 2048, '\0');
  for (std::size_t page = 3; page < 40000; ++page) hostile.replace(page * 2048, 2, "\x02\x01");
  jet::Check check;
  check.feed(reinterpret_cast<const unsigned char*>(hostile.data()), hostile.size());
  EXPECT_EQ(check.finish(), "");
  EXPECT_FALSE(check.readable());
  // Blank pages past the most an Access file can hold.
  jet::Check huge;
  const Bytes start = testing_support::fixture("emptyJet4.mdb"), blank(1 << 20, '\0');
  huge.feed(reinterpret_cast<const unsigned char*>(start.data()), start.size());
  while (huge.bytes() <= jet::kMaxFileBytes &&
         huge.feed(reinterpret_cast<const unsigned char*>(blank.data()), blank.size())) {
  }
  EXPECT_EQ(huge.finish(), "the file is larger than the 2 GB an Access file can hold");
}

TEST(AccessCheck, ACopyNearTheFormatsCeilingSaysSo) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {1932735283, ""},  // a hair under nine tenths of 2^31
      {1932735284, "Database is 1.8 GB"},
      {(std::uint64_t{1} << 31) - 4096, "Database is 1.9 GB"},
  };
  for (const auto& [bytes, line] : cases) {
    const std::string said = job::nearTheCeiling(bytes);
    EXPECT_EQ(*line ? said.substr(0, std::string(line).size()) : said, line) << bytes;
  }
  EXPECT_EQ(job::nearTheCeiling(std::uint64_t{1} << 31),
            "Database is 2.0 GB of the 2 GB an Access file can hold: compact or split it");
}

}  // namespace
