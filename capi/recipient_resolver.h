// The reception worker's question for every incoming call: is the dialled
// number ours, and who gets its fax? Implemented by the forwarding subsystem
// over the data store; owned here because the worker is the caller.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

class IRecipientResolver {
 public:
  virtual ~IRecipientResolver() = default;
  // Non-zero when the call to `calledNumber` is to be taken. Replaces (accept
  // all) or extends (MSN row) `recipients`, the recipients text of this call.
  // Runs on the worker thread only.
  virtual int AcceptsCalledNumber(const std::string& calledNumber, std::string& recipients) = 0;
  // Takes the settings All and EmailAll anew, for the calls that come from
  // now on. Runs on the worker thread only, between calls.
  virtual void SetAcceptAll(std::int32_t all, const std::string& emailAll) = 0;
};

}  // namespace kestrel
