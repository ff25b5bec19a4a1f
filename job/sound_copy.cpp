// Reading a copy back through the check of its structure.
#include "job/sound_copy.h"

#include "access/check.h"

namespace job {

std::string whyNotSound(platform::Services& services, const std::string& path) {
  jet::Check check;
  const platform::Outcome read = services.readSequentially(
      path, [&](const unsigned char* data, std::size_t size) { return check.feed(data, size); });
  if (!read.ok) return "it cannot be read: " + read.reason;
  return check.finish();
}

}  // namespace job
