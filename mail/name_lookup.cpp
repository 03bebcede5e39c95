#include "mail/name_lookup.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace kestrel {
namespace {

constexpr auto kStopStep = std::chrono::milliseconds(100);

// What the caller and its helper share; whichever lets go last frees it.
struct PendingLookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int rc = EAI_FAIL;
  sockaddr_in address{};
};

int Resolve(const std::string& host, sockaddr_in& out, int flags) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc == 0 && (!result || result->ai_addrlen < sizeof(sockaddr_in))) rc = EAI_NONAME;
  if (rc == 0) std::memcpy(&out, result->ai_addr, sizeof(sockaddr_in));
  if (result) ::freeaddrinfo(result);
  return rc;
}

LookupResult Answer(int rc, const sockaddr_in& address) {
  LookupResult result;
  if (rc == 0) {
    result.outcome = LookupOutcome::kFound;
    result.address = address;
  } else {
    result.outcome = LookupOutcome::kUnknown;
    result.errorText = ::gai_strerror(rc);
  }
  return result;
}

}  // namespace

int SystemResolve(const std::string& host, sockaddr_in& out) { return Resolve(host, out, 0); }

LookupResult LookupIPv4(const std::string& host, std::chrono::steady_clock::time_point deadline,
                        const std::atomic<bool>* stop, const NameResolver& resolver) {
  auto stopped = [stop] { return stop && stop->load(); };
  LookupResult result;
  if (stopped()) {
    result.outcome = LookupOutcome::kStopped;
    return result;
  }
  sockaddr_in numeric{};
  if (Resolve(host, numeric, AI_NUMERICHOST) == 0) return Answer(0, numeric);

  auto pending = std::make_shared<PendingLookup>();
  try {
    std::thread([pending, host, resolver] {
      sockaddr_in address{};
      int rc = resolver(host, address);
      std::lock_guard<std::mutex> lock(pending->mutex);
      pending->rc = rc;
      pending->address = address;
      pending->finished = true;
      pending->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: a lookup that may block is still better than none.
    sockaddr_in address{};
    int rc = resolver(host, address);
    return Answer(rc, address);
  }

  std::unique_lock<std::mutex> lock(pending->mutex);
  while (!pending->finished) {
    if (stopped()) {
      result.outcome = LookupOutcome::kStopped;
      return result;
    }
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      result.outcome = LookupOutcome::kTimedOut;
      return result;
    }
    auto step = std::min<std::chrono::steady_clock::duration>(kStopStep, deadline - now);
    pending->done.wait_for(lock, step);
  }
  return Answer(pending->rc, pending->address);
}

}  // namespace kestrel
