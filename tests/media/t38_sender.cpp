#include "tests/media/t38_sender.h"

#include <spandsp.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "media/udp_socket.h"
#include "media/udptl_stream.h"

namespace kestrel::test {

namespace {

constexpr std::chrono::milliseconds kTick{20};
// A sender whose T.30 has not ended by then has hung.
constexpr std::chrono::minutes kGiveUp{3};

}  // namespace

class CT38Sender::CImpl {
 public:
  CImpl(std::unique_ptr<CUdpSocket> socket, const T38SenderOptions& options)
      : socket_(std::move(socket)), options_(options), sender_(options.session), random_(options.seed) {}
  ~CImpl() {
    if (thread_.joinable()) thread_.join();
    if (terminal_) t38_terminal_free(terminal_);
  }

  bool Begin(const std::string& tiffPath) {
    terminal_ = t38_terminal_init(nullptr, 1, &CImpl::Transmit, this);
    if (!terminal_) return false;
    t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
    t38_set_t38_version(core, options_.session.version);
    t38_set_data_rate_management_method(core, options_.session.transferredTcf ? T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF
                                                                              : T38_DATA_RATE_MANAGEMENT_LOCAL_TCF);
    t38_set_max_datagram_size(core, static_cast<int>(sender_.MaxDatagram()));
    t30_state_t* t30 = t38_terminal_get_t30_state(terminal_);
    t30_set_tx_ident(t30, options_.ident.c_str());
    t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t30_set_supported_compressions(
        t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
    t30_set_ecm_capability(t30, options_.ecm ? 1 : 0);
    t30_set_tx_file(t30, tiffPath.c_str(), -1, -1);
    t30_set_phase_e_handler(t30, &CImpl::PhaseE, this);
    t30_set_real_time_frame_handler(t30, &CImpl::Frame, this);
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  T38SendOutcome Wait() {
    if (thread_.joinable()) thread_.join();
    return outcome_;
  }

 private:
  static int Transmit(t38_core_state_t*, void* user, const std::uint8_t* ifp, int length, int count) {
    auto* self = static_cast<CImpl*>(user);
    Result<std::vector<std::uint8_t>> datagram =
        self->sender_.Next(std::span<const std::uint8_t>(ifp, static_cast<std::size_t>(length)));
    if (!datagram) return -1;
    for (int i = 0; i < count; ++i) self->Out(datagram.Value());
    return 0;
  }

  static void PhaseE(t30_state_t* t30, void* user, int completion) {
    auto* self = static_cast<CImpl*>(user);
    t30_stats_t stats;
    t30_get_transfer_statistics(t30, &stats);
    self->outcome_.complete = completion == T30_ERR_OK;
    self->outcome_.pages = stats.pages_tx;
    self->outcome_.describe = t30_completion_code_to_str(completion);
    self->ended_ = true;
  }

  // Image data goes between the receiver's CFR (or our post-page message's
  // confirmation) and our next post-page message.
  static void Frame(t30_state_t*, void* user, int incoming, const std::uint8_t msg[], int len) {
    auto* self = static_cast<CImpl*>(user);
    if (len < 3) return;
    const int fcf = msg[2] & 0xFE;
    if (incoming && (fcf == T30_CFR || fcf == T30_MCF)) self->image_ = true;
    if (!incoming) self->image_ = false;
  }

  bool Lose() {
    if (options_.lossPercent <= 0 || (options_.imageLossOnly && !image_)) return false;
    if (static_cast<int>(random_() % 100) >= options_.lossPercent) return false;
    ++outcome_.lost;
    return true;
  }

  void Out(const std::vector<std::uint8_t>& datagram) {
    if (Lose()) return;
    if (options_.junk && ++sent_ % 10 == 0) {
      std::vector<std::uint8_t> junk(1 + random_() % 40);
      for (std::uint8_t& byte : junk) byte = static_cast<std::uint8_t>(random_());
      socket_->Send(junk);
    }
    if (options_.swapPairs && held_.empty()) {
      held_ = datagram;
      return;
    }
    for (int copies = options_.duplicate ? 2 : 1; copies > 0; --copies) socket_->Send(datagram);
    if (!held_.empty()) {
      socket_->Send(held_);
      held_.clear();
    }
  }

  void Run() {
    t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
    std::vector<UdptlIfp> ifps;
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    while (!ended_ && std::chrono::steady_clock::now() - start < kGiveUp) {
      socket_->Receive(next, [&](std::span<const std::uint8_t> datagram) {
        if (Lose()) return false;
        return receiver_.Take(datagram, ifps);
      });
      for (const UdptlIfp& ifp : ifps)
        if (!ended_) t38_core_rx_ifp_packet(core, ifp.bytes.data(), static_cast<int>(ifp.bytes.size()), ifp.sequence);
      ifps.clear();
      if (std::chrono::steady_clock::now() >= next) {
        // A datagram held back for swapping does not wait longer than a tick.
        if (!held_.empty()) {
          socket_->Send(held_);
          held_.clear();
        }
        t38_terminal_send_timeout(terminal_, 160);
        next += kTick;
      }
    }
    if (!ended_) outcome_.describe = "the sender gave up";
  }

  std::unique_ptr<CUdpSocket> socket_;
  T38SenderOptions options_;
  CUdptlSender sender_;
  CUdptlReceiver receiver_;
  std::mt19937 random_;
  t38_terminal_state_t* terminal_ = nullptr;
  std::vector<std::uint8_t> held_;
  int sent_ = 0;
  bool image_ = false;
  bool ended_ = false;
  T38SendOutcome outcome_;
  std::thread thread_;
};

Result<std::unique_ptr<CT38Sender>> CT38Sender::Start(const std::string& tiffPath, int localPort,
                                                      const AudioEndpoint& receiver, const T38SenderOptions& options) {
  Result<std::unique_ptr<CUdpSocket>> socket = CUdpSocket::Open(localPort, receiver, "UDPTL");
  if (!socket) return socket.Error();
  auto impl = std::make_unique<CImpl>(std::move(*socket), options);
  if (!impl->Begin(tiffPath)) return Failure{"T.38", "SpanDSP could not set up a T.38 sender", 0};
  return std::unique_ptr<CT38Sender>(new CT38Sender(std::move(impl)));
}

CT38Sender::CT38Sender(std::unique_ptr<CImpl> impl) : impl_(std::move(impl)) {}
CT38Sender::~CT38Sender() = default;
T38SendOutcome CT38Sender::Wait() { return impl_->Wait(); }

}  // namespace kestrel::test
