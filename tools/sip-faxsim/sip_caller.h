// CSipCaller: the SIP side of the test fax sender, a user agent client of
// its own over UDP that knows INVITE (offering one G.711 codec, or T.38
// alone), ACK and BYE, and answers the peer's BYE. In an audio call it moves
// to T.38 by re-INVITE either way: its own, once the callee's fax is heard
// or after a delay, and the callee's, which it accepts, refuses with a
// status, or meets with 491 and a re-INVITE of its own (glare), as the
// options say. Deliberately not the SIP stack Kestrel's line uses, so that
// the two do not share a misreading. No authentication: the tests let the
// sender in by its address.
//
// Reads the messages of the peer under test: lines are split within the
// datagram's bytes, numbers are range-checked, and a message that does not
// parse is ignored as if lost (SDP: t38_sdp.h). Failures are Result/Status
// (core/result.h), step "SIP", code the SIP status when there is one. Not
// thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "t30_progress.h"
#include "t38_sdp.h"

namespace kestrel {

enum class T38Mode {
  kAudio,     // audio; the callee's re-INVITE to T.38 is met as onT38Offer says
  kStart,     // the INVITE offers T.38 alone
  kReinvite,  // audio, then the caller's own re-INVITE to T.38
};

// How the caller meets the callee's re-INVITE to T.38: accepts it, refuses
// it with a status (488, 415, 606), or answers 491 and re-INVITEs at once.
struct T38OfferAnswer {
  int status = 200;
  bool glare = false;
};

struct SipCallOptions {
  std::string target;  // "sip:<dialled>@<numeric address>[:port]"
  int localPort = 0;
  std::string localAddress = "127.0.0.1";
  std::string fromUser = "faxsim";  // "anonymous" withholds the number
  std::string assertedUser;         // P-Asserted-Identity's user, when set
  bool privacy = false;             // Privacy: id
  T38Mode t38 = T38Mode::kAudio;
  T38OfferAnswer onT38Offer;
  std::chrono::milliseconds reinviteAfter{1500};  // kReinvite: at the latest this long after the answer
  faxsim::T38SdpStyle sdpStyle = faxsim::T38SdpStyle::kPlain;
  int udptlPort = 0;  // where the caller takes UDPTL
};

struct SipAnsweredCall {
  AudioEndpoint media;
  AudioCodec codec = AudioCodec::kPcma;
  std::optional<faxsim::T38Session> t38;  // the call was answered in T.38 (kStart)
};

class CSipCaller {
 public:
  [[nodiscard]] static Result<std::unique_ptr<CSipCaller>> Open(const SipCallOptions& options);
  ~CSipCaller();
  CSipCaller(const CSipCaller&) = delete;
  CSipCaller& operator=(const CSipCaller&) = delete;

  // Calls the target offering `codec` on `rtpPort` (T.38 on the UDPTL port
  // instead in kStart); answers where the media goes once the call is
  // answered. Fails with the final status otherwise.
  [[nodiscard]] Result<SipAnsweredCall> Invite(AudioCodec codec, int rtpPort);
  // Takes what the peer sent meanwhile and moves the re-INVITEs on, without
  // waiting: kSwitchToT38 once (T38Session() then says where to), kPeerHungUp
  // once the peer sent BYE (answered 200). `heardFax`: the callee's fax tone
  // or V.21 has been heard, time for kReinvite's re-INVITE.
  [[nodiscard]] SendStep Poll(bool heardFax);
  [[nodiscard]] const faxsim::T38Session& T38Session() const { return session_; }
  // The re-INVITEs' outcomes in order, "ours:200,theirs:491"; "none".
  [[nodiscard]] std::string Reinvites() const;
  // Ends the call; fails when the peer does not confirm.
  [[nodiscard]] Status Bye();

 private:
  struct CMessage;
  // A transaction in flight or an answer awaiting its ACK: resent until done.
  struct CPending {
    std::string text;
    int cseq = 0;
    std::string branch;
    std::chrono::steady_clock::time_point resend;
    std::chrono::steady_clock::duration interval{};
    std::chrono::steady_clock::time_point deadline;
  };
  CSipCaller(int socket, SipCallOptions options, std::string host, std::uint16_t port);
  void SendText(const std::string& text);
  // The next SIP message, or nothing once `until` passes.
  [[nodiscard]] std::unique_ptr<CMessage> Next(std::chrono::steady_clock::time_point until);
  // Answers a request of the peer: BYE 200, a re-INVITE as the options say,
  // anything else 501.
  void AnswerRequest(const CMessage& request);
  void AnswerReinvite(const CMessage& request);
  void TakeReinviteAnswer(const CMessage& response);
  void SendReinvite();
  void Resend(CPending& pending);
  [[nodiscard]] std::string Response(const CMessage& request, int status, const std::string& body = "");
  std::string Request(const std::string& method, const std::string& branch, int cseq, const std::string& body = "");
  [[nodiscard]] std::string ImageSdp(const T38Parameters& stated, const std::string& before = "");
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
  int sdpVersion_ = 1;
  bool peerHungUp_ = false;

  bool inT38_ = false;
  bool switchDue_ = false;  // kSwitchToT38 not yet said
  faxsim::T38Session session_;
  std::optional<std::chrono::steady_clock::time_point> reinviteAt_;
  int reinviteTries_ = 0;
  std::optional<CPending> ourReinvite_;
  bool ourReinviteAnswered_ = false;   // a provisional response came: stop resending
  std::optional<CPending> ourAnswer_;  // our 200 to the peer's re-INVITE, until its ACK
  int peerInviteCseq_ = -1;            // of the peer's last re-INVITE
  std::string peerInviteAnswer_;       // resent when that re-INVITE is
  std::vector<std::string> reinvites_;
};

}  // namespace kestrel
