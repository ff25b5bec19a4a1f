// Whether a path names an existing file.
#include "job/exist_file.h"

namespace job {

bool fncExistFile(platform::Services& services, const std::string& prmFileName) {
  if (prmFileName.empty()) return false;
  // Both must hold: the literal name has attributes and is no directory (a
  // name holding wildcards has none), and a listing of it finds an entry.
  // The cheap attribute read goes first, so that a missing name costs no
  // reading of its whole directory.
  const std::optional<std::uint32_t> bits = services.attributes(prmFileName);
  if (!bits || (*bits & platform::kDirectory) != 0) return false;
  try {
    std::vector<std::string> names =
        services.listDirectory(prmFileName, platform::kListHiddenAndSystem);
    return !names.empty() && !names.front().empty();
  } catch (const platform::RunTimeError&) {
    // A directory that cannot be read reads as a missing file: the caller's
    // own line then says what is missing.
    return false;
  }
}

}  // namespace job
