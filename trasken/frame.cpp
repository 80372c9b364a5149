// trasken: writing frames and reading them back with every length and header check.
#include "trasken/frame.hpp"

#include "json/reader.hpp"
#include "json/record.hpp"
#include "json/writer.hpp"

namespace trasken {

namespace {

constexpr std::string_view kFields[] = {"codec", "model_type", "target", "rev", "kind"};
constexpr std::string_view kKinds[] = {"Snapshot", "Patch"};
constexpr velmor::json::NameTable kKindTable{kKinds};
constexpr velmor::json::RecordSpec kHeaderRecord{"struct Header", kFields, 0x1F, 0x1F};

void put_u32(char* out, std::uint32_t v) {
  out[0] = static_cast<char>(v >> 24);
  out[1] = static_cast<char>(v >> 16);
  out[2] = static_cast<char>(v >> 8);
  out[3] = static_cast<char>(v);
}

std::uint32_t get_u32(const char* in) {
  const auto* b = reinterpret_cast<const unsigned char*>(in);
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
         std::uint32_t(b[3]);
}

Header read_header(velmor::json::Reader& r) {
  Header h;
  velmor::json::read_record(r, kHeaderRecord, [&](std::size_t field) {
    switch (field) {
      case 0: h.codec = r.string(); break;
      case 1: h.model_type = r.string(); break;
      case 2: h.target = r.u64(); break;
      case 3: h.rev = r.u64(); break;
      default: h.kind = r.unit_variant(kKindTable) == 0 ? FrameKind::Snapshot : FrameKind::Patch; break;
    }
  });
  r.finish();
  return h;
}

}  // namespace

std::string FrameError::render() const {
  if (kind == Kind::Truncated) return "truncated frame";
  return "bad frame header: " + detail;
}

std::string header_text(const Header& header) {
  namespace json = velmor::json;
  std::string out;
  out.reserve(128);
  out += "{\"codec\":";
  json::write_string(out, header.codec);
  out += ",\"model_type\":";
  json::write_string(out, header.model_type);
  out += ",\"target\":";
  json::write_u64(out, header.target);
  out += ",\"rev\":";
  json::write_u64(out, header.rev);
  out += header.kind == FrameKind::Snapshot ? ",\"kind\":\"Snapshot\"}" : ",\"kind\":\"Patch\"}";
  return out;
}

std::size_t header_size(const Header& header) {
  namespace json = velmor::json;
  auto digits = [](std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 10) v /= 10, ++n;
    return n;
  };
  constexpr std::size_t kFixed = sizeof("{\"codec\":,\"model_type\":,\"target\":,\"rev\":,\"kind\":\"\"}") - 1;
  return kFixed + json::string_size(header.codec) + json::string_size(header.model_type) +
         digits(header.target) + digits(header.rev) +
         (header.kind == FrameKind::Snapshot ? 8 : 5);
}

char* lay_out(char* out, std::string_view header, std::size_t payload_size) {
  put_u32(out, static_cast<std::uint32_t>(header.size()));
  if (!header.empty()) std::memcpy(out + 4, header.data(), header.size());
  out += 4 + header.size();
  put_u32(out, static_cast<std::uint32_t>(payload_size));
  return out + 4;
}

std::string encode_envelope(const Header& header, std::string_view payload) {
  std::string frame;
  encode_envelope(header, payload, [&](std::size_t n) {
    frame.resize(n);
    return frame.data();
  });
  return frame;
}

std::variant<Envelope, FrameError> decode_envelope(std::string_view frame, velmor::Arena& arena) {
  namespace json = velmor::json;
  const std::size_t n = frame.size();
  if (n < 4) return FrameError{FrameError::Kind::Truncated, {}};
  // 64-bit arithmetic: 4 + H and 8 + H + P cannot wrap.
  const std::uint64_t h = get_u32(frame.data());
  if (4 + h > n) return FrameError{FrameError::Kind::Truncated, {}};

  std::string_view text = frame.substr(4, h);
  Envelope env;
  json::Reader r(text, arena, /*check_utf8=*/true);
  try {
    env.header = read_header(r);
  } catch (json::ReadError& e) {
    std::string detail = std::move(e.message);
    if (e.pos != json::kNoPos) {
      json::LineColumn lc = json::line_column(text, e.pos);
      detail += " at line " + std::to_string(lc.line) + " column " + std::to_string(lc.column);
    }
    return FrameError{FrameError::Kind::BadHeader, std::move(detail)};
  }

  if (8 + h > n) return FrameError{FrameError::Kind::Truncated, {}};
  const std::uint64_t p = get_u32(frame.data() + 4 + h);
  if (8 + h + p > n) return FrameError{FrameError::Kind::Truncated, {}};
  env.payload = frame.substr(8 + h, p);
  return env;
}

}  // namespace trasken
