// Reading a copy back through the check of its structure.
#include "job/sound_copy.h"

#include "access/check.h"

namespace job {

CopyVerdict checkCopy(platform::Services& services, const std::string& path) {
  jet::Check check;
  const platform::Outcome read = services.readSequentially(
      path, [&](const unsigned char* data, std::size_t size) { return check.feed(data, size); });
  if (!read.ok) return {"it cannot be read: " + read.reason, check.bytes()};
  // The pages behind the pass that rows named, read once more each.
  if (check.revisit() != 0) {
    const std::uint64_t pageSize = check.pageSize();
    const platform::Outcome again = services.readAgain(
        path, pageSize,
        [&]() -> std::optional<std::uint64_t> {
          const std::uint32_t page = check.revisit();
          if (page == 0) return std::nullopt;
          return page * pageSize;
        },
        [&](const unsigned char* data, std::size_t) {
          check.feedAgain(data);
          return true;
        });
    if (!again.ok) return {"it cannot be read again: " + again.reason, check.bytes()};
  }
  return {check.finish(), check.bytes()};
}

std::string whyNotSound(platform::Services& services, const std::string& path) {
  return checkCopy(services, path).damage;
}

std::string nearTheCeiling(std::uint64_t bytes) {
  if (bytes * 10 < jet::kMaxFileBytes * 9) return {};
  // Tenths of a GB (of 2^30 bytes, as Access counts its 2 GB), rounded down
  // so that the figure never reaches the ceiling before the file does.
  const std::uint64_t tenths = bytes * 10 >> 30;
  return "Database is " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) +
         " GB of the 2 GB an Access file can hold: compact or split it";
}

}  // namespace job
