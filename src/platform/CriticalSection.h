// A re-entrant lock in place of the platform's critical sections: the thread
// that holds it may enter it again and must leave it as often.
#pragma once

#include <mutex>

namespace kdl {

class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }

  // BasicLockable, so that std::lock_guard and std::unique_lock work.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::recursive_mutex mutex_;
};

using TCriticalSectionGuard = std::lock_guard<TCriticalSection>;

}  // namespace kdl
