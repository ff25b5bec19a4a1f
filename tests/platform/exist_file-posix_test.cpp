// The existence test and the listing and attribute rules it rests on, on
// real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "job/exist_file.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::ScratchDirectory;
using testing_support::writeFile;

class ExistFile : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir / "plain.mdb", "x");
    writeFile(dir / ".hidden.mdb", "x");
    writeFile(dir / "[1].mdb", "x");
    std::filesystem::create_directory(dir / "folder.mdb");
    std::filesystem::create_symlink(dir / "plain.mdb", dir / "link.mdb");
    std::filesystem::create_symlink(dir / "gone.mdb", dir / "dangling.mdb");
    mkfifo((dir / "fifo.mdb").c_str(), 0600);
  }

  bool exists(const std::string& path) { return job::fncExistFile(*services, path); }
  std::vector<std::string> list(const std::string& pattern, int mask) {
    std::vector<std::string> names = services->listDirectory(dir / pattern, mask);
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDirectory dir;
  std::unique_ptr<platform::Services> services = platform::systemServices();
};

TEST_F(ExistFile, TellsFilesFromDirectoriesAndNothing) {
  EXPECT_TRUE(exists(dir / "plain.mdb"));
  EXPECT_FALSE(exists(dir / "PLAIN.MDB"));  // names are case-sensitive here
  EXPECT_TRUE(exists(dir / ".hidden.mdb"));
  EXPECT_TRUE(exists(dir / "[1].mdb"));
  EXPECT_TRUE(exists(dir / "link.mdb"));
  EXPECT_FALSE(exists(""));
  EXPECT_FALSE(exists(dir / "folder.mdb"));
  EXPECT_FALSE(exists(dir.path()));
  EXPECT_FALSE(exists(dir / "dangling.mdb"));
  EXPECT_FALSE(exists(dir / "fifo.mdb"));
  EXPECT_FALSE(exists(dir / "p*.mdb"));
  EXPECT_FALSE(exists(dir / "pl?in.mdb"));
  EXPECT_FALSE(exists(dir / "missing/plain.mdb"));
  EXPECT_FALSE(exists(dir / "plain.mdb/x"));
}

TEST_F(ExistFile, ListingShowsHiddenFilesOnlyWhenAskedAndNeverDirectories) {
  using V = std::vector<std::string>;
  EXPECT_EQ(list("*.mdb", platform::kListOrdinary), (V{"[1].mdb", "link.mdb", "plain.mdb"}));
  EXPECT_EQ(list("*.MDB", platform::kListHiddenAndSystem),
            (V{".hidden.mdb", "[1].mdb", "link.mdb", "plain.mdb"}));
  EXPECT_EQ(list("?lain.mdb", platform::kListOrdinary), (V{"plain.mdb"}));
  EXPECT_EQ(list("[1].mdb", platform::kListOrdinary), (V{"[1].mdb"}));
  EXPECT_EQ(list("", platform::kListOrdinary), V{});
  EXPECT_EQ(list("missing/*", platform::kListOrdinary), V{});
}

TEST_F(ExistFile, AttributesFollowTheWindowsBits) {
  chmod((dir / "[1].mdb").c_str(), 0444);
  EXPECT_EQ(services->attributes(dir / "plain.mdb"), platform::kArchive);
  EXPECT_EQ(services->attributes(dir / "[1].mdb"), platform::kArchive | platform::kReadOnly);
  EXPECT_EQ(services->attributes(dir / ".hidden.mdb"), platform::kArchive | platform::kHidden);
  EXPECT_EQ(services->attributes(dir / "folder.mdb"), platform::kDirectory);
  EXPECT_EQ(services->attributes(dir / "missing.mdb"), std::nullopt);
  EXPECT_EQ(services->attributes(dir / "plain.mdb/x"), std::nullopt);
}

}  // namespace
