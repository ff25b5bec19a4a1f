// The built program, run as the scheduler runs it, on real files, with the
// real ODBC installer and a stand-in for the Access driver's setup library.
#include <algorithm>

#include "tests/e2e/program_fixture.h"
#include "tests/support/access_damage.h"

namespace testing_support {
namespace {

TEST_F(Program, AFullRunCopiesThenRepairsAndLogsOneBlock) {
  RunResult result = program.run();
  EXPECT_EQ(result.status, 0) << result.standardError;
  EXPECT_EQ(result.standardError, "");
  EXPECT_EQ(log(), block(fullRunOf(programPath(database()))));
  EXPECT_EQ(program.requests(),
            "parent=none\nrequest=2\ndriver=Microsoft Access Driver (*.MDB)\n"
            "attribute=REPAIR_DB=\"" +
                programPath(database()) + "\";PWD=Kv58n2w6\nend\n");
  EXPECT_EQ(readFile(todaysCopy()), kOriginal);
  EXPECT_EQ(readFile(database()), kRepaired);
}

TEST_F(Program, ASecondRunTheSameDayStopsAndAddsItsOwnBlock) {
  ASSERT_EQ(program.run().status, 0);
  ASSERT_EQ(program.run().status, 0);
  std::vector<std::string> both = block(fullRunOf(programPath(database())));
  const std::vector<std::string> second = block({"Databasefile = " + programPath(database()),
                                                 "No lockfile present", "backup already exists"});
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(log(), both);
  const std::string requests = program.requests();
  EXPECT_EQ(requests.find("end\n"), requests.size() - 4) << "one request only";
}

TEST_F(Program, SettingsAndLogAreNamedAfterTheProgramAndLieBesideIt) {
  ProgramUnderTest renamed(testing_support::underWine() ? "nightly.exe" : "nightly.bin");
  renamed.setDatabase(programPath(database()));
  RunResult result = renamed.run({}, program.home().path());
  EXPECT_EQ(result.status, 0) << result.standardError;
  EXPECT_EQ(linesOf(readFile(renamed.logPath())), block(fullRunOf(programPath(database()))));
  EXPECT_EQ(std::filesystem::path(renamed.logPath()).filename(), "nightly.log");
  EXPECT_FALSE(exists(program.home() / "nightly.log"));
}

TEST_F(Program, StartedThroughALinkItStillUsesTheFilesBesideItself) {
  if (underWine()) GTEST_SKIP() << "Windows programs are not started through links";
  std::filesystem::create_directory(program.home() / "elsewhere");
  std::filesystem::create_symlink(
      program.programDirectory() + "/" + ProgramUnderTest::defaultName(),
      program.home() / "elsewhere/nightly");
  RunOptions options;
  options.startAs = program.home() / "elsewhere/nightly";
  EXPECT_EQ(program.runWith(options).status, 0);
  EXPECT_EQ(log(), block(fullRunOf(database())));
  EXPECT_FALSE(exists(program.home() / "elsewhere/nightly.log"));
}

TEST_F(Program, AMissingSettingsFileGivesAFourLineBlock) {
  std::filesystem::remove(program.settingsPath());
  EXPECT_EQ(program.run().status, 1);
  EXPECT_EQ(log(), block({"Inifile niet gevonden"}));
  expectUntouched();
}

TEST_F(Program, AnUnwritableLogIsReportedOnStandardErrorUnderTheProgramsOwnName) {
  ProgramUnderTest renamed(underWine() ? "nightly.exe" : "nightly");
  renamed.setDatabase(programPath(database()));
  std::filesystem::create_directory(renamed.logPath());
  RunResult result = renamed.run();
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.standardError.rfind(
                "nightly: cannot write the run log " + programPath(renamed.logPath()) + ": ", 0),
            0u)
      << result.standardError;
  EXPECT_TRUE(std::filesystem::is_empty(renamed.logPath()));
}

TEST_F(Program, AStaleLockFileIsDeletedAndTheRunGoesOn) {
  writeFile(data() + "/muTesselDb.ldb", "");
  EXPECT_EQ(program.run().status, 0);
  EXPECT_EQ(log(), block(staleLockRunOf(programPath(database()))));
  EXPECT_FALSE(exists(data() + "/muTesselDb.ldb"));
}

TEST_F(Program, ALockFileInUseLeavesTheDatabaseAlone) {
  writeFile(data() + "/muTesselDb.ldb", "");
  std::vector<std::string> expected;
  for (int way = 0; way < FileInUse::kWays; ++way) {
    auto inUse = FileInUse::start(data() + "/muTesselDb.ldb", way);
    EXPECT_EQ(program.run().status, 1);
    const std::vector<std::string> stopped =
        block({"Databasefile = " + programPath(database()), "Lockfile still present"});
    expected.insert(expected.end(), stopped.begin(), stopped.end());
    inUse.reset();
  }
  EXPECT_EQ(log(), expected);
  EXPECT_TRUE(exists(data() + "/muTesselDb.ldb"));
  EXPECT_FALSE(exists(todaysCopy()));
  expectUntouched();
}

TEST_F(Program, PathsTooShortForTheExpectedNamesEndWithOneErrorLine) {
  writeFile(data() + "/abc", "x");
  program.setDatabase("abc");
  EXPECT_EQ(program.run({}, data()).status, 1);
  EXPECT_EQ(log(), block({"Databasefile = abc", "Fout:5 Invalid procedure call or argument"}));

  std::filesystem::remove(program.logPath());
  writeFile(data() + "/db.mdb", kOriginal);
  program.setDatabase("db.mdb");  // shorter than the expected name, which retention cuts off
  EXPECT_EQ(program.run({}, data()).status, 1);
  std::vector<std::string> lines = fullRunOf("db.mdb");
  lines.back() = "Fout:5 Invalid procedure call or argument";
  EXPECT_EQ(log(), block(lines));
  EXPECT_EQ(readFile(data() + "/db" + today() + ".mdb"), kOriginal);
}

TEST_F(Program, ARefusedRepairFailsTheNightAndAMissingDriverDoesNot) {
  EXPECT_EQ(program.run({{"STANDIN_MODE", "refuse"}}).status, 1);
  // Wine's installer keeps its own message and not the driver's.
  EXPECT_EQ(log(),
            block(replacing(fullRunOf(programPath(database())), "Repair performed",
                            underWine() ? "Repair failed: Request Failed"
                                        : "Repair failed: stand-in driver refused the request")));
  EXPECT_EQ(readFile(todaysCopy()), kOriginal);

  std::filesystem::remove(program.logPath());
  std::filesystem::remove(todaysCopy());
  // Without a driver the night has done all that this machine can.
  program.unregisterDriver();
  EXPECT_EQ(program.run().status, 3);
  const std::string reason =
      underWine() ? "Component not found"
                  : "General installer error (no driver is registered as \"Microsoft Access "
                    "Driver (*.MDB)\" in " +
                        program.home() / "odbc/odbcinst.ini" + ")";
  EXPECT_EQ(log(), block(replacing(fullRunOf(programPath(database())), "Repair performed",
                                   "Repair failed: " + reason)));
  EXPECT_EQ(readFile(todaysCopy()), kOriginal);
  EXPECT_EQ(readFile(database()), kOriginal);
}

TEST_F(Program, AFailedCopyStopsTheRunBeforeTheRepair) {
  std::filesystem::create_directory(todaysCopy());
  EXPECT_EQ(program.run().status, 1);
  std::vector<std::string> lines = log();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lineAfter(lines, "No lockfile present"), "Start copy");
  EXPECT_TRUE(startsWith(lineAfter(lines, "Start copy"), "Copy failed: "));
  expectUntouched();
}

