#include "media/t38_fax_call.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <spandsp.h>
#include <thread>

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kTick{20};
constexpr int kTickSamples = 160;
// Behind by more than this after a stall, the clock starts afresh.
constexpr std::chrono::milliseconds kMaxLag{2000};

}  // namespace

class CT38FaxCall::CImpl {
 public:
  CImpl(std::unique_ptr<CUdptlLink> link, t38_terminal_state_t* terminal)
      : link_(std::move(link)), terminal_(terminal) {
    outcome_.Attach(t38_terminal_get_t30_state(terminal_));
    thread_ = std::thread([this] { Run(); });
  }
  ~CImpl() {
    Hangup();
    if (thread_.joinable()) thread_.join();
    t38_terminal_free(terminal_);
  }

  // SpanDSP's way out for IFPs: `count` copies of one datagram.
  static int Transmit(t38_core_state_t*, void* user, const std::uint8_t* ifp, int length, int count) {
    auto* link = static_cast<CUdptlLink*>(user);
    return link->Send(std::span<const std::uint8_t>(ifp, static_cast<std::size_t>(std::max(length, 0))), count) ? 0
                                                                                                                : -1;
  }

  void Hangup() {
    hangup_ = true;
    link_->Wake();
  }
  bool Finished() const { return end_.Finished(); }
  FaxCallResult Wait() { return end_.Wait(); }

 private:
  void Run() {
    t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
    UdptlIfp ifp;
    auto next = std::chrono::steady_clock::now();
    const char* stopped = nullptr;
    while (!outcome_.Ended()) {
      if (hangup_) {
        stopped = kHungUpReason;
        break;
      }
      link_->Receive(next);
      while (!outcome_.Ended() && link_->NextIfp(ifp))
        t38_core_rx_ifp_packet(core, ifp.bytes.data(), static_cast<int>(ifp.bytes.size()), ifp.sequence);
      const auto now = std::chrono::steady_clock::now();
      if (now >= next) {
        if (t38_terminal_send_timeout(terminal_, kTickSamples)) break;
        next += kTick;
        if (now - next > kMaxLag) next = now;
      }
      if (now - link_->LastHeard() > kMediaSilenceLimit) {
        stopped = kSilenceReason;
        break;
      }
    }
    FaxCallResult result = outcome_.Finish(t38_terminal_get_t30_state(terminal_), stopped);
    result.t38 = true;
    end_.Publish(std::move(result));
  }

  std::unique_ptr<CUdptlLink> link_;
  t38_terminal_state_t* terminal_;
  std::atomic<bool> hangup_{false};
  CT30Outcome outcome_;  // the thread's own
  CCallEnd end_;
  std::thread thread_;
};

Result<std::unique_ptr<CT38FaxCall>> CT38FaxCall::Start(std::unique_ptr<CUdptlLink> link, const T38Parameters& session,
                                                        const std::string& tiffPath,
                                                        const std::string& localStationId) {
  t38_terminal_state_t* terminal = t38_terminal_init(nullptr, 0, &CImpl::Transmit, link.get());
  if (!terminal) return Failure{"T.38", "SpanDSP could not set up a T.38 receiver", 0};
  t38_terminal_set_tep_mode(terminal, 0);
  t38_terminal_set_fill_bit_removal(terminal, 0);
  t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal);
  t38_set_t38_version(core, std::clamp(session.version, 0, kHighestT38Version));
  t38_set_data_rate_management_method(
      core, session.transferredTcf ? T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF : T38_DATA_RATE_MANAGEMENT_LOCAL_TCF);
  if (session.maxBitRate > 0) t38_set_fastest_image_data_rate(core, session.maxBitRate);
  if (session.maxBuffer > 0) t38_set_max_buffer_size(core, session.maxBuffer);
  t38_set_max_datagram_size(core, static_cast<int>(link->MaxDatagram()));
  ConfigureT30Receiver(t38_terminal_get_t30_state(terminal), tiffPath, localStationId);
  return std::unique_ptr<CT38FaxCall>(new CT38FaxCall(std::make_unique<CImpl>(std::move(link), terminal)));
}

CT38FaxCall::CT38FaxCall(std::unique_ptr<CImpl> impl) : impl_(std::move(impl)) {}
CT38FaxCall::~CT38FaxCall() = default;
void CT38FaxCall::Hangup() { impl_->Hangup(); }
bool CT38FaxCall::Finished() const { return impl_->Finished(); }
FaxCallResult CT38FaxCall::Wait() { return impl_->Wait(); }

}  // namespace kestrel
