// Component schemas: selection, class names, property types, defaults, and their JSON form.
#include "cem/schema.hpp"

#include <vector>

#include "cem/unicode.hpp"
#include "json/writer.hpp"
#include "text.hpp"

namespace velmor::cem {

namespace {

// "-" and "_" separate segments; each segment's first character goes to upper case (fully, so
// one character may become several) and the rest is kept as it is.
void append_class_name(std::string& out, Text tag) {
  bool segment_start = true;
  std::size_t i = 0;
  while (i < tag.size()) {
    char c = tag[i];
    if (c == '-' || c == '_') {
      segment_start = true;
      ++i;
      continue;
    }
    if (!segment_start) {
      out.push_back(c);  // continuation bytes never look like separators
      ++i;
      continue;
    }
    segment_start = false;
    Decoded d = decode_utf8(tag, i);
    if (d.valid) {
      append_upper(out, d.cp);
    } else {
      out.push_back(c);
    }
    i += d.length;
  }
}

bool is_quoted_literal(Text s) {
  return s.size() >= 2 && (s[0] == '\'' || s[0] == '"') && s.back() == s[0];
}

Text unquote(Text s) { return s.substr(1, s.size() - 2); }

// What a type text names, before any Optional around it.
enum class Base { Bool, Str, Number, Enum, Any };

class Deriver {
 public:
  explicit Deriver(std::string& out) : out_(out) {}

  void declaration(const Declaration& d) {
    out_ += "{\"tag_name\":";
    json::write_string(out_, *d.tag_name);
    name_.clear();
    append_class_name(name_, *d.tag_name);
    out_ += ",\"class_name\":";
    json::write_string(out_, name_);
    if (const auto& summary = d.summary ? d.summary : d.description) {
      out_ += ",\"summary\":";
      json::write_string(out_, *summary);
    }
    out_ += ",\"props\":[";
    for (std::size_t i = 0; i < d.attributes.size(); ++i) {
      if (i != 0) out_.push_back(',');
      prop(d.attributes[i]);
    }
    out_ += "],\"events\":";
    names(d.events);
    out_ += ",\"slots\":";
    names(d.slots);
    out_.push_back('}');
  }

 private:
  void prop(const Attribute& a) {
    out_ += "{\"name\":";
    json::write_string(out_, a.name);
    out_ += ",\"ty\":";
    type(a.type ? a.type->text : std::nullopt);
    if (a.default_value) default_value(*a.default_value);
    if (a.description) {
      out_ += ",\"doc\":";
      json::write_string(out_, *a.description);
    }
    out_.push_back('}');
  }

  // The pieces of the text between "|", trimmed, empty ones and the null-like ones dropped; the
  // literal test comes after the split, so a literal holding "|" no longer counts as one.
  void type(const std::optional<Text>& text) {
    pieces_.clear();
    bool nullable = false;
    if (text) {
      std::size_t start = 0;
      for (;;) {
        std::size_t bar = text->find('|', start);
        Text piece = trim_white(text->substr(start, bar == Text::npos ? Text::npos : bar - start));
        if (same(piece, "undefined") || same(piece, "null")) {
          nullable = true;
        } else if (!piece.empty()) {
          pieces_.push_back(piece);
        }
        if (bar == Text::npos) break;
        start = bar + 1;
      }
    }
    Base base = classify();
    if (base == Base::Any) {
      out_ += "\"Any\"";
      return;
    }
    if (nullable) out_ += "{\"Optional\":";
    switch (base) {
      case Base::Bool: out_ += "\"Bool\""; break;
      case Base::Str: out_ += "\"Str\""; break;
      case Base::Number: out_ += "\"Number\""; break;
      default:
        out_ += "{\"Enum\":[";
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
          if (i != 0) out_.push_back(',');
          json::write_string(out_, unquote(pieces_[i]));
        }
        out_ += "]}";
        break;
    }
    if (nullable) out_.push_back('}');
  }

  Base classify() const {
    if (pieces_.empty()) return Base::Any;
    bool all_literals = true;
    for (Text p : pieces_) all_literals = all_literals && is_quoted_literal(p);
    if (all_literals) return Base::Enum;
    if (pieces_.size() != 1) return Base::Any;
    Text p = pieces_[0];
    if (same(p, "string")) return Base::Str;
    if (same(p, "number")) return Base::Number;
    if (same(p, "boolean")) return Base::Bool;
    return Base::Any;
  }

  void default_value(Text raw) {
    Text d = trim_white(raw);
    Text value;
    if (d.empty() || same(d, "null") || same(d, "undefined")) return;
    if (same(d, "true") || same(d, "false")) {
      value = d;
    } else if (is_quoted_literal(d)) {
      value = unquote(d);
    } else if (is_float_literal(d)) {
      value = d;
    } else {
      return;
    }
    out_ += ",\"default\":";
    json::write_string(out_, value);
  }

  void names(const ArenaVec<Named>& list) {
    out_.push_back('[');
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i != 0) out_.push_back(',');
      json::write_string(out_, list[i].name);
    }
    out_.push_back(']');
  }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  static bool same_ignoring_case(Text s, Text lower) {
    if (s.size() != lower.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
      char c = s[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      if (c != lower[i]) return false;
    }
    return true;
  }

  // A decimal floating-point literal: [+-] then digits with at most one "." and at least one
  // digit, then optionally [eE] [+-] digits; or [+-] then inf, infinity or nan in any case.
  // Range is not checked, so 1e999 counts.
  static bool is_float_literal(Text s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    Text rest = s.substr(i);
    if (same_ignoring_case(rest, "inf") || same_ignoring_case(rest, "infinity") ||
        same_ignoring_case(rest, "nan")) {
      return true;
    }
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
      if (is_digit(s[i])) {
        digits = true;
      } else if (s[i] == '.' && !point) {
        point = true;
      } else {
        break;
      }
    }
    if (!digits) return false;
    if (i == s.size()) return true;
    if (s[i] != 'e' && s[i] != 'E') return false;
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
      if (!is_digit(s[i])) return false;
    }
    return true;
  }

  std::string& out_;
  std::string name_;
  std::vector<Text> pieces_;
};

}  // namespace

void write_schemas(std::string& out, const Manifest& manifest) {
  Deriver deriver(out);
  out.push_back('[');
  bool first = true;
  for (const Module& m : manifest.modules) {
    for (const Declaration& d : m.declarations) {
      if (!d.custom_element || !d.tag_name) continue;
      if (!first) out.push_back(',');
      first = false;
      deriver.declaration(d);
    }
  }
  out.push_back(']');
}

}  // namespace velmor::cem
