// Actions, expressions and references: reading (in one pass when they have the usual shape,
// otherwise read whole, then interpreted), writing, equality.
#include "model/action.hpp"

#include <optional>
#include <span>
#include <utility>

#include "json/writer.hpp"

namespace velmor {

namespace {

using json::Member;
using json::Reader;
using json::Value;

constexpr std::string_view kActionTags[] = {"set",  "toggle", "set-field", "toggle-field", "seq",
                                            "emit", "patch",  "if",        "call",         "js"};
constexpr std::string_view kActionNames[] = {"SetProp",   "Toggle", "SetField",     "ToggleField",
                                             "Sequence",  "Emit",   "SendPatch",    "If",
                                             "CallEndpoint", "NamedJs"};
constexpr std::string_view kExprTags[] = {"lit", "event", "not", "prop", "field", "obj", "concat"};
constexpr std::string_view kExprNames[] = {"Lit", "Event", "Not", "Prop", "Field", "Obj", "Concat"};
constexpr std::string_view kRefTags[] = {"this", "id"};
constexpr std::string_view kRefNames[] = {"This", "Id"};

// The fields of one variant, in declared order; bit i of `required` set = field i must be there.
struct Fields {
  std::span<const std::string_view> names;
  unsigned required;
  json::NameTable table = json::NameTable(names);
};

constexpr std::string_view kSetPropFields[] = {"target", "prop", "value"};
constexpr std::string_view kToggleFields[] = {"target", "prop"};
constexpr std::string_view kSetFieldFields[] = {"field", "value"};
constexpr std::string_view kToggleFieldFields[] = {"field"};
constexpr std::string_view kSequenceFields[] = {"actions"};
constexpr std::string_view kEmitFields[] = {"event", "detail"};
constexpr std::string_view kSendPatchFields[] = {"model", "field", "value"};
constexpr std::string_view kIfFields[] = {"cond", "then", "else"};
constexpr std::string_view kCallFields[] = {"method", "url", "body", "result"};
constexpr std::string_view kNamedJsFields[] = {"handler"};
constexpr Fields kActionFields[] = {
    {kSetPropFields, 7},  {kToggleFields, 3},    {kSetFieldFields, 3}, {kToggleFieldFields, 1},
    {kSequenceFields, 1}, {kEmitFields, 1},      {kSendPatchFields, 7}, {kIfFields, 3},
    {kCallFields, 3},     {kNamedJsFields, 1},
};

constexpr std::string_view kLitFields[] = {"value"};
constexpr std::string_view kNotFields[] = {"of"};
constexpr std::string_view kPropFields[] = {"target", "name"};
constexpr std::string_view kFieldFields[] = {"name"};
constexpr std::string_view kObjFields[] = {"fields"};
constexpr std::string_view kConcatFields[] = {"parts"};
constexpr Fields kExprFields[] = {
    {kLitFields, 1},   {{}, 0}, {kNotFields, 1}, {kPropFields, 3},
    {kFieldFields, 1}, {kObjFields, 1}, {kConcatFields, 1},
};

constexpr std::string_view kIdFields[] = {"id"};
constexpr Fields kRefFields[] = {{{}, 0}, {kIdFields, 1}};

// One of the three internally tagged types.
struct Tagged {
  std::string_view name;        // "Action"
  std::string_view tag_member;  // "kind"
  std::span<const std::string_view> tags;
  std::span<const std::string_view> variants;
  std::span<const Fields> fields;  // by variant
  json::NameTable tag_table = json::NameTable(tags);
  json::NameTable tag_member_table = json::NameTable(std::span<const std::string_view>(&tag_member, 1));
};
constexpr Tagged kAction{"Action", "kind", kActionTags, kActionNames, kActionFields};
constexpr Tagged kExpr{"Expr", "expr", kExprTags, kExprNames, kExprFields};
constexpr Tagged kRef{"Ref", "ref", kRefTags, kRefNames, kRefFields};

enum class TagProblem : std::uint8_t { None, Unknown, WrongKind, TooLarge };

struct TagCheck {
  std::size_t index = 0;
  TagProblem problem = TagProblem::None;
};

TagCheck check_tag(const Value& tag, const Tagged& t) {
  if (const auto* s = std::get_if<std::string_view>(&tag.v)) {
    for (std::size_t i = 0; i < t.tags.size(); ++i) {
      if (same(t.tags[i], *s)) return {i};
    }
    return {0, TagProblem::Unknown};
  }
  if (const auto* u = std::get_if<json::Uint>(&tag.v)) {
    if (u->v < t.tags.size()) return {static_cast<std::size_t>(u->v)};
    return {0, TagProblem::TooLarge};
  }
  return {0, TagProblem::WrongKind};
}

std::string tag_message(const Value& tag, const Tagged& t, TagProblem problem) {
  switch (problem) {
    case TagProblem::Unknown:
      return json::unknown_variant(std::get<std::string_view>(tag.v), t.tags);
    case TagProblem::TooLarge:
      return "invalid value: " + json::describe(tag) + ", expected variant index 0 <= i < " +
             std::to_string(t.tags.size());
    default:
      return "invalid type: " + json::describe(tag) + ", expected variant identifier";
  }
}

std::string missing(std::string_view field) { return "missing field `" + std::string(field) + "`"; }

// The members or elements that hold a variant's fields (the tag excluded).
struct Body {
  bool array = false;
  std::span<const Member> members;  // object form; members named like the tag are skipped
  std::span<const Value> elements;  // array form, after the tag
  std::string_view tag_member;
};

// Hands each field value of a variant to `on_field(index, value)` in input order, then checks
// that every required field was there.
template <class F>
void read_fields(const Body& body, const Tagged& t, std::size_t variant, F&& on_field) {
  std::span<const std::string_view> fields = t.fields[variant].names;
  unsigned required = t.fields[variant].required;
  std::size_t k = fields.size();
  if (body.array) {
    for (std::size_t i = 0; i < k; ++i) {
      if (i >= body.elements.size()) {
        Reader::fail("invalid length " + std::to_string(i) + ", expected struct variant " +
                     std::string(t.name) + "::" + std::string(t.variants[variant]) + " with " +
                     std::to_string(k) + (k == 1 ? " element" : " elements"));
      }
      on_field(i, body.elements[i]);
    }
    if (body.elements.size() > k) {
      Reader::fail("invalid length " + std::to_string(body.elements.size()) + ", expected " +
                   std::to_string(k) + (k == 1 ? " element" : " elements") + " in sequence");
    }
    return;
  }
  unsigned seen = 0;
  for (const Member& m : body.members) {
    if (same(m.key, body.tag_member)) continue;
    for (std::size_t i = 0; i < k; ++i) {
      if (!same(fields[i], m.key)) continue;
      if (seen & (1u << i)) Reader::fail("duplicate field `" + std::string(m.key) + "`");
      seen |= 1u << i;
      on_field(i, m.value);
      break;
    }
  }
  for (std::size_t i = 0; i < k; ++i) {
    if ((required & (1u << i)) && !(seen & (1u << i))) Reader::fail(missing(fields[i]));
  }
}

// Finds the tag and the body of a raw value that stands for a `t`.
std::size_t split_tagged(const Value& v, const Tagged& t, Body& body) {
  body.tag_member = t.tag_member;
  if (const auto* o = std::get_if<json::Object>(&v.v)) {
    const Value* tag = nullptr;
    TagCheck check;
    for (const Member& m : *o) {
      if (!same(m.key, t.tag_member)) continue;
      if (tag != nullptr) Reader::fail("duplicate field `" + std::string(t.tag_member) + "`");
      tag = &m.value;
      check = check_tag(*tag, t);
      if (check.problem != TagProblem::None) Reader::fail(tag_message(*tag, t, check.problem));
    }
    if (tag == nullptr) Reader::fail(missing(t.tag_member));
    body.members = std::span<const Member>(o->data(), o->size());
    return check.index;
  }
  if (const auto* a = std::get_if<json::Array>(&v.v)) {
    if (a->empty()) Reader::fail(missing(t.tag_member));
    TagCheck check = check_tag((*a)[0], t);
    if (check.problem != TagProblem::None) Reader::fail(tag_message((*a)[0], t, check.problem));
    body.array = true;
    body.elements = std::span<const Value>(a->data() + 1, a->size() - 1);
    return check.index;
  }
  Reader::fail("invalid type: " + json::describe(v) + ", expected internally tagged enum " +
               std::string(t.name));
}

Text text(const Value& v) {
  if (const auto* s = std::get_if<std::string_view>(&v.v)) return *s;
  Reader::fail("invalid type: " + json::describe(v) + ", expected a string");
}

std::optional<Text> optional_text(const Value& v) {
  if (std::holds_alternative<json::Null>(v.v)) return std::nullopt;
  return text(v);
}

Ref interpret_ref(const Value& v);
Expr interpret_expr(Arena& arena, const Value& v);
Action read_raw_action(Reader& r, Arena& raw);
Action interpret_action(Arena& arena, const Value& v);

const Expr* expr_ptr(Arena& arena, const Value& v) {
  return arena.make<Expr>(interpret_expr(arena, v));
}
const Expr* optional_expr(Arena& arena, const Value& v) {
  if (std::holds_alternative<json::Null>(v.v)) return nullptr;
  return expr_ptr(arena, v);
}

Ref build_ref(std::size_t variant, const Body& body) {
  if (variant == 0) {
    read_fields(body, kRef, 0, [](std::size_t, const Value&) {});
    return {Ref::This{}};
  }
  Ref::Id id{};
  read_fields(body, kRef, 1, [&](std::size_t, const Value& f) { id.id = text(f); });
  return {id};
}

Ref interpret_ref(const Value& v) {
  Body body;
  std::size_t variant = split_tagged(v, kRef, body);
  return build_ref(variant, body);
}

Expr build_expr(Arena& arena, std::size_t variant, const Body& body) {
  switch (variant) {
    case 0: {
      expr::Lit lit{};
      read_fields(body, kExpr, variant,
                  [&](std::size_t, const Value& f) { lit.value = json::copy_canonical(arena, f); });
      return {lit};
    }
    case 1:
      read_fields(body, kExpr, variant, [](std::size_t, const Value&) {});
      return {expr::Event{}};
    case 2: {
      expr::Not e{};
      read_fields(body, kExpr, variant, [&](std::size_t, const Value& f) { e.of = expr_ptr(arena, f); });
      return {e};
    }
    case 3: {
      expr::Prop e{};
      read_fields(body, kExpr, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) {
          e.target = interpret_ref(f);
        } else {
          e.name = text(f);
        }
      });
      return {e};
    }
    case 4: {
      expr::Field e{};
      read_fields(body, kExpr, variant, [&](std::size_t, const Value& f) { e.name = text(f); });
      return {e};
    }
    case 5: {
      expr::Obj e{};
      read_fields(body, kExpr, variant, [&](std::size_t, const Value& f) {
        const auto* o = std::get_if<json::Object>(&f.v);
        if (o == nullptr) Reader::fail("invalid type: " + json::describe(f) + ", expected a map");
        Map<Expr> map;
        if (!o->empty()) {
          map = Map<Expr>(arena.allocate_array<Entry<Expr>>(o->size()), o->size());
          for (std::size_t i = 0; i < o->size(); ++i) {
            map[i] = Entry<Expr>{(*o)[i].key, interpret_expr(arena, (*o)[i].value)};
          }
          json::sort_members(map);
        }
        e.fields = map;
      });
      return {e};
    }
    default: {
      expr::Concat e{};
      read_fields(body, kExpr, variant, [&](std::size_t, const Value& f) {
        const auto* a = std::get_if<json::Array>(&f.v);
        if (a == nullptr) Reader::fail("invalid type: " + json::describe(f) + ", expected a sequence");
        if (!a->empty()) {
          e.parts = ArenaVec<Expr>(arena.allocate_array<Expr>(a->size()), a->size());
          for (std::size_t i = 0; i < a->size(); ++i) e.parts[i] = interpret_expr(arena, (*a)[i]);
        }
      });
      return {e};
    }
  }
}

