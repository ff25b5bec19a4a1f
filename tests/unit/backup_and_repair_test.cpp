// The job's steps and lines, through the test double.
#include "job/backup_and_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/support/access_damage.h"
#include "tests/support/fake_services.h"
#include "tests/support/log_lines.h"

namespace {

using job::JobResult;
using testing_support::crLfLines;
using testing_support::day;
using testing_support::FakeServices;
using testing_support::fullRunOf;
using testing_support::lineAfter;
using testing_support::soundDatabase;
using testing_support::startsWith;

constexpr const char* kDatabase = "/data/muTesselDb.mdb";
constexpr const char* kTodaysCopy = "/data/muTesselDb20261208.mdb";
constexpr const char* kStartLine = "Start at 2026-12-08 12:00:00";

class BackupAndRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    setDatabase(kDatabase);
    services.addFile(kDatabase, soundDatabase());
  }

  void setDatabase(const std::string& path, const std::string& more = "") {
    services.deleteUnused(FakeServices::kSettingsPath);
    services.addFile(FakeServices::kSettingsPath, "[settings]\r\nDatabase=" + path + "\r\n" + more);
  }

  // Starts again from the machine SetUp makes.
  void reset() {
    services = FakeServices();
    output = {};
    SetUp();
  }

  std::vector<std::string> run(JobResult expected) {
    EXPECT_EQ(job::fncBackupAndRepair(services, output), expected);
    return crLfLines(output.caption());
  }

  FakeServices services;
  job::ProgressText output;
};

TEST_F(BackupAndRepair, AFullRunCopiesRepairsAndCleansUp) {
  std::vector<std::string> expected = fullRunOf("/data/muTesselDb.mdb");
  expected.insert(expected.begin(), kStartLine);
  EXPECT_EQ(run(JobResult::kDone), expected);
  EXPECT_EQ(services.copies,
            std::vector<std::string>{"/data/muTesselDb.mdb -> " + std::string(kTodaysCopy)});
  EXPECT_EQ(services.copyLockFile, "/data/muTesselDb.ldb");
  ASSERT_EQ(services.repairRequests.size(), 1u);
  EXPECT_EQ(services.repairRequests[0].request, 2);
  EXPECT_EQ(services.repairRequests[0].driver, "Microsoft Access Driver (*.MDB)");
  EXPECT_EQ(services.repairRequests[0].attributes,
            std::string("REPAIR_DB=\"/data/muTesselDb.mdb\";PWD=Kv58n2w6\0\0", 47));
  EXPECT_EQ(output.caption().find("Kv58n2w6"), std::string::npos);
  EXPECT_EQ(services.reads, std::vector<std::string>{kTodaysCopy}) << "the new copy alone";
}

TEST_F(BackupAndRepair, MissingSettingsOrDatabaseStopsBeforeTouchingAnything) {
  const char* const noDatabase = "Databasefile niet gevonden";
  const std::pair<const char*, const char*> cases[] = {
      {nullptr, "Inifile niet gevonden"},  // no settings file at all
      {"", noDatabase},
      {"[other]\nDatabase=/data/muTesselDb.mdb\n", noDatabase},
      {"[settings]\nDb=/data/muTesselDb.mdb\n", noDatabase},
      {"[settings]\nDatabase=/data/missing.mdb\n", noDatabase},
      {"[settings]\nDatabase=/data\n", noDatabase},
  };
  for (const auto& [settings, line] : cases) {
    reset();
    services.deleteUnused(FakeServices::kSettingsPath);
    services.addFile("/data", "").attributes = platform::kDirectory;
    if (settings != nullptr) services.addFile(FakeServices::kSettingsPath, settings);
    EXPECT_EQ(run(JobResult::kStopped), (std::vector<std::string>{kStartLine, line}))
        << (settings ? settings : "(none)");
    EXPECT_TRUE(services.copies.empty());
    EXPECT_TRUE(services.repairRequests.empty());
  }
}

