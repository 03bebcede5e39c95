// fuzz_status_file: any bytes as the status file kestrel-admin reads. What
// the reader hands out must keep its promises: texts bounded and without
// control characters, the list of missing settings bounded.
#include <cstdint>
#include <string>
#include <string_view>

#include "service/status_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using kestrel::fuzz::Check;

void CheckText(const std::string& text) {
  Check(text.size() <= kestrel::kMaxStatusTextLength, "text bounded");
  for (unsigned char c : text) Check(c >= 0x20 && c != 0x7F, "text without controls");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kestrel::Result<kestrel::PublishedStatus> status = kestrel::ParseStatusJson(bytes);
  if (!status) return 0;
  for (const std::string* text : {&status->line, &status->notListeningWhy, &status->capiReason,
                                  &status->lastDeliveryError, &status->oauthError, &status->lastError})
    CheckText(*text);
  Check(status->missingSettings.size() <= kestrel::kMaxMissingSettings, "missing settings bounded");
  for (const std::string& name : status->missingSettings) CheckText(name);
  // What the service writes reads back the same.
  Check(kestrel::ParseStatusJson(kestrel::StatusToJson(*status)).Value() == *status, "round trip");
  return 0;
}