Expr interpret_expr(Arena& arena, const Value& v) {
  Body body;
  std::size_t variant = split_tagged(v, kExpr, body);
  return build_expr(arena, variant, body);
}

EndpointUrl interpret_url(Arena& arena, const Value& v) {
  if (const auto* s = std::get_if<std::string_view>(&v.v)) return {*s};
  try {
    return {expr_ptr(arena, v)};
  } catch (const json::ReadError&) {
    Reader::fail("data did not match any variant of untagged enum EndpointUrl");
  }
}

const Action* action_ptr(Arena& arena, const Value& v) {
  return arena.make<Action>(interpret_action(arena, v));
}

Action build_action(Arena& arena, std::size_t variant, const Body& body) {
  switch (variant) {
    case 0: {
      action::SetProp a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.target = interpret_ref(f);
        if (i == 1) a.prop = text(f);
        if (i == 2) a.value = expr_ptr(arena, f);
      });
      return {a};
    }
    case 1: {
      action::Toggle a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.target = interpret_ref(f);
        if (i == 1) a.prop = text(f);
      });
      return {a};
    }
    case 2: {
      action::SetField a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.field = text(f);
        if (i == 1) a.value = expr_ptr(arena, f);
      });
      return {a};
    }
    case 3: {
      action::ToggleField a{};
      read_fields(body, kAction, variant, [&](std::size_t, const Value& f) { a.field = text(f); });
      return {a};
    }
    case 4: {
      action::Sequence a{};
      read_fields(body, kAction, variant, [&](std::size_t, const Value& f) {
        const auto* list = std::get_if<json::Array>(&f.v);
        if (list == nullptr) Reader::fail("invalid type: " + json::describe(f) + ", expected a sequence");
        if (!list->empty()) {
          a.actions = ArenaVec<Action>(arena.allocate_array<Action>(list->size()), list->size());
          for (std::size_t i = 0; i < list->size(); ++i) a.actions[i] = interpret_action(arena, (*list)[i]);
        }
      });
      return {a};
    }
    case 5: {
      action::Emit a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.event = text(f);
        if (i == 1) a.detail = optional_expr(arena, f);
      });
      return {a};
    }
    case 6: {
      action::SendPatch a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.model = text(f);
        if (i == 1) a.field = text(f);
        if (i == 2) a.value = expr_ptr(arena, f);
      });
      return {a};
    }
    case 7: {
      action::If a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.cond = expr_ptr(arena, f);
        if (i == 1) a.then = action_ptr(arena, f);
        if (i == 2) {
          a.otherwise = std::holds_alternative<json::Null>(f.v) ? nullptr : action_ptr(arena, f);
        }
      });
      return {a};
    }
    case 8: {
      action::CallEndpoint a{};
      read_fields(body, kAction, variant, [&](std::size_t i, const Value& f) {
        if (i == 0) a.method = text(f);
        if (i == 1) a.url = interpret_url(arena, f);
        if (i == 2) a.body = optional_expr(arena, f);
        if (i == 3) a.result = optional_text(f);
      });
      return {a};
    }
    default: {
      action::NamedJs a{};
      read_fields(body, kAction, variant, [&](std::size_t, const Value& f) { a.handler = text(f); });
      return {a};
    }
  }
}

