// Reading one entry from the text of an initialization file, by the rules
// the Windows profile functions follow, for systems that lack them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The value of `key` in the first section named `section` of `content`, as
// placed in a buffer of `bufferSize` characters, or `defaultText` when there
// is no such section or key.
std::string profileValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultText, std::size_t bufferSize);

}  // namespace platform
