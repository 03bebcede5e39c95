// The SMTP client: one TCP connection to one mail server, optionally
// protected by TLS (STARTTLS after EHLO, or TLS from the first byte, with the
// server's certificate verified), the greeting and HELO/EHLO, an optional
// login (smtp_authentication.h), the transfer of a CSMTPMessage or of a queue
// file written by SaveToDisk (smtp_transfer.h), and QUIT. Every command and
// reply goes through one channel, plain or TLS (mail_channel.h), and every
// reply through one bounded reader (smtp_reply_reader.h).
// Synchronous and blocking, but every wait is bounded: each reply has a
// total deadline (ReplyTimeout, EndOfDataTimeout for the reply to the end of
// the data) that data trickling in does not extend, and every wait (name
// lookup, connect, reply, send) ends within about 100 ms of the owner's stop
// flag turning true.
// Failures are returned as a Status (Failure.step = the SMTP step such as
// "EHLO" or "RCPT TO", code = the server's reply code or 0); the session also
// writes the event texts of the system through OnError, each beginning with
// the operation's name, and keeps the last reply for the caller.
//
// How the forwarding step and the queue monitor use it:
//   CSMTPSession session(log);
//   session.SetConnectionSecurity(security, settings.SMTPCAFile);
//   if (Status connected = session.Connect(server, method, user, pass, port)) {
//     Status sent = session.SendMessage(message);      // or, for a queue file:
//     Status sent = session.SendMessage(path, sender, 4096);  // recipients from its To header
//     (void)session.Disconnect();
//   }
//
// Server replies are untrusted: see smtp_reply_reader.h; the reply text
// handed out has every control character turned into a blank, so it cannot
// split an event line.
// Not thread-safe: one session per thread; several sessions may talk to
// servers at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/event_log.h"
#include "core/result.h"
#include "core/setting_choices.h"
#include "mail/mail_address.h"
#include "mail/mail_channel.h"
#include "mail/mail_socket.h"
#include "mail/smtp_conversation.h"
#include "mail/smtp_message.h"
#include "mail/smtp_reply_reader.h"
#include "mail/smtp_transfer.h"

namespace kestrel {

// The standard SMTP port (core/setting_choices.h) where the SMTPPort setting is 0.
inline constexpr int SmtpPortOrDefault(int configured) { return configured == 0 ? kDefaultSmtpPort : configured; }

class CTlsChannel;
class IAccessTokenSource;

class CSMTPSession : private ISmtpConversation {
 public:
  explicit CSMTPSession(IEventLog& log);
  // Disconnects with QUIT when still connected.
  virtual ~CSMTPSession();
  CSMTPSession(const CSMTPSession&) = delete;
  CSMTPSession& operator=(const CSMTPSession&) = delete;

  // Connects to `host`:`port` (from `localAddress` when not empty), expects the
  // 220 greeting, then HELO (no login on a plain connection) or EHLO and the
  // login of `method`. Every failure leaves the connection closed and returns
  // its cause (the summary event text follows it in the log).
  // With a connection security set: TLS before the greeting (Tls), or EHLO,
  // STARTTLS and EHLO again (StartTls), always EHLO, and the certificate
  // verified for `host`. A server without STARTTLS, a refused STARTTLS or a
  // failed handshake end the session before any login or mail;
  // With the OAuth login, a connection without TLS to a server that is not a
  // loopback address, or an empty `user`, fails before connecting.
  // LastReplyText() then holds the reason in words. A security value that is
  // none of these fails before anything is sent, without even connecting.
  Status Connect(const std::string& host, SmtpAuthentication method, const std::string& user,
                 const std::string& password, int port = kDefaultSmtpPort, const std::string& localAddress = "");

  // The SMTPSecurity setting and the SMTPCAFile setting (a PEM file of further
  // trusted certificates; empty: the system's only). Taken at the next Connect.
  void SetConnectionSecurity(SmtpSecurity security, std::string caFile = "") {
    security_ = security;
    caFile_ = std::move(caFile);
  }
  // Where the OAuth 2.0 login (AuthenticationMethod OAuth) gets its access
  // token; it must outlive the session. Taken at the next Connect.
  void SetAccessTokens(IAccessTokenSource* tokens) { tokens_ = tokens; }
  // The protocol of the protected connection ("TLSv1.3"), empty when plain.
  std::string TlsVersion() const;

