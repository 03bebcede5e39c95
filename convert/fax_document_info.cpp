#include "convert/fax_document_info.h"

namespace kestrel {

std::string FaxDocumentTitle(const FaxDocumentInfo& info) {
  std::string caller;
  for (char c : info.caller)
    if (c >= 0x20 && c <= 0x7E) caller += c;
  const std::time_t t = info.received != 0 ? info.received : std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char when[32];
  if (std::strftime(when, sizeof(when), "%d.%m.%Y %H:%M:%S", &tm) == 0) when[0] = '\0';
  return (caller.empty() ? std::string("Fax") : "Fax from " + caller) + ", " + when;
}

}  // namespace kestrel
