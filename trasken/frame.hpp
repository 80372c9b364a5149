// trasken: the length-prefixed frame envelope (header text plus payload bytes).
//
// A frame is four big-endian bytes H, the header as H bytes of compact JSON, four big-endian
// bytes P, then the P payload bytes. The envelope knows nothing of codecs: it carries the codec
// name as text and the payload as opaque bytes.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The frame length for a header text and a payload size.
inline std::size_t frame_size(std::string_view header, std::size_t payload_size) {
  return 8 + header.size() + payload_size;
}

// Writes both length prefixes and the header into `out` (room for frame_size bytes) and returns
// where the payload's bytes go. Both sizes must be at most kMaxSection.
char* lay_out(char* out, std::string_view header, std::size_t payload_size);

// The frame of `header` and `payload`, in one allocation of exactly 8 + H + P bytes. A header or
// payload longer than kMaxSection throws std::length_error: no frame with a cut length is made.
std::string encode_envelope(const Header& header, std::string_view payload);

// Checks the lengths and reads the header, in place. Bytes after the payload are ignored.
std::variant<Envelope, FrameError> decode_envelope(std::string_view frame, velmor::Arena& arena);

}  // namespace trasken
