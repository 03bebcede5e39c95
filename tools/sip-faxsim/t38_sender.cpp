#include "t38_sender.h"

#include <algorithm>

#include "media/rtp_audio_link.h"

namespace kestrel {

namespace {

// The receiver silent this long: give up.
constexpr std::chrono::seconds kSilenceLimit{30};
// SpanDSP's rate management: the receiver checks the training itself.
constexpr int kTransferredTcf = 2;

int SendPacket(t38_core_state_t*, void* user, const std::uint8_t* buf, int len, int count) {
  if (len > 0) static_cast<faxsim::CUdptlChannel*>(user)->Send({buf, static_cast<std::size_t>(len)}, count);
  return 0;
}

}  // namespace

FaxSendOutcome SendFaxT38(faxsim::CUdptlChannel& channel, const FaxSendOptions& options,
                          const T38Parameters& session) {
  t38_terminal_state_t* terminal = t38_terminal_init(nullptr, 1, SendPacket, &channel);
  if (!terminal) {
    FaxSendOutcome outcome;
    outcome.text = "SpanDSP could not set up a T.38 sender";
    return outcome;
  }
  t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal);
  t38_set_t38_version(core, session.version);
  t38_set_data_rate_management_method(core, kTransferredTcf);
  if (session.maxDatagram > 0) t38_set_max_datagram_size(core, session.maxDatagram);
  if (session.maxBuffer > 0) t38_set_max_buffer_size(core, session.maxBuffer);
  // With redundancy the data travels again in the next datagrams, so once is
  // enough; indicators and the ends of data, after which a pause may follow,
  // still go out in the copies SpanDSP asks for (the receiver drops the
  // duplicates).
  if (session.errorCorrection != T38ErrorCorrection::kNone) {
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_CONTROL_DATA, 1);
    t38_set_redundancy_control(core, T38_PACKET_CATEGORY_IMAGE_DATA, 1);
  }
  FaxSendOptions rated = options;
  rated.maxBitRate = std::min(options.maxBitRate, session.maxBitRate);
  t38_set_fastest_image_data_rate(core, rated.maxBitRate);
  CT30Progress progress(t38_terminal_get_t30_state(terminal), rated);

  auto next = std::chrono::steady_clock::now();
  SendStep step = SendStep::kGoOn;
  const auto deliver = [core](std::uint16_t sequence, std::span<const std::uint8_t> ifp) {
    t38_core_rx_ifp_packet(core, ifp.data(), static_cast<int>(ifp.size()), sequence);
  };
  while (progress.Going() && step == SendStep::kGoOn) {
    channel.Receive(next, deliver);
    const auto now = std::chrono::steady_clock::now();
    if (now >= next) {
      t38_terminal_send_timeout(terminal, static_cast<int>(kFrameSamples));
      next += kFrameTime;
      if (options.between) step = options.between(true);
    }
    if (now - channel.LastHeard() > kSilenceLimit) break;
  }
  FaxSendOutcome outcome = progress.Outcome(step == SendStep::kPeerHungUp);
  outcome.dropped = channel.Counts().dropped;
  outcome.recovered = channel.Counts().recovered;
  t38_terminal_free(terminal);
  return outcome;
}

}  // namespace kestrel
