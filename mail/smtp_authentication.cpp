#include "mail/smtp_authentication.h"

#include <cstdio>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "mail/base64_codec.h"
#include "mail/smtp_conversation.h"
#include "oauth/access_token_source.h"

namespace kestrel {
namespace {

// The longest command line a server must take (RFC 5321), CR LF included.
constexpr size_t kMaxCommandLine = 512;

constexpr std::string_view kAuthUnsent = "An unexpected error occurred while sending the AUTH command";
constexpr std::string_view kUserUnsent = "An unexpected error occurred while sending the username";
constexpr std::string_view kPasswordUnsent = "An unexpected error occurred while sending the password";

std::string Md5(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
}

// AUTH LOGIN and "AUTH LOGIN PLAIN": the command, then the user name to the
// first prompt and the password to the "Password:" prompt.
struct PromptedLogin {
  std::string_view step;  // the command, "AUTH LOGIN"
  bool base64;            // prompts and answers in base64
  std::string_view unsupported;
  // The user name goes to the first 334 whatever its prompt says: servers
  // word it differently ("Username:", "User Name") and the words carry no
  // meaning. Otherwise only to "Username:", and after another prompt the
  // user name is not sent and the next reply is read all the same.
  bool userToAnyPrompt;
  std::string_view userRefused;
  std::string_view wrongPasswordPrompt;
  std::string_view refused;
};

constexpr PromptedLogin kAuthLogin = {"AUTH LOGIN",
                                      true,
                                      "Server does not support AUTH LOGIN",
                                      true,
                                      "Server did not respond correctly to AUTH LOGIN username field",
                                      "An unexpected request received when expecting password request",
                                      "AUTH LOGIN authentication was unsuccessful"};
constexpr PromptedLogin kAuthLoginPlain = {"AUTH LOGIN PLAIN",
                                           false,
                                           "Server does not support AUTH LOGIN PLAIN",
                                           false,
                                           "Server did not response correctly to AUTH LOGIN PLAIN username field",
                                           "AUTH LOGIN PLAIN authentication was unsuccessful",
                                           "AUTH LOGIN PLAIN authentication was unsuccessful"};

Status LogInPrompted(ISmtpConversation& c, const PromptedLogin& login, const std::string& user,
                     const std::string& password) {
  auto prompt = [&] { return login.base64 ? CBase64Codec::DecodeText(c.Reply().Prompt()) : c.Reply().Prompt(); };
  auto answer = [&](const std::string& text) { return login.base64 ? CBase64Codec::Encode(text) : text; };
  if (Status s = c.Command({login.step, std::string(login.step), 334, kAuthUnsent, login.unsupported}); !s) return s;
  const bool userPrompt = login.userToAnyPrompt || prompt() == "Username:";
  if (Status s = c.Command({.step = login.step,
                            .line = answer(user),
                            .expected = 334,
                            .unsent = kUserUnsent,
                            .refused = login.userRefused,
                            .sendLine = userPrompt});
      !s)
    return s;
  // Without the password prompt the password is not sent: it could be read
  // by whatever asked for something else.
  if (prompt() != "Password:")
    return c.Report({std::string(login.step), std::string(login.wrongPasswordPrompt), c.Reply().Code()});
  return c.Command({login.step, answer(password), 235, kPasswordUnsent, login.refused});
}

Status CramLogin(ISmtpConversation& c, const std::string& user, const std::string& password) {
  constexpr std::string_view kStep = "AUTH CRAM-MD5";
  if (Status s = c.Command({kStep, std::string(kStep), 334, kAuthUnsent, "Server does not support AUTH CRAM-MD5"}); !s)
    return s;
  const std::string challenge = CBase64Codec::DecodeText(c.Reply().Prompt());
  return c.Command({kStep, CBase64Codec::Encode(user + " " + HmacMd5Hex(password, challenge)), 235, kUserUnsent,
                    "AUTH CRAM-MD5 authentication was unsuccessful"});
}

// RFC 4616: "AUTH PLAIN <base64>" in one line, or, when the server answers
// 334 (or the line would be too long for one command), the credentials as
// the answer to the server's challenge.
Status AuthPlain(ISmtpConversation& c, const std::string& user, const std::string& password) {
  constexpr std::string_view kStep = "AUTH PLAIN";
  std::string credentials;
  credentials += '\0';
  credentials += user;
  credentials += '\0';
  credentials += password;
  const std::string encoded = CBase64Codec::Encode(credentials);
  const std::string command = "AUTH PLAIN " + encoded;
  const bool inOneLine = command.size() + 2 <= kMaxCommandLine;
  const std::string_view refused =
      inOneLine ? "AUTH PLAIN authentication was unsuccessful" : "Server does not support AUTH PLAIN";
  Status first = c.Command({.step = kStep,
                            .line = inOneLine ? command : std::string(kStep),
                            .expected = 235,
                            .unsent = kAuthUnsent,
                            .refused = refused,
                            .challenge = 334});
  if (first || first.Error().code != 334) return first;
  // The server asked with an empty challenge: the credentials are the answer.
  return c.Command({kStep, encoded, 235, "An unexpected error occurred while sending the credentials",
                    "AUTH PLAIN authentication was unsuccessful"});
}

// The longest AUTH line sent with its initial response; Postfix takes lines
// of up to 2048 bytes by default. A longer one (a large token) goes as the
// answer to the server's empty challenge instead.
constexpr size_t kMaxInitialResponseLine = 2048;

// XOAUTH2 and OAUTHBEARER: the token in the initial response; an error is
// a 334 with the server's JSON, which the client must answer (an empty line
// or ^A) before the server sends its 535.
struct BearerMechanism {
  std::string_view step;
  std::string (*response)(const std::string& user, const std::string& token);
  std::string_view errorAnswer;  // base64
};

constexpr char kCtrlA = '\x01';  // separates the fields of both mechanisms

// RFC 7628 3.1: the user in the GS2 header, with "," and "=" escaped.
std::string Gs2Name(const std::string& user) {
  std::string out;
  for (char c : user) out += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
  return out;
}

constexpr BearerMechanism kXOAuth2 = {"AUTH XOAUTH2",
                                      [](const std::string& user, const std::string& token) {
                                        return "user=" + user + kCtrlA + "auth=Bearer " + token + kCtrlA + kCtrlA;
                                      },
                                      ""};
constexpr BearerMechanism kOAuthBearer = {"AUTH OAUTHBEARER",
                                          [](const std::string& user, const std::string& token) {
                                            return "n,a=" + Gs2Name(user) + "," + kCtrlA + "auth=Bearer " + token +
                                                   kCtrlA + kCtrlA;
                                          },
                                          "AQ=="};

// One attempt with `token`: success, or the failure; `refused` tells a
// refused token (the 535) from anything else.
Status TryBearer(ISmtpConversation& c, const BearerMechanism& m, const std::string& user, const std::string& token,
                 bool& refused) {
  refused = false;
  const std::string initial = CBase64Codec::Encode(m.response(user, token));
  const std::string step(m.step);
  const std::string command = step + " " + initial;
  Status sent;
  if (command.size() + 2 <= kMaxInitialResponseLine) {
    sent = c.Command({.step = m.step, .line = command, .expected = 235, .unsent = kAuthUnsent, .challenge = 334});
  } else {
    sent = c.Command({.step = m.step, .line = step, .expected = 334, .unsent = kAuthUnsent});
    if (sent)
      sent = c.Command({.step = m.step, .line = initial, .expected = 235, .unsent = kAuthUnsent, .challenge = 334});
  }
  if (!sent && sent.Error().code == 334)  // the server's error; the 535 follows the answer
    sent = c.Command({.step = m.step, .line = std::string(m.errorAnswer), .expected = 235, .unsent = kAuthUnsent});
  refused = !sent && sent.Error().code == 535;
  return sent;
}

Status BearerLogin(ISmtpConversation& c, const std::string& user, IAccessTokenSource* tokens) {
  const BearerMechanism& m =
      c.Reply().Offers("AUTH", "OAUTHBEARER") && !c.Reply().Offers("AUTH", "XOAUTH2") ? kOAuthBearer : kXOAuth2;
  if (!tokens) return c.Report({std::string(m.step), "No OAuth 2.0 access token is at hand"});
  for (int attempt = 0;; ++attempt) {
    // The first refusal may be a token that expired on the way: one renewal.
    Result<std::string> token = tokens->AccessToken(attempt > 0);
    if (!token) return token.Error();
    bool refused = false;
    Status tried = TryBearer(c, m, user, *token, refused);
    if (tried || (refused && attempt == 0)) {
      if (tried) return tried;
      continue;
    }
    const std::string text = std::string(m.step) + " authentication was unsuccessful";
    c.Report({std::string(m.step), text});
    return Failure{std::string(m.step), text + " (" + tried.Error().text + ")", tried.Error().code};
  }
}

}  // namespace

std::string HmacMd5Hex(std::string_view key, std::string_view data) {
  std::string k = key.size() > 64 ? Md5(key) : std::string(key);
  unsigned char mac[EVP_MAX_MD_SIZE];
  size_t macLength = 0;
  EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* ctx = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
  char digestName[] = "MD5";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                         OSSL_PARAM_construct_end()};
  bool ok = ctx && EVP_MAC_init(ctx, reinterpret_cast<const unsigned char*>(k.data()), k.size(), params) &&
            EVP_MAC_update(ctx, reinterpret_cast<const unsigned char*>(data.data()), data.size()) &&
            EVP_MAC_final(ctx, mac, &macLength, sizeof(mac));
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(hmac);
  if (!ok) return {};
  std::string hex;
  char two[3];
  for (size_t i = 0; i < macLength; ++i) {
    std::snprintf(two, sizeof(two), "%02x", mac[i]);
    hex += two;
  }
  return hex;
}

Status LogIn(ISmtpConversation& conversation, SmtpAuthentication method, const std::string& user,
             const std::string& password, IAccessTokenSource* tokens) {
  switch (method) {
    case SmtpAuthentication::None: return Status();
    case SmtpAuthentication::CramMd5: return CramLogin(conversation, user, password);
    case SmtpAuthentication::Login: return LogInPrompted(conversation, kAuthLogin, user, password);
    case SmtpAuthentication::LoginPlain: return LogInPrompted(conversation, kAuthLoginPlain, user, password);
    case SmtpAuthentication::Plain: return AuthPlain(conversation, user, password);
    case SmtpAuthentication::OAuth: return BearerLogin(conversation, user, tokens);
  }
  return Status::Failed("AuthenticationMethod",
                        "AuthenticationMethod " + std::to_string(static_cast<int>(method)) + " is not 0 to 5");
}

}  // namespace kestrel
