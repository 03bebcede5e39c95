// fuzz_fax_entry: any bytes as a fax inbox entry, as a restart reads what an
// earlier run (or a damaged disk) left. An entry that is read must write back
// to a text that reads as the same entry.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "forward/fax_entry.h"

namespace {

bool SameEntry(const kestrel::FaxEntry& a, const kestrel::FaxEntry& b) {
  const kestrel::FaxCallRecord& x = a.call;
  const kestrel::FaxCallRecord& y = b.call;
  return x.captureFilePath == y.captureFilePath && x.callerNumber == y.callerNumber &&
         x.remoteStationId == y.remoteStationId && x.pages == y.pages && x.rate == y.rate &&
         x.startTime == y.startTime && x.endTime == y.endTime && x.recipients == y.recipients && a.mail == b.mail &&
         a.messageId == b.messageId && a.faxFile == b.faxFile && a.journaled == b.journaled;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto entry = kestrel::ParseFaxEntry(text);
  if (!entry) return 0;
  const std::string written = kestrel::FaxEntryText(*entry);
  const auto again = kestrel::ParseFaxEntry(written);
  if (written.size() <= kestrel::kMaxEntryBytes && (!again || !SameEntry(*entry, *again))) {
    std::fprintf(stderr, "fuzz check failed: an entry read does not read back the same\n");
    std::abort();
  }
  return 0;
}
