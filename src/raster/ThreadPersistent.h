// The bases of the raster objects: an update counter and change event with a
// lock of the object's own (TThreadPersistent), and a size (TCustomMap).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/Exception.h"

namespace kdl {

// The raster library's consistency checks.
KDL_DECLARE_EXCEPTION(EAssertionFailed, Exception);

// Raises EAssertionFailed "Assertion failure (file, line N)" when the
// condition does not hold.
void RasterAssert(bool condition, const char* file, int line);
// The condition is tested in line: the call is only made to raise.
#define KDL_RASTER_ASSERT(cond) ((cond) ? void() : ::kdl::RasterAssert(false, __FILE__, __LINE__))

class TThreadPersistent {
 public:
  using TNotifyEvent = std::function<void(TThreadPersistent* sender)>;

  TThreadPersistent() = default;
  virtual ~TThreadPersistent() = default;
  TThreadPersistent(const TThreadPersistent&) = delete;
  TThreadPersistent& operator=(const TThreadPersistent&) = delete;

  void BeginUpdate() { ++updateCount_; }
  // Raises EAssertionFailed "Unpaired TThreadPersistent.EndUpdate" without a
  // matching BeginUpdate. Does not call Changed.
  void EndUpdate();
  // Fires OnChange unless an update is open.
  virtual void Changed();

  void Lock();
  void Unlock();

  std::int32_t LockCount() const;
  std::int32_t UpdateCount() const { return updateCount_; }

  TNotifyEvent OnChange;

 protected:
  TCriticalSection& LockObject() { return lock_; }

 private:
  TCriticalSection lock_;
  std::int32_t lockCount_ = 0;
  std::int32_t updateCount_ = 0;
};

class TCustomMap : public TThreadPersistent {
 public:
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  void SetWidth(std::int32_t value) { SetSize(value, height_); }
  void SetHeight(std::int32_t value) { SetSize(width_, value); }

  // Negative sizes become 0. False (and no event) when the size stays.
  virtual bool SetSize(std::int32_t newWidth, std::int32_t newHeight);
  virtual void Delete() { SetSize(0, 0); }
  virtual bool Empty() const { return width_ == 0 || height_ == 0; }

  TNotifyEvent OnResize;

 protected:
  // Stores the new size; descendants reallocate their storage first.
  virtual void ChangeSize(std::int32_t& width, std::int32_t& height, std::int32_t newWidth,
                          std::int32_t newHeight);
  virtual void Resized();

 private:
  std::int32_t height_ = 0;
  std::int32_t width_ = 0;
};

}  // namespace kdl
