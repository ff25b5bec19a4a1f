// The run driver's block, log and exit statuses.
#include <gtest/gtest.h>

#include "app/frm_backup_and_repair.h"
#include "tests/support/fake_services.h"
#include "tests/support/log_lines.h"

namespace {

using testing_support::FakeServices;
using testing_support::kSeparator;

TEST(RunDriver, ClosesTheReportAndAppendsItToTheLog) {
  FakeServices services;
  services.setClock(
      {testing_support::day(2026, 12, 8, 3, 0, 0), testing_support::day(2026, 12, 8, 3, 0, 7)});
  app::frmBackupAndRepair form(services);
  EXPECT_EQ(form.Form_Load(), app::kExitStoppedOrFailed);
  std::string block = std::string("Start at 2026-12-08 03:00:00\r\nInifile niet gevonden\r\n") +
                      "End at 2026-12-08 03:00:07\r\n" + kSeparator + "\r\n\r\n";
  ASSERT_TRUE(services.has(FakeServices::kLogPath));
  EXPECT_EQ(services.files.back().content, block);
  EXPECT_EQ(form.lblOutput.caption() + "\r\n", block);
}

TEST(RunDriver, ExitStatusTellsTheSchedulerHowTheRunEnded) {
  auto configured = [](FakeServices& services, const std::string& database) {
    services.addFile(FakeServices::kSettingsPath, "[settings]\nDatabase=/data/muTesselDb.mdb\n");
    services.addFile("/data/muTesselDb.mdb", database);
  };
  FakeServices done;
  configured(done, testing_support::soundDatabase());
  EXPECT_EQ(app::frmBackupAndRepair(done).Form_Load(), app::kExitDone);
  // The day's copy now exists: the second run has nothing to do.
  EXPECT_EQ(app::frmBackupAndRepair(done).Form_Load(), app::kExitDone);

  // Without a driver the night did all it could, unless the copy is damaged.
  for (const std::string& database : {testing_support::soundDatabase(), std::string()}) {
    FakeServices noDriver;
    configured(noDriver, database);
    noDriver.repairOutcome = {false, "General installer error (no driver)", true};
    EXPECT_EQ(app::frmBackupAndRepair(noDriver).Form_Load(),
              database.empty() ? app::kExitStoppedOrFailed : app::kExitNoDriver);
  }

  FakeServices unwritable;
  unwritable.appendRaises = platform::RunTimeError(75, "Permission denied");
  testing::internal::CaptureStderr();
  EXPECT_EQ(app::frmBackupAndRepair(unwritable).Form_Load(), app::kExitLogNotWritten);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "muTesselServerDbBackupandRepair: cannot write the run log " + FakeServices::kLogPath +
                ": Permission denied\n");
}

}  // namespace
