// The event-handler language: actions, expressions, element references and endpoint addresses.
// They are carried as data: read, compared, copied and written, never run.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "model/common.hpp"

namespace velmor {

struct Ref {
  struct This {};
  struct Id {
    Text id;
  };
  std::variant<This, Id> v;
};

struct Expr;

namespace expr {
struct Lit {
  json::Value value;  // canonical
};
struct Event {};
struct Not {
  const Expr* of;
};
struct Prop {
  Ref target;
  Text name;
};
struct Field {
  Text name;
};
struct Obj {
  Map<Expr> fields;
};
struct Concat {
  ArenaVec<Expr> parts;
};
}  // namespace expr

struct Expr {
  std::variant<expr::Lit, expr::Event, expr::Not, expr::Prop, expr::Field, expr::Obj, expr::Concat> v;
};

// A fixed address (text) or one computed at run time (expression).
struct EndpointUrl {
  std::variant<Text, const Expr*> v;
};

struct Action;

// Optional expression and action fields are null pointers when they hold nothing.
namespace action {
struct SetProp {
  Ref target;
  Text prop;
  const Expr* value;
};
struct Toggle {
  Ref target;
  Text prop;
};
struct SetField {
  Text field;
  const Expr* value;
};
struct ToggleField {
  Text field;
};
struct Sequence {
  ArenaVec<Action> actions;
};
struct Emit {
  Text event;
  const Expr* detail;
};
struct SendPatch {
  Text model;
  Text field;
  const Expr* value;
};
struct If {
  const Expr* cond;
  const Action* then;
  const Action* otherwise;  // the "else" branch
};
struct CallEndpoint {
  Text method;
  EndpointUrl url;
  const Expr* body;
  std::optional<Text> result;
};
struct NamedJs {
  Text handler;
};
}  // namespace action

struct Action {
  std::variant<action::SetProp, action::Toggle, action::SetField, action::ToggleField,
               action::Sequence, action::Emit, action::SendPatch, action::If,
               action::CallEndpoint, action::NamedJs>
      v;
};

// Reads the action at the cursor of a tree or patch text (a handler in a node's `events` or in a
// SetEvent operation). The value is read whole and then interpreted; errors of interpretation
// carry no position of their own, except those of the top-level tag, which is analysed while
// the value is read: a value that is not an object or array, and a mistyped or unknown tag, are
// reported where they are found, a missing or too large tag just past the action's closing
// bracket.
Action read_action(json::Reader& r);

void write(json::Out& out, const Action& a);
void write(json::Out& out, const Expr& e);
void write(json::Out& out, const Ref& r);

bool equal(const Action& a, const Action& b);
bool equal(const Expr& a, const Expr& b);
bool equal(const Ref& a, const Ref& b);

}  // namespace velmor
