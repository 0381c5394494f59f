#include "platform/core/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plat {

std::string InstanceLock::PathFor(const std::string& name) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = (dir && *dir && ::access(dir, W_OK) == 0) ? dir : "/tmp";
  // The name in hex: any bytes of any title make a valid file name.
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : name) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return folder + "/kiv-instance-" + hex + ".lock";
}

bool InstanceLock::Acquire(const std::string& name) {
  Release();
  int fd = ::open(PathFor(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

InstanceLock::Result InstanceLock::TryAcquire(const std::string& name, std::string* why) {
  Release();
  std::string path = PathFor(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (why) *why = path + ": " + std::strerror(errno);
    return Result::kError;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) return Result::kHeld;
    if (why) *why = path + ": " + std::strerror(e);
    return Result::kError;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void InstanceLock::Release() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace plat
