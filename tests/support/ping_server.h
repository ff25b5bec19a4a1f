// A monitoring server on loopback for one test: it records each request and
// answers 200, or holds each connection unanswered. Every wait is bounded.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class PingServer {
 public:
  explicit PingServer(bool answers) : answers_(answers) {
    struct sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 8);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    thread_ = std::thread([this] { serve(); });
  }
  ~PingServer() { stop(); }

  std::string url;  // http://127.0.0.1:<its port>

  // Stops it; "<path> <body>" of each request, or "<no answer>", in order.
  std::vector<std::string> stop() {
    if (thread_.joinable()) {
      stopping_ = true;
      thread_.join();
      close(listener_);
    }
    return requests_;
  }

 private:
  void serve() {
    std::vector<int> held;
    for (struct pollfd wait = {listener_, POLLIN, 0}; !stopping_;) {
      const int connection = poll(&wait, 1, 100) > 0 ? accept(listener_, nullptr, nullptr) : -1;
      if (connection >= 0) held.push_back(connection);
      if (connection >= 0) requests_.push_back(answers_ ? answer(connection) : "<no answer>");
    }
    for (int connection : held) close(connection);
  }

  // Path and body, once the body the headers announce has come, within 5 s a piece.
  static std::string answer(int connection) {
    std::string request;
    for (std::size_t end; (end = request.find("\r\n\r\n")) == std::string::npos ||
                          request.size() < end + 4 + bodyLength(request, end);) {
      char buffer[4096];
      struct pollfd wait = {connection, POLLIN, 0};
      const ssize_t got = poll(&wait, 1, 5000) > 0 ? read(connection, buffer, sizeof buffer) : 0;
      if (got <= 0) return "<cut short>";
      request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK";
    if (write(connection, ok.data(), ok.size()) < 0) return "<not answered>";
    const std::size_t path = request.find(' ') + 1, body = request.find("\r\n\r\n") + 4;
    return request.substr(path, request.find(' ', path) - path) + " " + request.substr(body);
  }

  static std::size_t bodyLength(const std::string& request, std::size_t headersEnd) {
    const std::size_t at = request.find("Content-Length: ");
    return at < headersEnd ? std::stoul(request.substr(at + 16)) : 0;
  }

  bool answers_;
  int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::atomic<bool> stopping_{false};
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace testing_support
