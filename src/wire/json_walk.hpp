// JSON text rewritten canonically (as JSON again, or as MessagePack) in two walks, with no value
// built in memory.
//
// The first walk reads the text with the JSON reader, so every reading error comes with its
// usual text and position, and notes only what the second walk cannot see as it goes: the
// objects whose keys are not in ascending byte order (or repeat), with the offsets of the keys
// that survive in output order, and, for MessagePack, the arrays and objects of 16 elements or
// more, whose heads are longer than a byte. The second walk goes over the text that the first
// accepted and hands every value to an emitter. Working memory is sixteen bytes for each member
// of the objects open at a time (a view of its key), four for each member that the noted objects
// keep, and a few bits for each byte of text; strings with escapes are decoded into the arena
// and released right after use. Offsets are 32-bit, so texts are limited to 4 GiB, as a frame's
// payload is.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "arena.hpp"
#include "json/reader.hpp"
#include "json/writer.hpp"

namespace velmor::wire {

// An object whose members are written in another order than read.
struct JsonReorder {
  std::uint32_t at;     // offset of its `{`
  std::uint32_t end;    // offset just after its `}`
  std::uint32_t first;  // where its key offsets start in `JsonPlan::keys`
  std::uint32_t count;  // members written: one per distinct key
};

// An array or object (in order) of 16 elements or more.
struct JsonCount {
  std::uint32_t at;
  std::uint32_t count;
};

// A set of text offsets, one bit per byte of the text, that also tells how many members come
// before a given one, in constant time: entries noted in ascending offset order are found by
// that rank. Empty until the first offset is added.
// Bits set in `x`, without relying on the processor's instruction (the build targets plain x86-64,
// where the compiler would call a library routine).
inline std::uint32_t bits_set(std::uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<std::uint32_t>((x * 0x0101010101010101ULL) >> 56);
}

struct OffsetSet {
  std::vector<std::uint64_t> bits;
  std::vector<std::uint32_t> before;  // members in the words before each word; made by `seal`

  void add(std::uint32_t at, std::size_t text_size) {
    if (bits.empty()) bits.resize(text_size / 64 + 1);
    bits[at >> 6] |= std::uint64_t(1) << (at & 63);
  }
  void seal() {
    before.resize(bits.size());
    std::uint32_t n = 0;
    for (std::size_t w = 0; w < bits.size(); ++w) {
      before[w] = n;
      if (bits[w] != 0) n += bits_set(bits[w]);
    }
  }
  bool has(std::uint32_t at) const {
    return !bits.empty() && (bits[at >> 6] >> (at & 63) & 1) != 0;
  }
  std::uint32_t rank(std::uint32_t at) const {
    std::uint64_t lower = bits[at >> 6] & ((std::uint64_t(1) << (at & 63)) - 1);
    return before[at >> 6] + bits_set(lower);
  }
};

struct JsonPlan {
  std::vector<JsonReorder> reorders;  // ascending `at`
  std::vector<std::uint32_t> keys;    // offsets of the keys' opening quotes
  std::vector<JsonCount> counts;      // ascending `at`; only filled when asked for
  std::uint64_t msgpack_size = 0;     // at least the MessagePack size, when counts were asked for
  // Where the containers with an entry above open, so that the second walk finds an entry by
  // its rank among them.
  OffsetSet reordered;
  OffsetSet counted;
};

// The first walk: one JSON value at the reader's cursor, which must then be followed only by
// whitespace. Reading errors are thrown as by json::read_value. `text` is the reader's whole text.
JsonPlan plan_json(json::Reader& r, std::string_view text, bool msgpack);

// The second walk over the text that plan_json accepted with this plan, appending the value to
// `out` as canonical JSON (compact, members in ascending key order, the last of a repeated key
// kept, numbers rewritten from their kind and value).
void write_json(std::string_view text, const JsonPlan& plan, Arena& arena, std::string& out);

// The same, as MessagePack with the smallest marker for every value; the plan must have been
// made with `msgpack` set.
void write_msgpack(std::string_view text, const JsonPlan& plan, Arena& arena, std::string& out);

// A container written out of place by the one walk below: a MessagePack head wider than its byte
// (`first` is kNone), or an object whose members go in another order (`count` of them kept).
// A reordered object's kept members are copied as pieces, those next to each other in both
// orders merged. When no member is dropped and there are at most kMaxPermuted pieces, they tile
// the object and `pieces` holds their number and their order (kPermuted set): the piece written
// k-th is the one at raw index (pieces >> (4 + 3k)) & 7, where raw piece r starts where the
// (r-1)-th bound says (the first starts right after the head or brace, and the last ends at the
// closing one), and `first` is the single bound of two pieces or where the bounds start. Other
// objects keep their pieces as spans from `first`.
struct Fix {
  static constexpr std::uint32_t kNone = static_cast<std::uint32_t>(-1);
  static constexpr std::uint32_t kArray = std::uint32_t(1) << 31;  // in `count`: a head of an array
  static constexpr std::uint32_t kPermuted = std::uint32_t(1) << 31;  // in `pieces`
  static constexpr std::uint32_t kMaxPermuted = 8;
  std::uint32_t at;     // where the container starts in the first output
  std::uint32_t end;    // just after it
  std::uint32_t first;
  std::uint32_t count;
  std::uint32_t inner;  // how many fixes, right before this one, are inside it
  std::uint32_t pieces;
};

// Where a kept member's key and value were written in the first output.
struct Span {
  std::uint32_t begin;
  std::uint32_t end;
};

// A growing list kept in blocks that never move, each twice the size of the one before: adding
// to it copies nothing and leaves no freed buffer behind whose pages would stay with the process,
// and the blocks soon grow large enough to be given back to the system as a whole.
template <class T>
class Blocks {
 public:
  static constexpr unsigned kShift = 10;  // the first block holds 1 << kShift entries

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return at(i); }
  const T& operator[](std::size_t i) const { return const_cast<Blocks*>(this)->at(i); }
  T& back() { return at(size_ - 1); }
  void push_back(const T& v) {
    if (size_ == capacity_) {
      std::size_t n = std::size_t(1) << (kShift + blocks_.size());
      blocks_.emplace_back(new T[n]);
      capacity_ += n;
    }
    at(size_++) = v;
  }
  // Bytes held, for a bound on the bookkeeping.
  std::size_t bytes() const { return capacity_ * sizeof(T); }

