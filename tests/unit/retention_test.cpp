// Which dated copies the clean-up keeps and deletes.
#include "job/retention.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/support/fake_services.h"

namespace {

using testing_support::FakeFile;
using testing_support::FakeServices;

constexpr const char* kDatabase = "/data/muTesselDb.mdb";

std::string copyOn(int date) { return "muTesselDb" + std::to_string(date) + ".mdb"; }

class Retention : public ::testing::Test {
 protected:
  void SetUp() override { services.addFile(kDatabase); }

  void addCopies(const std::vector<int>& datesInListingOrder) {
    for (int date : datesInListingOrder) services.addFile("/data/" + copyOn(date));
  }

  // The names left in /data, in listing order.
  std::vector<std::string> left() {
    std::vector<std::string> names;
    for (const auto& file : services.files) names.push_back(file.path.substr(6));
    return names;
  }

  // How many of the names left read `name`.
  long kept(const std::string& name) {
    const std::vector<std::string> names = left();
    return std::count(names.begin(), names.end(), name);
  }

  // The run's own new copy is the one dated today, 2026-12-08, unless said.
  void cleanUp(int newCopyDate = 20261208) {
    job::cleanupOldBackups(services, output, kDatabase, "/data/" + copyOn(newCopyDate));
    EXPECT_EQ(output.caption(), "Start cleanup old backups\r\nCleanup of old backups finished\r\n");
  }

  FakeServices services;
  job::ProgressText output;
};

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

TEST_F(Retention, KeepsTheSevenNewestCopiesTheNewOneAmongThem) {
  struct Case {
    const char* what;
    std::string files;
    std::string gone;  // in the same words, in listing order
    std::string newCopy = "1208";
  };
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
  };
  for (const Case& c : cases) {
    FakeServices fake = withFiles(c.files);
    const std::vector<FakeFile> before = fake.files;
    job::ProgressText progress;
    job::cleanupOldBackups(fake, progress, kDatabase, withFiles(c.newCopy).files.back().path);
    std::vector<std::string> gone, expected;
    for (const FakeFile& file : before) {
      if (!fake.has(file.path)) gone.push_back(file.path);
    }
    for (const FakeFile& file : withFiles(c.gone).files) expected.push_back(file.path);
    expected.erase(expected.begin());  // the database
    EXPECT_EQ(gone, expected) << c.what;
  }
}

TEST_F(Retention, MoreThanThirtyCopiesAreNoLongerAnError) {
  std::vector<int> dates;
  for (int i = 0; i < 40; ++i) dates.push_back(20261001 + (i * 37 % 40));
  addCopies(dates);
  cleanUp();
  EXPECT_EQ(left().size(), 8u);
  for (int date = 20261034; date <= 20261040; ++date) {
    EXPECT_EQ(kept(copyOn(date)), 1) << date;
  }
}

TEST_F(Retention, APathShorterThanTheExpectedNameRaisesBeforeListing) {
  try {
    job::cleanupOldBackups(services, output, "/d/x.mdb", "/d/x20261208.mdb");
    FAIL() << "no error raised";
  } catch (const platform::RunTimeError& error) {
    EXPECT_EQ(error.number(), 5);
  }
  EXPECT_EQ(output.caption(), "Start cleanup old backups\r\n");
}

}  // namespace
