// The CPython module `velmor`: argument matching and conversion, error mapping, and a thin
// function per core operation. No JSON or business logic lives here.
#include <Python.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velmor.hpp"

namespace {

// ---- argument matching ------------------------------------------------------------------------

struct Signature {
  const char* display;  // "diff()"
  const char* const* names;
  Py_ssize_t count;
};

void missing_arguments(const Signature& sig, PyObject* const* values) {
  std::string names;
  Py_ssize_t missing = 0, total = 0;
  for (Py_ssize_t i = 0; i < sig.count; ++i) total += values[i] == nullptr;
  for (Py_ssize_t i = 0; i < sig.count; ++i) {
    if (values[i] != nullptr) continue;
    ++missing;
    if (missing > 1) names += total == 2 ? " and " : (missing == total ? ", and " : ", ");
    names += "'";
    names += sig.names[i];
    names += "'";
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zd required positional argument%s: %s", sig.display,
               total, total == 1 ? "" : "s", names.c_str());
}

// Matches positional and keyword arguments to the parameters, in the order the interpreter
// uses: too many positional arguments, then each keyword in the order given, then missing ones.
// `values` receives borrowed references.
bool match(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
           PyObject** values) {
  if (nargs > sig.count) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
                 sig.display, sig.count, nargs, nargs == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < sig.count; ++i) values[i] = i < nargs ? args[i] : nullptr;
  Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* name = PyTuple_GetItem(kwnames, k);
    Py_ssize_t i = 0;
    while (i < sig.count && PyUnicode_CompareWithASCIIString(name, sig.names[i]) != 0) ++i;
    if (i == sig.count) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.display, name);
      return false;
    }
    if (values[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.display,
                   sig.names[i]);
      return false;
    }
    values[i] = args[nargs + k];
  }
  for (Py_ssize_t i = 0; i < sig.count; ++i) {
    if (values[i] == nullptr) {
      missing_arguments(sig, values);
      return false;
    }
  }
  return true;
}

// ---- argument conversion ----------------------------------------------------------------------

// Adds "while processing 'NAME'" to the pending exception; without the note if that fails.
void add_note(const char* param) {
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
  if (value != nullptr) {
    PyObject* note = PyUnicode_FromFormat("while processing '%s'", param);
    PyObject* r = note == nullptr ? nullptr : PyObject_CallMethod(value, "add_note", "O", note);
    Py_XDECREF(note);
    if (r == nullptr) PyErr_Clear();
    Py_XDECREF(r);
  }
  PyErr_Restore(type, value, tb);
}

void wrong_type(PyObject* obj, const char* expected) {
  if (obj == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    return;
  }
  PyObject* qualname = PyType_GetQualName(Py_TYPE(obj));
  if (qualname == nullptr) return;
  PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname, expected);
  Py_DECREF(qualname);
}

// Whether a `str` whose UTF-8 form takes `size` bytes holds anything but ASCII.
bool wide(PyObject* text, std::size_t size) {
  return PyUnicode_GetLength(text) != static_cast<Py_ssize_t>(size);
}

// A `str` argument as borrowed UTF-8.
bool text_arg(PyObject* obj, const char* param, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    wrong_type(obj, "str");
    add_note(param);
    return false;
  }
  Py_ssize_t size;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) {
    add_note(param);
    return false;
  }
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// A `bytes` argument (subclasses too; no other buffer), borrowed.
bool bytes_arg(PyObject* obj, const char* param, std::string_view& out) {
  if (!PyBytes_Check(obj)) {
    wrong_type(obj, "bytes");
    add_note(param);
    return false;
  }
  char* data;
  Py_ssize_t size;
  if (PyBytes_AsStringAndSize(obj, &data, &size) != 0) {
    add_note(param);
    return false;
  }
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// An unsigned 64-bit integer: an int (or subclass), or anything with __index__.
bool u64_arg(PyObject* obj, const char* param, std::uint64_t& out) {
  unsigned long long v;
  if (PyLong_Check(obj)) {
    v = PyLong_AsUnsignedLongLong(obj);
  } else {
    PyObject* index = PyNumber_Index(obj);
    if (index == nullptr) {
      add_note(param);
      return false;
    }
    v = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
  }
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    add_note(param);
    return false;
  }
  out = v;
  return true;
}

// ---- results ----------------------------------------------------------------------------------

PyObject* raise(const velmor::Error& error) {
  if (error.kind == velmor::Error::Kind::OutOfMemory) return PyErr_NoMemory();
  std::string text = error.render();
  PyObject* msg = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (msg == nullptr) return nullptr;
  PyErr_SetObject(PyExc_ValueError, msg);
  Py_DECREF(msg);
  return nullptr;
}

