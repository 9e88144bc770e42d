// The one error convention of the relay: an operation returns its value or
// an Error that carries the text shown to the user.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vk {

// A failure described by its display text.
class Error {
 public:
  explicit Error(std::string text) : text_(std::move(text)) {}

  // The platform's description of errno `code` and "(os error N)".
  static Error from_errno(int code);

  const std::string& text() const { return text_; }

  // This error with `prefix` written before its text.
  Error prefixed(std::string_view prefix) const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  std::string text_;
};

// A value of T or an error of E; never both, never neither.
template <class T, class E = Error>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { assert(ok()); return *std::get_if<0>(&state_); }
  const T& value() const& { assert(ok()); return *std::get_if<0>(&state_); }
  T&& value() && { assert(ok()); return std::move(*std::get_if<0>(&state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const E& error() const& { assert(!ok()); return *std::get_if<1>(&state_); }
  E&& error() && { assert(!ok()); return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, E> state_;
};

// Success without a value, or an error of E.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)) {}

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const E& error() const& { assert(!ok()); return *error_; }
  E&& error() && { assert(!ok()); return std::move(*error_); }

 private:
  std::optional<E> error_;
};

}  // namespace vk
