// What a sound Access file's bytes say of its layout, and the damage a power
// loss leaves in them, for the tests and the tools that make damage.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

namespace testing_support {

// Access 97 files have pages of 2 KiB (version byte 0), later ones 4 KiB.
inline std::size_t pageSizeOf(const std::string& file) {
  return file.size() > 0x14 && file[0x14] == 0 ? 2048 : 4096;
}

// The commonest damage after a power loss: the file's last quarter of pages
// never written.
inline std::string withLastQuarterZeroed(std::string file) {
  const std::size_t pageSize = pageSizeOf(file);
  std::fill(file.begin() + file.size() / pageSize * 3 / 4 * pageSize, file.end(), '\0');
  return file;
}

}  // namespace testing_support
