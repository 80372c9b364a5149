// The frame entry points: codec and kind checks, the header, and the envelope of trasken.
#include <string>
#include <variant>

#include "call.hpp"
#include "trasken/frame.hpp"
#include "velmor.hpp"
#include "wire/codec.hpp"

namespace velmor {

namespace {

Error too_long(const char* section, std::size_t n) {
  Error e;
  e.message = std::string(section) + " too long for a frame: " + std::to_string(n) +
              " bytes (at most 4294967295)";
  return e;
}

// The checks and the header of a frame, in the order their errors are reported; `lay_out` then
// writes the frame from the header's text and the payload.
template <class LayOut>
std::optional<Error> encode_parts(std::string_view payload, std::string_view model_type, std::string_view kind,
                                  std::uint64_t rev, std::string_view codec, LayOut&& lay_out) {
  std::optional<wire::Codec> c = wire::codec_named(codec);
  if (!c) return wire::unknown_codec(codec);
  Error error;
  wire::Payload body;
  if (!wire::encode_payload(*c, payload, body, error)) return error;

  trasken::Header header;
  if (kind == "snapshot") {
    header.kind = trasken::FrameKind::Snapshot;
  } else if (kind == "patch") {
    header.kind = trasken::FrameKind::Patch;
  } else {
    return Error{"unknown frame kind: " + std::string(kind)};
  }
  header.codec = codec;
  header.model_type = model_type;
  header.rev = rev;

  // Both lengths are checked before anything is laid out: a 32-bit length is never cut.
  std::size_t h = trasken::header_size(header);
  if (h > trasken::kMaxSection) return too_long("header", h);
  std::size_t p = body.size();
  if (p > trasken::kMaxSection) return too_long("payload", p);
  return lay_out(trasken::header_text(header), body);
}

}  // namespace

std::optional<Error> encode_frame(std::string_view payload, std::string_view model_type,
                                  std::string_view kind, std::uint64_t rev, std::string_view codec,
                                  ByteSink& sink) {
  return guarded([&]() -> std::optional<Error> {
    return encode_parts(payload, model_type, kind, rev, codec,
                        [&](const std::string& text, const wire::Payload& body) -> std::optional<Error> {
                          // The payload is written in place: MessagePack from the one walk is put
                          // together right there.
                          char* out = sink.reserve(8 + text.size() + body.size());
                          if (out == nullptr) return out_of_memory();
                          body.write(trasken::lay_out(out, text, body.size()));
                          return std::nullopt;
                        });
  });
}

Result<std::string> encode_frame(std::string_view payload, std::string_view model_type,
                                 std::string_view kind, std::uint64_t rev, std::string_view codec) {
  std::string frame;
  std::optional<Error> e = guarded([&]() -> std::optional<Error> {
    return encode_parts(payload, model_type, kind, rev, codec,
                        [&](const std::string& text, const wire::Payload& body) -> std::optional<Error> {
                          // The lengths and the header, then the payload appended: the string is
                          // never filled with zeros first.
                          frame.reserve(8 + text.size() + body.size());
                          frame.resize(8 + text.size());
                          trasken::lay_out(frame.data(), text, body.size());
                          body.append_to(frame);
                          return std::nullopt;
                        });
  });
  if (e) return std::move(*e);
  return frame;
}

Result<std::string> decode_frame(std::string_view frame) {
  return guarded([&]() -> Result<std::string> {
    Arena arena;
    auto decoded = trasken::decode_envelope(frame, arena);
    if (auto* e = std::get_if<trasken::FrameError>(&decoded)) return Error{e->render()};
    const trasken::Envelope& env = std::get<trasken::Envelope>(decoded);

    std::optional<wire::Codec> c = wire::codec_named(env.header.codec);
    if (!c) return wire::unknown_codec(env.header.codec);
    std::string out;
    Error error;
    if (!wire::decode_payload(env.header, *c, env.payload, arena, out, error)) return error;
    return out;
  });
}

}  // namespace velmor
