// The tests' monitoring server: one thread, one connection at a time, and
// every wait bounded, so that a test that goes wrong fails instead of hanging.
#include "tests/support/ping_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testing_support {
namespace {

// Reads what comes within a few seconds, up to `size` bytes all told.
bool readMore(int connection, std::string& into, std::size_t size) {
  char buffer[4096];
  struct pollfd wait = {connection, POLLIN, 0};
  if (into.size() >= size || poll(&wait, 1, 5000) <= 0) return false;
  const ssize_t got = read(connection, buffer, sizeof buffer);
  if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
  return got > 0;
}

}  // namespace

PingServer::PingServer(bool answers) : answers_(answers) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0) {
    throw std::runtime_error("cannot listen on the loopback address");
  }
  thread_ = std::thread([this] { serve(); });
}

PingServer::~PingServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

std::string PingServer::url() const {
  struct sockaddr_in address {};
  socklen_t size = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

std::vector<std::string> PingServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void PingServer::serve() {
  std::vector<int> unanswered;  // held open until the test ends
  while (!stop_) {
    struct pollfd wait = {listener_, POLLIN, 0};
    if (poll(&wait, 1, 100) <= 0) continue;
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    if (answers_) {
      answer(connection);
      close(connection);
    } else {
      unanswered.push_back(connection);
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back("<no answer>");
    }
  }
  for (int connection : unanswered) close(connection);
}

void PingServer::answer(int connection) {
  constexpr std::size_t kMost = 1 << 20;
  std::string request;
  std::size_t headerEnd;
  while ((headerEnd = request.find("\r\n\r\n")) == std::string::npos) {
    if (!readMore(connection, request, kMost)) return;
  }
  // Both clients send the body's length in this spelling.
  const std::size_t length = request.find("Content-Length: ");
  const std::size_t bodySize = length < headerEnd ? std::stoul(request.substr(length + 16)) : 0;
  while (request.size() < headerEnd + 4 + bodySize) {
    if (!readMore(connection, request, kMost)) return;
  }
  const std::size_t pathStart = request.find(' ') + 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request.substr(pathStart, request.find(' ', pathStart) - pathStart) + " " +
                        request.substr(headerEnd + 4));
  }
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK";
  if (write(connection, ok.data(), ok.size()) < 0) return;  // the client went
}

}  // namespace testing_support
