// The settings that are chosen from a list, as enumerations and as words: the
// graphic formats (ImageFormat), the logins (AuthenticationMethod), the
// connection security (SMTPSecurity) and the OAuth provider (OAuthProvider). A list's index is the number the
// setting stores, so the options sheet and kestrel-admin show and take the
// same words.
// Constants only: nothing here fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/image_format.h"

namespace kestrel {

inline constexpr std::array<std::string_view, 5> kImageFormatChoices = {"Jpg", "Png", "Tiff", "Sff", "Pdf"};
static_assert(kImageFormatChoices.size() == static_cast<std::size_t>(ImageFormatNumber(ImageFormat::Pdf)) + 1);

// AuthenticationMethod: how the SMTP session logs in.
enum class SmtpAuthentication : std::int32_t {
  None = 0,        // HELO (EHLO over TLS), no login
  CramMd5 = 1,     // AUTH CRAM-MD5
  Login = 2,       // AUTH LOGIN with base64 prompts
  LoginPlain = 3,  // "AUTH LOGIN PLAIN" with clear-text prompts
  Plain = 4,       // AUTH PLAIN
  OAuth = 5,       // AUTH XOAUTH2 (or OAUTHBEARER) with an OAuth 2.0 access token
};

// SmtpSecurity: how the SMTP connection is protected.
enum class SmtpSecurity : std::int32_t {
  None = 0,      // plain SMTP
  StartTls = 1,  // STARTTLS after EHLO; a server without it gets nothing
  Tls = 2,       // TLS from the first byte (port 465)
};

inline constexpr std::array<std::string_view, 6> kAuthenticationChoices = {"None",        "CRAM MD5",   "AUTH LOGIN",
                                                                           "LOGIN PLAIN", "AUTH PLAIN", "OAuth 2.0"};

// OAuthProvider: whose sign-in the OAuth 2.0 login uses; a provider brings its
// endpoints, scope and grant, custom names them all in the settings.
enum class OAuthProvider : std::int32_t {
  Microsoft = 0,
  Google = 1,
  Custom = 2,
};
inline constexpr std::array<std::string_view, 3> kOAuthProviderChoices = {"microsoft", "google", "custom"};

// SipTransport: how the SIP line reaches its registrar and takes calls.
enum class SipTransport : std::int32_t {
  Udp = 0,
  Tcp = 1,
  Tls = 2,
};
inline constexpr std::array<std::string_view, 3> kSipTransportChoices = {"udp", "tcp", "tls"};

inline constexpr std::array<std::string_view, 3> kSecurityChoices = {"None", "STARTTLS", "SSL/TLS"};

// The standard SMTP port, used where the SMTPPort setting is 0.
inline constexpr std::int32_t kDefaultSmtpPort = 25;
// The port each SmtpSecurity is usually reached on, by its number: plain SMTP,
// submission with STARTTLS, SMTP over TLS.
inline constexpr std::array<std::int32_t, 3> kSecurityPorts = {kDefaultSmtpPort, 587, 465};
static_assert(kSecurityPorts.size() == kSecurityChoices.size());

}  // namespace kestrel