Action interpret_action(Arena& arena, const Value& v) {
  Body body;
  std::size_t variant = split_tagged(v, kAction, body);
  return build_action(arena, variant, body);
}

// ---- writing --------------------------------------------------------------------------------

// ,"NAME": in one piece of room. In line: the names are constants where it is called, so the
// copy is a store or two.
[[gnu::always_inline]] inline void member(json::Out& out, std::string_view name) {
  std::size_t n = name.size();
  char* d = out.room(n + 4);
  d[0] = ',';
  d[1] = '"';
  json::copy_bytes(d + 2, name.data(), n);
  d[n + 2] = '"';
  d[n + 3] = ':';
  out.commit(d + n + 4);
}

void text_member(json::Out& out, std::string_view name, Text value) {
  member(out, name);
  json::write_string(out, value);
}

// {"MEMBER":"TAG" in one piece of room.
[[gnu::always_inline]] inline void open_tagged(json::Out& out, std::string_view tag_member,
                                               std::string_view tag) {
  std::size_t m = tag_member.size(), t = tag.size();
  char* d = out.room(m + t + 6);
  d[0] = '{';
  d[1] = '"';
  json::copy_bytes(d + 2, tag_member.data(), m);
  d += m + 2;
  d[0] = '"';
  d[1] = ':';
  d[2] = '"';
  json::copy_bytes(d + 3, tag.data(), t);
  d[t + 3] = '"';
  out.commit(d + t + 4);
}

