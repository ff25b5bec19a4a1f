// The edge rules of path splitting on each system, and the program's
// location read from its own path.
#include "platform/path_text.h"

#include <gtest/gtest.h>

namespace {

using platform::PathStyle;

struct Case {
  const char* path;
  PathStyle style;
  const char* prefix;
  const char* last;
  const char* directory;
};

TEST(PathText, SplitsByTheRulesOfEachSystem) {
  const Case cases[] = {
      {"/srv/db/muTesselDb.mdb", PathStyle::kPosix, "/srv/db/", "muTesselDb.mdb", "/srv/db"},
      {"/muTesselDb.mdb", PathStyle::kPosix, "/", "muTesselDb.mdb", "/"},
      {"muTesselDb.mdb", PathStyle::kPosix, "", "muTesselDb.mdb", "."},
      {"db/", PathStyle::kPosix, "db/", "", "db"},
      {"a\\b:c", PathStyle::kPosix, "", "a\\b:c", "."},
      {"C:\\db\\x.mdb", PathStyle::kWindows, "C:\\db\\", "x.mdb", "C:\\db"},
      {"C:\\x.mdb", PathStyle::kWindows, "C:\\", "x.mdb", "C:\\"},
      {"C:x.mdb", PathStyle::kWindows, "C:", "x.mdb", "C:"},
      {"\\x.mdb", PathStyle::kWindows, "\\", "x.mdb", "\\"},
      {"Z:/tmp/x.mdb", PathStyle::kWindows, "Z:/tmp/", "x.mdb", "Z:/tmp"},
      {"\\\\server\\share\\x.mdb", PathStyle::kWindows, "\\\\server\\share\\", "x.mdb",
       "\\\\server\\share"},
      {"db\\", PathStyle::kWindows, "db\\", "", "db"},
      {"x.mdb", PathStyle::kWindows, "", "x.mdb", "."},
      {"", PathStyle::kWindows, "", "", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::directoryPrefix(c.path, c.style), c.prefix) << c.path;
    EXPECT_EQ(platform::lastComponent(c.path, c.style), c.last) << c.path;
    EXPECT_EQ(platform::directoryOf(c.path, c.style), c.directory) << c.path;
  }
}

TEST(PathText, TheProgramIsNamedWithoutItsExtension) {
  const std::string separator(1, platform::kPathSeparator);
  const std::pair<std::string, std::string> names[] = {
      {"muTesselServerDbBackupandRepair.exe", "muTesselServerDbBackupandRepair"},
      {"nightly", "nightly"},
      {".hidden", ".hidden"},
      {"a.b.exe", "a.b"},
  };
  for (const auto& [file, name] : names) {
    platform::ProgramLocation location = platform::locationOf(separator + "opt" + separator + file);
    EXPECT_EQ(location.directory, separator + "opt") << file;
    EXPECT_EQ(location.name, name) << file;
  }
  EXPECT_EQ(platform::locationOf(separator + "nightly").directory, separator);
}

}  // namespace
