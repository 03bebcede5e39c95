// JSON for kestrel-admin's --json output: strings quoted with every control
// character, quote and backslash escaped (other UTF-8 bytes pass unchanged),
// and small builders for one object or array at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// Members of one object, in the order added: {"a":1,"b":"x"}.
class CJsonObject {
 public:
  CJsonObject& Text(std::string_view key, std::string_view value);
  CJsonObject& Number(std::string_view key, std::int64_t value);
  CJsonObject& Bool(std::string_view key, bool value);
  // `json` must be a complete JSON value (an object, array, or null).
  CJsonObject& Raw(std::string_view key, std::string_view json);
  std::string Close() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

// Elements of one array: [v1,v2].
class CJsonArray {
 public:
  CJsonArray& Raw(std::string_view json);
  std::string Close() const { return "[" + body_ + "]"; }

 private:
  std::string body_;
};

}  // namespace kestrel
