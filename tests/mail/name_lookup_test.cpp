// Name lookup that nobody has to wait out: a numeric address never reaches the
// resolver, a name's answer is taken as the resolver gives it, and a resolver
// that does not answer is left behind at the deadline or at a stop, while it
// is still blocked.
#include "mail/name_lookup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netdb.h>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// A resolver that answers only when released (or after 30 s), and says
// whether it has answered. Shared with the helper thread, which may outlive
// the lookup that started it.
struct CSilentResolver {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  bool answered = false;

  void Release() {
    std::unique_lock<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
    changed.wait_for(lock, 30s, [this] { return answered; });
  }
};

enum class Resolver { kNotCalled, kAnswers, kUnknown, kSilent };

struct Case {
  const char* host;
  Resolver resolver;
  bool stopWhenAsked;  // the stop flag turns true once the resolver is asked
  std::chrono::milliseconds deadline;
  LookupOutcome outcome;
  const char* address;
};

TEST(NameLookup, AnswersWhatTheResolverKnowsAndNeverWaitsOutASilentOne) {
  const Case cases[] = {
      {"127.0.0.1", Resolver::kNotCalled, false, 60s, LookupOutcome::kFound, "127.0.0.1"},
      {"mail.example.test", Resolver::kAnswers, false, 60s, LookupOutcome::kFound, "192.0.2.25"},
      {"mail.example.test", Resolver::kUnknown, false, 60s, LookupOutcome::kUnknown, ""},
      {"mail.example.test", Resolver::kSilent, true, 60s, LookupOutcome::kStopped, ""},
      {"mail.example.test", Resolver::kSilent, false, 200ms, LookupOutcome::kTimedOut, ""},
  };
  for (const Case& k : cases) {
    auto silent = std::make_shared<CSilentResolver>();
    auto stop = std::make_shared<std::atomic<bool>>(false);
    auto called = std::make_shared<std::atomic<bool>>(false);
    NameResolver resolver = [&k, called, silent, stop](const std::string&, sockaddr_in& out) {
      *called = true;
      if (k.stopWhenAsked) *stop = true;
      switch (k.resolver) {
        case Resolver::kAnswers:
          out.sin_family = AF_INET;
          ::inet_pton(AF_INET, "192.0.2.25", &out.sin_addr);
          return 0;
        case Resolver::kSilent: {
          std::unique_lock<std::mutex> lock(silent->mutex);
          silent->changed.wait_for(lock, 30s, [&] { return silent->released; });
          silent->answered = true;
          silent->changed.notify_all();
          return EAI_AGAIN;
        }
        default: return EAI_NONAME;
      }
    };
    LookupResult result = LookupIPv4(k.host, std::chrono::steady_clock::now() + k.deadline, stop.get(), resolver);
    EXPECT_EQ(result.outcome, k.outcome) << k.host;
    if (k.outcome == LookupOutcome::kFound) {
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &result.address.sin_addr, text, sizeof(text));
      EXPECT_STREQ(text, k.address);
    }
    if (k.outcome == LookupOutcome::kUnknown) {
      EXPECT_EQ(result.errorText, ::gai_strerror(EAI_NONAME));
    }
    if (k.resolver == Resolver::kSilent) {
      {
        std::lock_guard<std::mutex> lock(silent->mutex);
        EXPECT_FALSE(silent->answered) << "the lookup waited for the resolver";
      }
      silent->Release();  // the helper ends before the case's objects go
    }
    EXPECT_EQ(called->load(), k.resolver != Resolver::kNotCalled) << k.host;
  }
}

}  // namespace
}  // namespace kestrel