void write_optional(json::Out& out, const Expr* e) {
  if (e == nullptr) {
    out += "null";
  } else {
    write(out, *e);
  }
}

bool equal_optional(const Expr* a, const Expr* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return equal(*a, *b);
}

bool equal_optional(const Action* a, const Action* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return equal(*a, *b);
}

bool equal(const EndpointUrl& a, const EndpointUrl& b) {
  if (a.v.index() != b.v.index()) return false;
  if (a.v.index() == 0) return std::get<0>(a.v) == std::get<0>(b.v);
  return equal(*std::get<1>(a.v), *std::get<1>(b.v));
}

}  // namespace

// ---- reading in one pass --------------------------------------------------------------------
//
// Most handlers come in one shape: objects whose first member is the tag, then known fields, at
// most once each, holding values of the right kinds, with the nested expressions, references
// and actions shaped the same way. Direct reads such a handler straight into its records.
// Anything else (the array form, the tag further on, an unknown, repeated or missing member, a
// value of another kind, a syntax error) makes it give up: the handler is then read again from
// its start the general way, which yields the same records or reports the error as always.

namespace {

struct GiveUp {};

[[noreturn]] void give_up() { throw GiveUp{}; }

template <class V, std::size_t... I>
void emplace_index(V& v, std::size_t index, std::index_sequence<I...>) {
  ((index == I ? (void)v.template emplace<I>() : (void)0), ...);
}

// Makes alternative `index` of `v` current, default-initialised.
template <class V>
void emplace_index(V& v, std::size_t index) {
  emplace_index(v, index, std::make_index_sequence<std::variant_size_v<V>>{});
}

class Direct {
 public:
  explicit Direct(Reader& r) : r_(r), arena_(r.arena()) {}

