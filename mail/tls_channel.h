// CTlsChannel: TLS 1.2 or newer (OpenSSL) over a connected CMailSocket, for
// STARTTLS and for implicit TLS. The server's chain is verified against the
// system's trust store plus an optional PEM file, and the certificate must
// name the host the session connected to (a DNS name, sent as SNI too, or an
// IP address). Failures leave a reason in words in LastErrorText(): the
// verifier's own text ("certificate has expired", "hostname mismatch",
// "unable to get local issuer certificate") or the TLS library's.
// Failure style: calls return false and LastErrorText() says why.
//
// Everything read is untrusted: records are decrypted by OpenSSL into a
// bounded buffer of one record, and Receive hands out at most the room given.
// Every wait (handshake, send, read) is bounded and ends within about 100 ms
// of the socket's stop flag. A close_notify or a reset ends the stream like a
// dropped connection. Not thread-safe; one channel belongs to one session.
#pragma once

#include <string>
#include <string_view>

#include "mail/mail_channel.h"
#include "mail/mail_socket.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace kestrel {

class CTlsChannel final : public IMailChannel {
 public:
  // `socket` must stay connected and alive while the channel is used.
  explicit CTlsChannel(CMailSocket& socket);
  ~CTlsChannel() override;
  CTlsChannel(const CTlsChannel&) = delete;
  CTlsChannel& operator=(const CTlsChannel&) = delete;

  // The trust for the handshake: the system's store and, when `caFile` is not
  // empty, the certificates in that PEM file. False when the file cannot be
  // read or holds no certificate (LastErrorText() says which).
  bool LoadTrust(const std::string& caFile);
  // The client handshake, verifying the chain and `host`; gives up after
  // `timeoutMs` or on a stop. False with the reason in LastErrorText().
  bool Handshake(const std::string& host, int timeoutMs);
  // Sends close_notify, without waiting for the server's.
  void Shutdown();

  bool Send(std::string_view data) override;
  long Receive(char* buffer, size_t size) override;
  bool IsReadable(bool& readable, int waitMs) override;
  std::string LastErrorText() const override;

  // The negotiated protocol ("TLSv1.3"), empty before the handshake.
  std::string Version() const;

 private:
  enum class End { kOpen, kClosed, kFailed };
  // Decrypts what the socket has; true when there is data or an end to hand
  // out, false when more bytes must arrive first.
  bool Pull();
  // The reason of a failed TLS call with result `rc`, in words.
  std::string FailureText(int rc, bool handshake) const;
  // Waits up to `waitMs` for the socket to be ready for `events`.
  bool WaitFor(short events, int waitMs);

  CMailSocket& socket_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string buffered_;  // decrypted bytes not yet handed out
  size_t bufferedAt_ = 0;
  End end_ = End::kOpen;
  std::string errorText_;
};

}  // namespace kestrel
