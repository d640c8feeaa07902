#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

// One owner for each reference that a Create or Copy call hands us, released
// exactly once when the owner goes out of scope. Copying is deleted so that no
// second owner can release it again. References obtained through a Get call
// are borrowed: they are never put in an owner, and each is marked where used.

template <typename Ref>
class CFOwned {
 public:
  explicit CFOwned(Ref ref) noexcept : ref_(ref) {}
  ~CFOwned() {
    if (ref_ != nullptr) CFRelease(ref_);
  }
  CFOwned(const CFOwned&) = delete;
  CFOwned& operator=(const CFOwned&) = delete;

  Ref get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

 private:
  Ref ref_;
};

class IOOwned {
 public:
  explicit IOOwned(io_object_t object) noexcept : object_(object) {}
  ~IOOwned() {
    if (object_ != IO_OBJECT_NULL) IOObjectRelease(object_);
  }
  IOOwned(const IOOwned&) = delete;
  IOOwned& operator=(const IOOwned&) = delete;

  io_object_t get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != IO_OBJECT_NULL; }

 private:
  io_object_t object_;
};
