// Where the platform tests reach into the POSIX copy; the service copies with
// every option at its default.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/services.h"

namespace platform::posix {

struct CopyOptions {
  std::size_t firstWay = 0;  // in the ways' order, 0 the first
  // Runs once the data is in the copy, before it is checked.
  std::function<void()> afterData;
  // Checks the copy by contents alone, as where times show no change.
  bool contentsOnly = false;
};

// Copies `source` to `target`, which must not exist, and fails when the
// source changed during the copy or `lockFile` (unless empty) appeared.
Outcome copyNew(const std::string& source, const std::string& target, const std::string& lockFile,
                const CopyOptions& options);

}  // namespace platform::posix
