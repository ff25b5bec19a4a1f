// The far place's look-ups and deletes, each given up when the place stops
// answering; the copy there is in file_copy-posix.cpp.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/answer_guard.h"
#include "platform/services-posix.h"

namespace platform::posix {

Outcome PosixServices::examineFar(const std::string& directory, const std::string& near,
                                  bool& sameFileSystem) {
  auto same = std::make_shared<bool>(false);
  const Outcome outcome = whileAnswering(
      [directory, near, same](const Answered&) {
        return outcomeOf([&] {
          struct stat place {
          }, file{};
          if (stat(directory.c_str(), &place) != 0) failWith(errno);
          if (!S_ISDIR(place.st_mode)) failWith(ENOTDIR);
          if (stat(near.c_str(), &file) != 0) failWith(errno);
          *same = place.st_dev == file.st_dev;
        });
      },
      kFarSilenceSeconds);
  sameFileSystem = *same;
  return outcome;
}

Outcome PosixServices::listFar(const std::string& pattern, std::vector<std::string>& names) {
  auto found = std::make_shared<std::vector<std::string>>();
  const Outcome outcome = whileAnswering(
      [pattern, found](const Answered&) {
        try {
          *found = listNames(pattern, kListOrdinary);
          return Outcome{true, ""};
        } catch (const RunTimeError& error) {
          return Outcome{false, error.description()};
        }
      },
      kFarSilenceSeconds);
  names = *found;
  return outcome;
}

Outcome PosixServices::deleteFar(const std::string& path) {
  return whileAnswering(
      [path](const Answered&) {
        return outcomeOf([&] {
          if (unlink(path.c_str()) != 0) failWith(errno);
        });
      },
      kFarSilenceSeconds);
}

}  // namespace platform::posix
