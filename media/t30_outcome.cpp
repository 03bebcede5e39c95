#include "media/t30_outcome.h"

#include <algorithm>
#include <spandsp.h>

namespace kestrel {

namespace {

// T.30's station identities are at most 20 characters.
constexpr std::size_t kMaxStationId = 20;

}  // namespace

void ConfigureT30Receiver(t30_state_t* t30, const std::string& tiffPath, const std::string& localStationId) {
  t30_set_tx_ident(t30, localStationId.substr(0, kMaxStationId).c_str());
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(
      t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
  t30_set_ecm_capability(t30, 1);
  t30_set_rx_file(t30, tiffPath.c_str(), -1);
}

void CT30Outcome::Attach(t30_state_t* t30) {
  t30_set_phase_d_handler(t30, &CT30Outcome::PhaseD, this);
  t30_set_phase_e_handler(t30, &CT30Outcome::PhaseE, this);
  t30_set_real_time_frame_handler(t30, &CT30Outcome::Frame, this);
}

// Phase D follows each page received; the statistics are then those of that
// page. Rows T.4 could not decode were regenerated from their neighbours:
// the page is kept, but it is not the page sent.
int CT30Outcome::PhaseD(t30_state_t* t30, void* user, int) {
  auto* self = static_cast<CT30Outcome*>(user);
  t30_stats_t stats;
  t30_get_transfer_statistics(t30, &stats);
  if (stats.bad_rows > 0 && stats.pages_rx > 0 &&
      std::find(self->pagesWithErrors_.begin(), self->pagesWithErrors_.end(), stats.pages_rx) ==
          self->pagesWithErrors_.end())
    self->pagesWithErrors_.push_back(stats.pages_rx);
  return T30_ERR_OK;
}

void CT30Outcome::PhaseE(t30_state_t*, void* user, int completion) {
  auto* self = static_cast<CT30Outcome*>(user);
  if (!self->ended_) self->completion_ = completion;
  self->ended_ = true;
}

// Watches for the end of the document: the sender's last post-page message
// said "end of procedure" and we confirmed it. A caller who hangs up after
// that, without the closing DCN (SIP's BYE often overtakes it), has sent
// the whole fax.
void CT30Outcome::Frame(t30_state_t*, void* user, int incoming, const std::uint8_t msg[], int len) {
  auto* self = static_cast<CT30Outcome*>(user);
  if (len < 3) return;
  const int fcf = msg[2] & 0xFE;
  if (incoming) {
    const int postPage = fcf == T30_PPS && len >= 4 ? msg[3] & 0xFE : fcf;
    if (postPage == T30_EOP || postPage == T30_PRI_EOP)
      self->lastPageSent_ = true;
    else if (fcf != T30_DCN)
      self->lastPageSent_ = false;
  } else if (fcf == T30_MCF && self->lastPageSent_) {
    self->documentEnded_ = true;
  }
}

FaxCallResult CT30Outcome::Finish(t30_state_t* t30, const char* stopped) {
  t30_terminate(t30);
  t30_stats_t stats;
  t30_get_transfer_statistics(t30, &stats);
  FaxCallResult result;
  result.pages = stats.pages_rx;
  result.bitRate = stats.bit_rate;
  if (const char* ident = t30_get_rx_ident(t30)) result.remoteStationId = ident;
  result.complete = stopped ? documentEnded_ : completion_ == T30_ERR_OK;
  if (!result.complete) result.incomplete = stopped ? stopped : t30_completion_code_to_str(completion_);
  result.pagesWithErrors = pagesWithErrors_;
  return result;
}

}  // namespace kestrel
