// How the clean-up of old copies grows with the number of copies beside the
// database (after an outage, or copies put there by hand): one sort, so
// O(N log N), and one batch of deletes.
#include <benchmark/benchmark.h>

#include "job/retention.h"
#include "tests/support/fake_services.h"

namespace {

// A listing handed over ready-made and deletes that only count, so that the
// phase's own work is what is timed.
class ListingOnly : public testing_support::FakeServices {
 public:
  explicit ListingOnly(int copies) {
    names.push_back("muTesselDb.mdb");
    // In no order of date, as Linux file systems list them.
    for (int i = 0; i < copies; ++i) {
      names.push_back("muTesselDb" + std::to_string(20000101 + (i * 7919) % copies) + ".mdb");
    }
  }
  std::vector<std::string> listDirectory(const std::string&, int) override { return names; }
  std::vector<platform::Outcome> deleteFiles(const std::vector<std::string>& paths) override {
    return std::vector<platform::Outcome>(paths.size(), {true, ""});
  }
  std::vector<std::string> names;
};

void cleanUpCopies(benchmark::State& state) {
  ListingOnly services(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    job::ProgressText output;
    job::cleanupOldBackups(services, output, "/data/muTesselDb.mdb", "/data/muTesselDb.mdb", true);
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(cleanUpCopies)->RangeMultiplier(4)->Range(8, 65536)->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
