// Name lookup for the SMTP client that nobody has to wait out. getaddrinfo
// cannot be interrupted and may take minutes when a name server is silent, so
// a name (anything that is not a numeric address) is looked up on a helper
// thread of its own; the caller waits in short steps and gives up at its
// deadline or as soon as its stop flag turns true. An abandoned helper ends on
// its own and frees what it holds; its result is dropped.
//
// Trusts the resolver's answer only as far as taking its first IPv4 address.
// Failure style: the outcome is returned as a LookupOutcome with the
// resolver's text, no exception and no error number.
// Thread-safe: every call owns its state.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <string>

namespace kestrel {

enum class LookupOutcome {
  kFound,     // `address` holds the first IPv4 address
  kUnknown,   // the resolver has no address; `errorText` says why
  kTimedOut,  // the deadline passed first
  kStopped,   // the stop flag turned true first
};

struct LookupResult {
  LookupOutcome outcome = LookupOutcome::kUnknown;
  sockaddr_in address{};
  std::string errorText;  // the resolver's message for kUnknown
};

// Resolves `host` to its first IPv4 address: 0 and `out` filled, or an EAI_*
// code. Runs on the helper thread; it may outlive the call that started it.
using NameResolver = std::function<int(const std::string& host, sockaddr_in& out)>;

// getaddrinfo for IPv4 stream sockets.
int SystemResolve(const std::string& host, sockaddr_in& out);

// The first IPv4 address of `host`. A numeric address is answered at once; a
// name is handed to `resolver` on a helper thread and waited for until
// `deadline`, or until `*stop` turns true (looked at every 100 ms).
LookupResult LookupIPv4(const std::string& host, std::chrono::steady_clock::time_point deadline,
                        const std::atomic<bool>* stop, const NameResolver& resolver = SystemResolve);

}  // namespace kestrel
