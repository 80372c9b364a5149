// Reading a custom-elements manifest into its records.
#include "cem/manifest.hpp"

#include "json/record.hpp"

namespace velmor::cem {

namespace {

using json::Reader;

constexpr std::string_view kManifestFields[] = {"modules"};
constexpr std::string_view kModuleFields[] = {"declarations"};
constexpr std::string_view kDeclarationFields[] = {"customElement", "tagName", "summary",
                                                   "description",   "attributes", "slots",
                                                   "events"};
constexpr std::string_view kAttributeFields[] = {"name", "type", "default", "description"};
constexpr std::string_view kTypeTextFields[] = {"text"};
constexpr std::string_view kNamedFields[] = {"name"};

constexpr json::RecordSpec kManifestSpec{"struct Manifest", kManifestFields, 0, 0};
constexpr json::RecordSpec kModuleSpec{"struct Module", kModuleFields, 0, 0};
// In the array form a declaration needs its first two elements; the missing element reported is
// `tagName` (index 1) even for an empty array.
constexpr json::RecordSpec kDeclarationSpec{"struct Declaration", kDeclarationFields, 0, 0b10};
constexpr json::RecordSpec kAttributeSpec{"struct Attribute", kAttributeFields, 1, 1};
constexpr json::RecordSpec kTypeTextSpec{"struct TypeText", kTypeTextFields, 0, 0};
constexpr json::RecordSpec kNamedSpec{"struct Named", kNamedFields, 1, 1};

std::optional<Text> optional_text(Reader& r) {
  Text t;
  if (r.optional_string(t)) return t;
  return std::nullopt;
}

TypeText read_type_text(Reader& r) {
  TypeText t;
  json::read_record(r, kTypeTextSpec, [&](std::size_t) { t.text = optional_text(r); });
  return t;
}

Attribute read_attribute(Reader& r) {
  Attribute a{};
  json::read_record(r, kAttributeSpec, [&](std::size_t field) {
    switch (field) {
      case 0: a.name = r.string(); break;
      case 1:
        if (r.null()) {
          a.type.reset();
        } else {
          a.type = read_type_text(r);
        }
        break;
      case 2: a.default_value = optional_text(r); break;
      default: a.description = optional_text(r); break;
    }
  });
  return a;
}

Named read_named(Reader& r) {
  Named n{};
  json::read_record(r, kNamedSpec, [&](std::size_t) { n.name = r.string(); });
  return n;
}

Declaration read_declaration(Reader& r) {
  Declaration d{};
  json::read_record(r, kDeclarationSpec, [&](std::size_t field) {
    switch (field) {
      case 0: d.custom_element = r.boolean(); break;
      case 1: d.tag_name = optional_text(r); break;
      case 2: d.summary = optional_text(r); break;
      case 3: d.description = optional_text(r); break;
      case 4: d.attributes = read_list<Attribute>(r, read_attribute); break;
      case 5: d.slots = read_list<Named>(r, read_named); break;
      default: d.events = read_list<Named>(r, read_named); break;
    }
  });
  return d;
}

Module read_module(Reader& r) {
  Module m{};
  json::read_record(r, kModuleSpec, [&](std::size_t) {
    m.declarations = read_list<Declaration>(r, read_declaration);
  });
  return m;
}

}  // namespace

Manifest read_manifest(Reader& r) {
  Manifest m{};
  json::read_record(r, kManifestSpec, [&](std::size_t) {
    m.modules = read_list<Module>(r, read_module);
  });
  return m;
}

}  // namespace velmor::cem
