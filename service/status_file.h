// The running service's state as it publishes it in "kestrel-status.json" of
// the application folder, for kestrel-admin status and monitoring: who runs,
// whether reception listens and why not, the calls and faxes, the forwarding
// side's counts and last failures. The file holds no secret and is readable
// by every local user (mode 0644); the service replaces it atomically.
//
// Reading trusts nothing of the file: at most kMaxStatusFileBytes are read,
// members of the wrong type count as absent, texts are cut to
// kMaxStatusTextLength and control characters become blanks. Failures are
// core/result.h values.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace kestrel {

inline constexpr char kStatusFileName[] = "kestrel-status.json";
inline constexpr std::size_t kMaxStatusFileBytes = 64 * 1024;
inline constexpr std::size_t kMaxStatusTextLength = 1000;
inline constexpr std::size_t kMaxMissingSettings = 16;
// The service writes the file at least this often; a reader takes an older
// heartbeat (with some slack) as a service that hangs.
inline constexpr std::int64_t kStatusHeartbeatSeconds = 30;
inline constexpr std::int64_t kStatusStaleSeconds = 3 * kStatusHeartbeatSeconds;

// Times are seconds since the epoch, 0 for "never".
struct PublishedStatus {
  std::int64_t pid = 0;
  std::int64_t startedAt = 0;
  std::int64_t heartbeatAt = 0;

  // Reception: "listening", "receiving", "stopped" or "capi-unavailable".
  std::string line = "stopped";
  bool listening = false;
  std::string notListeningWhy;               // in words, empty while listening
  std::vector<std::string> missingSettings;  // when the settings are incomplete
  bool databaseOpen = false;
  std::int64_t capiInfo = 0;  // the failing CAPI call's info; 0: none
  std::string capiReason;     // libcapi20's words for it
  std::int64_t controllers = 0;
  std::int64_t bChannels = 0;
  std::int64_t bChannelsInUse = 0;  // CAPI calls holding a channel
  std::int64_t callsInProgress = 0;
  std::int64_t faxesReceived = 0;  // since start
  std::int64_t lastFaxAt = 0;

  // The SIP line, beside CAPI; the reception counts above take in both lines.
  bool sipEnabled = false;
  bool sipRunning = false;  // bound and taking calls
  bool sipRegistered = false;
  std::string sipRegistrar;  // empty: the line does not register
  std::string sipUser;
  std::int64_t sipExpiresAt = 0;  // the registration's end
  std::string sipFailure;         // why it does not run or is not registered
  std::int64_t sipCalls = 0;
  std::int64_t sipChannels = 0;

  // Forwarding.
  std::int64_t inbox = 0;  // recorded, not forwarded
  std::int64_t setAside = 0;
  std::int64_t queuedMails = 0;
  std::int64_t undeliverableMails = 0;
  std::string lastDeliveryError;
  std::int64_t lastDeliveryErrorAt = 0;
  bool oauthUsed = false;
  bool oauthWell = true;
  std::int64_t oauthExpiresAt = 0;
  std::string oauthError;

  std::string lastError;  // the last event that reported a failure
  std::int64_t lastErrorAt = 0;

  bool operator==(const PublishedStatus&) const = default;
};

// "<folder>kestrel-status.json"; `folder` ends in "/".
std::string StatusFilePath(const std::string& folder);

std::string StatusToJson(const PublishedStatus& status);
// Fails (step "status file") when `bytes` is no JSON object or lacks a
// numeric pid and heartbeat.
Result<PublishedStatus> ParseStatusJson(std::string_view bytes);
// Reads and parses the file; fails with errno's words when it cannot be read.
Result<PublishedStatus> ReadStatusFile(const std::string& folder);

}  // namespace kestrel
