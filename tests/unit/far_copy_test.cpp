// The second copy, off the database's disk: what a night sends, keeps and
// deletes there and beside the database, and what it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "job/backup_and_repair.h"
#include "job/far_record.h"
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
// those of 2026-12-01 and 2026-12-02, in date order. In the far place a
// mark follows the date of a copy that no record vouches for: "-" for one
// without a record that holds the sound database, "~" for one without a
// record that holds other bytes, "!" for one that reads otherwise than its
// record.
std::string datesIn(const FakeServices& fake, const std::string& directory) {
  std::map<std::string, std::string> files;  // in the order of their names, so of their dates
  for (const testing_support::FakeFile& file : fake.files) files[file.path] = file.content;
  const std::string prefix = directory + "muTesselDb2026";
  std::string words;
  for (const auto& [path, content] : files) {
    const std::string date = path.rfind(prefix, 0) == 0 ? path.substr(prefix.size(), 4) : "";
    if (path != prefix + date + ".mdb") continue;
    const auto record = files.find(path + job::kRecordEnd);
    std::string mark;
    if (directory == kFar && record == files.end()) {
      mark = content == testing_support::soundDatabase() ? "-" : "~";
    } else if (directory == kFar && job::readRecord(record->second, copyOn(date)).sha256 !=
                                        testing_support::sha256Of(content)) {
      mark = "!";
    }
    words += (words.empty() ? "" : " ") + date + mark;
  }
  return words;
}

// Lays the far place's copies out as datesIn words them.
void layFar(FakeServices& fake, const std::string& words) {
  const std::string sound = testing_support::soundDatabase();
  std::istringstream far(words);
  for (std::string word; far >> word;) {
    const std::string name = copyOn(word.substr(0, 4)), mark = word.substr(4);
    fake.addFile(kFar + name, mark == "~" ? "far" : mark == "!" ? "rot" : sound);
    if (mark.empty() || mark == "!") {
      fake.addFile(kFar + name + job::kRecordEnd,
                   job::recordText(job::databaseNamed("OFFICE1", "/data/muTesselDb.mdb"), name,
                                   testing_support::sha256Of(sound)));
    }
  }
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
        sent("1203"), sent("1202"), "Verified " + copyOn("1105") + " there again", kFinished}},
      {"a place that holds another database's records is left alone",
       "CopyTo=/far",
       week,
       "1101 1207",
       [](FakeServices& f) {
         const std::string record = kFar + copyOn("1207") + job::kRecordEnd;
         f.deleteFar(record);
         f.writeFarNew(record, job::recordText("/data2/muTesselDb.mdb on OFFICE2", copyOn("1207"),
                                               testing_support::sha256Of("other")));
       },
       JobResult::kFailed,
       week + " 1208",
       "1101 1207!",
       {"Start copy to /far",
        "Nothing sent to /far: it holds the copies of another database, /data2/muTesselDb.mdb on "
        "OFFICE2"}},
      {"a place without records is adopted: a copy that is its twin is recorded, others named",
       "CopyTo=/far",
       "1205 1206 1207",
       "1101- 1206- 1207~",
       {},
       JobResult::kFailed,
       "1205 1206 1207 1208",
       "1101- 1205 1206 1207~ 1208",
       {"Start copy to /far", sent("1208"), sent("1205"),
        "Not recorded " + copyOn("1101") + " there: no copy of that name beside the database",
        "Recorded " + copyOn("1206") + " there, the same as beside the database",
        "Not recorded " + copyOn("1207") + " there: it differs from the copy beside the database",
        kFinished}},
      {"a copy that reads otherwise in its turn is sent again from its sound twin",
       "CopyTo=/far",
       "1206 1207",
       "1206! 1207",
       {},
       JobResult::kFailed,
       "1206 1207 1208",
       "1206 1207 1208",
       {"Start copy to /far", sent("1208"),
        "Verifying " + copyOn("1206") + " there failed: it differs from its record",
        "Sent " + copyOn("1206") + " again, read back and verified", kFinished}},
      {"a copy that reads otherwise without a twin is named, and stays",
       "CopyTo=/far",
       "1207",
       "1206! 1207",
       {},
       JobResult::kFailed,
       "1207 1208",
       "1206! 1207 1208",
       {"Start copy to /far", sent("1208"),
        "Verifying " + copyOn("1206") + " there failed: it differs from its record",
        "Not sent " + copyOn("1206") + " again: no copy of that name beside the database",
        kFinished}},
      {"a clock set back: the night's own copy stays there, the oldest of the newer ones goes",
       "CopyTo=/far",
       "",
       "1201 1202 1203 1204 1205 1206 1207",
       [](FakeServices& f) { f.setClock({testing_support::day(2026, 11, 2)}); },
       JobResult::kDone,
       "1102",
       "1102 1202 1203 1204 1205 1206 1207",
       {"Start copy to /far", sent("1102"), deleted("1201"),
        "Verified " + copyOn("1205") + " there again", kFinished}},
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
    layFar(fake, night.far);
    std::istringstream near(night.near);
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

// Over any seven nights in a row, each copy there is read back once.
TEST(FarCopy, ReadsEachCopyThereBackOnceInSevenNights) {
  FakeServices fake;
  fake.addFile(FakeServices::kSettingsPath,
               "[settings]\r\nDatabase=/data/muTesselDb.mdb\r\nCopyTo=/far\r\nCopyToPrune=no\r\n");
  fake.addFile("/data/muTesselDb.mdb", testing_support::soundDatabase());
  fake.addFile("/far").attributes = platform::kDirectory;
  std::string there;
  for (int day = 1; day <= 30; ++day)
    there += " 11" + std::string(day < 10 ? "0" : "") + std::to_string(day);
  layFar(fake, there + " 1201 1202 1203 1204 1205 1206 1207");
  std::map<std::string, int> reads;
  for (int night = 8; night <= 14; ++night) {
    fake.setClock({testing_support::day(2026, 12, night)});
    job::ProgressText output;
    EXPECT_EQ(job::fncBackupAndRepair(fake, output), JobResult::kDone) << output.caption();
    for (const std::string& call : fake.farCalls) {
      if (call.rfind("read " + kFar, 0) == 0) ++reads[call.substr(5 + kFar.size())];
    }
    fake.farCalls.clear();
  }
  std::istringstream dates(there + " 1201 1202 1203 1204 1205 1206 1207");
  for (std::string date; dates >> date;) EXPECT_EQ(reads[copyOn(date)], 1) << date;
}

}  // namespace
