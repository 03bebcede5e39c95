// The SMTP client: one TCP connection to one mail server, optionally
// protected by TLS (STARTTLS after EHLO, or TLS from the first byte, with the
// server's certificate verified), the greeting and HELO/EHLO, an optional
// login (AUTH LOGIN, "AUTH LOGIN PLAIN", CRAM-MD5 or AUTH PLAIN), the transfer
// of a CSMTPMessage or of a queue file written by SaveToDisk, and QUIT. Every
// command and reply goes through one channel, plain or TLS (mail_channel.h).
// Synchronous and blocking, but every wait is bounded: each reply has a
// total deadline (ReplyTimeout, EndOfDataTimeout for the reply to the end of
// the data) that data trickling in does not extend, and every wait (name
// lookup, connect, reply, send) ends within about 100 ms of the owner's stop
// flag turning true. Every failing call writes one event text through OnError
// (beginning with the operation's name), leaves a number in MailLastError()
// and keeps the last reply text and code for the caller.
//
// How the forwarding step and the queue monitor use it:
//   CSMTPSession session(log);
//   session.SetConnectionSecurity(settings.SMTPSecurity, settings.SMTPCAFile);
//   if (session.Connect(server, settings.AuthenticationMethod, user, pass, port)) {
//     ok = session.SendMessage(message);               // or, for a queue file:
//     ok = session.SendMessage(path, sender, 4096);    //   recipients from its To header
//     session.Disconnect();
//   }
//   on failure: session.LastReplyText(), MailLastError()
//
// Server replies are untrusted: a reply is read into a buffer that grows in
// steps of 4096 bytes up to a fixed limit, and lines are parsed within it; the
// reply text handed out has every control character turned into a blank, so
// it cannot split an event line.
// Not thread-safe: one session per thread; several sessions may talk to
// servers at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/event_log.h"
#include "core/setting_choices.h"
#include "mail/mail_address.h"
#include "mail/mail_channel.h"
#include "mail/mail_part.h"
#include "mail/mail_socket.h"
#include "mail/smtp_message.h"

namespace kestrel {

// The login exchange after EHLO (the AuthenticationMethod setting).
enum AuthenticationMethod : int {
  kAuthNone = 0,        // HELO, no login
  kAuthCramMd5 = 1,     // EHLO, AUTH CRAM-MD5
  kAuthLogin = 2,       // EHLO, AUTH LOGIN with base64 prompts
  kAuthLoginPlain = 3,  // EHLO, "AUTH LOGIN PLAIN" with clear-text prompts
  kAuthPlain = 4,       // EHLO, AUTH PLAIN with NUL user NUL password in base64
};

// How the connection is protected (the SMTPSecurity setting).
enum ConnectionSecurity : int {
  kSecurityNone = 0,      // plain SMTP
  kSecurityStartTls = 1,  // STARTTLS after EHLO; a server without it gets nothing
  kSecurityTls = 2,       // TLS from the first byte (port 465)
};

// kDefaultSmtpPort (core/setting_choices.h) where the SMTPPort setting is 0.
inline constexpr int SmtpPortOrDefault(int configured) { return configured == 0 ? kDefaultSmtpPort : configured; }

// HMAC-MD5 of `data` keyed with `key` (a key longer than 64 bytes is first
// replaced by its MD5), as 32 lower-case hexadecimal digits.
std::string HmacMd5Hex(std::string_view key, std::string_view data);

class CTlsChannel;

class CSMTPSession {
 public:
  explicit CSMTPSession(IEventLog& log);
  // Disconnects with QUIT when still connected.
  virtual ~CSMTPSession();
  CSMTPSession(const CSMTPSession&) = delete;
  CSMTPSession& operator=(const CSMTPSession&) = delete;

