// A thin TCP client socket for the SMTP session: connect (optionally from a
// given local address), whole sends that never raise SIGPIPE, receives, and a
// bounded wait for readability. Each call leaves errno of a failing system
// call in LastErrno() for the caller's error text.
//
// Not thread-safe; one socket belongs to one session.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

class CMailSocket {
 public:
  CMailSocket() = default;
  ~CMailSocket();
  CMailSocket(const CMailSocket&) = delete;
  CMailSocket& operator=(const CMailSocket&) = delete;

  // A new IPv4 stream socket (an open one is closed first).
  bool Create();
  // Resolves `host` (and `localAddress` when not empty: bound with port 0) to
  // its first IPv4 address and connects. An unknown name sets the mail error
  // 10022 and its resolver text. The connection attempt gives up after
  // `timeoutMs` (ETIMEDOUT), or as soon as `*stop` turns true (ECANCELED), so
  // a server that drops SYNs cannot hold a stopping owner for minutes.
  bool Connect(const std::string& host, int port, const std::string& localAddress, int timeoutMs = 60000,
               const std::atomic<bool>* stop = nullptr);
  // Sends all of `data`; false when a send call reports an error. Sends block
  // at most the send timeout, so a server that stops reading cannot hang us.
  bool Send(std::string_view data);
  void SetSendTimeout(int milliseconds);
  // Receives at most `size` bytes: the count, 0 when the peer closed, -1 on error.
  long Receive(char* buffer, size_t size);
  // Waits up to `waitMs` for data. False only when the wait itself fails;
  // `readable` tells whether data (or the peer's close) is there.
  bool IsReadable(bool& readable, int waitMs);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  int LastErrno() const { return lastErrno_; }
  // The text for the last failure: strerror() or the resolver's message.
  std::string LastErrorText() const;

 private:
  int fd_ = -1;
  int lastErrno_ = 0;
  std::string resolverText_;
};

}  // namespace kestrel
