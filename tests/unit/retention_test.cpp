// Which dated copies the clean-up keeps and deletes.
#include "job/retention.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

#include "tests/support/fake_services.h"

namespace {

using namespace std::string_literals;
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

std::vector<std::string> pathsOf(const FakeServices& fake) {
  std::vector<std::string> paths;
  for (const FakeFile& file : fake.files) paths.push_back(file.path);
  return paths;
}

TEST(Retention, KeepsTheNewestCopyOfEachOfTheNewestWeeksAndMonths) {
  // A copy a day from 2025-06-01 to Tuesday 2026-12-08, but for the three
  // weeks from Monday 2026-11-02.
  std::string days;
  for (int i = 0; i < 556; ++i) {
    std::tm time{};  // noon, so that a change of summer time keeps the day
    time.tm_year = 125, time.tm_mon = 5, time.tm_mday = 1 + i, time.tm_hour = 12;
    std::mktime(&time);
    char date[16];
    std::strftime(date, sizeof date, "%Y%m%d", &time);
    if (std::string(date) < "20261102" || std::string(date) > "20261122") days += date + " "s;
  }
  const std::string monthEnds =
      "20260131 20260228 20260331 20260430 20260531 20260630 20260731 20260831 20260930 1031 ";
  const std::string done = "Cleanup of old backups finished";
  struct Case {
    const char* what;
    std::string settings, extra, newCopy, left, lastLine;
  };
  const Case cases[] = {
      {"by default the seven newest", "", "", "1208", "1202 1203 1204 1205 1206 1207 1208", done},
      {"weeks without a copy do not count", "KeepWeekly=4\nKeepMonthly=12", "", "1208",
       monthEnds + "1101 1129 1130 1202 1203 1204 1205 1206 1207 1208", done},
      {"a clock set back: the new copy is a daily one", "KeepWeekly=4\nKeepMonthly= \" 12 \"", "",
       "20251208", "20251208 " + monthEnds + "1101 1129 1130 1203 1204 1205 1206 1207 1208", done},
      {"a name that is no date is a daily one alone", "KeepDaily=2\nkeepweekly=2", "20261399",
       "1208", "1206 1208 20261399", done},
      {"no daily copy would leave the new one", "KeepDaily=0", "", "1208", days,
       "Old backups kept: KeepDaily=0 is not a whole number from 1 to 9999"},
      {"too many", "KeepMonthly=12\nKeepWeekly=10000", "", "1208", days,
       "Old backups kept: KeepWeekly=10000 is not a whole number from 0 to 9999"},
      {"a sign", "KeepMonthly=-1", "", "1208", days,
       "Old backups kept: KeepMonthly=-1 is not a whole number from 0 to 9999"},
      {"a fraction", "KeepWeekly=1.5", "", "1208", days,
       "Old backups kept: KeepWeekly=1.5 is not a whole number from 0 to 9999"},
      {"nothing", "KeepMonthly=", "", "1208", days,
       "Old backups kept: KeepMonthly= is not a whole number from 0 to 9999"},
      {"the most", "KeepDaily=9999", "", "1208", days, done},
  };
  for (const Case& c : cases) {
    FakeServices fake = withFiles(days + c.extra);
    fake.addFile(FakeServices::kSettingsPath, "[settings]\n" + c.settings + "\n");
    job::ProgressText progress;
    job::cleanupOldBackups(fake, progress, kDatabase, withFiles(c.newCopy).files.back().path, true,
                           job::readKeepSettings(fake, FakeServices::kSettingsPath));
    fake.deleteUnused(FakeServices::kSettingsPath);
    EXPECT_EQ(pathsOf(fake), pathsOf(withFiles(c.left))) << c.what;
    EXPECT_EQ(progress.caption(), "Start cleanup old backups\r\n" + c.lastLine + "\r\n") << c.what;
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
