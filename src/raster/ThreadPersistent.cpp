#include "raster/ThreadPersistent.h"

#include <filesystem>
#include <mutex>

namespace kdl {

namespace {

// Guards every object's lock count.
TCriticalSection& GlobalLock() {
  static TCriticalSection lock;
  return lock;
}

}  // namespace

void RasterAssert(bool condition, const char* file, int line) {
  if (condition) return;
  throw EAssertionFailed("Assertion failure (" + std::filesystem::path(file).filename().string() +
                         ", line " + std::to_string(line) + ")");
}

void TThreadPersistent::EndUpdate() {
  if (updateCount_ <= 0) throw EAssertionFailed("Unpaired TThreadPersistent.EndUpdate");
  --updateCount_;
}

void TThreadPersistent::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange(this);
}

void TThreadPersistent::Lock() {
  {
    TCriticalSectionGuard g(GlobalLock());
    ++lockCount_;
  }
  lock_.Enter();
}

void TThreadPersistent::Unlock() {
  lock_.Leave();
  TCriticalSectionGuard g(GlobalLock());
  --lockCount_;
}

std::int32_t TThreadPersistent::LockCount() const {
  TCriticalSectionGuard g(GlobalLock());
  return lockCount_;
}

bool TCustomMap::SetSize(std::int32_t newWidth, std::int32_t newHeight) {
  if (newWidth < 0) newWidth = 0;
  if (newHeight < 0) newHeight = 0;
  if (newWidth == width_ && newHeight == height_) return false;
  ChangeSize(width_, height_, newWidth, newHeight);
  Changed();
  Resized();
  return true;
}

void TCustomMap::ChangeSize(std::int32_t& width, std::int32_t& height, std::int32_t newWidth,
                            std::int32_t newHeight) {
  width = newWidth;
  height = newHeight;
}

void TCustomMap::Resized() {
  if (OnResize) OnResize(this);
}

}  // namespace kdl
