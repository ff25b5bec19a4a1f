// A file system made on a sparse image file in the build tree and mounted
// through a loop device, for the tests that need a real one.
#pragma once

#include <unistd.h>

#include <filesystem>

#include "tests/e2e/program_fixture.h"

namespace testing_support {

// How to make one kind of file system and mount it.
struct FileSystem {
  const char* name;
  const char* kernelName;          // as /proc/filesystems lists it
  std::vector<std::string> make;   // the image's path follows
  std::vector<std::string> mount;  // the device and the mount point follow
};

inline void PrintTo(const FileSystem& system, std::ostream* out) { *out << system.name; }

// exFAT, through FUSE.
inline const FileSystem kExfatFuse = {
    "exfat_fuse", "fuseblk", {"mkfs.exfat"}, {"mount.exfat-fuse"}};

// Whether /proc/filesystems lists `name`: each of its lines ends in a tab
// and a name.
inline bool kernelHas(const std::string& name) {
  return readFile("/proc/filesystems").find("\t" + name + "\n") != std::string::npos;
}

// A file system on a sparse image, mounted at `mountPoint` for the object's
// lifetime; unmounted, detached and deleted however the test ends.
class MountedImage {
 public:
  MountedImage(const FileSystem& system, const std::string& mountPoint) : mountPoint_(mountPoint) {
    if (!isRoot()) {
      whyNot_ = "mounting a file system needs root";
    } else if (!kernelHas(system.kernelName)) {
      whyNot_ = std::string("this kernel has no ") + system.kernelName;
    } else if (system.kernelName == std::string("fuseblk") && !exists("/dev/fuse")) {
      whyNot_ = "this machine has no /dev/fuse";
    } else if (!exists("/dev/loop-control")) {
      whyNot_ = "this machine has no loop devices";
    }
    if (!whyNot_.empty()) return;
    std::filesystem::create_directory(mountPoint);
    std::filesystem::create_directories(MUTESSEL_IMAGE_DIRECTORY);
    image_ = std::string(MUTESSEL_IMAGE_DIRECTORY "/") + system.name + "-" +
             std::to_string(getpid()) + ".img";
    writeFile(image_, "");
    std::filesystem::resize_file(image_, 300 << 20);
    std::vector<std::string> make = system.make;
    make.push_back(image_);
    RunResult made = runCommand(make);
    if (made.status != 0) failure_ = "cannot make the file system: " + made.standardError;
    RunResult loop = runCommand({"losetup", "--find", "--show", image_});
    if (loop.status != 0) {
      whyNot_ = "no loop device to be had: " + loop.standardError;
      return;
    }
    device_ = loop.standardOutput.substr(0, loop.standardOutput.find('\n'));
    std::vector<std::string> mount = system.mount;
    mount.insert(mount.end(), {device_, mountPoint});
    RunResult mounted = runCommand(mount);
    mounted_ = mounted.status == 0;
    if (!mounted_) failure_ = "cannot mount: " + mounted.standardError;
  }

  ~MountedImage() {
    if (mounted_) runCommand({"umount", mountPoint_});
    if (!device_.empty()) runCommand({"losetup", "--detach", device_});
    if (!image_.empty()) std::filesystem::remove(image_);
  }

  const std::string& whyNot() const { return whyNot_; }    // why the test cannot run here
  const std::string& failure() const { return failure_; }  // what went wrong in making it
  bool mounted() const { return mounted_; }
  const std::string& device() const { return device_; }  // the loop device

 private:
  std::string mountPoint_, image_, device_, whyNot_, failure_;
  bool mounted_ = false;
};

}  // namespace testing_support
