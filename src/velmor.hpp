// The public core interface: the five operations every binding calls.
//
// Each operation borrows its input texts (UTF-8) or bytes for the length of the call and returns
// one owned output buffer or one error. Nothing is thrown out of these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velmor {

// A core error: a message and, for errors met while reading JSON, the place where reading
// stopped (line and column both from 1; line 0 means no place).
struct Error {
  enum class Kind : std::uint8_t {
    Value,        // bad input: a Python ValueError
    OutOfMemory,  // the allocator gave up
  };
  std::string message;
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  Kind kind = Kind::Value;

  // "message at line L column C", or the bare message when there is no place.
  std::string render() const;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  Error& error() { return std::get<1>(v_); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// Reads two trees and returns the patch that turns `old_tree` into `new_tree`, as `{"ops":[...]}`.
Result<std::string> diff_json(std::string_view old_tree, std::string_view new_tree);

// Applies a patch to a tree and returns the resulting tree in canonical form.
//
// `lead`: about how much a binding allocates and leaves untouched while it makes its own object
// from the result (CPython decoding a non-ASCII result first lays out an ASCII string of the
// result's length, mostly unwritten, then the wider one it keeps). The call keeps that much
// address space free in front of its working memory, which it frees before returning, so that
// the object the binding keeps takes pages that the call has already made resident.
Result<std::string> apply_json(std::string_view root, std::string_view patch, std::size_t lead = 0);

// Receives an output whose size is known before it is written: reserve(n) is called at most once
// and returns room for exactly n bytes, or nullptr when no memory is left. A binding passes one to
// have the output written straight into its own result object instead of copying it there.
class ByteSink {
 public:
  virtual char* reserve(std::size_t n) = 0;

 protected:
  ~ByteSink() = default;
};

// Wraps a payload in a frame; the result holds the frame bytes.
Result<std::string> encode_frame(std::string_view payload, std::string_view model_type,
                                 std::string_view kind, std::uint64_t rev, std::string_view codec);
// The same, writing the frame into `sink`; returns the error when there is one.
std::optional<Error> encode_frame(std::string_view payload, std::string_view model_type,
                                  std::string_view kind, std::uint64_t rev, std::string_view codec,
                                  ByteSink& sink);

// Unwraps a frame into `{"kind":…,"model_type":…,"payload":…,"rev":…}`.
Result<std::string> decode_frame(std::string_view frame);

// Turns a custom-elements manifest into the JSON list of component schemas.
Result<std::string> parse_cem(std::string_view manifest);

}  // namespace velmor
