// A ping on POSIX systems goes through libcurl, the system's own HTTP
// client, which checks HTTPS against the system's certificates. It is
// loaded only by a night that pings: a night without PingUrl loads and
// costs nothing more than before, and a machine without the library gets a
// line in the log, not a program that cannot start.
#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>

#include "platform/services-posix.h"

namespace platform::posix {
namespace {

constexpr const char* kClientLibrary = "libcurl.so.4";

// The library's own functions, found by name; the header gives their types.
struct Client {
  decltype(&curl_easy_init) init;
  decltype(&curl_easy_setopt) setOption;
  decltype(&curl_easy_perform) perform;
  decltype(&curl_easy_getinfo) information;
  decltype(&curl_easy_strerror) errorText;
  decltype(&curl_easy_cleanup) cleanup;
  decltype(&curl_slist_append) appendHeader;
  decltype(&curl_slist_free_all) freeHeaders;
};

template <typename Function>
bool find(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// The library stays loaded for the rest of the run, as the installer does;
// null when it or one of its functions is missing.
const Client* loadClient() {
  static Client client{};
  static void* library = dlopen(kClientLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  const bool found = find(library, "curl_easy_init", client.init) &&
                     find(library, "curl_easy_setopt", client.setOption) &&
                     find(library, "curl_easy_perform", client.perform) &&
                     find(library, "curl_easy_getinfo", client.information) &&
                     find(library, "curl_easy_strerror", client.errorText) &&
                     find(library, "curl_easy_cleanup", client.cleanup) &&
                     find(library, "curl_slist_append", client.appendHeader) &&
                     find(library, "curl_slist_free_all", client.freeHeaders);
  return found ? &client : nullptr;
}

// The answer's body says nothing the night needs; it is read and dropped.
std::size_t dropAnswer(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

PingAnswer PosixServices::postPing(const std::string& url, const std::string& body) {
  const Client* client = loadClient();
  if (client == nullptr) return {false, false, std::string(kClientLibrary) + " cannot be loaded"};
  std::unique_ptr<CURL, decltype(client->cleanup)> exchange(client->init(), client->cleanup);
  if (!exchange) return {false, false, "the HTTP client cannot start"};
  // "Expect:" keeps the client from waiting on the server's leave to send
  // a long report.
  curl_slist* headers = nullptr;
  for (const char* header : {"Content-Type: text/plain", "Expect:"}) {
    if (curl_slist* longer = client->appendHeader(headers, header)) headers = longer;
  }
  CURL* handle = exchange.get();
  auto set = [&](CURLoption option, auto value) {
    return client->setOption(handle, option, value) == CURLE_OK;
  };
  const long timeout = Services::kPingTrySeconds * 1000L;
  const bool ready = set(CURLOPT_URL, url.c_str()) && set(CURLOPT_PROTOCOLS_STR, "http,https") &&
                     set(CURLOPT_NOSIGNAL, 1L) && set(CURLOPT_TIMEOUT_MS, timeout) &&
                     set(CURLOPT_POSTFIELDS, body.data()) &&
                     set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) &&
                     set(CURLOPT_HTTPHEADER, headers) &&
                     set(CURLOPT_USERAGENT, "muTesselServerDbBackupandRepair") &&
                     set(CURLOPT_WRITEFUNCTION, dropAnswer);
  const CURLcode result = ready ? client->perform(handle) : CURLE_FAILED_INIT;
  client->freeHeaders(headers);
  if (result != CURLE_OK) {
    return {false, result == CURLE_OPERATION_TIMEDOUT, client->errorText(result)};
  }
  long status = 0;
  client->information(handle, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return {false, false, "HTTP status " + std::to_string(status)};
  return {true, false, ""};
}

}  // namespace platform::posix
