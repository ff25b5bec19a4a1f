// Reading one key of the settings file's section "settings".
#pragma once

#include <string>

#include "platform/services.h"

namespace job {

// The buffer that every value is read into; a longer value comes back cut.
constexpr std::size_t kSettingBufferSize = 4096;

// The value of `key` in section "settings" of the file at `iniPath`, or
// `defaultText` when the file, the section or the key is missing.
inline std::string readSettingsKey(platform::Services& services, const std::string& iniPath,
                                   const std::string& key, const std::string& defaultText) {
  return services.readSetting("settings", key, defaultText, kSettingBufferSize, iniPath);
}

}  // namespace job
