// The single-instance lock shared by the game program and the configuration
// tool: a lock file named from the product title, held with flock, so that
// the lock goes with its process however that process ends.
#pragma once
#include <string>

namespace plat {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock() { Release(); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock named `name` (Shift-JIS); false when another process
  // holds it (or the lock file cannot be made).
  bool Acquire(const std::string& name);
  // Like Acquire, telling a lock another process holds (kHeld) from one
  // that cannot be made at all (kError, with the reason in *why).
  enum class Result { kAcquired, kHeld, kError };
  Result TryAcquire(const std::string& name, std::string* why);
  void Release();

  // Where the lock file of `name` lives: $XDG_RUNTIME_DIR or /tmp.
  static std::string PathFor(const std::string& name);

 private:
  int fd_ = -1;
};

}  // namespace plat
