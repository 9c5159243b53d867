// The owner of a POSIX file descriptor, closed when the owner goes: the
// platform's kernel code holds every descriptor it opens in one.
#pragma once

#include <unistd.h>

namespace platform::kernel {

class Descriptor {
 public:
  explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
  Descriptor(Descriptor &&other) noexcept : descriptor_(other.release()) {}
  Descriptor &operator=(Descriptor &&other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Descriptor() { reset(); }
  int get() const { return descriptor_; }
  int release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
  }
  void reset(int descriptor = -1) {
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = descriptor;
  }

 private:
  int descriptor_;
};

}  // namespace platform::kernel
