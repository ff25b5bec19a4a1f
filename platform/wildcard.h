// Matching a name against a listing pattern with "*" and "?", ignoring the
// case of ASCII letters, as the system does.
#pragma once

#include <string_view>

namespace platform {

bool matchesWildcards(std::string_view pattern, std::string_view name);

}  // namespace platform
