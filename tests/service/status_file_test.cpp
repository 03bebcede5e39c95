// The status file's form: what the service writes reads back the same, and
// what a reader is given from outside is bounded and tamed.
#include <gtest/gtest.h>

#include <string>

#include "service/status_file.h"

namespace kestrel {
namespace {

TEST(StatusFile, WhatTheServiceWritesReadsBackTheSame) {
  PublishedStatus s;
  s.pid = 4242;
  s.startedAt = 1700000000;
  s.heartbeatAt = 1700000060;
  s.line = "stopped";
  s.notListeningWhy = "the settings are incomplete";
  s.missingSettings = {"Address", "SMTPServer"};
  s.capiInfo = 0x1009;
  s.capiReason = "words";
  s.queuedMails = 2;
  s.lastDeliveryError = "Failed to connect to SMTP server: mail.test";
  s.oauthUsed = true;
  s.oauthWell = false;
  s.oauthError = "revoked";
  s.lastError = "Error: x";
  Result<PublishedStatus> read = ParseStatusJson(StatusToJson(s));
  ASSERT_TRUE(read) << read.Describe();
  EXPECT_EQ(*read, s);
}

TEST(StatusFile, UntrustedBytesAreRefusedOrTamed) {
  for (const std::string bytes : {"", "[]", "{\"pid\":1}", "{\"pid\":\"1\",\"heartbeatAt\":2}", "{\"pid\":1,"})
    EXPECT_FALSE(ParseStatusJson(bytes)) << bytes;
  EXPECT_FALSE(ParseStatusJson(std::string(kMaxStatusFileBytes + 1, ' ')));

  Result<PublishedStatus> read = ParseStatusJson("{\"pid\":1,\"heartbeatAt\":2,\"lastError\":{\"text\":\"a\\u001b[2Jb" +
                                                 std::string(2 * kMaxStatusTextLength, 'x') +
                                                 "\"},\"reception\":{\"listening\":\"yes\",\"controllers\":[1]}}");
  ASSERT_TRUE(read) << read.Describe();
  EXPECT_EQ(read->lastError.substr(0, 6), "a [2Jb") << "control characters become blanks";
  EXPECT_EQ(read->lastError.size(), kMaxStatusTextLength);
  EXPECT_FALSE(read->listening) << "a member of the wrong type counts as absent";
  EXPECT_EQ(read->controllers, 0);
}

}  // namespace
}  // namespace kestrel
