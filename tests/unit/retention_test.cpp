// Which dated copies the clean-up keeps and deletes.
#include "job/retention.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/fake_services.h"

namespace {

using testing_support::FakeFile;
using testing_support::FakeServices;

constexpr const char* kDatabase = "/data/muTesselDb.mdb";

std::string copyOn(int date) { return "muTesselDb" + std::to_string(date) + ".mdb"; }

// The files in /data, in listing order, as blank-separated words: "1201"
// is the copy of 2026-12-01 and "20270101" that of its date; any other word
// is a name, or a path when it holds a "/". "hidden:", "folder:" and
// "undeletable:" before a word give the file that attribute.
FakeServices withFiles(const std::string& words) {
  FakeServices fake;
  fake.addFile(kDatabase);
  std::istringstream stream(words);
  for (std::string word; stream >> word;) {
    const std::size_t colon = word.find(':');
    const std::string kind = colon == std::string::npos ? "" : word.substr(0, colon);
    std::string name = word.substr(colon + 1);
    if (name.find_first_not_of("0123456789") == std::string::npos) {
      name = copyOn(std::stoi(name.size() == 4 ? "2026" + name : name));
    }
    FakeFile& file = fake.addFile(name.find('/') == std::string::npos ? "/data/" + name : name);
    if (kind == "hidden") file.attributes |= platform::kHidden;
    if (kind == "folder") file.attributes = platform::kDirectory;
    file.undeletable = kind == "undeletable";
  }
  return fake;
}

TEST(Retention, KeepsTheSevenNewestCopiesTheNewOneAmongThem) {
  struct Case {
    const char* what;
    std::string files;
    std::string gone;  // in the same words, in listing order
    std::string newCopy = "1208";
  };
  std::string forty, allButTheSevenNewest;  // 2026-10-01 to "10-40", in a scrambled order
  for (int i = 0; i < 40; ++i) {
    const std::string date = std::to_string(20261001 + i * 37 % 40);
    forty += date + " ";
    if (date < "20261034") allButTheSevenNewest += date + " ";
  }
  const Case cases[] = {
      {"seven or fewer", "1201 1202 1203 1204 1205 1206 1207", ""},
      {"of eight, the oldest", "1201 1202 1203 1204 1205 1206 1207 1208", "1201"},
      {"whatever the listing order", "1130 1208 1101 1205 1207 1202 1206 1204 1203 1201",
       "1130 1101 1201"},
      {"a copy renamed by hand counts by its date",
       "muTesselDb20261207_old.mdb 1201 1202 1203 1204 1205 1206 1208", "1201"},
      {"only ordinary dated files beside the database count",
       "1202 1203 1204 1205 1206 1207 1208 hidden:1101 folder:1102 muTesselDb_spare.mdb "
       "MUTESSELDB20261201.MDB /elsewhere/muTesselDb20261001.mdb",
       "MUTESSELDB20261201.MDB"},
      {"equal dates go in listing order",
       "1203 1204 1205 1206 1207 1208 muTesselDb20261201.mdb MUTESSELDB20261201.mdb",
       "muTesselDb20261201.mdb"},
      {"a copy that cannot be deleted still uses up its turn",
       "undeletable:1201 1202 1203 1204 1205 1206 1207 1208 1209", "1202"},
      {"the new copy stays when a clock set wrong dates it oldest",
       "20270101 20270102 20270103 20270104 20270105 20270106 20270107 1201", "20270101", "1201"},
      {"more than thirty are no longer an error", forty, allButTheSevenNewest},
  };
  for (const Case& c : cases) {
    FakeServices fake = withFiles(c.files);
    const std::vector<FakeFile> before = fake.files;
    job::ProgressText progress;
    job::cleanupOldBackups(fake, progress, kDatabase, withFiles(c.newCopy).files.back().path, true);
    std::vector<std::string> gone, expected;
    for (const FakeFile& file : before) {
      if (!fake.has(file.path)) gone.push_back(file.path);
    }
    for (const FakeFile& file : withFiles(c.gone).files) expected.push_back(file.path);
    expected.erase(expected.begin());  // the database
    EXPECT_EQ(gone, expected) << c.what;
    EXPECT_EQ(progress.caption(),
              "Start cleanup old backups\r\nCleanup of old backups finished\r\n");
  }
}

TEST(Retention, APathShorterThanTheExpectedNameRaisesBeforeListing) {
  FakeServices services;
  job::ProgressText output;
  try {
    job::cleanupOldBackups(services, output, "/d/x.mdb", "/d/x20261208.mdb", true);
    FAIL() << "no error raised";
  } catch (const platform::RunTimeError& error) {
    EXPECT_EQ(error.number(), 5);
  }
  EXPECT_EQ(output.caption(), "Start cleanup old backups\r\n");
}

}  // namespace
