// IMailChannel: the byte stream an SMTP session talks through, plain TCP
// (CMailSocket) or TLS on top of it (CTlsChannel). The session reads every
// reply and writes every command through this one interface, so the reply
// reader, its deadlines and the stop flag behave the same over both.
// What arrives is untrusted: Receive never writes more than it is given room for.
// Failure style: calls return false (or -1) and LastErrorText() says why.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

class IMailChannel {
 public:
  virtual ~IMailChannel() = default;
  // Sends all of `data`; false on an error, a stop or the send timeout.
  virtual bool Send(std::string_view data) = 0;
  // Receives at most `size` bytes: the count, 0 when the peer closed, -1 on
  // error. Called after IsReadable said so; never blocks for long.
  virtual long Receive(char* buffer, size_t size) = 0;
  // Waits up to `waitMs` for data. False only when the wait itself fails;
  // `readable` tells whether data (or the peer's close) is there to receive.
  virtual bool IsReadable(bool& readable, int waitMs) = 0;
  // The text for the last failure, for an event text.
  virtual std::string LastErrorText() const = 0;
};

}  // namespace kestrel
