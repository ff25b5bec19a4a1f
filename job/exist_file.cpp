// Whether a path names an existing file.
#include "job/exist_file.h"

#include <exception>

namespace job {

bool fncExistFile(platform::Services& services, const std::string& prmFileName) {
  try {
    if (prmFileName.empty()) return false;
    std::vector<std::string> names =
        services.listDirectory(prmFileName, platform::kListHiddenAndSystem);
    if (names.empty() || names.front().empty()) return false;
    // A name holding wildcards is listed when a file matches it, but only the
    // literal name counts, and reading its attributes fails.
    return (services.attributes(prmFileName) & platform::kDirectory) == 0;
  } catch (const std::exception&) {
    // Every failure, a run-time error or no memory for the listing, reads as
    // a missing file: the caller's own line then says what is missing.
    return false;
  }
}

}  // namespace job
