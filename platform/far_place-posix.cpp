// The far place's look-ups and deletes, each given up when the place stops
// answering; the copy there is in file_copy-posix.cpp.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/answer_guard.h"
#include "platform/services-posix.h"

namespace platform::posix {

Outcome PosixServices::examineFar(const std::string& directory, const std::string& nearFile,
                                  bool& sameFileSystem) {
  Found same;
  const Outcome outcome = whileAnswering(
      [&](const Answered&, Found& found) {
        return outcomeOf([&] {
          struct stat place {
          }, file{};
          if (stat(directory.c_str(), &place) != 0) failWith(errno);
          if (!S_ISDIR(place.st_mode)) failWith(ENOTDIR);
          if (stat(nearFile.c_str(), &file) != 0) failWith(errno);
          found = place.st_dev == file.st_dev ? "same" : "";
        });
      },
      kFarSilenceSeconds, &same);
  sameFileSystem = outcome.ok && same == "same";
  return outcome;
}

Outcome PosixServices::listFar(const std::string& pattern, std::vector<std::string>& names) {
  return listWhileAnswering(listNames, pattern, names, kFarSilenceSeconds);
}

Outcome PosixServices::deleteFar(const std::string& path) {
  return whileAnswering(
      [&](const Answered&, Found&) {
        return outcomeOf([&] {
          if (unlink(path.c_str()) != 0) failWith(errno);
        });
      },
      kFarSilenceSeconds);
}

}  // namespace platform::posix
