// The payload codecs of a frame ("application/json", "application/msgpack") and the JSON object
// that decoding a frame returns.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "arena.hpp"
#include "trasken/frame.hpp"
#include "velmor.hpp"
#include "wire/json_walk.hpp"

namespace velmor::wire {

enum class Codec : std::uint8_t { Json, Msgpack };

// Codec names are compared byte for byte.
std::optional<Codec> codec_named(std::string_view name);
// "unknown codec: NAME"
Error unknown_codec(std::string_view name);

// A payload ready to be laid into a frame: bytes already written, or MessagePack still to be put
// together from the one walk's draft, straight where it goes.
struct Payload {
  Codec codec;
  std::string_view bytes;  // the caller's text, or `msgpack`; unused when `drafted`
  std::string msgpack;
  bool drafted = false;
  MsgpackDraft draft;

  std::size_t size() const { return drafted ? draft.size : bytes.size(); }
  // Writes the size() bytes at `out`.
  void write(char* out) const;
  // Appends them to `out`.
  void append_to(std::string& out) const;
};

// The JSON codec takes the text as it is; MessagePack reads it as one JSON value first.
bool encode_payload(Codec codec, std::string_view text, Payload& out, Error& error);

// Appends the decode output of a frame to `out`: {"kind":…,"model_type":…,"payload":…,"rev":…}
// with the payload as one canonical JSON value. JSON payloads are UTF-8 checked and read as JSON;
// MessagePack ones are written out as JSON while they are read, with the JSON nesting limit
// applied as if that text were read again (whose error position is then reported).
bool decode_payload(const trasken::Header& header, Codec codec, std::string_view bytes, Arena& arena,
                    std::string& out, Error& error);

}  // namespace velmor::wire