  Action action() {
    Action a;
    tagged(kAction, a.v, [&](std::size_t variant, std::size_t i) {
      switch (variant) {
        case 0: {
          auto& x = std::get<action::SetProp>(a.v);
          if (i == 0) x.target = ref();
          if (i == 1) x.prop = text();
          if (i == 2) x.value = expr_ptr();
          break;
        }
        case 1: {
          auto& x = std::get<action::Toggle>(a.v);
          if (i == 0) x.target = ref();
          if (i == 1) x.prop = text();
          break;
        }
        case 2: {
          auto& x = std::get<action::SetField>(a.v);
          if (i == 0) x.field = text();
          if (i == 1) x.value = expr_ptr();
          break;
        }
        case 3: std::get<action::ToggleField>(a.v).field = text(); break;
        case 4: std::get<action::Sequence>(a.v).actions = list<Action>([&] { return action(); }); break;
        case 5: {
          auto& x = std::get<action::Emit>(a.v);
          if (i == 0) x.event = text();
          if (i == 1) x.detail = optional_expr();
          break;
        }
        case 6: {
          auto& x = std::get<action::SendPatch>(a.v);
          if (i == 0) x.model = text();
          if (i == 1) x.field = text();
          if (i == 2) x.value = expr_ptr();
          break;
        }
        case 7: {
          auto& x = std::get<action::If>(a.v);
          if (i == 0) x.cond = expr_ptr();
          if (i == 1) x.then = action_ptr();
          if (i == 2) x.otherwise = r_.null() ? nullptr : action_ptr();
          break;
        }
        case 8: {
          auto& x = std::get<action::CallEndpoint>(a.v);
          if (i == 0) x.method = text();
          if (i == 1) x.url = r_.peek() == '"' ? EndpointUrl{r_.string_literal()} : EndpointUrl{expr_ptr()};
          if (i == 2) x.body = optional_expr();
          if (i == 3) x.result = optional_text();
          break;
        }
        default: std::get<action::NamedJs>(a.v).handler = text(); break;
      }
    });
    return a;
  }

 private:
  Expr expr() {
    Expr e;
    tagged(kExpr, e.v, [&](std::size_t variant, std::size_t i) {
      switch (variant) {
        case 0: std::get<expr::Lit>(e.v).value = json::read_value(r_, json::Objects::Canonical, arena_); break;
        case 2: std::get<expr::Not>(e.v).of = expr_ptr(); break;
        case 3: {
          auto& x = std::get<expr::Prop>(e.v);
          if (i == 0) x.target = ref();
          if (i == 1) x.name = text();
          break;
        }
        case 4: std::get<expr::Field>(e.v).name = text(); break;
        case 5: std::get<expr::Obj>(e.v).fields = expr_map(); break;
        case 6: std::get<expr::Concat>(e.v).parts = list<Expr>([&] { return expr(); }); break;
        default: give_up();  // Event has no fields
      }
    });
    return e;
  }

  Ref ref() {
    Ref ref;
    tagged(kRef, ref.v, [&](std::size_t, std::size_t) { std::get<Ref::Id>(ref.v).id = text(); });
    return ref;
  }

  // '{' must be next, with the tag first (a string naming a variant of `t`), then only fields
  // of that variant, each at most once and all the required ones: `read_field(variant, i)` reads
  // the value of field i into `v`, whose alternative is set when the tag has been read.
  template <class V, class F>
  void tagged(const Tagged& t, V& v, F&& read_field) {
    if (r_.peek() != '{') give_up();
    std::size_t variant = t.tags.size();
    unsigned seen = 0;
    const json::NameTable* names = &t.tag_member_table;
    r_.object_fields(names, [&](std::size_t i, std::string_view) {
      r_.colon();
      if (variant == t.tags.size()) {
        if (i != 0) give_up();
        variant = r_.compact_name_value(t.tag_table);
        if (variant == t.tags.size()) {
          if (r_.peek() != '"') give_up();
          variant = r_.find_name(t.tag_table, r_.string_literal());
        }
        if (variant == t.tags.size()) give_up();
        emplace_index(v, variant);
        names = &t.fields[variant].table;
        return;
      }
      if (i == t.fields[variant].names.size() || (seen & (1u << i)) != 0) give_up();
      seen |= 1u << i;
      read_field(variant, i);
    });
    if (variant == t.tags.size()) give_up();
    unsigned required = t.fields[variant].required;
    if ((seen & required) != required) give_up();
  }

