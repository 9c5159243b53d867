// A buffer of a count of values known at run time, kept inside the object
// when the count is small (as it is for nearly every call) and on the heap
// otherwise: a late-bound call then allocates nothing for its arguments.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace platform::typelib {

template <typename T, size_t Inline = 8> class SmallBuffer {
 public:
  // `count` values, each initialised to `value`.
  explicit SmallBuffer(size_t count, const T &value = T()) : count_(count) {
    if (count > Inline)
      heap_.assign(count, value);
    else
      local_.fill(value);
    data_ = count > Inline ? heap_.data() : local_.data();
  }
  SmallBuffer(const SmallBuffer &) = delete;
  SmallBuffer &operator=(const SmallBuffer &) = delete;

  T *data() { return data_; }
  size_t size() const { return count_; }
  T &operator[](size_t i) { return data_[i]; }

 private:
  std::array<T, Inline> local_;
  std::vector<T> heap_;
  T *data_;
  size_t count_;
};

}  // namespace platform::typelib