TEST_F(BackupAndRepair, ALockFileInUseStopsTheRun) {
  services.addFile("/data/muTesselDb.ldb").undeletable = true;
  std::vector<std::string> expected = {kStartLine, "Databasefile = /data/muTesselDb.mdb",
                                       "Lockfile still present"};
  EXPECT_EQ(run(JobResult::kStopped), expected);
  EXPECT_TRUE(services.copies.empty());
  EXPECT_TRUE(services.repairRequests.empty());
  EXPECT_TRUE(services.has("/data/muTesselDb.ldb"));
}

TEST_F(BackupAndRepair, ALockFileWhoseUseCannotBeToldStopsTheRunWithTheReason) {
  services.addFile("/data/muTesselDb.ldb").useUnknown = true;
  EXPECT_EQ(run(JobResult::kStopped).back(), "Lockfile kept: cannot be told on fakefs");
  EXPECT_TRUE(services.copies.empty());
}

TEST_F(BackupAndRepair, AStaleLockFileIsDeletedAndTheRunGoesOn) {
  services.addFile("/data/muTesselDb.ldb").attributes |= platform::kHidden;
  std::vector<std::string> lines = run(JobResult::kDone);
  EXPECT_EQ(lineAfter(lines, "Databasefile = /data/muTesselDb.mdb"), "Lockfile still present");
  EXPECT_EQ(lineAfter(lines, "Lockfile still present"), "Lockfile deleted");
  EXPECT_EQ(lineAfter(lines, "Lockfile deleted"), "Start copy");
  EXPECT_FALSE(services.has("/data/muTesselDb.ldb"));
}

TEST_F(BackupAndRepair, TheDaysCopyMakesASecondRunStop) {
  services.addFile(kTodaysCopy, "earlier");
  std::vector<std::string> lines = run(JobResult::kAlreadyBackedUp);
  EXPECT_EQ(lines.back(), "backup already exists");
  EXPECT_TRUE(services.copies.empty());
  EXPECT_TRUE(services.repairRequests.empty());
}

TEST_F(BackupAndRepair, ARunAcrossMidnightChecksAndCopiesTheSameName) {
  services.setClock(
      {day(2026, 12, 8, 23, 59, 59), day(2026, 12, 8, 23, 59, 59), day(2026, 12, 9, 0, 0, 0)});
  run(JobResult::kDone);
  EXPECT_EQ(services.copies,
            std::vector<std::string>{"/data/muTesselDb.mdb -> " + std::string(kTodaysCopy)});
}

TEST_F(BackupAndRepair, AFailedCopyIsReportedAndNothingIsRepaired) {
  services.copyOutcome = platform::Outcome{false, "No space left on device"};
  std::vector<std::string> lines = run(JobResult::kFailed);
  EXPECT_EQ(lines.back(), "Copy failed: No space left on device");
  EXPECT_TRUE(services.repairRequests.empty());
}

TEST_F(BackupAndRepair, AFailedRepairIsReportedAndOldCopiesStillGo) {
  // A driver that refused fails the night; a machine without one has done
  // all it can. The log reads the same.
  for (bool driverMissing : {false, true}) {
    reset();
    services.repairOutcome = {false, "Invalid attribute: PWD=Kv58n2w6", driverMissing};
    std::vector<std::string> lines =
        run(driverMissing ? JobResult::kDoneButNoDriver : JobResult::kFailed);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lineAfter(lines, "Start compress and repair"),
              "Repair failed: Invalid attribute: PWD=********");
    EXPECT_EQ(lines.back(), "Cleanup of old backups finished");
  }
}

TEST_F(BackupAndRepair, TheKeepSettingsHoldEvenIfTheSettingsFileGoesDuringTheNight) {
  setDatabase(kDatabase, "KeepDaily=8\r\n");
  for (char day = '1'; day <= '7'; ++day) {
    services.addFile("/data/muTesselDb2026120" + std::string(1, day) + ".mdb", "");
  }
  services.duringRepair = [&] { services.deleteUnused(FakeServices::kSettingsPath); };
  run(JobResult::kDone);
  EXPECT_TRUE(services.has("/data/muTesselDb20261201.mdb")) << "pruned as if KeepDaily were 7";
}

