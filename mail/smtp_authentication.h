// The SMTP logins after EHLO: AUTH CRAM-MD5 (HMAC-MD5 from OpenSSL), AUTH
// LOGIN with base64 prompts, "AUTH LOGIN PLAIN" with clear-text prompts, and
// AUTH PLAIN (RFC 4616), and with an OAuth 2.0 access token AUTH XOAUTH2 or,
// when the server offers only that, AUTH OAUTHBEARER (RFC 7628), each
// spoken through an ISmtpConversation. Prompts
// come from the server and are untrusted: they are only compared, never
// echoed into a command; the password goes only to the prompt that asks for it.
// Failures are returned as a Status (step = the AUTH command, code = the
// server's reply code or 0); the conversation writes their event texts.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"
#include "core/setting_choices.h"

namespace kestrel {

class IAccessTokenSource;
class ISmtpConversation;

// HMAC-MD5 of `data` keyed with `key` (a key longer than 64 bytes is first
// replaced by its MD5), as 32 lower-case hexadecimal digits.
std::string HmacMd5Hex(std::string_view key, std::string_view data);

// Logs in with `method` on a conversation whose EHLO was accepted;
// SmtpAuthentication::None succeeds at once. A method it does not know fails
// (step "AuthenticationMethod") before anything is sent.
// OAuth takes its access token from `tokens` (the password is not used). A
// token the server refuses (RFC 7628: a 334 with the error, answered, then
// 535) is renewed once and tried once more, never again; a token that
// cannot be had fails with the source's failure and no event of its own
// (the source writes the one event that names the cause).
Status LogIn(ISmtpConversation& conversation, SmtpAuthentication method, const std::string& user,
             const std::string& password, IAccessTokenSource* tokens = nullptr);

}  // namespace kestrel
