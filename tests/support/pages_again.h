// What the platform hands over when asked for pages again at `offsets`, in
// their order, as a check does after its pass.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/services.h"

namespace testing_support {

inline std::pair<platform::Outcome, std::string> pagesAgain(platform::Services& services,
                                                            const std::string& path,
                                                            std::vector<std::uint64_t> offsets) {
  std::string read;
  auto next = offsets.begin();
  const platform::Outcome outcome = services.readAgain(
      path, 4096, [&] { return next == offsets.end() ? std::nullopt : std::optional(*next++); },
      [&](const unsigned char* data, std::size_t size) {
        return read.append(reinterpret_cast<const char*>(data), size), true;
      });
  return {outcome, read};
}

}  // namespace testing_support
