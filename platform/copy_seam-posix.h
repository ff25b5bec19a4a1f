// Where the platform tests reach into the POSIX copy: the way to start from,
// and a change to the database once the data is in the copy. The service
// itself copies with every option at its default.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/services.h"

namespace platform::posix {

struct CopyOptions {
  std::size_t firstWay = 0;  // in the ways' order, 0 the first
  // Runs once the data is in the copy, before the copy is checked against
  // the database.
  std::function<void()> afterData;
  // Checks the copy against the database's contents alone, as on a file
  // system whose times show no change.
  bool contentsOnly = false;
};

// Copies `source` to `target`, which must not exist, and fails when the
// source changed during the copy or `lockFile` (unless empty) appeared.
Outcome copyNew(const std::string& source, const std::string& target, const std::string& lockFile,
                const CopyOptions& options);

}  // namespace platform::posix
