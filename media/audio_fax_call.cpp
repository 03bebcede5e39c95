#include "media/audio_fax_call.h"

#include <atomic>
#include <mutex>
#include <spandsp.h>
#include <thread>
#include <vector>

#include "media/rtp_audio_link.h"

namespace kestrel {

namespace {

// After a stall of the machine the missed frames go out at once: the modem
// signal stays whole (SpanDSP counts its time in samples, not in seconds),
// and a peer that drops the burst loses no more than the frames not sent.
// Behind by more than this, the clock starts afresh.
constexpr std::chrono::milliseconds kMaxLag{2000};
// The reason a call stopped for T.38 gives; the caller of Stop never shows it.
constexpr char kStoppedReason[] = "stopped for T.38";

// The caller's fax tones: CNG, and the V.21 flags that open its first frame.
class CFaxToneListener {
 public:
  explicit CFaxToneListener(std::function<void()> heard) : heard_(std::move(heard)) {
    if (!heard_) return;
    cng_ = modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CNG, &CFaxToneListener::Report, this);
    preamble_ = modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_PREAMBLE, &CFaxToneListener::Report, this);
  }
  ~CFaxToneListener() {
    if (cng_) modem_connect_tones_rx_free(cng_);
    if (preamble_) modem_connect_tones_rx_free(preamble_);
  }
  CFaxToneListener(const CFaxToneListener&) = delete;
  CFaxToneListener& operator=(const CFaxToneListener&) = delete;

  void Listen(const std::vector<std::int16_t>& samples) {
    if (done_ || !cng_ || !preamble_) return;
    modem_connect_tones_rx(cng_, samples.data(), static_cast<int>(samples.size()));
    if (!done_) modem_connect_tones_rx(preamble_, samples.data(), static_cast<int>(samples.size()));
  }

 private:
  static void Report(void* user, int code, int, int) {
    auto* self = static_cast<CFaxToneListener*>(user);
    if (self->done_ || (code != MODEM_CONNECT_TONES_FAX_CNG && code != MODEM_CONNECT_TONES_FAX_PREAMBLE)) return;
    self->done_ = true;
    self->heard_();
  }

  std::function<void()> heard_;
  modem_connect_tones_rx_state_t* cng_ = nullptr;
  modem_connect_tones_rx_state_t* preamble_ = nullptr;
  bool done_ = false;
};

}  // namespace

class CAudioFaxCall::CImpl {
 public:
  CImpl(std::unique_ptr<CRtpAudioLink> link, fax_state_t* fax, std::function<void()> onFaxTones)
      : link_(std::move(link)), fax_(fax), tones_(std::move(onFaxTones)) {
    outcome_.Attach(fax_get_t30_state(fax_));
    thread_ = std::thread([this] { Run(); });
  }
  ~CImpl() {
    Hangup();
    if (thread_.joinable()) thread_.join();
    fax_free(fax_);
  }

  void Hangup() {
    hangup_ = true;
    Wake();
  }
  bool Stop() {
    stop_ = true;
    Wake();
    Wait();
    std::lock_guard lock(mutex_);
    return stoppedForSwitch_;
  }
  bool Finished() const { return end_.Finished(); }
  bool OnCallThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  void Wake() {
    std::lock_guard lock(mutex_);
    if (link_) link_->Wake();
  }
  AudioFaxResult Wait() { return end_.Wait(); }

 private:
  void Run() {
    std::vector<std::int16_t> in;
    std::vector<std::int16_t> out(kFrameSamples);
    auto next = std::chrono::steady_clock::now();
    const char* stopped = nullptr;
    while (!outcome_.Ended()) {
      if (hangup_ || stop_) {
        stopped = hangup_ ? kHungUpReason : kStoppedReason;
        break;
      }
      link_->Receive(next);
      while (!outcome_.Ended() && link_->NextFrame(in)) {
        tones_.Listen(in);
        fax_rx(fax_, in.data(), static_cast<int>(in.size()));
      }
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
    FaxCallResult result = outcome_.Finish(fax_get_t30_state(fax_), stopped);
    {
      std::lock_guard lock(mutex_);
      // The port is free for T.38 once Wait returns.
      link_.reset();
      stoppedForSwitch_ = stopped == kStoppedReason;
    }
    end_.Publish(std::move(result));
  }

  std::unique_ptr<CRtpAudioLink> link_;  // under mutex_ where another thread wakes it
  fax_state_t* fax_;
  std::atomic<bool> hangup_{false};
  std::atomic<bool> stop_{false};
  // The thread's own.
  CT30Outcome outcome_;
  CFaxToneListener tones_;
  std::mutex mutex_;
  bool stoppedForSwitch_ = false;  // under mutex_
  CCallEnd end_;
  std::thread thread_;
};

Result<std::unique_ptr<CAudioFaxCall>> CAudioFaxCall::Start(const AudioFaxSetup& setup) {
  Result<std::unique_ptr<CRtpAudioLink>> link = CRtpAudioLink::Open(setup.localRtpPort, setup.remote, setup.codec);
  if (!link) return link.Error();
  fax_state_t* fax = fax_init(nullptr, 0);
  if (!fax) return Failure{"T.30", "SpanDSP could not set up a fax receiver", 0};
  fax_set_transmit_on_idle(fax, 1);
  ConfigureT30Receiver(fax_get_t30_state(fax), setup.tiffPath, setup.localStationId);
  return std::unique_ptr<CAudioFaxCall>(
      new CAudioFaxCall(std::make_unique<CImpl>(std::move(*link), fax, setup.onFaxTones)));
}

CAudioFaxCall::CAudioFaxCall(std::unique_ptr<CImpl> impl) : impl_(std::move(impl)) {}
CAudioFaxCall::~CAudioFaxCall() = default;
void CAudioFaxCall::Hangup() { impl_->Hangup(); }
bool CAudioFaxCall::Stop() { return impl_->Stop(); }
bool CAudioFaxCall::Finished() const { return impl_->Finished(); }
bool CAudioFaxCall::OnCallThread() const { return impl_->OnCallThread(); }
AudioFaxResult CAudioFaxCall::Wait() { return impl_->Wait(); }

}  // namespace kestrel