  Text text() {
    if (r_.peek() != '"') give_up();
    return r_.string_literal();
  }

  std::optional<Text> optional_text() {
    if (r_.null()) return std::nullopt;
    return text();
  }

  const Expr* expr_ptr() { return arena_.make<Expr>(expr()); }
  const Expr* optional_expr() { return r_.null() ? nullptr : expr_ptr(); }
  const Action* action_ptr() { return arena_.make<Action>(action()); }

  template <class T, class F>
  ArenaVec<T> list(F&& read_item) {
    if (r_.peek() != '[') give_up();
    Scratch& s = r_.scratch();
    std::size_t mark = s.mark();
    r_.array([&](Reader::Seq& seq) {
      while (r_.next_element(seq)) s.push(read_item());
    });
    return s.pop<T>(arena_, mark);
  }

  Map<Expr> expr_map() {
    if (r_.peek() != '{') give_up();
    Scratch& s = r_.scratch();
    std::size_t mark = s.mark();
    r_.object([&](std::string_view key) {
      r_.colon();
      s.push(Entry<Expr>{key, expr()});
    });
    Map<Expr> map = s.pop<Entry<Expr>>(arena_, mark);
    json::sort_members(map);
    return map;
  }

  Reader& r_;
  Arena& arena_;
};

// Reads the action at the cursor with Direct; when it gives up, puts the reader back as it was
// and returns false.
bool read_direct(Reader& r, Action& out) {
  Reader::Place place = r.place();
  Arena::Mark mark = r.arena().mark();
  std::size_t scratch = r.scratch().mark();
  try {
    out = Direct(r).action();
    return true;
  } catch (const GiveUp&) {
  } catch (const json::ReadError&) {
  }
  r.go_back(place);
  r.arena().rewind(mark);
  r.scratch().reset(scratch);
  return false;
}

}  // namespace

// Handlers of the usual shape are read in one pass. Any other is read whole as raw values in the
// reader's temporary arena and then interpreted into the main arena, so the raw values are
// released as soon as the action is built.
Action read_action(Reader& r) {
  Action direct;
  if (read_direct(r, direct)) return direct;
  Arena& raw = r.temp();
  Arena::Mark mark_raw = raw.mark();
  Action a = read_raw_action(r, raw);
  raw.rewind(mark_raw);
  return a;
}

namespace {

// The tag of a top-level action, read when it is reached. An unknown or mistyped tag is reported
// just after it, and a container in front of its bracket, before anything in it is read; a tag
// that is merely too large waits for the action's closing bracket (see tag_at_end()).
Value read_top_tag(Reader& r, Arena& raw, TagCheck& check) {
  int c = r.peek();
  if (c == '[' || c == '{') {
    r.fail_here(std::string("invalid type: ") + (c == '[' ? "sequence" : "map") +
                ", expected variant identifier");
  }
  Value tag = json::read_value(r, json::Objects::Raw, raw);
  check = check_tag(tag, kAction);
  if (check.problem == TagProblem::Unknown || check.problem == TagProblem::WrongKind) {
    r.fail_here(tag_message(tag, kAction, check.problem));
  }
  return tag;
}

// A missing or too large tag, reported just past the action's own closing bracket.
void tag_at_end(Reader& r, bool have_tag, const Value& tag, const TagCheck& check) {
  if (!have_tag) r.fail_here(missing(kAction.tag_member));
  if (check.problem != TagProblem::None) r.fail_here(tag_message(tag, kAction, check.problem));
}

Action read_raw_action(Reader& r, Arena& raw) {
  Arena& arena = r.arena();
  Scratch& s = r.scratch();
  int c = r.peek();
  if (c == '{') {
    std::size_t mark = s.mark();
    bool have_tag = false;
    Value tag;
    TagCheck check;
    r.object([&](std::string_view key) {
      if (same(key, kAction.tag_member)) {
        if (have_tag) r.duplicate(key);
        r.colon();
        have_tag = true;
        tag = read_top_tag(r, raw, check);
        return;
      }
      r.colon();
      s.push(Member{key, json::read_value(r, json::Objects::Raw, raw)});
    });
    json::Object members = s.pop<Member>(raw, mark);
    tag_at_end(r, have_tag, tag, check);
    Body body;
    body.tag_member = kAction.tag_member;
    body.members = std::span<const Member>(members.data(), members.size());
    return build_action(arena, check.index, body);
  }
  if (c == '[') {
    std::size_t mark = s.mark();
    bool have_tag = false;
    Value tag;
    TagCheck check;
    r.array([&](Reader::Seq& seq) {
      if (!r.next_element(seq)) return;
      have_tag = true;
      tag = read_top_tag(r, raw, check);
      while (r.next_element(seq)) s.push(json::read_value(r, json::Objects::Raw, raw));
    });
    json::Array elements = s.pop<Value>(raw, mark);
    tag_at_end(r, have_tag, tag, check);
    Body body;
    body.array = true;
    body.elements = std::span<const Value>(elements.data(), elements.size());
    return build_action(arena, check.index, body);
  }
  Value v = json::read_value(r, json::Objects::Raw, raw);
  r.fail_here("invalid type: " + json::describe(v) + ", expected internally tagged enum Action");
}

}  // namespace

