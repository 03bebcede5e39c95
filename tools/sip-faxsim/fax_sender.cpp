#include "fax_sender.h"

#include <random>
#include <vector>

namespace kestrel {

namespace {

// Packets lost before the fast modem has trained would cost the page (SpanDSP
// gives up on damaged training); the loss starts this many frames after the
// first ECM frame of a block is handed to the modem.
constexpr std::uint64_t kTrainingFrames = 50;
// The receiver silent this long: give up.
constexpr std::chrono::seconds kSilenceLimit{30};

}  // namespace

FaxSendOutcome SendFax(CRtpAudioLink& link, const FaxSendOptions& options) {
  fax_state_t* fax = fax_init(nullptr, 1);
  modem_connect_tones_rx_state_t* tones =
      modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CED_OR_PREAMBLE, nullptr, nullptr);
  if (!fax || !tones) {
    if (fax) fax_free(fax);
    if (tones) modem_connect_tones_rx_free(tones);
    FaxSendOutcome outcome;
    outcome.text = "SpanDSP could not set up a fax sender";
    return outcome;
  }
  fax_set_transmit_on_idle(fax, 1);
  CT30Progress progress(fax_get_t30_state(fax), options);

  std::uint64_t framesSent = 0;
  bool pageData = false;                // the receiver asked for page data
  std::uint64_t lossFrom = UINT64_MAX;  // and the modem has trained by this frame
  progress.onFrame = [&](bool incoming, int fcf) {
    if (incoming) {
      pageData = fcf == T30_CFR || fcf == T30_MCF || fcf == T30_PPR || fcf == T30_CTR;
      lossFrom = UINT64_MAX;
    } else if (fcf == T4_FCD || fcf == T4_RCP) {
      if (pageData && lossFrom == UINT64_MAX) lossFrom = framesSent + kTrainingFrames;
    } else {
      pageData = false;
      lossFrom = UINT64_MAX;
    }
  };

  std::mt19937 random(options.seed);
  std::uniform_real_distribution<double> percent(0, 100);
  std::vector<std::int16_t> in;
  std::vector<std::int16_t> out(kFrameSamples);
  std::uint64_t dropped = 0;
  bool heardTone = false;
  auto next = std::chrono::steady_clock::now();
  SendStep step = SendStep::kGoOn;
  while (progress.Going() && step == SendStep::kGoOn) {
    link.Receive(next);
    while (link.NextFrame(in)) {
      fax_rx(fax, in.data(), static_cast<int>(in.size()));
      if (!heardTone) {
        modem_connect_tones_rx(tones, in.data(), static_cast<int>(in.size()));
        heardTone = modem_connect_tones_rx_get(tones) != MODEM_CONNECT_TONES_NONE;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= next) {
      const int made = fax_tx(fax, out.data(), static_cast<int>(kFrameSamples));
      std::fill(out.begin() + std::max(made, 0), out.end(), 0);
      // The draw is made for every frame of page data, lost or not, so that
      // a seed names one pattern of loss.
      if (framesSent >= lossFrom && percent(random) < options.lossPercent) {
        link.Skip(kFrameSamples);
        ++dropped;
      } else {
        link.Send(out);
      }
      ++framesSent;
      next += kFrameTime;
      if (options.between) step = options.between(heardTone || progress.HeardFrame());
    }
    if (now - link.LastHeard() > kSilenceLimit) break;
  }
  FaxSendOutcome outcome = progress.Outcome(step == SendStep::kPeerHungUp);
  outcome.dropped = dropped;
  outcome.switchedToT38 = step == SendStep::kSwitchToT38;
  if (outcome.switchedToT38) outcome.text = "went on in T.38";
  fax_free(fax);
  modem_connect_tones_rx_free(tones);
  return outcome;
}

}  // namespace kestrel