 private:
  // Block b holds the entries i with i + (1 << kShift) in [1 << (kShift + b), 2 << (kShift + b)).
  T& at(std::size_t i) {
    std::size_t t = i + (std::size_t(1) << kShift);
    auto w = static_cast<unsigned>(std::bit_width(t) - 1);
    return blocks_[w - kShift][t ^ (std::size_t(1) << w)];
  }

  std::vector<std::unique_ptr<T[]>> blocks_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Bytes written through a raw cursor (as json::Out) into room that is not zeroed first: the one
// walk's MessagePack, copied once more in the end, is never read before it is written.
class Room {
 public:
  Room() = default;
  explicit Room(std::size_t expected) { grow(expected); }
  Room(Room&& o) noexcept : buf_(std::move(o.buf_)), cur_(o.cur_), end_(o.end_) { o.cur_ = o.end_ = nullptr; }
  Room& operator=(Room&& o) noexcept {
    buf_ = std::move(o.buf_);
    cur_ = o.cur_;
    end_ = o.end_;
    o.cur_ = o.end_ = nullptr;
    return *this;
  }

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
    json::copy_bytes(p, s, n);
    cur_ = p + n;
  }
  std::size_t size() const { return static_cast<std::size_t>(cur_ - buf_.get()); }
  bool empty() const { return cur_ == buf_.get(); }
  char* data() { return buf_.get(); }
  const char* data() const { return buf_.get(); }
  std::string_view view() const { return {buf_.get(), size()}; }

 private:
  void grow(std::size_t n) {
    std::size_t used = size();
    std::size_t want = std::max({used + n, used * 2, std::size_t(4096)});
    std::unique_ptr<char[]> d(new char[want]);
    if (used != 0) std::memcpy(d.get(), buf_.get(), used);
    buf_ = std::move(d);
    cur_ = buf_.get() + used;
    end_ = buf_.get() + want;
  }

  std::unique_ptr<char[]> buf_;
  char* cur_ = nullptr;
  char* end_ = nullptr;
};

// What the one walk wrote as MessagePack, before the fixes are applied.
struct MsgpackDraft {
  Room raw;                       // the first output
  Blocks<Fix> fixes;              // ascending `end`, in the order the containers closed
  Blocks<Span> spans;
  Blocks<std::uint32_t> bounds;   // of the permuted pieces
  std::size_t size = 0;           // of the final output
};

// The same rewriting in one walk, for the texts it can vouch for: it reads and writes at once and
// puts right afterwards only the containers that need it (objects whose keys came out of order or
// repeat, and MessagePack arrays and objects of 16 elements or more, whose heads are wider than
// the byte kept for them). It gives up, returning false with `out` as it was, on anything it does
// not settle on its own: every reading error (the two walks above then report it), keys with
// escapes, texts beyond 512 MiB, and objects to reorder whose bookkeeping would outgrow the
// output. Otherwise the value is appended to `out` exactly as the two walks would write it, and
// `ascii` tells whether the walk vouches for the text being valid UTF-8 (ASCII outside strings,
// and every string's plain run checked); when not, the text may still be valid.
bool rewrite_json(std::string_view text, Arena& arena, std::string& out, bool& ascii);

// The one walk as MessagePack, in two steps so that the final bytes go straight into storage
// sized for them: draft_msgpack walks (giving up as rewrite_json does) and tells the final size;
// finish_msgpack writes those `draft.size` bytes at `out`.
bool draft_msgpack(std::string_view text, Arena& arena, MsgpackDraft& draft);
void finish_msgpack(const MsgpackDraft& draft, char* out);

}  // namespace velmor::wire