  // MAIL FROM the sender, RCPT TO every To, Cc and Bcc address, DATA, the
  // message's bytes and the end-of-message line. The recipients the server
  // refuses are left out (RefusedRecipients); the others get the mail.
  Status SendMessage(const CSMTPMessage& message);
  // The same for a queue file: recipients from its To header, the file's bytes
  // sent unchanged in blocks of `blockSize`, MAIL FROM `sender`.
  Status SendMessage(const std::string& path, const CMailAddress& sender, size_t blockSize = 4096);
  // The recipients the server refused during the last SendMessage, in the
  // order they were asked for, whether the message went to the others or not.
  const std::vector<RefusedRecipient>& RefusedRecipients() const { return refused_; }

  // QUIT (when `sendQuit`), expecting 221, and closes the connection. After a
  // reply that never came (timeout, closed connection) the 221 is waited for
  // at most 2 s; once the stop flag is set the connection is closed at once,
  // without QUIT and without an event text (and a failure).
  Status Disconnect(bool sendQuit = true);

  // Reads one more reply within the reply timeout, for a caller that speaks
  // on the connection beyond the steps above; ok when it carries `expected`.
  Status ReadReply(int expected);

  // The words of a failure of this session for a person: the operation and
  // what went wrong, with the server's reply when it refused
  // ("AuthLogin, AUTH LOGIN authentication was unsuccessful (535 no)").
  static std::string Explain(const Failure& failure);

  bool IsConnected() const { return connected_; }
  // The final line of the last reply (or at most 1024 bytes of what was
  // received before a failure), control characters turned into blanks.
  // After a failure of the connection's protection: its reason in words.
  const std::string& LastReplyText() const { return reply_.Text(); }
  int LastReplyCode() const { return reply_.Code(); }
  // The buffer size the last reply needed (256, 4352, ...).
  size_t LastReplyBufferSize() const { return reply_.BufferSize(); }

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
  // ISmtpConversation, for the logins and the transfer.
  Status Command(const SmtpCommand& command) override;
  Status SendData(std::string_view bytes, std::string_view step, std::string_view unsent) override;
  Failure Report(Failure failure) override;
  bool Progress(uint64_t sentSoFar, uint64_t total) override { return OnSendProgress(sentSoFar, total); }
  void Abort() override;
  const CSmtpReplyReader& Reply() const override { return reply_; }

  // Connect up to the server's 220 greeting: the security value checked,
  // the trust loaded, TCP, and TLS from the first byte when asked for.
  Status Open(const std::string& host, int port, const std::string& localAddress);
  Status Ehlo();
  // STARTTLS on a connection whose EHLO reply offered it, and the handshake.
  // Every failure leaves the connection closed.
  Status StartTls(const std::string& host);
  // The TLS handshake for `host` on the connection; a failure of step `step`
  // closes the connection without QUIT.
  Status Handshake(const std::string& host, std::string_view step);
  // The trust for TLS; a file that cannot be read fails with step SMTPCAFile.
  Status LoadTrust();
  // Closes the connection at once, keeping `reason` as the last reply text:
  // after a failed handshake nothing more can be said on it.
  void Abandon(const std::string& reason);
  // Sends `line` + CR LF; CR and LF inside `line` become blanks.
  bool SendLine(std::string_view line);
  // One reply within `timeoutMs`; a timeout writes its event text.
  Status ReadReplyWithin(int expected, int timeoutMs);
  std::string ErrorText() const { return channel_->LastErrorText(); }

  IEventLog& log_;
  CMailSocket socket_;
  std::unique_ptr<CTlsChannel> tls_;
  IMailChannel* channel_ = &socket_;  // the TLS channel once it stands
  CSmtpReplyReader reply_;
  SmtpSecurity security_ = SmtpSecurity::None;
  std::string caFile_;
  IAccessTokenSource* tokens_ = nullptr;
  bool connected_ = false;
  std::string heloName_ = "auto";
  int replyTimeoutMs_ = 60000;
  int endOfDataTimeoutMs_ = 600000;
  const std::atomic<bool>* stop_ = nullptr;
  std::vector<RefusedRecipient> refused_;
};

}  // namespace kestrel
