// CT38Sender: the calling side of a T.38 fax for tests and the benchmark:
// SpanDSP's T.38 terminal in calling mode sends a TIFF over UDPTL from a
// socket of its own, on a thread of its own, with what a rough network does
// to datagrams, decided by a seeded generator so a run can be repeated:
// loss both ways, duplicates, pairs swapped, junk between them, and loss
// only while the pages' image data goes (for pages with errors, ECM off).
#pragma once

#include <memory>
#include <string>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "core/t38_parameters.h"

namespace kestrel::test {

struct T38SenderOptions {
  T38Parameters session{};  // as the receiver's SDP states it
  std::string ident = "sim 1";
  bool ecm = true;
  int lossPercent = 0;         // of datagrams each way
  bool imageLossOnly = false;  // lose only datagrams of image data
  bool duplicate = false;      // every datagram twice
  bool swapPairs = false;      // every second datagram before the one before it
  bool junk = false;           // a malformed datagram before every tenth one
  unsigned seed = 1;
};

struct T38SendOutcome {
  bool complete = false;  // T.30 ended without error
  int pages = 0;
  int lost = 0;  // datagrams dropped, both ways
  std::string describe;
};

class CT38Sender {
 public:
  [[nodiscard]] static Result<std::unique_ptr<CT38Sender>> Start(const std::string& tiffPath, int localPort,
                                                                 const AudioEndpoint& receiver,
                                                                 const T38SenderOptions& options);
  ~CT38Sender();
  CT38Sender(const CT38Sender&) = delete;
  CT38Sender& operator=(const CT38Sender&) = delete;
  // Blocks until the sender's T.30 has ended.
  T38SendOutcome Wait();

 private:
  class CImpl;
  explicit CT38Sender(std::unique_ptr<CImpl> impl);
  std::unique_ptr<CImpl> impl_;
};

}  // namespace kestrel::test
