// Cutting texts the way the job's steps do, with the run-time error that a
// cut longer than the text raises.
#pragma once

#include <string>

namespace job {

// The text less its last `count` characters; raises RunTimeError 5 when the
// text is shorter than that.
std::string withoutLast(const std::string& text, std::size_t count);

}  // namespace job
