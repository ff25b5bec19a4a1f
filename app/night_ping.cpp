// The night's pings: which address, how many tries, and the log's line when
// one fails.
#include "app/night_ping.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "job/settings_read.h"

namespace app {
namespace {

// A second try goes after one that failed at once (a refused connection, a
// dropped one, an answer of an error); one that ran out of its time is not
// tried again, so that a dead server costs a night one try's time a ping.
constexpr int kTries = 2;

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::string schemeAndHost(const std::string& url) {
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return "";
  const std::string scheme = lowered(url.substr(0, schemeEnd));
  if (scheme != "http" && scheme != "https") return "";
  const std::size_t authorityStart = schemeEnd + 3;
  std::string authority =
      url.substr(authorityStart, url.find_first_of("/?#", authorityStart) - authorityStart);
  authority.erase(0, authority.rfind('@') + 1);  // a user and password
  if (authority.empty()) return "";
  // The host ends before the port; an IPv6 address, in brackets, after them.
  authority =
      authority.substr(0, authority.front() == '[' ? authority.find(']') + 1 : authority.find(':'));
  if (authority.empty()) return "";
  return scheme + "://" + authority;
}

NightPing::NightPing(platform::Services& services) : services_(services) {
  try {
    url_ = job::readSettingsKey(services, services.besideProgram(".ini"), "PingUrl", "");
  } catch (const std::exception&) {
    // No settings to read: the job says so in the log, and no ping goes.
  }
  if (!url_.empty() && schemeAndHost(url_).empty()) {
    lines_.push_back("Ping not sent: PingUrl is not an http:// or https:// address");
    url_.clear();
  }
}

void NightPing::begin() { send("Start", "/start", ""); }

void NightPing::end(bool failed, const std::string& report) {
  if (endedFailed_ && (*endedFailed_ || !failed)) return;
  endedFailed_ = failed;
  send("End", failed ? "/fail" : "", report);
}

std::vector<std::string> NightPing::takeLines() { return std::move(lines_); }

void NightPing::send(const std::string& what, const std::string& suffix, const std::string& body) {
  if (url_.empty()) return;
  std::string reason;
  try {
    for (int attempt = 0; attempt < kTries; ++attempt) {
      const platform::PingAnswer answer = services_.postPing(url_ + suffix, body);
      if (answer.ok) return;
      reason = answer.timedOut
                   ? "no answer within " + std::to_string(platform::Services::kPingTrySeconds) +
                         " seconds"
                   : answer.reason;
      if (answer.timedOut) break;
    }
  } catch (const std::exception& error) {
    reason = error.what();  // out of memory, at worst: the night goes on
  }
  lines_.push_back(what + " ping to " + schemeAndHost(url_) + " failed: " + reason);
}

}  // namespace app