TEST_F(BackupAndRepair, EightDamagedNightsFailButKeepTheNewestSoundCopy) {
  // A large database whose last quarter is lost, and a sound one whose copy
  // cannot be read back: a copy not proven sound is never taken for one.
  const std::string damaged =
      testing_support::withLastQuarterZeroed(testing_support::fixture("testRefGlobalV2000.mdb"));
  for (bool unreadable : {false, true}) {
    reset();
    for (const char* sound : {"/data/muTesselDb20261129.mdb", "/data/muTesselDb20261130.mdb"}) {
      services.addFile(sound, soundDatabase());
    }
    services.deleteUnused(kDatabase);
    services.addFile(kDatabase, unreadable ? soundDatabase() : damaged);
    if (unreadable) services.readFails = "/data/muTesselDb202612";
    for (int night = 1; night <= 8; ++night) {
      output = {};
      services.setClock({day(2026, 12, night)});
      std::vector<std::string> lines = run(JobResult::kFailed);
      EXPECT_TRUE(startsWith(lineAfter(lines, "Copy performed"),
                             unreadable ? "Backup not sound: it cannot be read: Input/output error"
                                        : "Backup not sound: page "))
          << lineAfter(lines, "Copy performed");
      EXPECT_EQ(services.repairRequests.size(), static_cast<std::size_t>(night));
      EXPECT_EQ(lineAfter(lines, "Start cleanup old backups"),
                night < 7 ? "Cleanup of old backups finished"
                          : "Kept muTesselDb20261130.mdb: the newest sound backup");
      EXPECT_EQ(services.has("/data/muTesselDb20261129.mdb"), night < 6) << night;
    }
    EXPECT_TRUE(services.has("/data/muTesselDb20261130.mdb"));
    EXPECT_FALSE(services.has("/data/muTesselDb20261201.mdb")) << "its place went to the sound one";
    EXPECT_TRUE(services.has("/data/muTesselDb20261202.mdb"));
  }
}

TEST_F(BackupAndRepair, APathWithADoubleQuoteIsNeverSentToTheDriver) {
  const std::string odd = "/data/x\"y/muTesselDb.mdb";
  setDatabase(odd);
  services.addFile(odd);
  std::vector<std::string> lines = run(JobResult::kFailed);
  EXPECT_TRUE(startsWith(lineAfter(lines, "Start compress and repair"), "Repair failed: "));
  EXPECT_TRUE(services.repairRequests.empty());
  EXPECT_EQ(services.copies.size(), 1u);
}

TEST_F(BackupAndRepair, ARunTimeErrorEndsTheJobWithOneLine) {
  const char* const exclusiveOpen = "Aanmaken bacup mislukt, exclusive open failed";
  const std::pair<std::int32_t, std::string> cases[] = {
      {53, "Fout:53 File not found: libodbcinst.so.2"},
      {453, "Fout:453 File not found: libodbcinst.so.2"},
      {-5, "Fout:-5 File not found: libodbcinst.so.2"},
      {52, exclusiveOpen},
      {-2147467259, exclusiveOpen},
  };
  for (const auto& [number, line] : cases) {
    reset();
    services.repairRaises = platform::RunTimeError(number, "File not found: libodbcinst.so.2");
    std::vector<std::string> lines = run(JobResult::kFailed);
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.back(), line) << number;
  }
}

TEST_F(BackupAndRepair, PathsTooShortToCutRaiseInvalidProcedureCall) {
  setDatabase("abc");
  services.addFile("abc");
  EXPECT_EQ(run(JobResult::kFailed).back(), "Fout:5 Invalid procedure call or argument");

  // A clean-up that fails fails the night, with or without a driver.
  output = {};
  setDatabase("/d/x.mdb");
  services.addFile("/d/x.mdb");
  services.repairOutcome = {false, "no driver", true};
  std::vector<std::string> lines = run(JobResult::kFailed);
  EXPECT_EQ(lines[lines.size() - 2], "Start cleanup old backups");
  EXPECT_EQ(lines.back(), "Fout:5 Invalid procedure call or argument");
}

}  // namespace
