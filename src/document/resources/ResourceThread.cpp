#include "document/resources/ResourceThread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "document/resources/Resource.h"
#include "platform/TickCount.h"

namespace kdl {

TdtpResourceThread::TdtpResourceThread() = default;

TdtpResourceThread::~TdtpResourceThread() { Stop(); }

TdtpResourceThread& ResourceThread() {
  // Built on first use, so it is destroyed (and its thread joined) before
  // the clock and everything else the loop uses.
  static TdtpResourceThread thread;
  return thread;
}

void TdtpResourceThread::Add(TdtpResource* resource) {
  TCriticalSectionGuard guard(lock_);
  if (std::find(list_.begin(), list_.end(), resource) == list_.end())
    list_.insert(list_.begin(), resource);
}

void TdtpResourceThread::Remove(TdtpResource* resource) {
  TCriticalSectionGuard guard(lock_);
  const auto it = std::find(list_.begin(), list_.end(), resource);
  if (it != list_.end()) list_.erase(it);
}

void TdtpResourceThread::Touch(TdtpResource* resource) {
  TCriticalSectionGuard guard(lock_);
  if (list_.empty() || list_.front() == resource) return;
  const auto it = std::find(list_.begin(), list_.end(), resource);
  if (it == list_.end()) return;
  std::rotate(list_.begin(), it, it + 1);
  touches_.fetch_add(1, std::memory_order_relaxed);
}

TdtpResource* TdtpResourceThread::Find(const std::function<bool(TdtpResource&)>& match) {
  TCriticalSectionGuard guard(lock_);
  for (TdtpResource* r : list_)
    if (match(*r)) return r;
  return nullptr;
}

void TdtpResourceThread::Purge(bool background) {
  TCriticalSectionGuard guard(lock_);
  if (list_.size() <= static_cast<std::size_t>(kResourceKeepCount)) return;
  // Releasing only drops objects and bytes (and in the foreground writes
  // them out); nothing in it adds to or takes from the list.
  std::int64_t kept = 0;
  for (std::size_t i = 0; i < list_.size(); ++i) {
    TdtpResource* r = list_[i];
    if (i >= static_cast<std::size_t>(kResourceKeepCount) || kept > kResourceKeepBytes) {
      if (background && (r->ObjectModified() || r->DataModified())) continue;
      r->Release();
    } else {
      kept += r->MemorySize();
    }
  }
}

void TdtpResourceThread::Step() {
  try {
    const std::uint64_t now = TickCount64();
    if (now - lastTrim_.load() > kResourceTrimInterval && touches_.load() > kResourceTrimTouches) {
      Purge(true);
      lastTrim_.store(TickCount64());
      touches_.store(0);
    }
  } catch (...) {
    // An exception leaving a thread would end the program; a trim that
    // failed is simply tried again later.
  }
}

void TdtpResourceThread::Run() {
  // A lower priority, for this thread only: painting must not wait for it.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) ::setpriority(PRIO_PROCESS, tid, std::min(current + 1, 19));
  std::unique_lock<std::mutex> wait(waitMutex_);
  while (!stopping_) {
    wait.unlock();
    Step();
    wait.lock();
    wake_.wait_for(wait, std::chrono::milliseconds(kResourceThreadWaitMs), [this] { return stopping_; });
  }
}

void TdtpResourceThread::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(waitMutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

void TdtpResourceThread::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(waitMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

int TdtpResourceThread::Count() {
  TCriticalSectionGuard guard(lock_);
  return static_cast<int>(list_.size());
}

int TdtpResourceThread::IndexOf(const TdtpResource* resource) {
  TCriticalSectionGuard guard(lock_);
  const auto it = std::find(list_.begin(), list_.end(), resource);
  return it == list_.end() ? -1 : static_cast<int>(it - list_.begin());
}

void TdtpResourceThread::ResetCounters(std::uint64_t tick) {
  touches_.store(0);
  lastTrim_.store(tick);
}

}  // namespace kdl