  // Connects to `host`:`port` (from `localAddress` when not empty), expects the
  // 220 greeting, then HELO (method kAuthNone) or EHLO and the login of
  // `method`. Every failure leaves the connection closed.
  // With a connection security set: TLS before the greeting (kSecurityTls), or
  // EHLO, STARTTLS and EHLO again (kSecurityStartTls), always EHLO, and the
  // certificate verified for `host`. A server without STARTTLS, a refused
  // STARTTLS or a failed handshake end the session before any login or mail;
  // LastReplyText() then holds the reason in words.
  bool Connect(const std::string& host, int method, const std::string& user, const std::string& password,
               int port = kDefaultSmtpPort, const std::string& localAddress = "");
  bool ConnectSMTP(const std::string& heloName);
  bool ConnectESMTP(const std::string& heloName, const std::string& user, const std::string& password,
                    int method);
  bool AuthLogin(const std::string& user, const std::string& password);
  bool AuthLoginPlain(const std::string& user, const std::string& password);
  bool CramLogin(const std::string& user, const std::string& password);
  // RFC 4616: "AUTH PLAIN <base64>" in one line, or, when the server answers
  // 334 (or the line would be too long for one command), the credentials as
  // the answer to the server's challenge.
  bool AuthPlain(const std::string& user, const std::string& password);
  // STARTTLS on a connection whose EHLO reply offered it, and the handshake.
  // Every failure leaves the connection closed.
  bool StartTls(const std::string& host);

  // The SMTPSecurity setting (ConnectionSecurity) and the SMTPCAFile setting
  // (a PEM file of further trusted certificates; empty: the system's only).
  // Taken at the next Connect.
  void SetConnectionSecurity(int security, std::string caFile = "") {
    security_ = security;
    caFile_ = std::move(caFile);
  }
  // The protocol of the protected connection ("TLSv1.3"), empty when plain.
  std::string TlsVersion() const;

  // MAIL FROM the sender, RCPT TO every To, Cc and Bcc address, DATA, the
  // message's bytes and the end-of-message line.
  bool SendMessage(const CSMTPMessage& message);
  // The same for a queue file: recipients from its To header, the file's bytes
  // sent unchanged in blocks of `blockSize`, MAIL FROM `sender`.
  bool SendMessage(const std::string& path, const CMailAddress& sender, size_t blockSize = 4096);
  bool SendRCPTForRecipient(const CMailAddress& recipient);
  bool SendBodyPart(const CMailPart& part, bool isRoot);

  // QUIT (when `sendQuit`), expecting 221, and closes the connection. After a
  // reply that never came (timeout, closed connection) the 221 is waited for
  // at most 2 s; once the stop flag is set the connection is closed at once,
  // without QUIT and without an event text (the result is then false).
  bool Disconnect(bool sendQuit = true);

  virtual bool ReadCommandResponse(int expected);
  // Reads one reply (continuation lines "ddd-" included) into a buffer of
  // `bufferSize` bytes growing by `growth`; true when its final line carries
  // `expected`. Bytes after the reply are kept for the next read. The whole
  // reply must arrive within the reply timeout (10060 and an event text
  // otherwise); a stop ends the wait with ECANCELED and no text.
  virtual bool ReadResponse(size_t bufferSize, std::string_view terminator, int expected, size_t growth);

  bool IsConnected() const { return connected_ != 0; }
  // The final line of the last reply (or at most 1024 bytes of what was
  // received before a failure), control characters turned into blanks.
  // After a failure of the connection's protection: its reason in words.
  const std::string& LastReplyText() const { return lastReplyText_; }
  // The first event text since Connect, without its leading blank, and the
  // server's reply (3xx to 5xx) that caused it: the cause of a failure, before
  // the summaries that follow it, for a caller that tells a person.
  const std::string& FailureText() const { return failureText_; }
  int LastReplyCode() const { return lastReplyCode_; }
  // The buffer size the last reply needed (256, 4352, ...).
  size_t LastReplyBufferSize() const { return lastBufferSize_; }

