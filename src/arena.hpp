// The per-call bump allocator and the arrays that live in it.
//
// Every core operation owns one Arena for the length of the call. Model values (trees, actions,
// patches, JSON values) are trivially copyable records whose texts and arrays point into the
// arena or into the borrowed input text; the arena frees everything at once when the call ends,
// so no destructor ever walks a tree.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace velmor {

class Arena {
 public:
  explicit Arena(std::size_t first_block = 16 * 1024) : next_size_(first_block) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  void* allocate(std::size_t bytes, std::size_t align) {
    auto p = (reinterpret_cast<std::uintptr_t>(cur_) + align - 1) & ~(std::uintptr_t(align) - 1);
    if (cur_ == nullptr || bytes > reinterpret_cast<std::uintptr_t>(end_) - p ||
        p > reinterpret_cast<std::uintptr_t>(end_)) {
      return grow(bytes, align);
    }
    cur_ = reinterpret_cast<char*>(p + bytes);
    return reinterpret_cast<void*>(p);
  }

  template <class T>
  T* allocate_array(std::size_t n) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }

  template <class T, class... A>
  T* make(A&&... args) {
    static_assert(std::is_trivially_copyable_v<T>);
    return new (allocate(sizeof(T), alignof(T))) T{std::forward<A>(args)...};
  }

  // Everything allocated after mark() is released by rewind(); used for short-lived values.
  struct Mark {
    void* head;
    char* cur;
    char* end;
    std::size_t next_size;
  };
  Mark mark() const { return {head_, cur_, end_, next_size_}; }
  void rewind(const Mark& m);

  std::string_view copy(std::string_view s) {
    if (s.empty()) return {};
    char* p = static_cast<char*>(allocate(s.size(), 1));
    std::memcpy(p, s.data(), s.size());
    return {p, s.size()};
  }

 private:
  struct Block {
    Block* prev;
    std::size_t mapped;  // the length of the block's own mapping, or 0 for a malloc'd block
  };
  void* grow(std::size_t bytes, std::size_t align);
  static void release(Block* block);

  char* cur_ = nullptr;
  char* end_ = nullptr;
  Block* head_ = nullptr;
  std::size_t next_size_;
};

// A growable array in an arena. Elements are trivially copyable and are moved with memcpy; the
// array never frees (the arena does). Copying an ArenaVec copies the handle, not the elements:
// whoever mutates an array must be its only holder, which the tree operations guarantee by
// moving values rather than sharing them.
template <class T>
class ArenaVec {
 public:
  ArenaVec() = default;
  ArenaVec(T* data, std::size_t size) : data_(data), size_(narrow(size)), cap_(narrow(size)) {}

  static ArenaVec copy_of(Arena& arena, const T* src, std::size_t n) {
    if (n == 0) return {};
    T* p = arena.allocate_array<T>(n);
    std::memcpy(static_cast<void*>(p), src, n * sizeof(T));
    return {p, n};
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }

  void push_back(Arena& arena, const T& value) { insert(arena, size_, value); }

  void insert(Arena& arena, std::size_t pos, const T& value) {
    T copy = value;  // `value` may live in this array
    if (size_ == cap_) reserve(arena, cap_ < 4 ? 4 : std::size_t(cap_) * 2);
    if (pos < size_) {
      std::memmove(static_cast<void*>(data_ + pos + 1), data_ + pos, (size_ - pos) * sizeof(T));
    }
    std::memcpy(static_cast<void*>(data_ + pos), &copy, sizeof(T));
    ++size_;
  }

  void erase(std::size_t pos) {
    if (pos + 1 < size_) {
      std::memmove(static_cast<void*>(data_ + pos), data_ + pos + 1, (size_ - pos - 1) * sizeof(T));
    }
    --size_;
  }

  void resize_down(std::size_t n) { size_ = narrow(n); }

 private:
  static std::uint32_t narrow(std::size_t n) {
    if (n > UINT32_MAX) throw std::bad_alloc();
    return static_cast<std::uint32_t>(n);
  }
  void reserve(Arena& arena, std::size_t cap) {
    T* p = arena.allocate_array<T>(cap);
    if (size_ != 0) std::memcpy(static_cast<void*>(p), data_, size_ * sizeof(T));
    data_ = p;
    cap_ = narrow(cap);
  }

  T* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t cap_ = 0;
};

// A stack of trivially copyable elements, used by readers to collect the elements of an array or
// object before the arena gets an array of exactly the right size.
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() { std::free(buf_); }

  std::size_t mark() const { return size_; }

  template <class T>
  void push(const T& v) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= alignof(std::max_align_t));
    if (cap_ - size_ < sizeof(T)) grow(sizeof(T));
    std::memcpy(buf_ + size_, &v, sizeof(T));
    size_ += sizeof(T);
  }

  // Room for one T on top of the stack, for the caller to fill in; its offset. A reader builds an
  // element there in place (through at(), since a push while it is being read may move the
  // buffer) rather than in a local that push() would copy: the copy would load, in wider pieces,
  // what was just stored, and wait for the stores.
  template <class T>
  std::size_t claim() {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= alignof(std::max_align_t));
    if (cap_ - size_ < sizeof(T)) grow(sizeof(T));
    std::size_t at = size_;
    size_ += sizeof(T);
    return at;
  }
  template <class T>
  T* at(std::size_t offset) {
    return reinterpret_cast<T*>(buf_ + offset);
  }

  template <class T>
  std::size_t count(std::size_t mark) const {
    return (size_ - mark) / sizeof(T);
  }

  // Moves the elements pushed since `mark` into the arena and pops them.
  template <class T>
  ArenaVec<T> pop(Arena& arena, std::size_t mark) {
    std::size_t n = count<T>(mark);
    ArenaVec<T> out;
    if (n != 0) {
      T* p = arena.allocate_array<T>(n);
      copy_out(reinterpret_cast<char*>(p), buf_ + mark, n * sizeof(T));
      out = ArenaVec<T>(p, n);
    }
    size_ = mark;
    return out;
  }

  void reset(std::size_t mark) { size_ = mark; }

  // The elements pushed since `mark`, in place; valid until the next push.
  template <class T>
  T* since(std::size_t mark) {
    return reinterpret_cast<T*>(buf_ + mark);
  }

 private:
  // Most arrays and objects are short: up to 128 bytes are copied 16 at a time in line (the
  // last 16 overlapping the ones before) rather than with a call.
  static void copy_out(char* d, const char* s, std::size_t bytes) {
    if (bytes < 16 || bytes > 128) {
      std::memcpy(d, s, bytes);
      return;
    }
    for (std::size_t i = 0; i + 16 < bytes; i += 16) std::memcpy(d + i, s + i, 16);
    std::memcpy(d + bytes - 16, s + bytes - 16, 16);
  }
  void grow(std::size_t need);
  char* buf_ = nullptr;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
};

}  // namespace velmor
