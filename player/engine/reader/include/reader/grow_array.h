// The reader's growable array of plain values (pointers, 32- and 16-bit
// numbers). Growth failures leave the array unchanged and are reported, so a
// hostile count never turns into an unchecked write.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace reader {

template <typename T>
class GrowArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  GrowArray() = default;
  GrowArray(const GrowArray&) = delete;
  GrowArray& operator=(const GrowArray&) = delete;
  ~GrowArray() { std::free(data_); }

  int32_t count() const { return count_; }
  T& operator[](int32_t i) { return data_[i]; }
  const T& operator[](int32_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

  // Room for index i; the count becomes at least i + 1 (new slots zeroed).
  bool EnsureIndex(int32_t i) {
    if (i < 0) return false;
    const int64_t need = (static_cast<int64_t>(i) + 1) * static_cast<int64_t>(sizeof(T));
    if (need > INT32_MAX) return false;
    if (need > capacity_) {
      int64_t grow = capacity_ / 4 > 16 ? capacity_ / 4 : 16;
      int64_t cap = capacity_ + grow;
      if (cap < need) cap = need;
      if (cap > INT32_MAX) cap = need;
      void* p = std::realloc(data_, static_cast<size_t>(cap));
      if (!p) return false;
      data_ = static_cast<T*>(p);
      std::memset(reinterpret_cast<char*>(data_) + capacity_, 0, static_cast<size_t>(cap - capacity_));
      capacity_ = static_cast<int32_t>(cap);
    }
    if (i + 1 > count_) count_ = i + 1;
    return true;
  }

  // Inserts a zeroed element at i (0 <= i <= count), moving the tail up.
  bool InsertAt(int32_t i) {
    if (i < 0 || i > count_) return false;
    const int32_t old = count_;
    if (!EnsureIndex(old)) return false;
    std::memmove(data_ + i + 1, data_ + i, static_cast<size_t>(old - i) * sizeof(T));
    std::memset(static_cast<void*>(data_ + i), 0, sizeof(T));
    return true;
  }

  bool Append(const T& v) {
    if (!InsertAt(count_)) return false;
    data_[count_ - 1] = v;
    return true;
  }

  // Reserves room for n more elements up front (the caller has checked n).
  bool Reserve(int32_t n) {
    if (n <= 0) return true;
    const int32_t old = count_;
    if (!EnsureIndex(old + n - 1)) return false;
    count_ = old;
    return true;
  }

 private:
  T* data_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;  // bytes
};

// A GrowArray that owns the objects its pointers name.
template <typename T>
class OwnedArray : public GrowArray<T*> {
 public:
  ~OwnedArray() {
    for (T* p : *this) delete p;
  }
  // Appends p, taking ownership; deletes it when there is no room.
  bool Adopt(T* p) {
    if (this->Append(p)) return true;
    delete p;
    return false;
  }
};

}  // namespace reader
