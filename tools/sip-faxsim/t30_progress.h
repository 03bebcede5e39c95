// CT30Progress: the T.30 side both of the test sender's transports share:
// SpanDSP's T.30 set up as the calling fax (ECM on) sending the options'
// TIFF, what it reports as it goes (pages, frames, its end) and the outcome
// made of it. The transports (fax_sender.h over audio, t38_sender.h over
// UDPTL) own the SpanDSP state and drive it.
//
// Not thread-safe; one per fax sent.
#pragma once

#include <cstdint>
#include <functional>
#include <spandsp.h>
#include <string>

namespace kestrel {

// What the signalling asks of a sender between two of its 20 ms frames.
enum class SendStep { kGoOn, kPeerHungUp, kSwitchToT38 };

struct FaxSendOptions {
  std::string tiffPath;
  std::string stationId = "sip-faxsim";
  double lossPercent = 0;
  std::uint32_t seed = 1;
  int hangupAfterPage = 0;  // 0: send every page
  int maxBitRate = 14400;   // the fastest modem offered
  // Asked every frame when set, with whether the receiver's fax tone or one
  // of its V.21 frames has been heard yet.
  std::function<SendStep(bool heardFax)> between;
};

struct FaxSendOutcome {
  bool ok = false;             // T.30 ended well, or stopped after the page asked for
  bool switchedToT38 = false;  // the audio sender stopped for T.38; T.30 starts again there
  int pages = 0;
  int bitRate = 0;
  std::uint64_t dropped = 0;    // packets or datagrams lost on purpose
  std::uint64_t recovered = 0;  // IFPs taken from redundancy
  std::string text;             // SpanDSP's words for how T.30 ended
};

class CT30Progress {
 public:
  CT30Progress(t30_state_t* t30, const FaxSendOptions& options);
  CT30Progress(const CT30Progress&) = delete;
  CT30Progress& operator=(const CT30Progress&) = delete;

  // Called for every T.30 frame, after the progress has taken it.
  std::function<void(bool incoming, int fcf)> onFrame;

  [[nodiscard]] bool Going() const { return !ended_ && !stopped_; }
  [[nodiscard]] bool HeardFrame() const { return heardFrame_; }
  // The outcome so far; `peerHungUp` when the call ended under T.30.
  [[nodiscard]] FaxSendOutcome Outcome(bool peerHungUp) const;

 private:
  static int PhaseD(t30_state_t*, void* user, int);
  static void PhaseE(t30_state_t*, void* user, int completion);
  static void Frame(t30_state_t*, void* user, int incoming, const std::uint8_t msg[], int len);

  t30_state_t* t30_;
  const FaxSendOptions& options_;
  int pages_ = 0;
  bool ended_ = false;
  bool stopped_ = false;
  bool heardFrame_ = false;
  int completion_ = T30_ERR_OK;
};

}  // namespace kestrel
