// The second copy, off the database's disk: what a night sends, keeps and
// deletes there and beside the database, and what it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "job/backup_and_repair.h"
#include "tests/support/access_damage.h"
#include "tests/support/fake_services.h"
#include "tests/support/log_lines.h"

namespace {

using job::JobResult;
using testing_support::FakeServices;

std::string copyOn(const std::string& date) { return "muTesselDb2026" + date + ".mdb"; }

// The far place, as the program joins a name to it.
const std::string kFar = std::string("/far") + platform::kPathSeparator;

// The dated copies in a directory (with its separator), as "1201 1202" for
// those of 2026-12-01 and 2026-12-02, in date order.
std::string datesIn(const FakeServices& fake, const std::string& directory) {
  std::vector<std::string> dates;
  for (const testing_support::FakeFile& file : fake.files) {
    const std::string prefix = directory + "muTesselDb2026";
    if (file.path.rfind(prefix, 0) == 0) dates.push_back(file.path.substr(prefix.size(), 4));
  }
  std::sort(dates.begin(), dates.end());
  std::string words;
  for (const std::string& date : dates) words += (words.empty() ? "" : " ") + date;
  return words;
}

struct Night {
  const char* what;
  std::string settings;   // beyond the database
  std::string near, far;  // dated copies, in the words of datesIn, before the night
  std::function<void(FakeServices&)> also;
  JobResult result;
  std::string nearAfter, farAfter;
  std::vector<std::string> farLines;  // from the first line of the far step on
};

const char* const kFinished = "Copy to /far finished";
std::string sent(const std::string& date) {
  return "Sent " + copyOn(date) + ", read back and verified";
}
std::string deleted(const std::string& date) { return "Deleted " + copyOn(date) + " there"; }

TEST(FarCopy, SendsKeepsAndPrunesNearAndFar) {
  const std::string week = "1202 1203 1204 1205 1206 1207";
  const Night nights[] = {
      {"a missed week: every copy kept beside the database, newest first, then the pruning",
       "CopyTo=/far",
       "1201 " + week,
       "1130 1201",
       {},
       JobResult::kDone,
       week + " 1208",
       week + " 1208",
       {"Start copy to /far", sent("1208"), sent("1207"), sent("1206"), sent("1205"), sent("1204"),
        sent("1203"), sent("1202"), deleted("1130"), deleted("1201"), kFinished}},
      {"a night that finds its copy made sends it where it is lacking",
       "CopyTo=/far",
       week + " 1208",
       "1207",
       {},
       JobResult::kAlreadyBackedUp,
       week + " 1208",
       "1207 1208",
       {"Start copy to /far", sent("1208"), kFinished}},
      {"CopyToPrune=no deletes nothing there",
       "CopyTo=/far\r\nCopyToPrune=No",
       week,
       "1101 1102",
       {},
       JobResult::kDone,
       week + " 1208",
       "1101 1102 " + week + " 1208",
       {"Start copy to /far", sent("1208"), sent("1207"), sent("1206"), sent("1205"), sent("1204"),
        sent("1203"), sent("1202"), kFinished}},
      {"a refused CopyToPrune deletes nothing anywhere",
       "CopyTo=/far\r\nCopyToPrune=maybe",
       "1130 1201 " + week,
       "1101 1102 1103 1104 1105 1106 1107 1108",
       {},
       JobResult::kFailed,
       "1130 1201 " + week + " 1208",
       "1101 1102 1103 1104 1105 1106 1107 1108 1202 1203 1204 1205 1206 1207 1208",
       {"Start copy to /far", sent("1208"), sent("1207"), sent("1206"), sent("1205"), sent("1204"),
        sent("1203"), sent("1202"), kFinished}},
      {"a damaged night sends nothing",
       "CopyTo=/far",
       week,
       "",
       [](FakeServices& f) {
         f.files[1].content = testing_support::withLastQuarterZeroed(f.files[1].content);
       },
       JobResult::kFailed,
       week + " 1208",
       "",
       {"Nothing sent to /far: the backup is not sound"}},
      {"a copy beside the database that is not sound is not sent, nor counted there",
       "CopyTo=/far\r\nKeepDaily=2",
       "1207",
       "1205",
       [](FakeServices& f) { f.files.back().content = "not a database"; },
       JobResult::kDone,
       "1207 1208",
       "1205 1208",
       {"Start copy to /far", sent("1208"),
        "Not sent " + copyOn("1207") +
            ": not sound: the file is 14 bytes, too short for a database",
        kFinished}},
      {"a missing directory is not made",
       "CopyTo=/nowhere",
       week,
       "",
       {},
       JobResult::kFailed,
       week + " 1208",
       "",
       {"Start copy to /nowhere", "Copy to /nowhere failed: No such file or directory"}},
      {"a directory on the database's own disk gets the copies, and a line",
       "CopyTo=/far",
       "",
       "",
       [](FakeServices& f) { f.farSameFileSystem = true; },
       JobResult::kDone,
       "1208",
       "1208",
       {"Start copy to /far",
        "Copy to /far is on the database's own disk, and survives no failure of it", sent("1208"),
        kFinished}},
      {"a full destination fails the night, and the older copies are still tried",
       "CopyTo=/far",
       "1207",
       "",
       [](FakeServices& f) { f.farCopyFails = kFar + copyOn("1208"); },
       JobResult::kFailed,
       "1207 1208",
       "1207",
       {"Start copy to /far", "Sending " + copyOn("1208") + " failed: No space left on device",
        sent("1207"), kFinished}},
      {"a destination that never answers costs the far copy, not the log",
       "CopyTo=/far",
       week,
       "",
       [](FakeServices& f) { f.farSilent = true; },
       JobResult::kFailed,
       week + " 1208",
       "",
       {"Start copy to /far", "Copy to /far failed: no answer for 2 minutes"}},
      {"without CopyTo nothing is asked of a far place",
       "",
       week,
       "1101",
       {},
       JobResult::kDone,
       week + " 1208",
       "1101",
       {}},
  };
  for (const Night& night : nights) {
    FakeServices fake;
    fake.addFile(FakeServices::kSettingsPath,
                 "[settings]\r\nDatabase=/data/muTesselDb.mdb\r\n" + night.settings + "\r\n");
    fake.addFile("/data/muTesselDb.mdb", testing_support::soundDatabase());
    fake.addFile("/far").attributes = platform::kDirectory;
    std::istringstream near(night.near), far(night.far);
    for (std::string date; far >> date;) fake.addFile(kFar + copyOn(date), "far");
    for (std::string date; near >> date;) {
      fake.addFile("/data/" + copyOn(date), testing_support::soundDatabase());
    }
    if (night.also) night.also(fake);
    job::ProgressText output;
    EXPECT_EQ(job::fncBackupAndRepair(fake, output), night.result) << night.what;
    const std::vector<std::string> lines = testing_support::crLfLines(output.caption());
    const auto farStart = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("Start copy to ", 0) == 0 || line.rfind("Nothing sent to ", 0) == 0;
    });
    EXPECT_EQ(std::vector<std::string>(farStart, lines.end()), night.farLines) << night.what;
    EXPECT_EQ(datesIn(fake, "/data/"), night.nearAfter) << night.what;
    EXPECT_EQ(datesIn(fake, kFar), night.farAfter) << night.what;
    if (night.settings.empty()) {
      EXPECT_TRUE(fake.farCalls.empty()) << night.what;
    }
  }
}

}  // namespace
