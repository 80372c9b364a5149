// The payload codecs of a frame ("application/json", "application/msgpack") and the JSON object
// that decoding a frame returns.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "arena.hpp"
#include "json/value.hpp"
#include "trasken/frame.hpp"
#include "velmor.hpp"

namespace velmor::wire {

enum class Codec : std::uint8_t { Json, Msgpack };

// Codec names are compared byte for byte.
std::optional<Codec> codec_named(std::string_view name);
// "unknown codec: NAME"
Error unknown_codec(std::string_view name);

// A payload ready to be laid into a frame.
struct Payload {
  Codec codec;
  std::string_view bytes;  // the bytes on the wire: the caller's text, or `msgpack`
  std::string msgpack;
};

// The JSON codec takes the text as it is; MessagePack reads it as one JSON value first.
bool encode_payload(Codec codec, std::string_view text, Payload& out, Error& error);

// The payload bytes of a frame as one canonical JSON value: UTF-8 checked and read as JSON, or
// read as MessagePack. Either way the JSON nesting limit applies, as if the MessagePack value
// were written out and read again as JSON text (whose error position is then reported).
bool decode_payload(Codec codec, std::string_view bytes, Arena& arena, json::Value& out,
                    Error& error);

// {"kind":…,"model_type":…,"payload":…,"rev":…}; `size_hint` is the payload's size on the wire.
std::string render_decoded(const trasken::Header& header, const json::Value& payload,
                           std::size_t size_hint);

}  // namespace velmor::wire
