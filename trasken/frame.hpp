// trasken: the length-prefixed frame envelope (header text plus payload bytes).
//
// A frame is four big-endian bytes H, the header as H bytes of compact JSON, four big-endian
// bytes P, then the P payload bytes. The envelope knows nothing of codecs: it carries the codec
// name as text and the payload as opaque bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "arena.hpp"

namespace trasken {

enum class FrameKind : std::uint8_t { Snapshot, Patch };

struct Header {
  std::string_view codec;
  std::string_view model_type;
  std::uint64_t target = 0;
  std::uint64_t rev = 0;
  FrameKind kind = FrameKind::Snapshot;
};

struct FrameError {
  enum class Kind : std::uint8_t { Truncated, BadHeader };
  Kind kind;
  std::string detail;  // BadHeader: the JSON reading error, "... at line L column C"

  // "truncated frame" / "bad frame header: " + detail
  std::string render() const;
};

// A decoded frame. The texts of the header and the payload borrow the frame's bytes (or, for a
// header string with escapes, the arena given to decode_envelope).
struct Envelope {
  Header header;
  std::string_view payload;
};

// The largest header or payload that a 32-bit length can describe.
inline constexpr std::uint64_t kMaxSection = 0xFFFFFFFFu;

// The header as written on the wire: compact JSON, members in field order.
std::string header_text(const Header& header);
// header_text(header).size(), without writing it.
std::size_t header_size(const Header& header);

// Writes both length prefixes and the header into `out` (room for 8 + H + P bytes) and returns
// where the payload's bytes go. Both sizes must be at most kMaxSection.
char* lay_out(char* out, std::string_view header, std::size_t payload_size);

// Lays out the frame of `header` and `payload` in the storage that `allocate(n)` returns: one
// call, n = 8 + H + P exactly. Returns that storage, or nullptr when `allocate` gives nullptr.
// A header or payload longer than kMaxSection throws std::length_error: no frame with a cut
// length is ever made.
template <class Allocate>
char* encode_envelope(const Header& header, std::string_view payload, Allocate&& allocate) {
  if (header_size(header) > kMaxSection || payload.size() > kMaxSection) {
    throw std::length_error("frame section longer than 4294967295 bytes");
  }
  std::string text = header_text(header);
  char* out = allocate(8 + text.size() + payload.size());
  if (out == nullptr) return nullptr;
  char* p = lay_out(out, text, payload.size());
  if (!payload.empty()) std::memcpy(p, payload.data(), payload.size());
  return out;
}

// The same, into a string.
std::string encode_envelope(const Header& header, std::string_view payload);

// Checks the lengths and reads the header, in place. Bytes after the payload are ignored.
std::variant<Envelope, FrameError> decode_envelope(std::string_view frame, velmor::Arena& arena);

}  // namespace trasken
