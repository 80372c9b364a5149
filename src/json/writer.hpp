// The canonical JSON writer: compact output appended to one growing buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/scan.hpp"

namespace velmor::json {

// Copies `n` bytes; short copies (the names and pieces of syntax that most appends are) with
// overlapping loads and stores instead of a call.
inline void copy_bytes(char* d, const char* s, std::size_t n) {
  if (n > 16) {
    std::memcpy(d, s, n);
  } else if (n >= 8) {
    store8(d, load8(s));
    store8(d + n - 8, load8(s + n - 8));
  } else if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n != 0) {
    char a = s[0], b = s[n / 2], c = s[n - 1];
    d[0] = a;
    d[n / 2] = b;
    d[n - 1] = c;
  }
}

// The buffer that trees, patches and values are written into. Bytes go through a raw cursor:
// room(n) makes sure that n bytes fit at the cursor and returns it, commit(p) moves the cursor to
// `p` after they are written. The room ahead of the cursor is made a chunk at a time, so that
// an append is usually a store and a pointer bump rather than a call.
class Out {
 public:
  // `expected`: the size the output will likely reach, reserved up front.
  explicit Out(std::size_t expected = 0);
  // Goes on after the bytes of `written`, whose reserved capacity becomes room.
  explicit Out(std::string&& written);
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  char* room(std::size_t n) {
    if (static_cast<std::size_t>(end_ - cur_) < n) grow(n);
    return cur_;
  }
  void commit(char* p) { cur_ = p; }

  void push_back(char c) {
    char* p = room(1);
    *p = c;
    cur_ = p + 1;
  }
  void append(const char* s, std::size_t n) {
    char* p = room(n);
    copy_bytes(p, s, n);
    cur_ = p + n;
  }
  void append(std::size_t n, char c) {
    char* p = room(n);
    std::memset(p, c, n);
    cur_ = p + n;
  }
  Out& operator+=(std::string_view s) {
    append(s.data(), s.size());
    return *this;
  }

  std::size_t size() const { return static_cast<std::size_t>(cur_ - buf_.data()); }
  // Forgets what was written; the room stays.
  void clear() { cur_ = buf_.data(); }
  // Forgets what was written after the first `n` bytes.
  void resize_down(std::size_t n) { cur_ = buf_.data() + n; }
  std::string_view view() const { return {buf_.data(), size()}; }
  // The bytes written; the buffer is left empty.
  std::string take();

 private:
  void grow(std::size_t n);

  std::string buf_;  // its size is the end of the room; the written bytes end at the cursor
  char* cur_;
  char* end_;
};

// A double-quoted string: `"` and `\` escaped, \b \t \n \f \r by name, other bytes below 0x20 as
// \u00XX (lowercase hex), everything else (including '/', DEL and non-ASCII) as it is.
void write_string(std::string& out, std::string_view s);
// write_string() for the strings it does not write in line.
void write_long_string(Out& out, std::string_view s);
// Strings shorter than a word with nothing to escape (most names and keys) are written in line.
inline void write_string(Out& out, std::string_view s) {
  if (kWordScan && s.size() < 8) {
    std::uint64_t w = load_short(s.data(), s.size());
    if (special_bytes(w) == 0) {
      char* d = out.room(10);
      d[0] = '"';
      store8(d + 1, w);
      d[1 + s.size()] = '"';
      out.commit(d + 2 + s.size());
      return;
    }
  }
#ifdef __EMSCRIPTEN__
  // In the wasm build also those of up to two words (a call costs more there): their first and
  // last eight bytes, which overlap below sixteen.
  if (kWordScan && s.size() >= 8 && s.size() <= 16) {
    std::uint64_t head = load8(s.data());
    std::uint64_t tail = load8(s.data() + s.size() - 8);
    if ((special_bytes(head) | special_bytes(tail)) == 0) {
      char* d = out.room(18);
      d[0] = '"';
      store8(d + 1, head);
      store8(d + 1 + s.size() - 8, tail);
      d[1 + s.size()] = '"';
      out.commit(d + 2 + s.size());
      return;
    }
  }
#endif
  write_long_string(out, s);
}
// The number of bytes write_string appends for `s`.
std::size_t string_size(std::string_view s);
void write_u64(Out& out, std::uint64_t v);
void write_u64(std::string& out, std::uint64_t v);
void write_i64(Out& out, std::int64_t v);
void write_i64(std::string& out, std::int64_t v);
// The shortest digits that read back as the same double: positional for decimal exponents
// -5..15 (always with a digit after the point), otherwise d[.ddd]e±X; non-finite values as null.
void write_f64(Out& out, double v);
void write_f64(std::string& out, double v);

// The deepest nesting of arrays and objects in a JSON text that this module wrote (so its strings
// are closed and escape only with a backslash).
std::size_t nesting(std::string_view text);

}  // namespace velmor::json
