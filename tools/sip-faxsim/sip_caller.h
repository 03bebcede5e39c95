// CSipCaller: the SIP side of the test fax sender, a user agent client of
// its own over UDP that knows INVITE (with an SDP offer of one G.711 codec),
// ACK and BYE, and answers the peer's BYE. Deliberately not the SIP stack
// Kestrel's line uses, so that the two do not share a misreading. No
// authentication: the tests let the sender in by its address.
//
// Reads the responses of the peer under test: lines are split within the
// datagram's bytes, numbers are range-checked, and a response that does not
// parse is ignored as if lost. Failures are Result/Status (core/result.h),
// step "SIP", code the SIP status when there is one. Not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "media/audio_fax_call.h"

namespace kestrel {

struct SipCallOptions {
  std::string target;  // "sip:<dialled>@<numeric address>[:port]"
  int localPort = 0;
  std::string localAddress = "127.0.0.1";
  std::string fromUser = "faxsim";  // "anonymous" withholds the number
  std::string assertedUser;         // P-Asserted-Identity's user, when set
  bool privacy = false;             // Privacy: id
};

struct SipAnsweredCall {
  AudioEndpoint media;
  AudioCodec codec = AudioCodec::kPcma;
};

class CSipCaller {
 public:
  [[nodiscard]] static Result<std::unique_ptr<CSipCaller>> Open(const SipCallOptions& options);
  ~CSipCaller();
  CSipCaller(const CSipCaller&) = delete;
  CSipCaller& operator=(const CSipCaller&) = delete;

  // Calls the target offering `codec` on `rtpPort`; answers where the media
  // goes once the call is answered. Fails with the final status otherwise.
  [[nodiscard]] Result<SipAnsweredCall> Invite(AudioCodec codec, int rtpPort);
  // Takes what the peer sent meanwhile without waiting: true once it sent BYE
  // (answered 200).
  [[nodiscard]] bool PeerHungUp();
  // Ends the call; fails when the peer does not confirm.
  [[nodiscard]] Status Bye();

 private:
  struct CMessage;
  CSipCaller(int socket, SipCallOptions options, std::string host, std::uint16_t port);
  void SendText(const std::string& text);
  // The next SIP message, or nothing once `until` passes.
  [[nodiscard]] std::unique_ptr<CMessage> Next(std::chrono::steady_clock::time_point until);
  // Answers a request of the peer (BYE 200, anything else 501); true for BYE.
  bool AnswerRequest(const CMessage& request);
  std::string Request(const std::string& method, const std::string& branch, int cseq, const std::string& body = "");
  // Sends `request` and its retransmissions until a final response with
  // `cseq` arrives; provisional responses stop the retransmissions.
  [[nodiscard]] std::unique_ptr<CMessage> Transact(const std::string& request, int cseq, const std::string& method);

  int socket_;
  SipCallOptions options_;
  std::string host_;
  std::uint16_t port_;
  std::string callId_;
  std::string fromTag_;
  std::string toHeader_;    // with the peer's tag once answered
  std::string requestUri_;  // the peer's Contact once answered
  std::vector<std::string> routes_;
  int cseq_ = 1;
  bool peerHungUp_ = false;
};

}  // namespace kestrel
