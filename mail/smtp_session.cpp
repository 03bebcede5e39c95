#include "mail/smtp_session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

#include "mail/base64_codec.h"
#include "mail/mail_error.h"
#include "mail/tls_channel.h"

namespace kestrel {
namespace {

constexpr size_t kFirstReplyBuffer = 256;
constexpr size_t kReplyGrowth = 4096;
// A reply is a few lines; a server that sends more than this without ending
// its reply is not an SMTP server we can talk to.
constexpr size_t kMaxReplyBytes = 1 << 20;
// What is kept of a reply that never completed, for the caller's event text.
constexpr size_t kMaxKeptReplyBytes = 1024;
// A wait looks at the stop flag at least this often.
constexpr int kPollStepMs = 100;
// After a reply that never came the server is out of step or gone; its answer
// to QUIT is worth only a short wait.
constexpr int kQuitAfterMissingReplyMs = 2000;
// The longest command line a server must take (RFC 5321), CR LF included.
constexpr size_t kMaxCommandLine = 512;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The number in the first three characters of `line` (digits only).
int ReplyCode(std::string_view line) {
  int code = 0;
  for (size_t i = 0; i < 3 && i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    code = code * 10 + (line[i] - '0');
  return code;
}

// "250-..." continues a reply; every other line ends it.
bool IsContinuationLine(std::string_view line) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return line.size() >= 4 && digit(line[0]) && digit(line[1]) && digit(line[2]) && line[3] == '-';
}

std::string Md5(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
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

CSMTPSession::CSMTPSession(IEventLog& log) : log_(log) {}

CSMTPSession::~CSMTPSession() {
  if (connected_) Disconnect(true);
  socket_.Close();
}

void CSMTPSession::OnError(std::string_view text) {
  if (failureText_.empty()) {
    const size_t start = text.find_first_not_of(' ');
    failureText_ = start == std::string_view::npos ? std::string() : std::string(text.substr(start));
    if (lastReplyCode_ >= 300 && !lastReplyText_.empty()) failureText_ += " (" + lastReplyText_ + ")";
  }
  log_.WriteEventText(text);
}

std::string CSMTPSession::TlsVersion() const { return tls_ && channel_ != &socket_ ? tls_->Version() : ""; }

bool CSMTPSession::OnSendProgress(uint64_t, uint64_t) { return true; }

bool CSMTPSession::SendLine(std::string_view line) {
  return channel_->Send(WithoutLineBreaks(std::string(line)) + "\r\n");
}

std::string CSMTPSession::PromptText() const {
  return lastReplyText_.size() > 4 ? lastReplyText_.substr(4) : std::string();
}

void CSMTPSession::AbortTransaction() {
  socket_.Close();
  channel_ = &socket_;
  connected_ = 0;
  pending_.clear();
}

// ---- connection ----

bool CSMTPSession::Connect(const std::string& host, int method, const std::string& user,
                           const std::string& password, int port, const std::string& localAddress) {
  pending_.clear();
  lastReplyText_.clear();
  lastReplyCode_ = 0;
  replyMissing_ = false;
  failureText_.clear();
  channel_ = &socket_;
  tls_.reset();
  if (security_ != kSecurityNone) {
    // A trust file that cannot be read is a setting to fix, not a reason to
    // trust less or more than the administrator asked for.
    tls_ = std::make_unique<CTlsChannel>(socket_);
    if (!tls_->LoadTrust(caFile_)) {
      const std::string reason = "Could not read the CA certificate file " + caFile_ + ": " + tls_->LastErrorText();
      OnError(OneLine(" Connect, " + reason));
      lastReplyText_ = OneLine(reason);
      tls_.reset();
      return false;
    }
  }
  if (!socket_.Create()) {
    OnError(" Connect, Failed to create client socket, GetLastError returns: " + ErrorText());
    return false;
  }
  if (!socket_.Connect(host, port, localAddress, replyTimeoutMs_)) {
    std::string text = " Connect, Could not connect to the SMTP server " + host + " on port " + std::to_string(port);
    if (!localAddress.empty()) text += " from LocalAddress:" + localAddress;
    OnError(OneLine(text + ", GetLastError returns: " + ErrorText()));
    socket_.Close();
    return false;
  }
  socket_.SetSendTimeout(replyTimeoutMs_);
  connected_ = 1;
  if (security_ == kSecurityTls && !Handshake(host, "Connect")) return false;

  if (!ReadCommandResponse(220)) {
    OnError(" Connect, An unexpected SMTP login response was received");
    Disconnect(true);
    return false;
  }
  if (heloName_ == "auto") {
    char name[260] = {};
    if (::gethostname(name, sizeof(name) - 1) == 0) heloName_ = name;
  }
  bool greeted;
  if (security_ == kSecurityNone) {
    greeted = method == kAuthNone ? ConnectSMTP(heloName_) : ConnectESMTP(heloName_, user, password, method);
  } else if (security_ == kSecurityStartTls) {
    // STARTTLS needs EHLO; what EHLO said in clear is forgotten after it.
    if (!Ehlo(heloName_)) {
      greeted = false;
    } else {
      if (!StartTls(host)) return false;
      greeted = ConnectESMTP(heloName_, user, password, method);
    }
  } else {
    greeted = ConnectESMTP(heloName_, user, password, method);
  }
  if (!greeted) {
    Disconnect(true);
    OnError(" Connect, An unexpected HELO/EHLO response was received");
    return false;
  }
  return true;
}

bool CSMTPSession::ConnectSMTP(const std::string& heloName) {
  if (!SendLine("HELO " + heloName)) {
    OnError(" ConnectSMTP, An unexpected error occurred while sending the HELO command");
    return false;
  }
  return ReadCommandResponse(250);
}

bool CSMTPSession::ConnectESMTP(const std::string& heloName, const std::string& user, const std::string& password,
                                int method) {
  return Ehlo(heloName) && LoginWith(method, user, password);
}

bool CSMTPSession::Ehlo(const std::string& heloName) {
  if (!SendLine("EHLO " + heloName)) {
    OnError(" ConnectESMTP, An unexpected error occurred while sending the EHLO command");
    return false;
  }
  if (!ReadCommandResponse(250)) {
    OnError(" ConnectESMTP, An unexpected response was received occurred while sending the EHLO command");
    return false;
  }
  return true;
}

bool CSMTPSession::LoginWith(int method, const std::string& user, const std::string& password) {
  switch (method) {
    case kAuthCramMd5: return CramLogin(user, password);
    case kAuthLogin: return AuthLogin(user, password);
    case kAuthLoginPlain: return AuthLoginPlain(user, password);
    case kAuthPlain: return AuthPlain(user, password);
    // Plain SMTP greets with HELO for no login; a protected connection needs
    // EHLO and then simply logs in with nothing.
    case kAuthNone: return security_ != kSecurityNone;
    default: return false;
  }
}

// ---- protection ----

bool CSMTPSession::ReplyOffers(std::string_view keyword) const {
  // Each line after the first names one extension: "250-STARTTLS", "250 SIZE 10240000".
  size_t start = lastReply_.find("\r\n");
  while (start != std::string::npos) {
    start += 2;
    const size_t end = std::min(lastReply_.find("\r\n", start), lastReply_.size());
    std::string_view line(lastReply_.data() + start, end - start);
    if (line.size() >= 4) {
      line.remove_prefix(4);
      const std::string_view word = line.substr(0, line.find(' '));
      if (word.size() == keyword.size() &&
          std::equal(word.begin(), word.end(), keyword.begin(),
                     [](char a, char b) { return std::toupper((unsigned char)a) == b; }))
        return true;
    }
    if (end >= lastReply_.size()) break;
    start = end;
  }
  return false;
}

void CSMTPSession::Abandon(const std::string& reason) {
  lastReplyText_ = OneLine(reason);
  connected_ = 0;
  pending_.clear();
  channel_ = &socket_;
  socket_.Close();
}

bool CSMTPSession::Handshake(const std::string& host, std::string_view operation) {
  if (!tls_->Handshake(host, replyTimeoutMs_)) {
    const std::string reason = tls_->LastErrorText();
    if (!socket_.StopRequested())
      OnError(OneLine(" " + std::string(operation) + ", TLS handshake with the SMTP server " + host +
                      " failed: " + reason));
    Abandon(reason);
    return false;
  }
  channel_ = tls_.get();
  return true;
}

bool CSMTPSession::StartTls(const std::string& host) {
  if (!tls_) {
    tls_ = std::make_unique<CTlsChannel>(socket_);
    if (!tls_->LoadTrust(caFile_)) {
      const std::string reason = "Could not read the CA certificate file " + caFile_ + ": " + tls_->LastErrorText();
      OnError(OneLine(" StartTls, " + reason));
      Abandon(reason);
      return false;
    }
  }
  // Nothing of the login or the mail may go out in clear: a server that does
  // not offer STARTTLS hears only QUIT.
  if (!ReplyOffers("STARTTLS")) {
    OnError(" StartTls, The SMTP server does not offer STARTTLS");
    Disconnect(true);
    lastReplyText_ = "The SMTP server does not offer STARTTLS";
    return false;
  }
  if (!SendLine("STARTTLS")) {
    OnError(" StartTls, An unexpected error occurred while sending the STARTTLS command");
    Abandon(ErrorText());
    return false;
  }
  if (!ReadCommandResponse(220)) {
    const std::string reply = lastReplyText_;
    OnError(" StartTls, The SMTP server refused STARTTLS");
    Disconnect(true);
    lastReplyText_ = reply;
    return false;
  }
  // Bytes that came after the 220 were sent before the protection and could
  // be anyone's: they are dropped, not read as the server's.
  pending_.clear();
  return Handshake(host, "StartTls");
}

// ---- logins ----

bool CSMTPSession::AuthLogin(const std::string& user, const std::string& password) {
  if (!SendLine("AUTH LOGIN")) {
    OnError(" AuthLogin, An unexpected error occurred while sending the AUTH command");
    return false;
  }
  if (!ReadCommandResponse(334)) {
    OnError(" AuthLogin, Server does not support AUTH LOGIN");
    return false;
  }
  if (CBase64Codec::DecodeText(PromptText()) != "Username:") {
    OnError(" AuthLogin, An unexpected request received when expecting username request");
    return false;
  }
  if (!SendLine(CBase64Codec::Encode(user))) {
    OnError(" AuthLogin, An unexpected error occurred while sending the username");
    return false;
  }
  if (!ReadCommandResponse(334)) {
    OnError(" AuthLogin, Server did not respond correctly to AUTH LOGIN username field");
    return false;
  }
  if (CBase64Codec::DecodeText(PromptText()) != "Password:") {
    OnError(" AuthLogin, An unexpected request received when expecting password request");
    return false;
  }
  if (!SendLine(CBase64Codec::Encode(password))) {
    OnError(" AuthLogin, An unexpected error occurred while sending the password");
    return false;
  }
  if (!ReadCommandResponse(235)) {
    OnError(" AuthLogin, AUTH LOGIN authentication was unsuccessful");
    return false;
  }
  return true;
}

bool CSMTPSession::AuthLoginPlain(const std::string& user, const std::string& password) {
  if (!SendLine("AUTH LOGIN PLAIN")) {
    OnError(" AuthLoginPlain, An unexpected error occurred while sending the AUTH command");
    return false;
  }
  if (!ReadCommandResponse(334)) {
    OnError(" AuthLoginPlain, Server does not support AUTH LOGIN PLAIN");
    return false;
  }
  if (PromptText() == "Username:" && !SendLine(user)) {
    OnError(" AuthLoginPlain, An unexpected error occurred while sending the username");
    return false;
  }
  if (!ReadCommandResponse(334)) {
    OnError(" AuthLoginPlain, Server did not response correctly to AUTH LOGIN PLAIN username field");
    return false;
  }
  // Without the clear-text password prompt the password was never sent, so the
  // login cannot have succeeded.
  if (PromptText() != "Password:") {
    OnError(" AuthLoginPlain, AUTH LOGIN PLAIN authentication was unsuccessful");
    return false;
  }
  if (!SendLine(password)) {
    OnError(" AuthLoginPlain, An unexpected error occurred while sending the password");
    return false;
  }
  if (!ReadCommandResponse(235)) {
    OnError(" AuthLoginPlain, AUTH LOGIN PLAIN authentication was unsuccessful");
    return false;
  }
  return true;
}

bool CSMTPSession::CramLogin(const std::string& user, const std::string& password) {
  if (!SendLine("AUTH CRAM-MD5")) {
    OnError(" CramLogin, An unexpected error occurred while sending the AUTH command");
    return false;
  }
  if (!ReadCommandResponse(334)) {
    OnError(" CramLogin, Server does not support AUTH CRAM-MD5");
    return false;
  }
  std::string challenge = CBase64Codec::DecodeText(PromptText());
  std::string response = user + " " + HmacMd5Hex(password, challenge);
  if (!SendLine(CBase64Codec::Encode(response))) {
    OnError(" CramLogin, An unexpected error occurred while sending the username");
    return false;
  }
  if (!ReadCommandResponse(235)) {
    OnError(" CramLogin, AUTH CRAM-MD5 authentication was unsuccessful");
    return false;
  }
  return true;
}

bool CSMTPSession::AuthPlain(const std::string& user, const std::string& password) {
  std::string credentials;
  credentials += '\0';
  credentials += user;
  credentials += '\0';
  credentials += password;
  const std::string encoded = CBase64Codec::Encode(credentials);
  const std::string command = "AUTH PLAIN " + encoded;
  const bool inOneLine = command.size() + 2 <= kMaxCommandLine;
  if (!SendLine(inOneLine ? command : std::string("AUTH PLAIN"))) {
    OnError(" AuthPlain, An unexpected error occurred while sending the AUTH command");
    return false;
  }
  lastReplyCode_ = 0;
  if (ReadCommandResponse(235)) return true;
  if (lastReplyCode_ != 334) {
    OnError(inOneLine ? " AuthPlain, AUTH PLAIN authentication was unsuccessful"
                      : " AuthPlain, Server does not support AUTH PLAIN");
    return false;
  }
  // The server asked with an empty challenge: the credentials are the answer.
  if (!SendLine(encoded)) {
    OnError(" AuthPlain, An unexpected error occurred while sending the credentials");
    return false;
  }
  if (!ReadCommandResponse(235)) {
    OnError(" AuthPlain, AUTH PLAIN authentication was unsuccessful");
    return false;
  }
  return true;
}

// ---- transfer ----

bool CSMTPSession::SendRCPTForRecipient(const CMailAddress& recipient) {
  if (!SendLine("RCPT TO:<" + recipient.Address() + ">")) {
    OnError(" SendRCPTForRecipient, Failed in call to send RCPT command, GetLastError returns: " + ErrorText());
    return false;
  }
  if (!ReadCommandResponse(250)) {
    SetMailLastError(kMailErrorBadCommand);
    OnError(" SendRCPTForRecipient, An unexpected RCPT response was received");
    return false;
  }
  return true;
}

bool CSMTPSession::SendMailFrom(const CMailAddress& sender) {
  if (!SendLine("MAIL FROM:<" + sender.Address() + ">")) {
    OnError(" SendMessage, Failed in call to send MAIL command, GetLastError returns: " + ErrorText());
    return false;
  }
  if (!ReadCommandResponse(250)) {
    SetMailLastError(kMailErrorBadCommand);
    OnError(" SendMessage, An unexpected MAIL response was received");
    return false;
  }
  return true;
}

bool CSMTPSession::StartData() {
  if (!SendLine("DATA")) {
    OnError(" SendMessage, Failed in call to send MAIL command, GetLastError returns: " + ErrorText());
    return false;
  }
  if (!ReadCommandResponse(354)) {
    SetMailLastError(kMailErrorBadCommand);
    OnError(" SendMessage, An unexpected DATA response was received");
    return false;
  }
  return true;
}

bool CSMTPSession::FinishData() {
  if (!channel_->Send("\r\n.\r\n")) {
    OnError(" SendMessage, Failed in call to send end of message indicator, GetLastError returns: " + ErrorText());
    AbortTransaction();
    return false;
  }
  if (!ReadReplyWithin(250, endOfDataTimeoutMs_)) {
    SetMailLastError(kMailErrorBadCommand);
    OnError(" SendMessage, An unexpected end of message response was received");
    return false;
  }
  return true;
}

bool CSMTPSession::SendMessage(const CSMTPMessage& message) {
  if (!SendMailFrom(message.Sender())) return false;
  for (auto kind : {CSMTPMessage::kTo, CSMTPMessage::kCc, CSMTPMessage::kBcc})
    for (const CMailAddress& recipient : message.Recipients(kind))
      if (!SendRCPTForRecipient(recipient)) return false;
  if (!StartData()) return false;

  if (!channel_->Send(message.GetHeader())) {
    OnError(" SendMessage, Failed in call to send the header, GetLastError returns: " + ErrorText());
    AbortTransaction();
    return false;
  }
  if (!channel_->Send("\r\n")) {
    OnError(" SendMessage, Failed in call to send the header / body separator, GetLastError returns: " + ErrorText());
    AbortTransaction();
    return false;
  }
  if (message.UsesPartTree()) {
    if (!SendBodyPart(message.RootPart(), true)) {
      AbortTransaction();
      return false;
    }
  } else if (!channel_->Send(message.SinglePartBody())) {
    OnError(" SendMessage, Failed in call to send the header, GetLastError returns: " + ErrorText());
    AbortTransaction();
    return false;
  }
  return FinishData();
}

bool CSMTPSession::SendBodyPart(const CMailPart& part, bool isRoot) {
  std::string piece;
  if (!isRoot && (!part.GetHeader(piece) || !channel_->Send(piece))) {
    OnError(" SendBodyPart, Failed in call to send body parts header, GetLastError returns: " + ErrorText());
    return false;
  }
  int sysError = 0;
  if (!part.GetBody(piece, sysError)) {
    OnError(" SendBodyPart, Failed in call to send body parts body, GetLastError returns: " +
            SystemErrorText(sysError));
    return false;
  }
  if (!channel_->Send(piece)) {
    OnError(" SendBodyPart, Failed in call to send body parts body, GetLastError returns: " + ErrorText());
    return false;
  }
  for (size_t i = 0; i < part.ChildCount(); ++i)
    if (!SendBodyPart(part.Child(i), false)) return false;
  if (!part.GetFooter(piece) || !channel_->Send(piece)) {
    OnError(" SendBodyPart, Failed in call to send body parts footer, GetLastError returns: " + ErrorText());
    return false;
  }
  return true;
}

bool CSMTPSession::SendMessage(const std::string& path, const CMailAddress& sender, size_t blockSize) {
  std::vector<std::string> unreadable;
  std::vector<CMailAddress> recipients =
      ParseAddressList(CSMTPMessage(log_).GetRecipientsFromFile(path), &unreadable);
  for (const std::string& entry : unreadable)
    OnError(OneLine(" SendMessage, Dropped an address that cannot be read: " + entry));

  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    OnError(OneLine(" SendMessage, Could not open the file to send " + path));
    return false;
  }
  bool closeReported = false;
  auto closeFile = [&] {
    if (!file) return;
    if (std::fclose(file) != 0 && !closeReported) {
      OnError(OneLine(" SendMessage, A file exception occured while closing the file when sending the message from "
                      "the file " + path));
      closeReported = true;
    }
    file = nullptr;
  };

  uint64_t length = 0;
  off_t end = -1;
  if (fseeko(file, 0, SEEK_END) == 0) end = ftello(file);
  if (end < 0 || fseeko(file, 0, SEEK_SET) != 0)
    OnError(OneLine(" SendMessage, Failed to get the length of the file, " + path));
  else
    length = uint64_t(end);
  if (length == 0) {
    closeFile();
    return false;
  }

  bool started = SendMailFrom(sender);
  for (size_t i = 0; started && i < recipients.size(); ++i) started = SendRCPTForRecipient(recipients[i]);
  if (!started || !StartData()) {
    closeFile();
    return false;
  }

  if (blockSize == 0) blockSize = 4096;
  std::vector<char> block(blockSize);
  uint64_t total = 0;
  bool aborted = false;
  for (;;) {
    size_t got = std::fread(block.data(), 1, blockSize, file);
    if (got < blockSize && std::ferror(file)) {
      OnError(OneLine(" SendMessage, An error occurred reading from the file to send " + path));
      aborted = true;
      break;
    }
    if (got > 0) {
      total += got;
      if (!OnSendProgress(total, length)) {
        aborted = true;
        break;
      }
      if (!channel_->Send(std::string_view(block.data(), got))) {
        OnError(" SendMessage, Failed in call to send the message, GetLastError returns: " + ErrorText());
        aborted = true;
        break;
      }
    }
    if (got < blockSize) break;
  }
  closeFile();
  if (aborted) {
    AbortTransaction();
    return false;
  }
  return FinishData();
}

// ---- closing ----

bool CSMTPSession::Disconnect(bool sendQuit) {
  if (!connected_) {
    OnError(" Disconnect, Already disconnected from SMTP server, doing nothing");
    channel_ = &socket_;
    socket_.Close();
    return false;
  }
  bool result = false;
  // A stopping owner does not wait for the server's goodbye.
  if (sendQuit && !socket_.StopRequested()) {
    if (!SendLine("QUIT"))
      OnError(" Disconnect, Failed in call to send QUIT command, GetLastError returns: " + ErrorText());
    result = replyMissing_ ? ReadReplyWithin(221, std::min(replyTimeoutMs_, kQuitAfterMissingReplyMs))
                           : ReadCommandResponse(221);
    if (!result && !socket_.StopRequested()) {
      SetMailLastError(kMailErrorBadCommand);
      OnError(" Disconnect, An unexpected QUIT response was received");
    }
  }
  connected_ = 0;
  pending_.clear();
  if (channel_ != &socket_ && !socket_.StopRequested()) tls_->Shutdown();
  channel_ = &socket_;
  socket_.Close();
  return result;
}

// ---- replies ----

bool CSMTPSession::ReadCommandResponse(int expected) {
  return ReadResponse(kFirstReplyBuffer, "\r\n", expected, kReplyGrowth);
}

bool CSMTPSession::ReadReplyWithin(int expected, int timeoutMs) {
  readTimeoutMs_ = timeoutMs;
  bool ok = ReadCommandResponse(expected);
  readTimeoutMs_ = 0;
  return ok;
}

bool CSMTPSession::ReplyMissing(const std::string& received, size_t bufferSize) {
  replyMissing_ = true;
  lastReply_.clear();
  lastReplyText_ = OneLine(received.substr(0, kMaxKeptReplyBytes));
  lastBufferSize_ = bufferSize;
  return false;
}

bool CSMTPSession::ReadResponse(size_t bufferSize, std::string_view terminator, int expected, size_t growth) {
  if (terminator.empty()) terminator = "\r\n";
  if (growth == 0) growth = kReplyGrowth;
  size_t size = std::max<size_t>(bufferSize, 2);
  std::string received = std::move(pending_);
  pending_.clear();
  while (received.size() + 1 >= size) size += growth;

  // The reply ends with its first line that is not a continuation line.
  size_t scanned = 0;
  auto completeReply = [&](size_t& lineStart, size_t& lineEnd) {
    for (;;) {
      size_t eol = received.find(terminator, scanned);
      if (eol == std::string::npos) return false;
      std::string_view line(received.data() + scanned, eol - scanned);
      if (!IsContinuationLine(line)) {
        lineStart = scanned;
        lineEnd = eol;
        return true;
      }
      scanned = eol + terminator.size();
    }
  };

  // One deadline for the whole reply: a server that sends a byte now and
  // then must not hold the session for ever.
  const int timeoutMs = readTimeoutMs_ > 0 ? readTimeoutMs_ : replyTimeoutMs_;
  const int64_t deadline = NowMs() + timeoutMs;
  size_t lineStart = 0, lineEnd = 0;
  bool complete = completeReply(lineStart, lineEnd);
  while (!complete) {
    if (stop_ && stop_->load()) {
      SetMailLastError(ECANCELED);
      return ReplyMissing(received, size);
    }
    int64_t left = deadline - NowMs();
    if (left < 0) {
      SetMailLastError(kMailErrorTimedOut);
      OnError(" ReadResponse, Timed Out waiting for response from SMTP server");
      return ReplyMissing(received, size);
    }
    bool readable = false;
    if (!channel_->IsReadable(readable, int(std::min<int64_t>(kPollStepMs, left + 1))))
      return ReplyMissing(received, size);
    if (!readable) continue;
    size_t room = size - received.size() - 1;
    size_t old = received.size();
    received.resize(old + room);
    long got = channel_->Receive(received.data() + old, room);
    received.resize(old + (got > 0 ? size_t(got) : 0));
    if (got <= 0) return ReplyMissing(received, size);  // closed by the server, or a receive error
    if (size_t(got) == room) size += growth;
    if (received.size() > kMaxReplyBytes) {
      SetMailLastError(kMailErrorUnexpectedReply);
      return ReplyMissing(received, size);
    }
    complete = completeReply(lineStart, lineEnd);
  }
  lastBufferSize_ = size;
  pending_ = received.substr(lineEnd + terminator.size());
  lastReplyCode_ = ReplyCode(std::string_view(received).substr(lineStart, lineEnd - lineStart));
  lastReplyText_ = OneLine(received.substr(lineStart, lineEnd - lineStart));
  lastReply_ = received.substr(0, lineEnd);
  if (lastReplyCode_ == expected) return true;
  SetMailLastError(kMailErrorUnexpectedReply);
  return false;
}

}  // namespace kestrel
