#include "mail/smtp_session.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include "core/endpoint_url.h"
#include "mail/mail_error.h"
#include "mail/smtp_authentication.h"
#include "mail/smtp_transfer.h"
#include "mail/tls_channel.h"

namespace kestrel {
namespace {

// After a reply that never came the server is out of step or gone; its answer
// to QUIT is worth only a short wait.
constexpr int kQuitAfterMissingReplyMs = 2000;

// The operation each step's event texts begin with: the names the event log
// has always shown, kept while the code is arranged by SMTP step.
struct StepOperation {
  std::string_view step;
  std::string_view operation;
};
constexpr StepOperation kOperations[] = {
    {"SmtpSecurity", "Connect"},
    {"SMTPCAFile", "Connect"},
    {"connect", "Connect"},
    {"TLS", "Connect"},
    {"greeting", "Connect"},
    {"AuthenticationMethod", "Connect"},
    {"HELO", "ConnectSMTP"},
    {"EHLO", "ConnectESMTP"},
    {"STARTTLS", "StartTls"},
    {"AUTH LOGIN", "AuthLogin"},
    {"AUTH LOGIN PLAIN", "AuthLoginPlain"},
    {"AUTH CRAM-MD5", "CramLogin"},
    {"AUTH PLAIN", "AuthPlain"},
    {"AUTH XOAUTH2", "OAuthLogin"},
    {"AUTH OAUTHBEARER", "OAuthLogin"},
    {"MAIL FROM", "SendMessage"},
    {"RCPT TO", "SendRCPTForRecipient"},
    {"DATA", "SendMessage"},
    {"message", "SendMessage"},
    {"body part", "SendBodyPart"},
    {"end of data", "SendMessage"},
    {"QUIT", "Disconnect"},
    {"reply", "ReadResponse"},
};

std::string_view OperationOf(std::string_view step) {
  for (const StepOperation& entry : kOperations)
    if (entry.step == step) return entry.operation;
  return step;
}

constexpr std::string_view kStartTlsUnsent = "An unexpected error occurred while sending the STARTTLS command";
constexpr std::string_view kNoStartTls = "The SMTP server does not offer STARTTLS";

}  // namespace

CSMTPSession::CSMTPSession(IEventLog& log) : log_(log) {}

CSMTPSession::~CSMTPSession() {
  if (connected_) (void)Disconnect(true);  // nobody is left to hear how it went
  socket_.Close();
}

std::string CSMTPSession::Explain(const Failure& failure) {
  return std::string(OperationOf(failure.step)) + ", " + failure.text;
}

void CSMTPSession::OnError(std::string_view text) { log_.WriteEventText(text); }

bool CSMTPSession::OnSendProgress(uint64_t, uint64_t) { return true; }

std::string CSMTPSession::TlsVersion() const { return tls_ && channel_ != &socket_ ? tls_->Version() : ""; }

// ---- the conversation ----

Failure CSMTPSession::Report(Failure failure) {
  OnError(" " + std::string(OperationOf(failure.step)) + ", " + failure.text);
  return failure;
}

bool CSMTPSession::SendLine(std::string_view line) {
  return channel_->Send(WithoutLineBreaks(std::string(line)) + "\r\n");
}

Status CSMTPSession::ReadReplyWithin(int expected, int timeoutMs) {
  Status reply = reply_.Read(*channel_, expected, timeoutMs, stop_);
  if (!reply && reply_.TimedOut()) Report(reply.Error());
  return reply;
}

Status CSMTPSession::ReadReply(int expected) { return ReadReplyWithin(expected, replyTimeoutMs_); }

Status CSMTPSession::Command(const SmtpCommand& command) {
  const std::string step(command.step);
  if (command.sendLine && !SendLine(command.line)) {
    std::string text(command.unsent);
    if (command.unsentWithReason) text += ", GetLastError returns: " + ErrorText();
    return Report({step, std::move(text)});
  }
  Status reply = ReadReplyWithin(command.expected, command.endOfData ? endOfDataTimeoutMs_ : replyTimeoutMs_);
  if (reply) return reply;
  // A reply with a code was an answer; without one the reply never came.
  const int code = reply.Error().code;
  if (command.challenge != 0 && code == command.challenge) return Failure{step, reply.Error().text, code};
  if (command.refused.empty()) return Failure{step, reply.Error().text, code};
  Report({step, std::string(command.refused)});
  return Failure{step, code != 0 ? std::string(command.refused) + " (" + reply.Error().text + ")" : reply.Error().text,
                 code};
}

Status CSMTPSession::SendData(std::string_view bytes, std::string_view step, std::string_view unsent) {
  if (channel_->Send(bytes)) return Status();
  const Failure failure = Report({std::string(step), std::string(unsent) + ", GetLastError returns: " + ErrorText()});
  Abort();
  return failure;
}

void CSMTPSession::Abort() {
  socket_.Close();
  channel_ = &socket_;
  connected_ = false;
  reply_.DropPending();
}

void CSMTPSession::Abandon(const std::string& reason) {
  Abort();
  reply_.SetText(OneLine(reason));
}

// ---- connection ----

Status CSMTPSession::Connect(const std::string& host, SmtpAuthentication method, const std::string& user,
                             const std::string& password, int port, const std::string& localAddress) {
  if (method == SmtpAuthentication::OAuth) {
    // A bearer token is as good as a password to whoever reads it.
    if (security_ == SmtpSecurity::None && !IsLoopbackHost(host))
      return Report({"AuthenticationMethod",
                     "OAuth 2.0 is refused without TLS to " + host + "; set SMTPSecurity to STARTTLS or SSL/TLS"});
    if (user.empty())
      return Report({"AuthenticationMethod", "OAuth 2.0 needs the user name (SMTP_User) the token belongs to"});
  }
  if (Status opened = Open(host, port, localAddress); !opened) return opened;
  if (heloName_ == "auto") {
    char name[260] = {};
    if (::gethostname(name, sizeof(name) - 1) == 0) heloName_ = name;
  }
  Status greeted;
  bool noToken = false;
  if (security_ == SmtpSecurity::StartTls) {
    // STARTTLS needs EHLO; what EHLO said in clear is forgotten after it.
    greeted = Ehlo();
    if (greeted) {
      if (Status protectedNow = StartTls(host); !protectedNow) return protectedNow;
    }
  }
  if (greeted) {
    // Plain SMTP greets with HELO for no login; a protected connection
    // always says EHLO, and then logs in with nothing.
    if (security_ == SmtpSecurity::None && method == SmtpAuthentication::None) {
      greeted =
          Command({"HELO", "HELO " + heloName_, 250, "An unexpected error occurred while sending the HELO command"});
    } else {
      greeted = Ehlo();
      if (greeted) {
        greeted = LogIn(*this, method, user, password, tokens_);
        // Without a token the login never began: the token source has told
        // the log why, and the server's last words (its EHLO, its goodbye)
        // are not the reason.
        noToken = method == SmtpAuthentication::OAuth && !greeted && !greeted.Error().step.starts_with("AUTH");
      }
    }
  }
  if (!greeted) {
    (void)Disconnect(true);  // the cause is `greeted`; QUIT's own failure is told in the log
    if (noToken) reply_.SetText("no OAuth 2.0 access token");
    Report({"connect", "An unexpected HELO/EHLO response was received"});
  }
  return greeted;
}

Status CSMTPSession::Open(const std::string& host, int port, const std::string& localAddress) {
  reply_.Reset();
  channel_ = &socket_;
  tls_.reset();
  switch (security_) {
    case SmtpSecurity::None:
    case SmtpSecurity::StartTls:
    case SmtpSecurity::Tls: break;
    default:
      // Refused before a byte goes out: anything else would be plain text.
      return Report(
          {"SmtpSecurity", "SMTPSecurity " + std::to_string(static_cast<int>(security_)) + " is not 0, 1 or 2"});
  }
  if (security_ != SmtpSecurity::None)
    if (Status trusted = LoadTrust(); !trusted) return trusted;
  if (!socket_.Create())
    return Report({"connect", "Failed to create client socket, GetLastError returns: " + ErrorText()});
  if (!socket_.Connect(host, port, localAddress, replyTimeoutMs_)) {
    std::string text = "Could not connect to the SMTP server " + host + " on port " + std::to_string(port);
    if (!localAddress.empty()) text += " from LocalAddress:" + localAddress;
    const Failure failure = Report({"connect", OneLine(text + ", GetLastError returns: " + ErrorText())});
    socket_.Close();
    return failure;
  }
  socket_.SetSendTimeout(replyTimeoutMs_);
  connected_ = true;
  if (security_ == SmtpSecurity::Tls)
    if (Status handshake = Handshake(host, "TLS"); !handshake) return handshake;
  Status greeting = Command({.step = "greeting",
                             .expected = 220,
                             .refused = "An unexpected SMTP login response was received",
                             .sendLine = false});
  if (!greeting) (void)Disconnect(true);  // the greeting's failure is the one to tell
  return greeting;
}

Status CSMTPSession::Ehlo() {
  return Command({"EHLO", "EHLO " + heloName_, 250, "An unexpected error occurred while sending the EHLO command",
                  "An unexpected response was received occurred while sending the EHLO command"});
}

// ---- protection ----

Status CSMTPSession::LoadTrust() {
  // A trust file that cannot be read is a setting to fix, not a reason to
  // trust less or more than the administrator asked for.
  tls_ = std::make_unique<CTlsChannel>(socket_);
  if (tls_->LoadTrust(caFile_)) return Status();
  const std::string reason =
      OneLine("Could not read the CA certificate file " + caFile_ + ": " + tls_->LastErrorText());
  reply_.SetText(reason);
  tls_.reset();
  return Report({"SMTPCAFile", reason});
}

Status CSMTPSession::Handshake(const std::string& host, std::string_view step) {
  if (tls_->Handshake(host, replyTimeoutMs_)) {
    channel_ = tls_.get();
    return Status();
  }
  const std::string reason = tls_->LastErrorText();
  Failure failure{std::string(step), OneLine("TLS handshake with the SMTP server " + host + " failed: " + reason)};
  if (!socket_.StopRequested()) Report(failure);
  Abandon(reason);
  return failure;
}

Status CSMTPSession::StartTls(const std::string& host) {
  // Nothing of the login or the mail may go out in clear: a server that does
  // not offer STARTTLS hears only QUIT.
  if (!reply_.Offers("STARTTLS")) {
    const Failure failure = Report({"STARTTLS", std::string(kNoStartTls)});
    (void)Disconnect(true);  // the missing STARTTLS is the failure to tell
    reply_.SetText(std::string(kNoStartTls));
    return failure;
  }
  Status started = Command({"STARTTLS", "STARTTLS", 220, kStartTlsUnsent, "The SMTP server refused STARTTLS"});
  if (!started) {
    if (started.Error().text == kStartTlsUnsent) {
      Abandon(ErrorText());
    } else {
      const std::string reply = reply_.Text();
      (void)Disconnect(true);  // the refusal is the failure to tell
      reply_.SetText(reply);
    }
    return started;
  }
  // Bytes that came after the 220 were sent before the protection and could
  // be anyone's: they are dropped, not read as the server's.
  reply_.DropPending();
  return Handshake(host, "STARTTLS");
}

// ---- transfer ----

Status CSMTPSession::SendMessage(const CSMTPMessage& message) { return TransferMessage(*this, message, refused_); }

Status CSMTPSession::SendMessage(const std::string& path, const CMailAddress& sender, size_t blockSize) {
  return TransferQueueFile(*this, log_, path, sender, blockSize, refused_);
}

// ---- closing ----

Status CSMTPSession::Disconnect(bool sendQuit) {
  if (!connected_) {
    const Failure failure = Report({"QUIT", "Already disconnected from SMTP server, doing nothing"});
    channel_ = &socket_;
    socket_.Close();
    return failure;
  }
  Status result = Status::Failed("QUIT", "Closed without QUIT");
  // A stopping owner does not wait for the server's goodbye.
  if (socket_.StopRequested()) result = Status::Failed("QUIT", SystemErrorText(ECANCELED));
  if (sendQuit && !socket_.StopRequested()) {
    if (!SendLine("QUIT"))
      Report({"QUIT", "Failed in call to send QUIT command, GetLastError returns: " + ErrorText()});
    result =
        ReadReplyWithin(221, reply_.Missed() ? std::min(replyTimeoutMs_, kQuitAfterMissingReplyMs) : replyTimeoutMs_);
    if (!result && !socket_.StopRequested())
      result = Report({"QUIT", "An unexpected QUIT response was received", result.Error().code});
  }
  connected_ = false;
  reply_.DropPending();
  if (channel_ != &socket_ && !socket_.StopRequested()) tls_->Shutdown();
  channel_ = &socket_;
  socket_.Close();
  return result;
}

}  // namespace kestrel