  // "auto" (the default) is replaced by the host name at Connect.
  const std::string& HeloName() const { return heloName_; }
  void SetHeloName(std::string name) { heloName_ = std::move(name); }
  // How long one reply may take in all, from the moment the wait for it
  // begins (60 s); also how long a send may wait for the server to take data
  // and how long Connect may spend on lookup and connection.
  int ReplyTimeout() const { return replyTimeoutMs_; }
  void SetReplyTimeout(int milliseconds) { replyTimeoutMs_ = milliseconds; }
  // How long the reply to the end of the data may take (10 minutes): the
  // server may be checking the mail, and giving up early would queue a mail
  // it then delivers, so that it arrives twice.
  int EndOfDataTimeout() const { return endOfDataTimeoutMs_; }
  void SetEndOfDataTimeout(int milliseconds) { endOfDataTimeoutMs_ = milliseconds; }
  // When set, every wait (lookup, connect, reply, send) gives up within about
  // 100 ms of the flag turning true, so an owner that stops can close the
  // session without waiting for a server. The flag must outlive the session.
  void SetStopFlag(const std::atomic<bool>* stop) {
    stop_ = stop;
    socket_.SetStopFlag(stop);
  }

 protected:
  // Called after each block of a queue file; false aborts the transfer.
  virtual bool OnSendProgress(uint64_t sentSoFar, uint64_t total);
  // Writes `text` to the event log.
  virtual void OnError(std::string_view text);

 private:
  // Sends `line` + CR LF; CR and LF inside `line` become blanks.
  bool SendLine(std::string_view line);
  // ReadCommandResponse with a deadline of `timeoutMs` instead of the reply
  // timeout.
  bool ReadReplyWithin(int expected, int timeoutMs);
  // Ends a read that got no complete reply: keeps (a bounded, one-line copy
  // of) what came, and marks the conversation as out of step.
  bool ReplyMissing(const std::string& received, size_t bufferSize);
  std::string ErrorText() const { return channel_->LastErrorText(); }
  // EHLO and its 250 reply; LoginWith the exchange of `method` after it.
  bool Ehlo(const std::string& heloName);
  bool LoginWith(int method, const std::string& user, const std::string& password);
  // The TLS handshake for `host` on the connection; on failure an event text
  // beginning with `operation`, and the connection closed without QUIT.
  bool Handshake(const std::string& host, std::string_view operation);
  // Closes the connection at once: after a failed handshake nothing more can
  // be said on it.
  void Abandon(const std::string& reason);
  // Whether the last reply (a 250 to EHLO) lists `keyword` as an extension.
  bool ReplyOffers(std::string_view keyword) const;
  // The text of the last reply after its code and separator.
  std::string PromptText() const;
  // MAIL FROM, DATA and the end of the message, shared by both SendMessage forms.
  bool SendMailFrom(const CMailAddress& sender);
  bool StartData();
  bool FinishData();
  // Drops the connection in the middle of DATA, so that the server discards
  // the incomplete message instead of delivering it.
  void AbortTransaction();

  IEventLog& log_;
  CMailSocket socket_;
  std::unique_ptr<CTlsChannel> tls_;
  IMailChannel* channel_ = &socket_;  // the TLS channel once it stands
  int security_ = kSecurityNone;
  std::string caFile_;
  int connected_ = 0;
  std::string lastReplyText_;
  std::string lastReply_;  // every line of the last complete reply
  std::string failureText_;
  int lastReplyCode_ = 0;
  std::string heloName_ = "auto";
  int replyTimeoutMs_ = 60000;
  int endOfDataTimeoutMs_ = 600000;
  int readTimeoutMs_ = 0;     // the deadline of the read under way when not 0
  bool replyMissing_ = false;  // a read since Connect got no complete reply
  size_t lastBufferSize_ = 0;
  std::string pending_;  // bytes received after the last complete reply
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace kestrel