PyObject* to_str(velmor::Result<std::string>&& r) {
  if (!r) return raise(r.error());
  const std::string& s = r.value();
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// The core writes its output straight into a new `bytes` object.
class BytesSink final : public velmor::ByteSink {
 public:
  BytesSink() = default;
  BytesSink(const BytesSink&) = delete;
  BytesSink& operator=(const BytesSink&) = delete;
  ~BytesSink() { Py_XDECREF(bytes_); }

  char* reserve(std::size_t n) override {
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return nullptr;
    bytes_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n));
    if (bytes_ == nullptr) {
      PyErr_Clear();  // the core reports it as running out of memory
      return nullptr;
    }
    return PyBytes_AsString(bytes_);
  }

  PyObject* finish(std::optional<velmor::Error>&& error) {
    if (error) return raise(*error);
    PyObject* out = bytes_;
    bytes_ = nullptr;
    return out;
  }

 private:
  PyObject* bytes_ = nullptr;
};

// ---- functions ---------------------------------------------------------------------------------

constexpr const char* kDiffParams[] = {"old", "new"};
constexpr Signature kDiff{"diff()", kDiffParams, 2};

PyObject* diff(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* v[2];
  std::string_view old_text, new_text;
  if (!match(kDiff, args, nargs, kwnames, v) || !text_arg(v[0], "old", old_text) ||
      !text_arg(v[1], "new", new_text)) {
    return nullptr;
  }
  return to_str(velmor::diff_json(old_text, new_text));
}

constexpr const char* kApplyParams[] = {"root", "patch"};
constexpr Signature kApply{"apply()", kApplyParams, 2};

PyObject* apply(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* v[2];
  std::string_view root, patch;
  if (!match(kApply, args, nargs, kwnames, v) || !text_arg(v[0], "root", root) ||
      !text_arg(v[1], "patch", patch)) {
    return nullptr;
  }
  // A result made from non-ASCII texts is most likely non-ASCII too: decoding it lays out an
  // ASCII string of its length first, and the call leaves room for that.
  bool wide_result = wide(v[0], root.size()) || wide(v[1], patch.size());
  std::size_t lead = wide_result ? root.size() + patch.size() : 0;
  return to_str(velmor::apply_json(root, patch, lead));
}

constexpr const char* kParseCemParams[] = {"manifest"};
constexpr Signature kParseCem{"parse_cem()", kParseCemParams, 1};

PyObject* parse_cem(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* v[1];
  std::string_view manifest;
  if (!match(kParseCem, args, nargs, kwnames, v) || !text_arg(v[0], "manifest", manifest)) {
    return nullptr;
  }
  return to_str(velmor::parse_cem(manifest));
}

constexpr const char* kEncodeParams[] = {"payload", "model_type", "kind", "rev", "codec"};
constexpr Signature kEncode{"encode_frame()", kEncodeParams, 5};

PyObject* encode_frame(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* v[5];
  std::string_view payload, model_type, kind, codec;
  std::uint64_t rev;
  if (!match(kEncode, args, nargs, kwnames, v) || !text_arg(v[0], "payload", payload) ||
      !text_arg(v[1], "model_type", model_type) || !text_arg(v[2], "kind", kind) ||
      !u64_arg(v[3], "rev", rev) || !text_arg(v[4], "codec", codec)) {
    return nullptr;
  }
  BytesSink sink;
  return sink.finish(velmor::encode_frame(payload, model_type, kind, rev, codec, sink));
}

constexpr const char* kDecodeParams[] = {"frame"};
constexpr Signature kDecode{"decode_frame()", kDecodeParams, 1};

PyObject* decode_frame(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* v[1];
  std::string_view frame;
  if (!match(kDecode, args, nargs, kwnames, v) || !bytes_arg(v[0], "frame", frame)) return nullptr;
  return to_str(velmor::decode_frame(frame));
}

#define VELMOR_FAST(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

PyMethodDef kFunctions[] = {
    {"diff", VELMOR_FAST(diff), METH_FASTCALL | METH_KEYWORDS,
     "diff(old, new)\n--\n\n"
     "Diff two JSON-encoded component trees, returning the JSON-encoded patch.\n\n"
     "Thin wrapper over the shared core (`velmor::diff_json`); the same code runs in the wasm "
     "binding."},
    {"apply", VELMOR_FAST(apply), METH_FASTCALL | METH_KEYWORDS,
     "apply(root, patch)\n--\n\n"
     "Apply a JSON-encoded patch to a JSON-encoded tree, returning the JSON-encoded result."},
    {"parse_cem", VELMOR_FAST(parse_cem), METH_FASTCALL | METH_KEYWORDS,
     "parse_cem(manifest)\n--\n\n"
     "Parse a `custom-elements.json` manifest into the JSON-encoded list of component schemas."},
    {"encode_frame", VELMOR_FAST(encode_frame), METH_FASTCALL | METH_KEYWORDS,
     "encode_frame(payload, model_type, kind, rev, codec)\n--\n\n"
     "Frame a JSON-encoded tree/patch into trasken' length-prefixed envelope bytes.\n\n"
     "`kind` is `\"snapshot\"` or `\"patch\"`; `codec` is `\"application/json\"` or "
     "`\"application/msgpack\"`."},
    {"decode_frame", VELMOR_FAST(decode_frame), METH_FASTCALL | METH_KEYWORDS,
     "decode_frame(frame)\n--\n\n"
     "Decode one frame back to a `{\"model_type\",\"kind\",\"rev\",\"payload\"}` JSON string."},
};

