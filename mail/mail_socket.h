// A thin TCP client socket for the SMTP session: connect (optionally from a
// given local address), whole sends that never raise SIGPIPE, receives, and a
// bounded wait for readability. Every wait of its own (name lookup, connect,
// a send the peer does not take) is bounded and gives up as soon as the
// owner's stop flag turns true, so a stopping owner never waits for a server.
// Failure style: calls return false and leave the reason in LastErrorText()
// (errno of a failing system call in LastErrno(): ECANCELED after a stop,
// ETIMEDOUT after a deadline; the resolver's text for an unknown name).
//
// Not thread-safe; one socket belongs to one session.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <string_view>

#include "mail/mail_channel.h"

namespace kestrel {

class CMailSocket final : public IMailChannel {
 public:
  CMailSocket() = default;
  ~CMailSocket() override;
  CMailSocket(const CMailSocket&) = delete;
  CMailSocket& operator=(const CMailSocket&) = delete;

  // A new IPv4 stream socket (an open one is closed first).
  bool Create();
  // Resolves `host` (and `localAddress` when not empty: bound with port 0) to
  // its first IPv4 address and connects. An unknown name leaves the
  // resolver's text. Lookups and the connection attempt together
  // give up after `timeoutMs` (ETIMEDOUT), or within 100 ms of the stop flag
  // turning true (ECANCELED), so neither a silent name server nor a server
  // that drops SYNs can hold a stopping owner.
  bool Connect(const std::string& host, int port, const std::string& localAddress, int timeoutMs = 60000);
  // Sends all of `data`; false when a send call reports an error, when the
  // peer has taken nothing for the send timeout (ETIMEDOUT), or when the stop
  // flag is set (ECANCELED, looked at before the first byte and at least
  // every 100 ms while waiting).
  bool Send(std::string_view data) override;
  void SetSendTimeout(int milliseconds) { sendTimeoutMs_ = milliseconds; }
  // Receives at most `size` bytes: the count, 0 when the peer closed, -1 on error.
  long Receive(char* buffer, size_t size) override;
  // Waits up to `waitMs` for data. False only when the wait itself fails;
  // `readable` tells whether data (or the peer's close) is there.
  bool IsReadable(bool& readable, int waitMs) override;
  void Close();

  // The owner's stop flag (may be null); it must outlive the socket's calls.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
  bool StopRequested() const { return stop_ && stop_->load(); }

  bool IsOpen() const { return fd_ >= 0; }
  // The descriptor, for a TLS channel laid over this connection.
  int Handle() const { return fd_; }
  int SendTimeout() const { return sendTimeoutMs_; }
  int LastErrno() const { return lastErrno_; }
  // The text for the last failure: strerror() or the resolver's message.
  std::string LastErrorText() const override;

 private:
  // Resolves `host` before `deadlineMs` (steady milliseconds); false with the
  // errors set as Connect describes them.
  bool Lookup(const std::string& host, int64_t deadlineMs, sockaddr_in& out);
  bool Fail(int error);

  int fd_ = -1;
  int lastErrno_ = 0;
  int sendTimeoutMs_ = 60000;
  std::string resolverText_;
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace kestrel