TEST_F(Program, OnlyTheSevenNewestCopiesAreKept) {
  const std::vector<std::string> expected = {
      "muTesselDb.mdb",         "muTesselDb20200104.mdb",       "muTesselDb20200105.mdb",
      "muTesselDb20200106.mdb", "muTesselDb20200107.mdb",       "muTesselDb20200108.mdb",
      "muTesselDb20200109.mdb", "muTesselDb" + today() + ".mdb"};
  // A full path, and the bare name run from its own directory, which leaves
  // the copies' directory the empty text.
  for (const std::string& spelling : {programPath(database()), std::string("muTesselDb.mdb")}) {
    std::filesystem::remove(todaysCopy());
    for (const char* date : {"20200105", "20200101", "20200109", "20200103", "20200107", "20200102",
                             "20200108", "20200104", "20200106"}) {
      writeFile(data() + "/muTesselDb" + date + ".mdb", "old");
    }
    program.setDatabase(spelling);
    EXPECT_EQ(program.run({}, data()).status, 0) << spelling;
    EXPECT_EQ(namesIn(data()), expected) << spelling;
  }
}

TEST_F(Program, AKeepValueNotAllowedKeepsEveryOldCopyAndFailsTheNight) {
  for (char day = '1'; day <= '9'; ++day)
    writeFile(data() + "/muTesselDb2020010" + day + ".mdb", "");
  writeFile(program.settingsPath(),
            "[settings]\r\nDatabase=" + programPath(database()) + "\r\nKeepWeekly = four\r\n");
  EXPECT_EQ(program.run().status, 1);
  EXPECT_EQ(log(),
            block(replacing(fullRunOf(programPath(database())), "Cleanup of old backups finished",
                            "Old backups kept: KeepWeekly=four is not a whole number "
                            "from 0 to 9999")));
  EXPECT_EQ(namesIn(data()).size(), 11u) << "the database, the nine old copies and the night's";
  EXPECT_EQ(readFile(database()), kRepaired);
}

