// Sending the dated copies to the far place, and pruning there.
#include "job/far_copy.h"

#include <algorithm>
#include <vector>

#include "job/dated_copies.h"
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

class FarStep {
 public:
  FarStep(platform::Services& services, ProgressText& lblOutput, const std::string& directory)
      : services_(services),
        lblOutput_(lblOutput),
        directory_(directory),
        place_(withSeparator(directory)) {}

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

  // The dated copies there; false when they cannot be listed.
  bool list(std::vector<DatedCopy>& copies) {
    std::vector<std::string> names;
    const platform::Outcome listed = services_.listFar(place_ + kCopyPattern, names);
    if (!listed.ok) return fail("Copy to " + directory_, listed);
    copies = collectDatedCopies(names);
    return true;
  }

  enum class Sent { kSent, kNotSound, kFailed };

  // Sends one copy if it is sound; a copy not `checked` this night is
  // checked first.
  Sent send(const std::string& path, bool checked) {
    const std::string name = nameOf(path);
    if (!checked) {
      const std::string damage = whyNotSound(services_, path);
      if (!damage.empty()) {
        lblOutput_.appendLine("Not sent " + name + ": not sound: " + damage);
        return Sent::kNotSound;
      }
    }
    const platform::Outcome sent = services_.copyFar(path, place_ + name);
    if (!sent.ok) return fail("Sending " + name, sent), Sent::kFailed;
    lblOutput_.appendLine("Sent " + name + ", read back and verified");
    return Sent::kSent;
  }

  // Deletes the copies there that the rules do not keep; the newest stays.
  bool prune(const std::vector<DatedCopy>& copies, const std::string& newCopy,
             const KeepRules& rules) {
    const std::vector<bool> kept = keptByRules(copies, newCopy, rules);
    bool ok = true;
    for (std::size_t i = 0; i < copies.size() && !silent_; ++i) {
      if (kept[i]) continue;
      const platform::Outcome deleted = services_.deleteFar(place_ + copies[i].name);
      if (deleted.ok) {
        lblOutput_.appendLine("Deleted " + copies[i].name + " there");
      } else {
        ok = fail("Deleting " + copies[i].name + " there", deleted);
      }
    }
    return ok;
  }

  // Whether the place stopped answering: nothing more is asked of it.
  bool silent() const { return silent_; }

 private:
  platform::Services& services_;
  ProgressText& lblOutput_;
  const std::string directory_;
  const std::string place_;
  bool silent_ = false;
};

// The copies beside the database that the rules keep, newest first, as
// paths; the day's copy among them.
std::vector<std::string> keptNear(platform::Services& services, const std::string& databasePath,
                                  const std::string& dayCopy, const KeepRules& rules) {
  const std::string directory = withoutLast(databasePath, kDatabaseNameLength);
  const std::vector<DatedCopy> copies =
      collectDatedCopies(services.listDirectory(directory + kCopyPattern, platform::kListOrdinary));
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
  FarStep far(services, lblOutput, directory);
  std::vector<DatedCopy> there;
  if (!far.examine(night.dayCopy) || !far.list(there)) return false;
  std::vector<std::string> wanted{night.dayCopy};
  if (night.catchUp) {
    wanted = keptNear(services, night.databasePath, night.dayCopy, keep.rules);
    if (std::find(wanted.begin(), wanted.end(), night.dayCopy) == wanted.end()) {
      wanted.insert(wanted.begin(), night.dayCopy);
    }
  }
  bool ok = true;
  for (const std::string& path : wanted) {
    const std::string name = nameOf(path);
    const bool lacking = std::none_of(there.begin(), there.end(),
                                      [&](const DatedCopy& copy) { return copy.name == name; });
    if (!lacking) continue;
    switch (far.send(path, night.dayCopyChecked && path == night.dayCopy)) {
      case FarStep::Sent::kSent:
        for (const DatedCopy& sent : collectDatedCopies({name})) there.push_back(sent);
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
    ok = far.prune(there, nameOf(night.dayCopy), keep.rules) && ok;
    if (far.silent()) return false;
  }
  lblOutput.appendLine("Copy to " + directory + " finished");
  return ok;
}

}  // namespace job
