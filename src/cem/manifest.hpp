// The custom-elements manifest as read: only what schema derivation needs.
//
// Texts are the JSON strings after unescaping, views into the input text or the call's arena;
// nothing is trimmed or checked here. Lists keep input order and duplicates.
#pragma once

#include <optional>

#include "arena.hpp"
#include "json/reader.hpp"
#include "model/common.hpp"

namespace velmor::cem {

struct TypeText {
  std::optional<Text> text;
};

struct Attribute {
  Text name;
  std::optional<TypeText> type;
  std::optional<Text> default_value;
  std::optional<Text> description;
};

// An entry of a declaration's `slots` or `events`.
struct Named {
  Text name;
};

struct Declaration {
  bool custom_element = false;
  std::optional<Text> tag_name;
  std::optional<Text> summary;
  std::optional<Text> description;
  ArenaVec<Attribute> attributes;
  ArenaVec<Named> slots;
  ArenaVec<Named> events;
};

struct Module {
  ArenaVec<Declaration> declarations;
};

struct Manifest {
  ArenaVec<Module> modules;
};

// Reads the manifest at the cursor (the caller checks what follows it).
Manifest read_manifest(json::Reader& r);

}  // namespace velmor::cem
