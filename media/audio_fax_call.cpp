#include "media/audio_fax_call.h"

#include <atomic>
#include <spandsp.h>
#include <thread>
#include <vector>

#include "media/rtp_audio_link.h"

namespace kestrel {

namespace {

// T.30's station identities are at most 20 characters.
constexpr std::size_t kMaxStationId = 20;
// After a stall of the machine the missed frames go out at once: the modem
// signal stays whole (SpanDSP counts its time in samples, not in seconds),
// and a peer that drops the burst loses no more than the frames not sent.
// Behind by more than this, the clock starts afresh.
constexpr std::chrono::milliseconds kMaxLag{2000};

}  // namespace

class CAudioFaxCall::CImpl {
 public:
  CImpl(std::unique_ptr<CRtpAudioLink> link, fax_state_t* fax) : link_(std::move(link)), fax_(fax) {
    t30_state_t* t30 = fax_get_t30_state(fax_);
    t30_set_phase_e_handler(t30, &CImpl::PhaseE, this);
    t30_set_real_time_frame_handler(t30, &CImpl::Frame, this);
    thread_ = std::thread([this] { Run(); });
  }
  ~CImpl() {
    Hangup();
    if (thread_.joinable()) thread_.join();
    fax_free(fax_);
  }

  void Hangup() {
    hangup_ = true;
    link_->Wake();
  }
  bool Finished() const { return finished_; }
  AudioFaxResult Wait() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  static void PhaseE(t30_state_t*, void* user, int completion) {
    auto* self = static_cast<CImpl*>(user);
    if (!self->ended_) self->completion_ = completion;
    self->ended_ = true;
  }

  // Watches for the end of the document: the sender's last post-page message
  // said "end of procedure" and we confirmed it. A caller who hangs up after
  // that, without the closing DCN (SIP's BYE often overtakes it), has sent
  // the whole fax.
  static void Frame(t30_state_t*, void* user, int incoming, const std::uint8_t msg[], int len) {
    auto* self = static_cast<CImpl*>(user);
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

  void Run() {
    std::vector<std::int16_t> in;
    std::vector<std::int16_t> out(kFrameSamples);
    auto next = std::chrono::steady_clock::now();
    const char* stopped = nullptr;
    while (!ended_) {
      if (hangup_) {
        stopped = kHungUpReason;
        break;
      }
      link_->Receive(next);
      while (!ended_ && link_->NextFrame(in)) fax_rx(fax_, in.data(), static_cast<int>(in.size()));
      const auto now = std::chrono::steady_clock::now();
      if (now >= next) {
        const int made = fax_tx(fax_, out.data(), static_cast<int>(kFrameSamples));
        std::fill(out.begin() + std::max(made, 0), out.end(), 0);
        link_->Send(out);
        next += kFrameTime;
        if (now - next > kMaxLag) next = now;
      }
      if (now - link_->LastHeard() > kMediaSilenceLimit) {
        stopped = kSilenceReason;
        break;
      }
    }
    t30_state_t* t30 = fax_get_t30_state(fax_);
    // Ends T.30 where it stands (its phase E comes now if it had not) and
    // closes the TIFF with the pages received so far.
    t30_terminate(t30);
    t30_stats_t stats;
    t30_get_transfer_statistics(t30, &stats);
    result_.pages = stats.pages_rx;
    result_.bitRate = stats.bit_rate;
    if (const char* ident = t30_get_rx_ident(t30)) result_.remoteStationId = ident;
    result_.complete = stopped ? documentEnded_ : completion_ == T30_ERR_OK;
    if (!result_.complete) result_.incomplete = stopped ? stopped : t30_completion_code_to_str(completion_);
    finished_ = true;
  }

  std::unique_ptr<CRtpAudioLink> link_;
  fax_state_t* fax_;
  std::atomic<bool> hangup_{false};
  std::atomic<bool> finished_{false};
  // The thread's own: phase E reached, the last page announced and confirmed.
  bool ended_ = false;
  bool lastPageSent_ = false;
  bool documentEnded_ = false;
  int completion_ = T30_ERR_OK;
  AudioFaxResult result_;
  std::thread thread_;
};

Result<std::unique_ptr<CAudioFaxCall>> CAudioFaxCall::Start(const AudioFaxSetup& setup) {
  Result<std::unique_ptr<CRtpAudioLink>> link = CRtpAudioLink::Open(setup.localRtpPort, setup.remote, setup.codec);
  if (!link) return link.Error();
  fax_state_t* fax = fax_init(nullptr, 0);
  if (!fax) return Failure{"T.30", "SpanDSP could not set up a fax receiver", 0};
  fax_set_transmit_on_idle(fax, 1);
  t30_state_t* t30 = fax_get_t30_state(fax);
  t30_set_tx_ident(t30, setup.localStationId.substr(0, kMaxStationId).c_str());
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(
      t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
  t30_set_ecm_capability(t30, 1);
  t30_set_rx_file(t30, setup.tiffPath.c_str(), -1);
  return std::unique_ptr<CAudioFaxCall>(new CAudioFaxCall(std::make_unique<CImpl>(std::move(*link), fax)));
}

CAudioFaxCall::CAudioFaxCall(std::unique_ptr<CImpl> impl) : impl_(std::move(impl)) {}
CAudioFaxCall::~CAudioFaxCall() = default;
void CAudioFaxCall::Hangup() { impl_->Hangup(); }
bool CAudioFaxCall::Finished() const { return impl_->Finished(); }
AudioFaxResult CAudioFaxCall::Wait() { return impl_->Wait(); }

}  // namespace kestrel
