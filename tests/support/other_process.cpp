// Another process holding a file open or locked, as this user or another.
#include "tests/support/other_process.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace testing_support {

bool becomeUser(const Account* user) {
  return user == nullptr ||
         (setgroups(0, nullptr) == 0 && setgid(user->gid) == 0 && setuid(user->uid) == 0);
}

OtherProcess::OtherProcess(const std::string& path, Hold hold, const Account* user,
                           const std::string& root) {
  int ready[2];
  int release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(ready[0]);
    close(release[1]);
    const bool rooted =
        root.empty() || (unshare(CLONE_NEWNS) == 0 && chroot(root.c_str()) == 0 && chdir("/") == 0);
    if (!rooted || !becomeUser(user)) _exit(1);
    int fd = open(path.c_str(), O_RDWR);
    if (fd >= 0 && hold == Hold::kRecordLock) {
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      lock.l_start = 1;
      lock.l_len = 1;
      if (fcntl(fd, F_SETLK, &lock) != 0) _exit(1);
    }
    char signal = fd >= 0 ? 'y' : 'n';
    if (write(ready[1], &signal, 1) != 1) _exit(1);
    char ignored;
    while (read(release[0], &ignored, 1) > 0) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char signal = 'n';
  ssize_t got = read(ready[0], &signal, 1);
  close(ready[0]);
  if (got != 1 || signal != 'y')
    throw std::runtime_error("the other process could not hold " + path);
}

OtherProcess::~OtherProcess() {
  close(release_);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace testing_support