void write(json::Out& out, const Ref& ref) {
  if (const auto* id = std::get_if<Ref::Id>(&ref.v)) {
    open_tagged(out, "ref", "id");
    text_member(out, "id", id->id);
  } else {
    open_tagged(out, "ref", "this");
  }
  out.push_back('}');
}

void write(json::Out& out, const Expr& e) {
  open_tagged(out, "expr", kExprTags[e.v.index()]);
  switch (e.v.index()) {
    case 0:
      member(out, "value");
      json::write(out, std::get<expr::Lit>(e.v).value);
      break;
    case 1:
      break;
    case 2:
      member(out, "of");
      write(out, *std::get<expr::Not>(e.v).of);
      break;
    case 3: {
      const auto& p = std::get<expr::Prop>(e.v);
      member(out, "target");
      write(out, p.target);
      text_member(out, "name", p.name);
      break;
    }
    case 4:
      text_member(out, "name", std::get<expr::Field>(e.v).name);
      break;
    case 5: {
      member(out, "fields");
      out.push_back('{');
      bool first = true;
      for (const Entry<Expr>& f : std::get<expr::Obj>(e.v).fields) {
        if (!first) out.push_back(',');
        first = false;
        json::write_string(out, f.key);
        out.push_back(':');
        write(out, f.value);
      }
      out.push_back('}');
      break;
    }
    default: {
      member(out, "parts");
      out.push_back('[');
      bool first = true;
      for (const Expr& p : std::get<expr::Concat>(e.v).parts) {
        if (!first) out.push_back(',');
        first = false;
        write(out, p);
      }
      out.push_back(']');
      break;
    }
  }
  out.push_back('}');
}

void write(json::Out& out, const Action& a) {
  open_tagged(out, "kind", kActionTags[a.v.index()]);
  switch (a.v.index()) {
    case 0: {
      const auto& x = std::get<action::SetProp>(a.v);
      member(out, "target");
      write(out, x.target);
      text_member(out, "prop", x.prop);
      member(out, "value");
      write(out, *x.value);
      break;
    }
    case 1: {
      const auto& x = std::get<action::Toggle>(a.v);
      member(out, "target");
      write(out, x.target);
      text_member(out, "prop", x.prop);
      break;
    }
    case 2: {
      const auto& x = std::get<action::SetField>(a.v);
      text_member(out, "field", x.field);
      member(out, "value");
      write(out, *x.value);
      break;
    }
    case 3:
      text_member(out, "field", std::get<action::ToggleField>(a.v).field);
      break;
    case 4: {
      member(out, "actions");
      out.push_back('[');
      bool first = true;
      for (const Action& x : std::get<action::Sequence>(a.v).actions) {
        if (!first) out.push_back(',');
        first = false;
        write(out, x);
      }
      out.push_back(']');
      break;
    }
    case 5: {
      const auto& x = std::get<action::Emit>(a.v);
      text_member(out, "event", x.event);
      member(out, "detail");
      write_optional(out, x.detail);
      break;
    }
    case 6: {
      const auto& x = std::get<action::SendPatch>(a.v);
      text_member(out, "model", x.model);
      text_member(out, "field", x.field);
      member(out, "value");
      write(out, *x.value);
      break;
    }
    case 7: {
      const auto& x = std::get<action::If>(a.v);
      member(out, "cond");
      write(out, *x.cond);
      member(out, "then");
      write(out, *x.then);
      member(out, "else");
      if (x.otherwise == nullptr) {
        out += "null";
      } else {
        write(out, *x.otherwise);
      }
      break;
    }
    case 8: {
      const auto& x = std::get<action::CallEndpoint>(a.v);
      text_member(out, "method", x.method);
      member(out, "url");
      if (const auto* t = std::get_if<Text>(&x.url.v)) {
        json::write_string(out, *t);
      } else {
        write(out, *std::get<const Expr*>(x.url.v));
      }
      member(out, "body");
      write_optional(out, x.body);
      member(out, "result");
      if (x.result) {
        json::write_string(out, *x.result);
      } else {
        out += "null";
      }
      break;
    }
    default:
      text_member(out, "handler", std::get<action::NamedJs>(a.v).handler);
      break;
  }
  out.push_back('}');
}

