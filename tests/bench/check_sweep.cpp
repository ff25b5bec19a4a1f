// How much damage the check of a copy catches, and whether it ever cries
// wolf: check_sweep FILE... damages each file in memory in every way below,
// page by page, and prints what share of each kind the check caught, by the
// file's size. Not a test: its figures go in docs/benchmarks.md.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "access/check.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string verdict(const Bytes& file, jet::Check& check) {
  check.feed(file.data(), file.size());
  check.revisitFrom(file.data(), file.size());
  return check.finish();
}

struct Tally {
  long caught = 0, tried = 0;
};

const char* const kKinds[] = {"zeroed page in use",  "random page",
                              "torn page",           "cut at a page boundary",
                              "last quarter zeroed", "random long-value page"};
constexpr int kKindCount = sizeof kKinds / sizeof *kKinds;
const char* const kClasses[] = {"under 100 pages", "100 to 499 pages", "500 pages or more"};

}  // namespace

int main(int argc, char** argv) {
  Tally tallies[3][kKindCount];
  int files = 0, alarms = 0;
  std::mt19937 random(29);
  for (int a = 1; a < argc; ++a) {
    std::ifstream in(argv[a], std::ios::binary);
    const Bytes sound((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    jet::Check first;
    const std::string alarm = verdict(sound, first);
    ++files;
    if (!alarm.empty()) {
      ++alarms;
      std::printf("false alarm: %s: %s\n", argv[a], alarm.c_str());
      continue;
    }
    if (!first.readable()) continue;  // only page 0 can be read without the password
    const std::size_t pageSize = sound.size() > 0x14 && sound[0x14] == 0 ? 2048 : 4096;
    const std::size_t pages = sound.size() / pageSize;
    const int cls = pages < 100 ? 0 : pages < 500 ? 1 : 2;
    const auto attempt = [&](int kind, const Bytes& damaged, std::size_t page) {
      jet::Check check;
      ++tallies[cls][kind].tried;
      if (!verdict(damaged, check).empty()) {
        ++tallies[cls][kind].caught;
      } else if (std::getenv("SWEEP_MISSES")) {
        std::printf("missed %s: %s page %zu (type %u)\n", kKinds[kind], argv[a], page,
                    sound[page * pageSize]);
      }
    };
    const auto blank = [&](std::size_t from, std::size_t to) {
      return std::all_of(sound.begin() + from, sound.begin() + to,
                         [](unsigned char b) { return b == 0; });
    };
    for (std::size_t p = 1; p < pages; ++p) {
      const std::size_t at = p * pageSize;
      const bool longValues =
          sound[at] == 1 && std::equal(sound.begin() + at + 4, sound.begin() + at + 8, "LVAL");
      // A long-value page is in use where page 1's map counts it, or where a
      // row in use names it.
      if (longValues && (first.countedInUse(static_cast<std::uint32_t>(p)) ||
                         first.reached(static_cast<std::uint32_t>(p)))) {
        Bytes d = sound;
        for (std::size_t n = 0; n < pageSize; ++n) d[at + n] = static_cast<unsigned char>(random());
        attempt(5, d, p);
      }
      if (!first.countedInUse(static_cast<std::uint32_t>(p)) || blank(at, at + pageSize)) continue;
      Bytes d = sound;
      std::fill_n(d.begin() + at, pageSize, 0);
      attempt(0, d, p);
      d = sound;
      for (std::size_t n = 0; n < pageSize; ++n) d[at + n] = static_cast<unsigned char>(random());
      attempt(1, d, p);
      if (!blank(at + pageSize / 2, at + pageSize)) {
        d = sound;
        std::fill_n(d.begin() + at + pageSize / 2, pageSize / 2, 0);
        attempt(2, d, p);
      }
    }
    // Cut where a page that page 1's map counts in use begins.
    for (std::size_t p = 1; p < pages; ++p) {
      if (first.countedInUse(static_cast<std::uint32_t>(p)))
        attempt(3, Bytes(sound.begin(), sound.begin() + p * pageSize), p);
    }
    Bytes d = sound;
    std::fill(d.begin() + pages * 3 / 4 * pageSize, d.end(), 0);
    attempt(4, d, pages * 3 / 4);
  }
  std::printf("%d files, %d false alarms\n", files, alarms);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < kKindCount; ++k) {
      const Tally& t = tallies[c][k];
      if (t.tried == 0) continue;
      std::printf("%-18s %-24s %6ld of %6ld caught, %5.1f %%\n", kClasses[c], kKinds[k], t.caught,
                  t.tried, 100.0 * t.caught / t.tried);
    }
  }
  for (int k = 0; k < kKindCount; ++k) {
    Tally all;
    for (int c = 0; c < 3; ++c)
      all.caught += tallies[c][k].caught, all.tried += tallies[c][k].tried;
    if (all.tried)
      std::printf("%-18s %-24s %6ld of %6ld caught, %5.1f %%\n", "all", kKinds[k], all.caught,
                  all.tried, 100.0 * all.caught / all.tried);
  }
  return alarms == 0 ? 0 : 1;
}
