// Asks the platform to read pages of a file again at the offsets given, in
// their order, as a check does after its pass; gathers what it hands over.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/services.h"

namespace testing_support {

inline std::pair<platform::Outcome, std::string> pagesAgain(platform::Services& services,
                                                            const std::string& path,
                                                            std::vector<std::uint64_t> offsets) {
  std::string read;
  std::size_t next = 0;
  const platform::Outcome outcome = services.readAgain(
      path, 4096,
      [&]() -> std::optional<std::uint64_t> {
        if (next == offsets.size()) return std::nullopt;
        return offsets[next++];
      },
      [&](const unsigned char* data, std::size_t size) {
        return read.append(reinterpret_cast<const char*>(data), size), true;
      });
  return {outcome, read};
}

}  // namespace testing_support
