// The resource cache thread: lists every resource, most recently used
// first, owns the one lock that serialises resource access, and trims
// memory when resources are being used.
//
// The list and the lock exist for the life of the process; the thread that
// runs the trim is started by the library's start-up and stopped and joined
// by its finalisation. Tests drive the loop body through Step() on an
// injected clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CriticalSection.h"

namespace kdl {

class TdtpResource;

inline constexpr std::uint64_t kResourceTrimInterval = 2000;  // ms between trims
inline constexpr std::uint32_t kResourceTrimTouches = 20;     // touches that make a trim worth it
inline constexpr int kResourceKeepCount = 10;                 // most recently used kept
inline constexpr std::int64_t kResourceKeepBytes = 104857600;  // 100 MiB kept among them
inline constexpr int kResourceThreadWaitMs = 10;

class TdtpResourceThread {
 public:
  TdtpResourceThread();
  ~TdtpResourceThread();
  TdtpResourceThread(const TdtpResourceThread&) = delete;
  TdtpResourceThread& operator=(const TdtpResourceThread&) = delete;

  TCriticalSection& Lock() { return lock_; }

  // Each takes the lock. Add puts a resource first when absent; Touch moves
  // one that is not first already to the front and counts a touch.
  void Add(TdtpResource* resource);
  void Remove(TdtpResource* resource);
  void Touch(TdtpResource* resource);
  // The most recently used listed resource that match accepts, or null;
  // match runs under the lock.
  TdtpResource* Find(const std::function<bool(TdtpResource&)>& match);

  // Releases (under the lock), beyond the 10 most recently used or once
  // those before hold more than 100 MiB, every resource not being accessed.
  // In the background only resources with nothing unsaved are released, so
  // the thread never encodes or writes.
  void Purge(bool background = false);
  // One pass of the thread's loop: a background trim once more than 2000 ms
  // have passed since the last one and more than 20 touches were counted.
  // Catches everything.
  void Step();

  // Starts the thread at a lowered priority; stops and joins it.
  void Start();
  void Stop();
  bool Running() const { return thread_.joinable(); }

  // ---- Inspection, for tests -------------------------------------------------------
  int Count();
  // Position in the list (0 = most recently used), -1 when absent.
  int IndexOf(const TdtpResource* resource);
  std::uint32_t Touches() const { return touches_.load(); }
  std::uint64_t LastTrim() const { return lastTrim_.load(); }
  // Zero touches and the last-trim tick set to tick.
  void ResetCounters(std::uint64_t tick);

 private:
  void Run();

  TCriticalSection lock_;
  std::vector<TdtpResource*> list_;
  std::atomic<std::uint32_t> touches_{0};
  std::atomic<std::uint64_t> lastTrim_{0};
  std::thread thread_;
  std::mutex waitMutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

// The process's one cache thread object.
TdtpResourceThread& ResourceThread();

}  // namespace kdl