TEST_F(Program, ADamagedDatabaseFailsTheNightAndTheNewestSoundCopyOutlivesTheWeek) {
  // A database of 743 pages whose last quarter was lost.
  const std::string damaged = testing_support::withLastQuarterZeroed(
      readFile(MUTESSEL_ACCESS_FIXTURES "/testRefGlobalV2000.mdb"));
  writeFile(database(), damaged);
  writeFile(data() + "/muTesselDb20200101.mdb", kOriginal);
  for (char day = '2'; day <= '7'; ++day) {
    writeFile(data() + "/muTesselDb2020010" + day + ".mdb", damaged);
  }
  EXPECT_EQ(program.run().status, 1);
  std::vector<std::string> lines = log();
  EXPECT_TRUE(startsWith(lineAfter(lines, "Copy performed"), "Backup not sound: page "));
  EXPECT_EQ(lineAfter(lines, "Start cleanup old backups"),
            "Kept muTesselDb20200101.mdb: the newest sound backup");
  EXPECT_EQ(lines.size(), fullRunOf("").size() + 6);
  EXPECT_EQ(readFile(database()), damaged + std::string(4096, '\0')) << "repaired all the same";
  EXPECT_EQ(readFile(todaysCopy()), damaged);
  EXPECT_EQ(namesIn(data()).size(), 9u) << "the database and eight copies: none went";
}

TEST_F(Program, TemporariesLeftByKilledCopiesAreClearedByTheNext) {
  if (!testing_support::underWine()) GTEST_SKIP() << "the Linux copy has no temporary name";
  const std::string temporary = data() + "/~mt4242.tmp";
  const std::string usersOwn = data() + "/~mtnotes.tmp";  // a name the program never gives
  writeFile(temporary, "part of a copy");
  writeFile(usersOwn, "notes");
  std::filesystem::permissions(temporary, std::filesystem::perms::owner_read);
  EXPECT_EQ(program.run().status, 0);
  EXPECT_EQ(log(), block(fullRunOf(programPath(database()))));
  EXPECT_FALSE(exists(temporary));
  EXPECT_EQ(readFile(usersOwn), "notes");
  EXPECT_EQ(readFile(todaysCopy()), kOriginal);
}

}  // namespace
}  // namespace testing_support
