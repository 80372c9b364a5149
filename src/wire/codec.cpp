// The payload codecs and the decode output.
#include "wire/codec.hpp"

#include <cstring>

#include "call.hpp"
#include "json/utf8.hpp"
#include "json/writer.hpp"
#include "wire/gather.hpp"
#include "wire/json_walk.hpp"
#include "wire/msgpack.hpp"

namespace velmor::wire {

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
  if (draft_msgpack(text, arena, out.draft)) {
    out.drafted = true;
    return true;
  }
  out.draft = MsgpackDraft{};
  JsonPlan plan;
  if (!read_text(text, arena, plan, error, [&](json::Reader& r) { return plan_json(r, text, true); })) {
    return false;
  }
  write_msgpack(text, plan, arena, out.msgpack);
  out.bytes = out.msgpack;
  return true;
}

void Payload::write(char* out) const {
  if (drafted) return finish_msgpack(draft, out);
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
}

void Payload::append_to(std::string& out) const {
  if (!drafted) {
    out.append(bytes.data(), bytes.size());
  } else if (draft.fixes.empty()) {
    out.append(draft.raw.data(), draft.raw.size());
  } else {
    Gather<true, Appending> g(draft.raw.data(), draft.fixes, draft.spans, draft.bounds);
    g.copy(Appending{&out}, 0, static_cast<std::uint32_t>(draft.raw.size()), 0, draft.fixes.size());
  }
}

namespace {

void open_decoded(const trasken::Header& header, std::string& out) {
  out += header.kind == trasken::FrameKind::Patch ? "{\"kind\":\"patch\",\"model_type\":"
                                                  : "{\"kind\":\"snapshot\",\"model_type\":";
  json::write_string(out, header.model_type);
  out += ",\"payload\":";
}

void close_decoded(const trasken::Header& header, std::string& out) {
  out += ",\"rev\":";
  json::write_u64(out, header.rev);
  out.push_back('}');
}

}  // namespace

bool decode_payload(const trasken::Header& header, Codec codec, std::string_view bytes, Arena& arena,
                    std::string& out, Error& error) {
  std::size_t fixed = header.model_type.size() + 64;
  if (codec == Codec::Json) {
    // The whole payload is valid UTF-8 before anything else counts: the one walk tells when the
    // text it took is plain ASCII, and the check is made when it did not, or gave up.
    auto utf8 = [&] {
      if (auto fault = json::check_utf8(bytes)) {
        error = Error{json::describe(*fault)};
        return false;
      }
      return true;
    };
    // Canonical text is mostly no longer than the payload; the buffer grows when it is.
    out.reserve(out.size() + bytes.size() + fixed);
    open_decoded(header, out);
    std::size_t start = out.size();
    bool ascii = false;
    if (rewrite_json(bytes, arena, out, ascii)) {
      if (!ascii && !utf8()) return false;
      close_decoded(header, out);
      return true;
    }
    out.resize(start);
    if (!utf8()) return false;
    JsonPlan plan;
    if (!read_text(bytes, arena, plan, error, [&](json::Reader& r) { return plan_json(r, bytes, false); })) {
      return false;
    }
    out.reserve(out.size() + bytes.size() + bytes.size() / 4 + fixed);
    write_json(bytes, plan, arena, out);
    close_decoded(header, out);
    return true;
  }
  // MessagePack text is mostly a little longer as JSON; the buffer grows when it is not.
  out.reserve(out.size() + bytes.size() + bytes.size() / 2 + fixed);
  open_decoded(header, out);
  std::size_t start = out.size();
  try {
    msgpack_to_json(bytes, out);
  } catch (json::ReadError& e) {
    error = read_error(std::string_view(out).substr(start), std::move(e));
    return false;
  }
  close_decoded(header, out);
  return true;
}

}  // namespace velmor::wire
