// FaxDocumentInfo: what a fax document says about the fax it holds besides
// its pages (the PDF's title and creation date). The forwarding side knows
// the call; a conversion without a call (the command-line tool) leaves it
// empty. Plain values: nothing here fails.
#pragma once

#include <ctime>
#include <string>

namespace kestrel {

struct FaxDocumentInfo {
  std::string caller;        // the calling number as signalled; may be empty
  std::time_t received = 0;  // when the fax came in; 0: the time of the conversion
};

// "Fax from <caller>, <dd.mm.yyyy hh:mm:ss>" in local time, or "Fax, <...>"
// without a caller. Characters outside printable ASCII are left out of the
// caller, which comes from the line.
[[nodiscard]] std::string FaxDocumentTitle(const FaxDocumentInfo& info);

}  // namespace kestrel