bool equal(const Ref& a, const Ref& b) {
  if (a.v.index() != b.v.index()) return false;
  if (a.v.index() == 0) return true;
  return std::get<Ref::Id>(a.v).id == std::get<Ref::Id>(b.v).id;
}

bool equal(const Expr& a, const Expr& b) {
  if (a.v.index() != b.v.index()) return false;
  switch (a.v.index()) {
    case 0: return json::equal(std::get<expr::Lit>(a.v).value, std::get<expr::Lit>(b.v).value);
    case 1: return true;
    case 2: return equal(*std::get<expr::Not>(a.v).of, *std::get<expr::Not>(b.v).of);
    case 3: {
      const auto& x = std::get<expr::Prop>(a.v);
      const auto& y = std::get<expr::Prop>(b.v);
      return equal(x.target, y.target) && x.name == y.name;
    }
    case 4: return std::get<expr::Field>(a.v).name == std::get<expr::Field>(b.v).name;
    case 5: {
      const auto& x = std::get<expr::Obj>(a.v).fields;
      const auto& y = std::get<expr::Obj>(b.v).fields;
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || !equal(x[i].value, y[i].value)) return false;
      }
      return true;
    }
    default: {
      const auto& x = std::get<expr::Concat>(a.v).parts;
      const auto& y = std::get<expr::Concat>(b.v).parts;
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!equal(x[i], y[i])) return false;
      }
      return true;
    }
  }
}

bool equal(const Action& a, const Action& b) {
  if (a.v.index() != b.v.index()) return false;
  switch (a.v.index()) {
    case 0: {
      const auto& x = std::get<action::SetProp>(a.v);
      const auto& y = std::get<action::SetProp>(b.v);
      return equal(x.target, y.target) && x.prop == y.prop && equal(*x.value, *y.value);
    }
    case 1: {
      const auto& x = std::get<action::Toggle>(a.v);
      const auto& y = std::get<action::Toggle>(b.v);
      return equal(x.target, y.target) && x.prop == y.prop;
    }
    case 2: {
      const auto& x = std::get<action::SetField>(a.v);
      const auto& y = std::get<action::SetField>(b.v);
      return x.field == y.field && equal(*x.value, *y.value);
    }
    case 3: return std::get<action::ToggleField>(a.v).field == std::get<action::ToggleField>(b.v).field;
    case 4: {
      const auto& x = std::get<action::Sequence>(a.v).actions;
      const auto& y = std::get<action::Sequence>(b.v).actions;
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!equal(x[i], y[i])) return false;
      }
      return true;
    }
    case 5: {
      const auto& x = std::get<action::Emit>(a.v);
      const auto& y = std::get<action::Emit>(b.v);
      return x.event == y.event && equal_optional(x.detail, y.detail);
    }
    case 6: {
      const auto& x = std::get<action::SendPatch>(a.v);
      const auto& y = std::get<action::SendPatch>(b.v);
      return x.model == y.model && x.field == y.field && equal(*x.value, *y.value);
    }
    case 7: {
      const auto& x = std::get<action::If>(a.v);
      const auto& y = std::get<action::If>(b.v);
      return equal(*x.cond, *y.cond) && equal(*x.then, *y.then) &&
             equal_optional(x.otherwise, y.otherwise);
    }
    case 8: {
      const auto& x = std::get<action::CallEndpoint>(a.v);
      const auto& y = std::get<action::CallEndpoint>(b.v);
      return x.method == y.method && equal(x.url, y.url) && equal_optional(x.body, y.body) &&
             x.result == y.result;
    }
    default: return std::get<action::NamedJs>(a.v).handler == std::get<action::NamedJs>(b.v).handler;
  }
}

}  // namespace velmor
