#include "t30_progress.h"

namespace kestrel {

CT30Progress::CT30Progress(t30_state_t* t30, const FaxSendOptions& options) : t30_(t30), options_(options) {
  t30_set_tx_ident(t30, options.stationId.substr(0, 20).c_str());
  int modems = T30_SUPPORT_V27TER;
  if (options.maxBitRate >= 9600) modems |= T30_SUPPORT_V29;
  if (options.maxBitRate >= 14400) modems |= T30_SUPPORT_V17;
  t30_set_supported_modems(t30, modems);
  t30_set_supported_compressions(
      t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
  t30_set_ecm_capability(t30, 1);
  t30_set_tx_file(t30, options.tiffPath.c_str(), -1, -1);
  t30_set_phase_d_handler(t30, PhaseD, this);
  t30_set_phase_e_handler(t30, PhaseE, this);
  t30_set_real_time_frame_handler(t30, Frame, this);
}

int CT30Progress::PhaseD(t30_state_t*, void* user, int) {
  auto* self = static_cast<CT30Progress*>(user);
  ++self->pages_;
  if (self->options_.hangupAfterPage > 0 && self->pages_ >= self->options_.hangupAfterPage) self->stopped_ = true;
  return T30_ERR_OK;
}

void CT30Progress::PhaseE(t30_state_t*, void* user, int completion) {
  auto* self = static_cast<CT30Progress*>(user);
  if (!self->ended_) self->completion_ = completion;
  self->ended_ = true;
}

void CT30Progress::Frame(t30_state_t*, void* user, int incoming, const std::uint8_t msg[], int len) {
  auto* self = static_cast<CT30Progress*>(user);
  if (len < 3) return;
  if (incoming) self->heardFrame_ = true;
  if (self->onFrame) self->onFrame(incoming != 0, msg[2] & 0xFE);
}

FaxSendOutcome CT30Progress::Outcome(bool peerHungUp) const {
  FaxSendOutcome outcome;
  t30_stats_t stats;
  t30_get_transfer_statistics(t30_, &stats);
  outcome.pages = pages_;
  outcome.bitRate = stats.bit_rate;
  outcome.ok = stopped_ || (ended_ && completion_ == T30_ERR_OK);
  if (stopped_)
    outcome.text = "hung up after page " + std::to_string(pages_);
  else if (!ended_ && peerHungUp)
    outcome.text = "the receiver hung up";
  else
    outcome.text = t30_completion_code_to_str(ended_ ? completion_ : T30_ERR_CALLDROPPED);
  return outcome;
}

}  // namespace kestrel
