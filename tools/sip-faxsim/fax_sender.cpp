#include "fax_sender.h"

#include <random>
#include <spandsp.h>
#include <vector>

namespace kestrel {

namespace {

// Packets lost before the fast modem has trained would cost the page (SpanDSP
// gives up on damaged training); the loss starts this many frames after the
// first ECM frame of a block is handed to the modem.
constexpr std::uint64_t kTrainingFrames = 50;
// The receiver silent this long: give up.
constexpr std::chrono::seconds kSilenceLimit{30};

struct SendState {
  const FaxSendOptions* options = nullptr;
  std::uint64_t framesSent = 0;
  bool pageData = false;                // the receiver asked for page data
  std::uint64_t lossFrom = UINT64_MAX;  // and the modem has trained by this frame
  int pages = 0;
  bool ended = false;
  bool stopped = false;
  int completion = T30_ERR_OK;
};

int PhaseD(t30_state_t*, void* user, int) {
  auto* state = static_cast<SendState*>(user);
  ++state->pages;
  if (state->options->hangupAfterPage > 0 && state->pages >= state->options->hangupAfterPage) state->stopped = true;
  return T30_ERR_OK;
}

void PhaseE(t30_state_t*, void* user, int completion) {
  auto* state = static_cast<SendState*>(user);
  if (!state->ended) state->completion = completion;
  state->ended = true;
}

void Frame(t30_state_t*, void* user, int incoming, const std::uint8_t msg[], int len) {
  auto* state = static_cast<SendState*>(user);
  if (len < 3) return;
  const int fcf = msg[2] & 0xFE;
  if (incoming) {
    state->pageData = fcf == T30_CFR || fcf == T30_MCF || fcf == T30_PPR || fcf == T30_CTR;
    state->lossFrom = UINT64_MAX;
  } else if (fcf == T4_FCD || fcf == T4_RCP) {
    if (state->pageData && state->lossFrom == UINT64_MAX) state->lossFrom = state->framesSent + kTrainingFrames;
  } else {
    state->pageData = false;
    state->lossFrom = UINT64_MAX;
  }
}

}  // namespace

FaxSendOutcome SendFax(CRtpAudioLink& link, const FaxSendOptions& options) {
  FaxSendOutcome outcome;
  fax_state_t* fax = fax_init(nullptr, 1);
  if (!fax) {
    outcome.text = "SpanDSP could not set up a fax sender";
    return outcome;
  }
  SendState state;
  state.options = &options;
  fax_set_transmit_on_idle(fax, 1);
  t30_state_t* t30 = fax_get_t30_state(fax);
  t30_set_tx_ident(t30, options.stationId.substr(0, 20).c_str());
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(
      t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
  t30_set_ecm_capability(t30, 1);
  t30_set_tx_file(t30, options.tiffPath.c_str(), -1, -1);
  t30_set_phase_d_handler(t30, PhaseD, &state);
  t30_set_phase_e_handler(t30, PhaseE, &state);
  t30_set_real_time_frame_handler(t30, Frame, &state);

  std::mt19937 random(options.seed);
  std::uniform_real_distribution<double> percent(0, 100);
  std::vector<std::int16_t> in;
  std::vector<std::int16_t> out(kFrameSamples);
  auto next = std::chrono::steady_clock::now();
  bool peerHungUp = false;
  while (!state.ended && !state.stopped && !peerHungUp) {
    link.Receive(next);
    while (link.NextFrame(in)) fax_rx(fax, in.data(), static_cast<int>(in.size()));
    const auto now = std::chrono::steady_clock::now();
    if (now >= next) {
      const int made = fax_tx(fax, out.data(), static_cast<int>(kFrameSamples));
      std::fill(out.begin() + std::max(made, 0), out.end(), 0);
      // The draw is made for every frame of page data, lost or not, so that
      // a seed names one pattern of loss.
      if (state.framesSent >= state.lossFrom && percent(random) < options.lossPercent) {
        link.Skip(kFrameSamples);
        ++outcome.dropped;
      } else {
        link.Send(out);
      }
      ++state.framesSent;
      next += kFrameTime;
      peerHungUp = options.peerHungUp && options.peerHungUp();
    }
    if (now - link.LastHeard() > kSilenceLimit) break;
  }
  t30_stats_t stats;
  t30_get_transfer_statistics(t30, &stats);
  outcome.pages = state.pages;
  outcome.bitRate = stats.bit_rate;
  outcome.ok = state.stopped || (state.ended && state.completion == T30_ERR_OK);
  if (state.stopped)
    outcome.text = "hung up after page " + std::to_string(state.pages);
  else if (!state.ended && peerHungUp)
    outcome.text = "the receiver hung up";
  else
    outcome.text = t30_completion_code_to_str(state.ended ? state.completion : T30_ERR_CALLDROPPED);
  fax_free(fax);
  return outcome;
}

}  // namespace kestrel
