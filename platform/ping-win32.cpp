// A ping on Windows goes through WinHTTP, Windows' own HTTP client, which
// checks HTTPS against the system's certificates and takes the proxy set
// for it (netsh winhttp). WinHTTP bounds each step of an exchange, not the
// whole; the exchange therefore runs on a thread of its own, and the night
// waits for it no longer than one try's time. An exchange given up on ends
// by its steps' own bounds, or with the program.
#include "platform/services-win32.h"
// After windows.h, which it needs.
#include <winhttp.h>

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <thread>

namespace platform::win32 {
namespace {

constexpr int kTryMilliseconds = Services::kPingTrySeconds * 1000;

// Owns a WinHTTP handle.
using Internet = std::unique_ptr<void, BOOL(WINAPI*)(HINTERNET)>;
Internet owned(HINTERNET handle) { return Internet(handle, WinHttpCloseHandle); }

// WinHTTP's own error texts are in winhttp.dll, not the system's table.
PingAnswer failed(DWORD error) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleA("winhttp.dll"), error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : "error " + std::to_string(error);
  LocalFree(buffer);
  text.erase(text.find_last_not_of("\r\n ") + 1);
  return {false, error == ERROR_WINHTTP_TIMEOUT, text};
}

std::wstring widened(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return wide;
}

PingAnswer exchange(const std::string& url, const std::string& body) {
  const std::wstring wideUrl = widened(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return failed(GetLastError());
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  // The path and the query that follows it, as one.
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
  Internet session =
      owned(WinHttpOpen(L"muTesselServerDbBackupandRepair", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return failed(GetLastError());
  WinHttpSetTimeouts(session.get(), kTryMilliseconds, kTryMilliseconds, kTryMilliseconds,
                     kTryMilliseconds);
  Internet connection = owned(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return failed(GetLastError());
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Internet request =
      owned(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
  if (!request) return failed(GetLastError());
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
  const DWORD size = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.get(), L"Content-Type: text/plain\r\n", static_cast<DWORD>(-1),
                          const_cast<char*>(body.data()), size, size, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    return failed(GetLastError());
  }
  DWORD status = 0;
  DWORD statusSize = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                           WINHTTP_NO_HEADER_INDEX)) {
    return failed(GetLastError());
  }
  if (status < 200 || status > 299) return {false, false, "HTTP status " + std::to_string(status)};
  return {true, false, ""};
}

}  // namespace

PingAnswer Win32Services::postPing(const std::string& url, const std::string& body) {
  try {
    // The thread holds its own share of the answer and of the texts, so
    // that it may outlive this call.
    auto answer = std::make_shared<std::promise<PingAnswer>>();
    std::future<PingAnswer> given = answer->get_future();
    std::thread([answer, url, body] {
      try {
        answer->set_value(exchange(url, body));
      } catch (...) {
        answer->set_exception(std::current_exception());
      }
    }).detach();
    if (given.wait_for(std::chrono::milliseconds(kTryMilliseconds)) != std::future_status::ready) {
      return {false, true, "no answer in time"};
    }
    return given.get();
  } catch (const std::exception& error) {
    return {false, false, error.what()};  // no thread to be had
  }
}

}  // namespace platform::win32