// ---- Example --------------------------------------------------------------------------------

struct ExampleObject {
  PyObject_HEAD
  char* value;  // owned UTF-8, NUL-terminated
  Py_ssize_t size;
};

constexpr const char* kExampleParams[] = {"value"};
constexpr Signature kExampleNew{"Example.__new__()", kExampleParams, 1};

PyObject* example_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  // Lay the tuple and dict out as a fast call so that one matcher serves every callable.
  Py_ssize_t nargs = PyTuple_Size(args);
  Py_ssize_t nkw = kwargs == nullptr ? 0 : PyDict_Size(kwargs);
  std::vector<PyObject*> flat(static_cast<std::size_t>(nargs + nkw));
  for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = PyTuple_GetItem(args, i);
  PyObject* kwnames = nullptr;
  if (nkw > 0) {
    kwnames = PyTuple_New(nkw);
    if (kwnames == nullptr) return nullptr;
    PyObject *key, *val;
    Py_ssize_t pos = 0, k = 0;
    while (PyDict_Next(kwargs, &pos, &key, &val)) {
      Py_INCREF(key);
      PyTuple_SetItem(kwnames, k, key);
      flat[nargs + k++] = val;
    }
  }
  PyObject* v[1];
  std::string_view value;
  bool ok = match(kExampleNew, flat.data(), nargs, kwnames, v) && text_arg(v[0], "value", value);
  Py_XDECREF(kwnames);
  if (!ok) return nullptr;

  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* ex = reinterpret_cast<ExampleObject*>(self);
  ex->value = static_cast<char*>(PyMem_Malloc(value.size() + 1));
  if (ex->value == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  std::memcpy(ex->value, value.data(), value.size());
  ex->value[value.size()] = '\0';
  ex->size = static_cast<Py_ssize_t>(value.size());
  return self;
}

void example_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyMem_Free(reinterpret_cast<ExampleObject*>(self)->value);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(type);
}

PyObject* example_str(PyObject* self) {
  auto* ex = reinterpret_cast<ExampleObject*>(self);
  return PyUnicode_FromStringAndSize(ex->value, ex->size);
}

PyObject* example_repr(PyObject* self) {
  auto* ex = reinterpret_cast<ExampleObject*>(self);
  std::string text = "Example<";
  text.append(ex->value, static_cast<std::size_t>(ex->size));
  text += ">";
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyType_Slot kExampleSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(example_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(example_dealloc)},
    {Py_tp_str, reinterpret_cast<void*>(example_str)},
    {Py_tp_repr, reinterpret_cast<void*>(example_repr)},
    {Py_tp_doc, const_cast<char*>("Example(value)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec kExampleSpec = {
    "builtins.Example",
    static_cast<int>(sizeof(ExampleObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kExampleSlots,
};

// The type is made once per process and shared by every module object.
PyObject* example_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) type = PyType_FromSpec(&kExampleSpec);
  return type;
}

// ---- module ---------------------------------------------------------------------------------

// Appends `name` to `__all__` (created on first use) and sets the attribute.
int add(PyObject* module, const char* name, PyObject* value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr) return -1;
    if (PyObject_SetAttrString(module, "__all__", all) != 0) {
      Py_DECREF(all);
      return -1;
    }
  }
  PyObject* py_name = PyUnicode_FromString(name);
  int rc = py_name == nullptr ? -1 : PyList_Append(all, py_name);
  Py_XDECREF(py_name);
  Py_DECREF(all);
  if (rc != 0) return -1;
  return PyObject_SetAttrString(module, name, value);
}

int exec_module(PyObject* module) {
  PyObject* type = example_type();
  if (type == nullptr || add(module, "Example", type) != 0) return -1;
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  for (PyMethodDef& def : kFunctions) {
    PyObject* fn = PyCFunction_NewEx(&def, module, module_name);
    int rc = fn == nullptr ? -1 : add(module, def.ml_name, fn);
    Py_XDECREF(fn);
    if (rc != 0) {
      Py_DECREF(module_name);
      return -1;
    }
  }
  Py_DECREF(module_name);
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "velmor",
    "",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_velmor(void) { return PyModuleDef_Init(&kModule); }
