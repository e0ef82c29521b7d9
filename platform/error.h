// How every call that can fail reports it: the reason travels as a value (an Error inside
// a Status or an Expected) up to the one place that tells the user (see report.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace platform {

// Why a call failed: the system's error code (errno, GetLastError; 0 when the failure
// is not the system's), what it concerns (a file's path, an address, an account; may be
// empty) and the reason for a person, such as "No such file or directory".
struct Error {
  int code = 0;
  std::string subject;
  std::string text;
};

// An Error that is not the system's: a subject and a reason.
inline Error makeError(std::string subject, std::string text) {
  return Error{0, std::move(subject), std::move(text)};
}

// Fills *err, when given, from a system error code and what the failed call was called on
// (a file's path): that is the subject, the system's text for the code the reason. A call
// made on nothing named is its own subject ("fstat", "mmap").
void setError(Error* err, int code, std::string_view call, std::string_view subject);

// The same as a value: the Error of a system call that failed with code.
Error systemError(int code, std::string_view call, std::string_view subject);

// The system's text for an error code (strerror, FormatMessage), one implementation per
// system.
std::string systemMessage(int code);

// Success, or the reason for a failure.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: a failure converts implicitly

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

// A value, or the reason it could not be had.
template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT
  Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(state_); }
  // The failure as a Status (ok when there is a value).
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace platform
