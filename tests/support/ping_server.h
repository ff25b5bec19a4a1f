// A monitoring server for the pings, on the loopback address, for one test:
// it records each request's path and body and answers 200, or takes the
// connection and never answers.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class PingServer {
 public:
  explicit PingServer(bool answers = true);
  ~PingServer();

  std::string url() const;  // http://127.0.0.1:<its port>
  // "<path> <body>" for each request, in order; without answers, each
  // connection's "<no answer>".
  std::vector<std::string> requests();

 private:
  void serve();
  void answer(int connection);

  int listener_ = -1;
  bool answers_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace testing_support
