// The structural check of an Access file, over the sound samples and damage
// made from them.
#include "access/check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes sample(const std::string& name) {
  std::ifstream in(std::string(MUTESSEL_ACCESS_FIXTURES) + "/" + name, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

std::string verdict(const Bytes& file, std::size_t chunk) {
  jet::Check check;
  for (std::size_t at = 0; at < file.size(); at += chunk) {
    if (!check.feed(file.data() + at, std::min(chunk, file.size() - at))) break;
  }
  return check.finish();
}

// Fills [from, to) with bytes from a fixed seed, the same on every system.
void scramble(Bytes& file, std::size_t from, std::size_t to) {
  std::mt19937 random(24);
  for (std::size_t at = from; at < to; ++at) file[at] = static_cast<unsigned char>(random());
}

struct Sample {
  const char* name;
  std::size_t pageSize;
  std::size_t pageInUse;  // a page in use in the middle; 0 where pages are encrypted
};
const Sample kSamples[] = {{"delTestV1997.mdb", 2048, 22},
                           {"adox_jet4.mdb", 4096, 8},
                           {"db-enc.mdb", 4096, 15},
                           {"empty2007.accdb", 4096, 48},
                           {"db2007-enc.accdb", 4096, 0}};

TEST(AccessCheck, PassesEverySoundFileInAnyChunks) {
  for (const Sample& s : kSamples) {
    const Bytes file = sample(s.name);
    Bytes grown = file, oneMore = file;
    grown.resize(file.size() + 37 * s.pageSize);  // Access grows files by zero pages
    oneMore.resize(file.size() + s.pageSize);     // the stand-in driver's repair
    for (const Bytes& sound : {file, grown, oneMore}) {
      for (std::size_t chunk : {std::size_t{1}, std::size_t{4095}, std::size_t{1} << 20}) {
        EXPECT_EQ(verdict(sound, chunk), "") << s.name << " in chunks of " << chunk;
      }
    }
  }
  // Free pages may hold anything: empty2007's page 66 is free.
  Bytes stale = sample("empty2007.accdb");
  scramble(stale, 66 * 4096, 67 * 4096);
  EXPECT_EQ(verdict(stale, 4096), "");
}

TEST(AccessCheck, CatchesEachDamage) {
  struct Damage {
    const char* kind;
    bool needsReadablePages;
    std::function<void(Bytes&, const Sample&)> apply;
    const char* reason;
  };
  const Damage damages[] = {
      {"nothing", false, [](Bytes& f, const Sample&) { f.clear(); }, "the file is empty"},
      {"all zeros", false, [](Bytes& f, const Sample&) { f.assign(f.size(), 0); }, "signature"},
      {"random bytes", false, [](Bytes& f, const Sample&) { scramble(f, 0, f.size()); },
       "page 0 does not begin"},
      {"random after page 0", true,
       [](Bytes& f, const Sample& s) { scramble(f, s.pageSize, f.size()); },
       "page 1 is not a data page"},
      {"page 0 zeroed", false,
       [](Bytes& f, const Sample& s) { std::fill_n(f.begin(), s.pageSize, 0); }, "page 0"},
      {"catalog zeroed", true,
       [](Bytes& f, const Sample& s) { std::fill_n(f.begin() + 2 * s.pageSize, s.pageSize, 0); },
       "page 2 is not a table definition (blank)"},
      {"cut inside a page", false, [](Bytes& f, const Sample&) { f.resize(f.size() - 100); },
       "not a whole number of"},
      {"cut to half the pages", true,
       [](Bytes& f, const Sample& s) { f.resize(f.size() / s.pageSize / 2 * s.pageSize); },
       "in use, but the file has"},
      {"random over a page in use", true,
       [](Bytes& f, const Sample& s) {
         scramble(f, s.pageInUse * s.pageSize, (s.pageInUse + 1) * s.pageSize);
       },
       "is not a database page"},
      {"last half zeroed", true,
       [](Bytes& f, const Sample& s) {
         std::fill(f.begin() + f.size() / s.pageSize / 2 * s.pageSize, f.end(), 0);
       },
       "is blank, but the map of free pages counts it in use"},
  };
  for (const Damage& d : damages) {
    for (const Sample& s : kSamples) {
      if (d.needsReadablePages && s.pageInUse == 0) continue;
      Bytes file = sample(s.name);
      d.apply(file, s);
      const std::string reason = verdict(file, 4095);
      EXPECT_NE(reason.find(d.reason), std::string::npos)
          << d.kind << " on " << s.name << ": " << reason;
      EXPECT_EQ(reason.find_first_of(".\n"), std::string::npos) << reason;
    }
  }
}

}  // namespace
