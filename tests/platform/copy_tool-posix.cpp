// A copy by one chosen way, for the test that records its system calls:
//   copy_tool WAY SOURCE TARGET [clash]
// WAY is the place of the way in their order, 0 the first. With "clash", another file takes the
// target's name once the data is written, so that naming the copy fails.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/copy_seam-posix.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  platform::posix::CopyOptions options;
  options.firstWay = std::strtoul(argv[1], nullptr, 10);
  const std::string target = argv[3];
  if (argc > 4) options.afterData = [&target] { std::ofstream(target) << "other"; };
  platform::Outcome copy = platform::posix::copyNew(argv[2], target, "", options);
  std::puts(copy.ok ? "copied" : copy.reason.c_str());
  return copy.ok ? 0 : 1;
}
