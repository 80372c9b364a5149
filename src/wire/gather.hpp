// What the one walks share: the list of open members, and the final copy of a first output with
// the containers written out of place (its fixes) put right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "json/scan.hpp"
#include "json/writer.hpp"
#include "wire/json_walk.hpp"

namespace velmor::wire {

// Copies `n` bytes (n >= 1) between buffers that do not overlap, sixteen at a time: the objects
// put in order as they close are mostly too short for a call to pay.
inline void copy_block(char* d, const char* s, std::size_t n) {
  if (n < 16) return json::copy_bytes(d, s, n);
  std::size_t k = 0;
  for (; k + 16 <= n; k += 16) {
    std::uint64_t a = json::load8(s + k), b = json::load8(s + k + 8);
    json::store8(d + k, a);
    json::store8(d + k + 8, b);
  }
  if (k != n) {
    std::uint64_t a = json::load8(s + n - 16), b = json::load8(s + n - 8);
    json::store8(d + n - 16, a);
    json::store8(d + n - 8, b);
  }
}

// A stack of plain entries that grows by doubling, with no check but the one for room.
template <class T>
class Stack {
 public:
  std::size_t size() const { return size_; }
  T* data() { return data_.get(); }
  T& operator[](std::size_t i) { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  void push_back(const T& v) {
    if (size_ == capacity_) grow();
    data_[size_++] = v;
  }
  void shrink(std::size_t n) { size_ = n; }

 private:
  void grow() {
    std::size_t n = capacity_ == 0 ? 64 : capacity_ * 2;
    std::unique_ptr<T[]> d(new T[n]);
    if (size_ != 0) std::memcpy(d.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(d);
    capacity_ = n;
  }

  std::unique_ptr<T[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The first of `fixes` from `lo` on (before `hi`) that ends after `at`.
inline std::size_t ending_after(const Blocks<Fix>& fixes, std::size_t lo, std::size_t hi, std::uint32_t at) {
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (fixes[mid].end <= at) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// A final output that grows as it is written, for a Gather.
struct Appending {
  std::string* out;
};

// Copies the first output into the final one with every fix applied (through a pointer into room
// made for it, or appended to a string), or (with `D` a count instead) only measures it.
template <bool Msgpack, class D>
class Gather {
 public:
  Gather(const char* raw, const Blocks<Fix>& fixes, const Blocks<Span>& spans, const Blocks<std::uint32_t>& bounds)
      : raw_(raw), fixes_(fixes), spans_(spans), bounds_(bounds) {}

  // raw[from, to), the fixes inside it being those from `lo` to `hi`.
  D copy(D d, std::uint32_t from, std::uint32_t to, std::size_t lo, std::size_t hi) {
    // The outermost of them, found from the last one back, then taken in order.
    std::size_t mark = stack_.size();
    for (std::size_t j = hi; j > lo;) {
      --j;
      stack_.push_back(static_cast<std::uint32_t>(j));
      j -= fixes_[j].inner;
    }
    std::uint32_t p = from;
    while (stack_.size() > mark) {
      std::size_t i = stack_.back();
      stack_.pop_back();
      const Fix& f = fixes_[i];
      d = apply(bytes(d, raw_ + p, f.at - p), i);
      p = f.end;
    }
    return bytes(d, raw_ + p, to - p);
  }

 private:
  static constexpr bool kWrite = std::is_same_v<D, char*>;
  static constexpr bool kAppend = std::is_same_v<D, Appending>;

  static D bytes(D d, const char* s, std::size_t n) {
    if constexpr (kAppend) {
      d.out->append(s, n);
      return d;
    } else {
      if constexpr (kWrite) json::copy_bytes(d, s, n);
      return d + n;
    }
  }
  static D byte(D d, char c) {
    if constexpr (kAppend) {
      d.out->push_back(c);
      return d;
    } else {
      if constexpr (kWrite) *d = c;
      return d + 1;
    }
  }

  static D head(D d, std::uint64_t n, bool object) {
    unsigned fix = object ? 0x80 : 0x90;
    if (n < 16) return byte(d, static_cast<char>(fix + n));
    unsigned m = n < 65536 ? (object ? 0xDE : 0xDC) : (object ? 0xDF : 0xDD);
    int w = n < 65536 ? 2 : 4;
    char h[5];
    h[0] = static_cast<char>(m);
    for (int k = 1; k <= w; ++k) h[k] = static_cast<char>(n >> (8 * (w - k)));
    return bytes(d, h, static_cast<std::size_t>(1 + w));
  }

  D apply(D d, std::size_t i) {
    const Fix& f = fixes_[i];
    std::size_t lo = i - f.inner;
    if (f.first == Fix::kNone) {
      d = head(d, f.count & ~Fix::kArray, (f.count & Fix::kArray) == 0);
      return copy(d, f.at + 1, f.end, lo, i);
    }
    if constexpr (Msgpack) {
      d = head(d, f.count, true);
    } else {
      d = byte(d, '{');
    }
    // The fixes inside a piece are those among the object's that end within it: closing
    // order is ascending `end`.
    std::uint32_t n = f.pieces & ~Fix::kPermuted;
    bool permuted = (f.pieces & Fix::kPermuted) != 0;
    if (permuted) n &= 15;
    for (std::uint32_t k = 0; k < n; ++k) {
      Span s;
      if (permuted) {
        std::uint32_t r = (f.pieces >> (4 + 3 * k)) & 7;
        auto bound = [&](std::uint32_t j) { return n == 2 ? f.first : bounds_[f.first + j - 1]; };
        s.begin = r == 0 ? f.at + 1 : bound(r);
        s.end = (r + 1 == n ? f.end : bound(r + 1)) - (Msgpack ? 0 : 1);
      } else {
        s = spans_[f.first + k];
      }
      if constexpr (!Msgpack) {
        if (k != 0) d = byte(d, ',');
      }
      std::size_t a = ending_after(fixes_, lo, i, s.begin);
      std::size_t b = ending_after(fixes_, a, i, s.end);
      d = copy(d, s.begin, s.end, a, b);
    }
    if constexpr (!Msgpack) d = byte(d, '}');
    return d;
  }

  const char* raw_;
  const Blocks<Fix>& fixes_;
  const Blocks<Span>& spans_;
  const Blocks<std::uint32_t>& bounds_;
  std::vector<std::uint32_t> stack_;  // the fixes still to apply, of every level being copied
};

}  // namespace velmor::wire
