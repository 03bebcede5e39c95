#include "mail/mail_error.h"

#include <cstring>

namespace kestrel {
namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string SystemErrorText(int errnoValue) {
  if (errnoValue == 0) return {};
  char buf[256];
  // The GNU strerror_r may return a static text instead of filling buf.
  const char* text = strerror_r(errnoValue, buf, sizeof(buf));
  std::string out = text ? text : "";
  size_t b = 0, e = out.size();
  while (b < e && IsBlank(out[b])) ++b;
  while (e > b && IsBlank(out[e - 1])) --e;
  return out.substr(b, e - b);
}

std::string WithoutLineBreaks(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

}  // namespace kestrel
