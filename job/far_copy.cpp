// Sending the dated copies to the far place with their records, reading
// them back there in turn, and pruning there.
#include "job/far_copy.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "job/dated_copies.h"
#include "job/far_record.h"
#include "job/far_turn.h"
#include "job/path_end.h"
#include "job/sound_copy.h"

namespace job {
namespace {

// The far place's path with a separator at its end.
std::string withSeparator(const std::string& directory) {
  const char last = directory.empty() ? '\0' : directory.back();
  if (last == '/' || last == '\\') return directory;
  return directory + platform::kPathSeparator;
}

std::string nameOf(const std::string& path) {
  return path.substr(path.find_last_of(std::string("/") + platform::kPathSeparator) + 1);
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The SHA-256 in each record there, by the name of its copy.
using Records = std::map<std::string, std::string>;

class FarStep {
 public:
  FarStep(platform::Services& services, ProgressText& lblOutput, const std::string& directory,
          const std::string& database)
      : services_(services),
        lblOutput_(lblOutput),
        directory_(directory),
        place_(withSeparator(directory)),
        database_(database) {}

  // Failed, with a line that says why; false.
  bool fail(const std::string& what, const platform::Outcome& outcome) {
    lblOutput_.appendLine(what + " failed: " + outcome.reason);
    silent_ = silent_ || outcome.noAnswer;
    return false;
  }

  bool examine(const std::string& near) {
    bool sameFileSystem = false;
    const platform::Outcome there = services_.examineFar(directory_, near, sameFileSystem);
    if (!there.ok) return fail("Copy to " + directory_, there);
    if (sameFileSystem) {
      lblOutput_.appendLine("Copy to " + directory_ +
                            " is on the database's own disk, and survives no failure of it");
    }
    return true;
  }

  // The dated copies there and the names of the copies that have a record
  // there; false when they cannot be listed.
  bool list(std::vector<DatedCopy>& copies, std::vector<std::string>& recorded) {
    std::vector<std::string> names, copyNames;
    // "muTesselDb*": the copies and their records in one listing.
    const platform::Outcome listed =
        services_.listFar(place_ + withoutLast(kCopyPattern, 4), names);
    if (!listed.ok) return fail("Copy to " + directory_, listed);
    const std::string recordEnd = kRecordEnd;
    for (const std::string& name : names) {
      if (endsWith(name, ".mdb")) copyNames.push_back(name);
      if (!endsWith(name, ".mdb" + recordEnd)) continue;
      const std::string copy = withoutLast(name, recordEnd.size());
      if (!collectDatedCopies({copy}).empty()) recorded.push_back(copy);
    }
    copies = collectDatedCopies(copyNames);
    return true;
  }

  // Reads the records there; false, with a line, when one cannot be read or
  // names another database: the place is then that database's, and nothing
  // is sent there or deleted.
  bool readRecords(const std::vector<std::string>& recorded, Records& records) {
    for (const std::string& copy : recorded) {
      std::string text;
      const platform::Outcome read = services_.readFarText(place_ + recordName(copy), text);
      if (!read.ok) return fail("Reading " + recordName(copy) + " there", read);
      const Record record = readRecord(text, copy);
      if (record.database != database_) {
        lblOutput_.appendLine(
            "Nothing sent to " + directory_ + ": it holds the copies of another database, " +
            (record.database.empty() ? "unnamed in " + recordName(copy) : record.database));
        return false;
      }
      records[copy] = record.sha256;
    }
    return true;
  }

  // kUnrecorded: sent, and there, but its record could not be written.
  enum class Sent { kSent, kUnrecorded, kNotSound, kFailed };

  // Sends one copy if it is sound, with its record; a copy not `checked`
  // this night is checked first. Where a record is there already (its copy
  // went missing), the copy sent must be the one it records.
  Sent send(const std::string& path, bool checked, Records& records) {
    const std::string name = nameOf(path);
    if (!checked) {
      const std::string damage = whyNotSound(services_, path);
      if (!damage.empty()) {
        lblOutput_.appendLine("Not sent " + name + ": not sound: " + damage);
        return Sent::kNotSound;
      }
    }
    std::string sha256;
    const platform::Outcome sent = services_.copyFar(path, place_ + name, sha256);
    if (!sent.ok) return fail("Sending " + name, sent), Sent::kFailed;
    const auto record = records.find(name);
    if (record != records.end() && record->second != sha256) {
      services_.deleteFar(place_ + name);
      lblOutput_.appendLine("Sending " + name + " failed: it differs from its record there");
      return Sent::kFailed;
    }
    lblOutput_.appendLine("Sent " + name + ", read back and verified");
    if (record == records.end() && !writeRecord(name, sha256, records)) return Sent::kUnrecorded;
    return Sent::kSent;
  }

  // A copy there that has no record, as a version without them left it:
  // recorded when it holds what its twin beside the database holds, else
  // named and left to the keep rules. False when it holds other bytes than
  // its twin: the night's copy of that name is not there.
  bool adopt(const std::string& name, const std::string& twin, Records& records) {
    if (twin.empty()) {
      lblOutput_.appendLine("Not recorded " + name +
                            " there: no copy of that name beside the database");
      return true;
    }
    std::string there, here;
    const platform::Outcome read = services_.digestFar(place_ + name, there);
    if (!read.ok) return fail("Recording " + name + " there", read);
    const platform::Outcome readHere = services_.digestFile(twin, here);
    if (!readHere.ok) return fail("Recording " + name + " there", readHere);
    if (there != here) {
      lblOutput_.appendLine("Not recorded " + name +
                            " there: it differs from the copy beside the database");
      return false;
    }
    if (!writeRecord(name, there, records)) return false;
    lblOutput_.appendLine("Recorded " + name + " there, the same as beside the database");
    return true;
  }

  // Reads a recorded copy back there; one that reads otherwise is sent
  // again from its twin beside the database, where that is still there,
  // sound and the copy recorded. False when it reads otherwise, mended or
  // not: something there changes what it holds.
  bool verify(const std::string& name, const std::string& twin, const std::string& sha256) {
    std::string there;
    const platform::Outcome read = services_.digestFar(place_ + name, there);
    if (!read.ok) return fail("Verifying " + name + " there", read);
    if (there == sha256) {
      lblOutput_.appendLine("Verified " + name + " there again");
      return true;
    }
    lblOutput_.appendLine("Verifying " + name + " there failed: it differs from its record");
    const std::string notAgain = "Not sent " + name + " again: ";
    if (twin.empty()) {
      lblOutput_.appendLine(notAgain + "no copy of that name beside the database");
      return false;
    }
    const std::string damage = whyNotSound(services_, twin);
    std::string here;
    const platform::Outcome readHere = services_.digestFile(twin, here);
    if (!damage.empty() || !readHere.ok || here != sha256) {
      lblOutput_.appendLine(notAgain + (!damage.empty() ? "not sound: " + damage
                                        : !readHere.ok  ? readHere.reason
                                                        : "the copy beside the database "
                                                          "differs from its record"));
      return false;
    }
    // The copy there goes first: a copy never replaces a file.
    const platform::Outcome deleted = services_.deleteFar(place_ + name);
    if (!deleted.ok) return fail("Sending " + name + " again", deleted);
    std::string sent;
    const platform::Outcome again = services_.copyFar(twin, place_ + name, sent);
    if (!again.ok) return fail("Sending " + name + " again", again);
    lblOutput_.appendLine("Sent " + name + " again, read back and verified");
    return false;
  }

  // Deletes the copies there that the rules do not keep, each with its
  // record; the newest stays. A record whose copy is gone counts as its copy.
  // The copies that stay remain in `copies`.
  bool prune(std::vector<DatedCopy>& copies, Records& records, const std::string& newCopy,
             const KeepRules& rules) {
    std::vector<DatedCopy> named = copies;
    for (const auto& record : records) {
      const bool hasCopy = std::any_of(copies.begin(), copies.end(),
                                       [&](const DatedCopy& c) { return c.name == record.first; });
      if (!hasCopy) {
        for (const DatedCopy& orphan : collectDatedCopies({record.first})) named.push_back(orphan);
      }
    }
    const std::vector<bool> kept = keptByRules(named, newCopy, rules);
    bool ok = true;
    std::vector<DatedCopy> staying;
    for (std::size_t i = 0; i < named.size() && !silent_; ++i) {
      const std::string& name = named[i].name;
      const bool hasCopy = i < copies.size();
      if (kept[i]) {
        if (hasCopy) staying.push_back(named[i]);
        continue;
      }
      if (hasCopy) {
        const platform::Outcome deleted = services_.deleteFar(place_ + name);
        if (!deleted.ok) {
          ok = fail("Deleting " + name + " there", deleted);
          staying.push_back(named[i]);
          continue;
        }
        lblOutput_.appendLine("Deleted " + name + " there");
      }
      if (records.count(name) == 0) continue;
      const platform::Outcome deleted = services_.deleteFar(place_ + recordName(name));
      if (!deleted.ok) ok = fail("Deleting " + recordName(name) + " there", deleted);
      records.erase(name);
    }
    if (!silent_) copies = staying;
    return ok;
  }

  // Whether the place stopped answering: nothing more is asked of it.
  bool silent() const { return silent_; }

 private:
  bool writeRecord(const std::string& name, const std::string& sha256, Records& records) {
    const platform::Outcome written =
        services_.writeFarNew(place_ + recordName(name), recordText(database_, name, sha256));
    if (!written.ok) return fail("Recording " + name + " there", written);
    records[name] = sha256;
    return true;
  }

  platform::Services& services_;
  ProgressText& lblOutput_;
  const std::string directory_;
  const std::string place_;
  const std::string database_;
  bool silent_ = false;
};

// The dated copies beside the database.
std::vector<DatedCopy> copiesNear(platform::Services& services, const std::string& directory) {
  return collectDatedCopies(
      services.listDirectory(directory + kCopyPattern, platform::kListOrdinary));
}

// The copies beside the database that the rules keep, newest first, as
// paths; the day's copy among them.
std::vector<std::string> keptNear(const std::vector<DatedCopy>& copies,
                                  const std::string& directory, const std::string& dayCopy,
                                  const KeepRules& rules) {
  const std::vector<bool> kept = keptByRules(copies, nameOf(dayCopy), rules);
  std::vector<DatedCopy> keptCopies;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (kept[i]) keptCopies.push_back(copies[i]);
  }
  std::vector<std::string> paths;
  for (const DatedCopy& copy : newestFirst(keptCopies)) paths.push_back(directory + copy.name);
  return paths;
}

}  // namespace

bool copyToFarPlace(platform::Services& services, ProgressText& lblOutput,
                    const std::string& directory, const FarNight& night, const KeepSettings& keep) {
  lblOutput.appendLine("Start copy to " + directory);
  FarStep far(services, lblOutput, directory,
              databaseNamed(services.computerName(), night.databasePath));
  std::vector<DatedCopy> there;
  std::vector<std::string> recorded;
  Records records;
  if (!far.examine(night.dayCopy) || !far.list(there, recorded) ||
      !far.readRecords(recorded, records)) {
    return false;
  }
  const std::string nearDirectory = withoutLast(night.databasePath, kDatabaseNameLength);
  const std::vector<DatedCopy> near = copiesNear(services, nearDirectory);
  // The copy beside the database of the same name, or the empty text.
  const auto twinOf = [&](const std::string& name) {
    const bool found = std::any_of(near.begin(), near.end(),
                                   [&](const DatedCopy& copy) { return copy.name == name; });
    return found ? nearDirectory + name : std::string();
  };
  std::vector<std::string> wanted{night.dayCopy};
  if (night.catchUp) {
    wanted = keptNear(near, nearDirectory, night.dayCopy, keep.rules);
    if (std::find(wanted.begin(), wanted.end(), night.dayCopy) == wanted.end()) {
      wanted.insert(wanted.begin(), night.dayCopy);
    }
  }
  bool ok = true;
  std::set<std::string> readTonight;
  for (const std::string& path : wanted) {
    const std::string name = nameOf(path);
    const bool lacking = std::none_of(there.begin(), there.end(),
                                      [&](const DatedCopy& copy) { return copy.name == name; });
    if (!lacking) continue;
    const FarStep::Sent sent =
        far.send(path, night.dayCopyChecked && path == night.dayCopy, records);
    switch (sent) {
      case FarStep::Sent::kSent:
      case FarStep::Sent::kUnrecorded:
        for (const DatedCopy& copy : collectDatedCopies({name})) there.push_back(copy);
        readTonight.insert(name);
        ok = ok && sent == FarStep::Sent::kSent;
        break;
      case FarStep::Sent::kNotSound:
        break;
      case FarStep::Sent::kFailed:
        ok = false;
        break;
    }
    if (far.silent()) return false;
  }
  // Settings refused delete nothing, here as beside the database.
  if (night.catchUp && keep.pruneFar && keep.refusal.empty()) {
    ok = far.prune(there, records, nameOf(night.dayCopy), keep.rules) && ok;
    if (far.silent()) return false;
  }
  for (const DatedCopy& copy : there) {
    if (records.count(copy.name) != 0 || readTonight.count(copy.name) != 0) continue;
    ok = far.adopt(copy.name, twinOf(copy.name), records) && ok;
    readTonight.insert(copy.name);
    if (far.silent()) return false;
  }
  const std::vector<DatedCopy> tonight = collectDatedCopies({nameOf(night.dayCopy)});
  for (const DatedCopy& copy : newestFirst(there)) {
    const auto record = records.find(copy.name);
    if (record == records.end() || readTonight.count(copy.name) != 0 || tonight.empty() ||
        !readBackTonight(copy, tonight.front())) {
      continue;
    }
    ok = far.verify(copy.name, twinOf(copy.name), record->second) && ok;
    if (far.silent()) return false;
  }
  lblOutput.appendLine("Copy to " + directory + " finished");
  return ok;
}

}  // namespace job
