// The payload codecs and the decode output.
#include "wire/codec.hpp"

#include <cstring>

#include "call.hpp"
#include "json/utf8.hpp"
#include "json/writer.hpp"
#include "wire/msgpack.hpp"

namespace velmor::wire {

namespace {

// One JSON value and nothing after it but whitespace.
json::Value read_whole(json::Reader& r) {
  json::Value v = json::read_value(r);
  r.finish();
  return v;
}

}  // namespace

std::optional<Codec> codec_named(std::string_view name) {
  if (name == "application/json") return Codec::Json;
  if (name == "application/msgpack") return Codec::Msgpack;
  return std::nullopt;
}

Error unknown_codec(std::string_view name) {
  Error e;
  e.message = "unknown codec: ";
  e.message += name;
  return e;
}

bool encode_payload(Codec codec, std::string_view text, Payload& out, Error& error) {
  out.codec = codec;
  if (codec == Codec::Json) {
    out.bytes = text;
    return true;
  }
  Arena arena;
  bool done = false;
  if (!read_text(text, arena, done, error, [&](json::Reader& r) {
        json_to_msgpack(r, text.size(), out.msgpack);
        return true;
      })) {
    return false;
  }
  out.bytes = out.msgpack;
  return true;
}

bool decode_payload(Codec codec, std::string_view bytes, Arena& arena, json::Value& out,
                    Error& error) {
  if (codec == Codec::Json) {
    if (auto fault = json::check_utf8(bytes)) {
      error = Error{json::describe(*fault)};
      return false;
    }
    return read_text(bytes, arena, out, error, read_whole);
  }
  MsgpackValue m;
  try {
    m = read_msgpack(bytes, arena);
  } catch (json::ReadError& e) {
    error = Error{std::move(e.message)};
    return false;
  }
  if (m.depth > json::kMaxDepth) {
    // Too deep to read back as JSON text: reading that text reports where it stops.
    json::Out text;
    json::write(text, m.value);
    json::Value again;
    if (!read_text(text.view(), arena, again, error, read_whole)) return false;
  }
  out = m.value;
  return true;
}

std::string render_decoded(const trasken::Header& header, const json::Value& payload,
                           std::size_t size_hint) {
  json::Out out(size_hint + size_hint / 4 + header.model_type.size() + 64);
  out += header.kind == trasken::FrameKind::Patch ? "{\"kind\":\"patch\",\"model_type\":"
                                                  : "{\"kind\":\"snapshot\",\"model_type\":";
  json::write_string(out, header.model_type);
  out += ",\"payload\":";
  json::write(out, payload);
  out += ",\"rev\":";
  json::write_u64(out, header.rev);
  out.push_back('}');
  return out.take();
}

}  // namespace velmor::wire
