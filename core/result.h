// Status and Result<T>: the one shape of failure of Kestrel's libraries. An
// operation that can fail returns one of them; a failure says at which step it
// failed and why, in words fit for the event log ("EHLO: 554 go away",
// "SmtpSecurity: 3 is not 0, 1 or 2"), and may carry the number a peer
// answered (an SMTP reply code, a CAPI reason), 0 when there is none.
// Both are [[nodiscard]]: a caller looks at the outcome or says why not.
// Layers that keep exceptions say so in their headers; the event texts of
// the log are written from a Failure at the edge that logs.
// Plain values: copy them freely; no member is thread-safe beyond that.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kestrel {

struct Failure {
  std::string step;  // what was being done, or which value was wrong
  std::string text;  // why, as a sentence for the log
  int code = 0;      // the peer's number (reply code, reason), 0 if none

  // "step: text", or the text alone when there is no step.
  std::string Describe() const { return step.empty() ? text : step + ": " + text; }
  bool operator==(const Failure&) const = default;
};

class [[nodiscard]] Status {
 public:
  Status() = default;                                        // success
  Status(Failure failure) : failure_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)
  static Status Failed(std::string step, std::string text, int code = 0) {
    return Status(Failure{std::move(step), std::move(text), code});
  }

  bool Ok() const { return !failure_; }
  explicit operator bool() const { return Ok(); }
  // Only for a failed status.
  const Failure& Error() const { return *failure_; }
  // "" when ok, else the failure described.
  std::string Describe() const { return failure_ ? failure_->Describe() : std::string(); }

 private:
  std::optional<Failure> failure_;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}            // NOLINT(google-explicit-constructor)
  Result(Failure failure) : value_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)
  Result(Status status) : value_(status.Error()) {}        // NOLINT(google-explicit-constructor): failed only

  bool Ok() const { return std::holds_alternative<T>(value_); }
  explicit operator bool() const { return Ok(); }
  // Only for a successful result.
  T& Value() & { return std::get<T>(value_); }
  const T& Value() const& { return std::get<T>(value_); }
  T&& Value() && { return std::get<T>(std::move(value_)); }
  T& operator*() & { return Value(); }
  const T& operator*() const& { return Value(); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }
  // Only for a failed result.
  const Failure& Error() const { return std::get<Failure>(value_); }
  Status ToStatus() const { return Ok() ? Status() : Status(Error()); }
  std::string Describe() const { return Ok() ? std::string() : Error().Describe(); }

 private:
  std::variant<T, Failure> value_;
};

}  // namespace kestrel
