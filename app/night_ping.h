// The night's pings to a monitoring service that expects one after every
// run and raises the alarm when a run fails or no ping comes (a "dead man's
// switch"), when the settings name its check with the key PingUrl.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace app {

class NightPing {
 public:
  // Reads PingUrl from the settings beside the program. Without the key,
  // or without a settings file, nothing is ever sent.
  explicit NightPing(platform::Services& services);

  // The URL with "/start": the night begins.
  void begin();
  // The URL itself for a night that went through (status 0 or 3), or with
  // "/fail", with the night's report as the body. A night that ended sound
  // and then could not write its log ends again, as failed.
  void end(bool failed, const std::string& report);

  // One line for each ping that failed, and for a PingUrl that is no
  // address; handed over once, for the log.
  std::vector<std::string> takeLines();

 private:
  void send(const std::string& what, const std::string& suffix, const std::string& body);

  platform::Services& services_;
  std::string url_;
  std::optional<bool> endedFailed_;
  std::vector<std::string> lines_;
};

// The URL's scheme and host alone, such as "https://hc-ping.com", for the
// log: the path, a user and password, and the port stay out, since the
// address of a check is all it takes to ping it. Empty when the URL is no
// http or https address with a host.
std::string schemeAndHost(const std::string& url);

}  // namespace app
