// Another process that has a file in use, for as long as the object lives,
// and the users it and the program under test can run as.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

// A user to run as, for the tests that run as root and need one whom
// permissions stop.
struct Account {
  uid_t uid;
  gid_t gid;
};
constexpr Account kNobody{65534, 65534};

// In a child process: takes on `user`'s IDs and no supplementary groups, or
// stays as it is when there is no user; false when it cannot.
bool becomeUser(const Account* user);

class OtherProcess {
 public:
  enum class Hold {
    kOpen,        // holds the file open
    kRecordLock,  // holds a POSIX write lock on part of it
  };

  // As `user` when one is given; needs root. With `root`, the process first
  // takes a mount namespace of its own and that directory as its root, as
  // `unshare --mount` and `chroot` do, and `path` is within it.
  OtherProcess(const std::string& path, Hold hold, const Account* user = nullptr,
               const std::string& root = "");
  ~OtherProcess();
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

 private:
  pid_t pid_ = -1;
  int release_ = -1;  // closing it lets the process end
};

}  // namespace testing_support
