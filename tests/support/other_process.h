// Another process that has a file in use, for as long as the object lives.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

class OtherProcess {
 public:
  enum class Hold {
    kOpen,        // holds the file open
    kRecordLock,  // holds a POSIX write lock on part of it
  };

  OtherProcess(const std::string& path, Hold hold);
  ~OtherProcess();
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

 private:
  pid_t pid_ = -1;
  int release_ = -1;  // closing it lets the process end
};

}  // namespace testing_support
