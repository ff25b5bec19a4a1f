// Which dated copies the clean-up keeps and deletes.
#include "job/retention.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/fake_services.h"

namespace {

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

TEST_F(Retention, SevenOrFewerCopiesAreAllKept) {
  addCopies({20261201, 20261202, 20261203, 20261204, 20261205, 20261206, 20261207});
  cleanUp();
  EXPECT_EQ(left().size(), 8u);
}

TEST_F(Retention, OfEightCopiesTheOldestGoes) {
  addCopies({20261201, 20261202, 20261203, 20261204, 20261205, 20261206, 20261207, 20261208});
  cleanUp();
  EXPECT_EQ(kept(copyOn(20261201)), 0);
  EXPECT_EQ(left().size(), 8u);
  EXPECT_EQ(left().front(), "muTesselDb.mdb");
}

TEST_F(Retention, KeepsTheNewestSevenWhateverTheListingOrder) {
  addCopies({20261130, 20261208, 20261101, 20261205, 20261207, 20261202, 20261206, 20261204,
             20261203, 20261201});
  cleanUp();
  std::vector<std::string> expected = {"muTesselDb.mdb", copyOn(20261208), copyOn(20261205),
                                       copyOn(20261207), copyOn(20261202), copyOn(20261206),
                                       copyOn(20261204), copyOn(20261203)};
  EXPECT_EQ(left(), expected);
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

TEST_F(Retention, ACopyRenamedByHandCountsByItsDate) {
  services.addFile("/data/muTesselDb20261207_old.mdb");
  addCopies({20261201, 20261202, 20261203, 20261204, 20261205, 20261206, 20261208});
  cleanUp();
  EXPECT_EQ(kept("muTesselDb20261207_old.mdb"), 1);
  EXPECT_EQ(kept(copyOn(20261201)), 0);
}

TEST_F(Retention, OnlyOrdinaryDatedFilesCount) {
  addCopies({20261202, 20261203, 20261204, 20261205, 20261206, 20261207, 20261208});
  services.addFile("/data/muTesselDb20261101.mdb").attributes |= platform::kHidden;
  services.addFile("/data/muTesselDb20261102.mdb").attributes = platform::kDirectory;
  services.addFile("/data/muTesselDb_spare.mdb");
  services.addFile("/data/MUTESSELDB20261201.MDB");
  services.addFile("/elsewhere/muTesselDb20261001.mdb");
  cleanUp();
  EXPECT_EQ(left().size(), 12u);
  EXPECT_EQ(kept("MUTESSELDB20261201.MDB"), 0);
}

TEST_F(Retention, EqualDatesGoInListingOrder) {
  addCopies({20261203, 20261204, 20261205, 20261206, 20261207, 20261208});
  services.addFile("/data/muTesselDb20261201.mdb");
  services.addFile("/data/MUTESSELDB20261201.mdb");
  cleanUp();
  EXPECT_EQ(kept("muTesselDb20261201.mdb"), 0);
  EXPECT_EQ(kept("MUTESSELDB20261201.mdb"), 1);
}

TEST_F(Retention, ACopyThatCannotBeDeletedStillUsesUpItsTurn) {
  addCopies(
      {20261201, 20261202, 20261203, 20261204, 20261205, 20261206, 20261207, 20261208, 20261209});
  services.files[1].undeletable = true;
  cleanUp();
  EXPECT_EQ(left().size(), 9u);
  EXPECT_EQ(kept(copyOn(20261201)), 1);
  EXPECT_EQ(kept(copyOn(20261202)), 0);
}

TEST_F(Retention, TheNewCopyStaysWhenAClockSetWrongDatesItOldest) {
  addCopies({20270101, 20270102, 20270103, 20270104, 20270105, 20270106, 20270107, 20261201});
  cleanUp(20261201);
  EXPECT_EQ(left().size(), 8u);
  EXPECT_EQ(kept(copyOn(20261201)), 1);
  EXPECT_EQ(kept(copyOn(20270101)), 0);
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
