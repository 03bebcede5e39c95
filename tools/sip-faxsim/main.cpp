// sip-faxsim: a fax caller for the tests of Kestrel's fax reception. Sends a
// TIFF (every page, or up to --hangup-after-page) with SpanDSP's T.30 sender
// over G.711 RTP or its T.38 terminal over UDPTL, optionally losing a seeded
// share of the packets: straight to an RTP or UDPTL address (--rtp, --udptl:
// the media alone) or in a SIP call (--sip: INVITE, the fax to the answer's
// media, re-INVITEs to T.38 either way as --t38 and --on-t38-offer say, BYE).
// Prints one line of outcome and exits 0 when the fax went as asked, 1 when
// it did not, 3 when the call was not answered (the line says
// "answered=<status>").
//
// The outcome line: pages=N rate=BPS dropped=N transport=audio|t38
// reinvites=LIST recovered=N result=TEXT, where LIST is "none" or the
// re-INVITEs in order, each "ours:" or "theirs:" and its final status
// ("ours:timeout" when none came), and recovered counts the IFPs taken from
// redundancy. Addresses are numeric; an IPv6 one in brackets ("[::1]:4000").
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "fax_sender.h"
#include "media/rtp_audio_link.h"
#include "sip_caller.h"
#include "t38_sender.h"

namespace {

constexpr char kUsage[] =
    "usage: sip-faxsim --tiff FILE --local-port PORT\n"
    "         (--rtp ADDRESS:PORT\n"
    "          | --udptl ADDRESS:PORT [--udptl-ec redundancy|none] [--max-datagram BYTES]\n"
    "          | --sip sip:NUMBER@ADDRESS[:PORT] --sip-port PORT [--from USER] [--asserted USER]\n"
    "            [--privacy on] [--local-address ADDRESS] [--t38 start|reinvite] [--reinvite-after-ms MS]\n"
    "            [--on-t38-offer 200|488|415|606|glare] [--t38-sdp plain|odd|odd-small]\n"
    "            [--local-udptl-port PORT])\n"
    "         [--codec pcma|pcmu] [--ident TSI] [--loss PERCENT --seed N] [--hangup-after-page N]\n"
    "  --local-port is the RTP port; the UDPTL port too when the call starts in T.38 (--udptl,\n"
    "  --t38 start), else --local-udptl-port (default --local-port + 2). --loss loses page data\n"
    "  in audio, and datagrams both ways in T.38.\n";

int Usage(const char* why) {
  std::fprintf(stderr, "sip-faxsim: %s\n%s", why, kUsage);
  return 2;
}

bool ParseEndpoint(const std::string& text, kestrel::AudioEndpoint& out) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
  if (port <= 0 || port > 65535) return false;
  out.address = host;
  out.port = static_cast<std::uint16_t>(port);
  return true;
}

// Sends over UDPTL to `session`, from `localPort`.
kestrel::FaxSendOutcome SendOverUdptl(const kestrel::faxsim::T38Session& session, int localPort,
                                      const kestrel::FaxSendOptions& options) {
  kestrel::faxsim::UdptlSetup setup;
  setup.localPort = localPort;
  setup.remote = session.remote;
  setup.redundancy = session.parameters.errorCorrection == kestrel::T38ErrorCorrection::kNone ? 0 : 3;
  setup.maxDatagram = static_cast<std::size_t>(session.parameters.maxDatagram);
  setup.lossPercent = options.lossPercent;
  setup.seed = options.seed;
  auto channel = kestrel::faxsim::CUdptlChannel::Open(setup);
  if (!channel) {
    kestrel::FaxSendOutcome outcome;
    outcome.text = channel.Describe();
    return outcome;
  }
  kestrel::FaxSendOutcome outcome = kestrel::SendFaxT38(**channel, options, session.parameters);
  const kestrel::faxsim::UdptlCounts& counts = (*channel)->Counts();
  if (counts.malformed > 0 || counts.oversize > 0 || counts.missing > 0)
    std::fprintf(stderr, "sip-faxsim: UDPTL: %llu malformed datagrams in, %llu IFPs too large to send, %llu lost\n",
                 static_cast<unsigned long long>(counts.malformed), static_cast<unsigned long long>(counts.oversize),
                 static_cast<unsigned long long>(counts.missing));
  return outcome;
}

int Run(int argc, char** argv) {
  kestrel::FaxSendOptions options;
  kestrel::AudioEndpoint remote;
  kestrel::faxsim::T38Session udptl;  // --udptl
  udptl.parameters.maxBitRate = 14400;
  kestrel::AudioCodec codec = kestrel::AudioCodec::kPcma;
  int localPort = 0;
  kestrel::SipCallOptions sip;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Usage("an option lacks its value");
    const std::string value = argv[++i];
    if (name == "--tiff") {
      options.tiffPath = value;
    } else if (name == "--rtp") {
      if (!ParseEndpoint(value, remote)) return Usage("--rtp wants ADDRESS:PORT");
    } else if (name == "--udptl") {
      if (!ParseEndpoint(value, udptl.remote)) return Usage("--udptl wants ADDRESS:PORT");
    } else if (name == "--udptl-ec") {
      if (value != "redundancy" && value != "none") return Usage("--udptl-ec is redundancy or none");
      udptl.parameters.errorCorrection =
          value == "none" ? kestrel::T38ErrorCorrection::kNone : kestrel::T38ErrorCorrection::kRedundancy;
    } else if (name == "--max-datagram") {
      udptl.parameters.maxDatagram = std::atoi(value.c_str());
      if (udptl.parameters.maxDatagram < 0) return Usage("--max-datagram wants a size");
    } else if (name == "--sip") {
      sip.target = value;
    } else if (name == "--sip-port") {
      sip.localPort = std::atoi(value.c_str());
    } else if (name == "--from") {
      sip.fromUser = value;
    } else if (name == "--asserted") {
      sip.assertedUser = value;
    } else if (name == "--privacy") {
      sip.privacy = value == "on";
    } else if (name == "--local-address") {
      sip.localAddress = value;
    } else if (name == "--t38") {
      if (value != "start" && value != "reinvite") return Usage("--t38 is start or reinvite");
      sip.t38 = value == "start" ? kestrel::T38Mode::kStart : kestrel::T38Mode::kReinvite;
    } else if (name == "--reinvite-after-ms") {
      sip.reinviteAfter = std::chrono::milliseconds(std::atol(value.c_str()));
    } else if (name == "--on-t38-offer") {
      if (value == "glare") {
        sip.onT38Offer.glare = true;
      } else {
        sip.onT38Offer.status = std::atoi(value.c_str());
        if (value != "200" && value != "488" && value != "415" && value != "606")
          return Usage("--on-t38-offer is 200, 488, 415, 606 or glare");
      }
    } else if (name == "--t38-sdp") {
      if (value == "plain")
        sip.sdpStyle = kestrel::faxsim::T38SdpStyle::kPlain;
      else if (value == "odd")
        sip.sdpStyle = kestrel::faxsim::T38SdpStyle::kOdd;
      else if (value == "odd-small")
        sip.sdpStyle = kestrel::faxsim::T38SdpStyle::kOddSmall;
      else
        return Usage("--t38-sdp is plain, odd or odd-small");
    } else if (name == "--local-udptl-port") {
      sip.udptlPort = std::atoi(value.c_str());
    } else if (name == "--local-port") {
      localPort = std::atoi(value.c_str());
    } else if (name == "--codec") {
      if (value != "pcma" && value != "pcmu") return Usage("--codec is pcma or pcmu");
      codec = value == "pcma" ? kestrel::AudioCodec::kPcma : kestrel::AudioCodec::kPcmu;
    } else if (name == "--ident") {
      options.stationId = value;
    } else if (name == "--loss") {
      options.lossPercent = std::atof(value.c_str());
    } else if (name == "--seed") {
      options.seed = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (name == "--hangup-after-page") {
      options.hangupAfterPage = std::atoi(value.c_str());
    } else {
      return Usage("unknown option");
    }
  }
  const int targets = (remote.port != 0) + (udptl.remote.port != 0) + !sip.target.empty();
  if (options.tiffPath.empty() || localPort <= 0 || targets != 1)
    return Usage("--tiff, --local-port and one of --rtp, --udptl and --sip are needed");

  kestrel::FaxSendOutcome outcome;
  std::string reinvites = "none";
  if (udptl.remote.port != 0) {
    outcome = SendOverUdptl(udptl, localPort, options);
  } else if (sip.target.empty()) {
    auto link = kestrel::CRtpAudioLink::Open(localPort, remote, codec);
    if (!link) return Usage(link.Describe().c_str());
    outcome = kestrel::SendFax(**link, options);
  } else {
    if (sip.localPort <= 0) return Usage("--sip needs --sip-port");
    if (sip.udptlPort <= 0) sip.udptlPort = sip.t38 == kestrel::T38Mode::kStart ? localPort : localPort + 2;
    auto opened = kestrel::CSipCaller::Open(sip);
    if (!opened) return Usage(opened.Describe().c_str());
    std::unique_ptr<kestrel::CSipCaller> caller = std::move(*opened);
    const auto answered = caller->Invite(codec, localPort);
    if (!answered) {
      std::printf("answered=%d result=%s\n", answered.Error().code, answered.Describe().c_str());
      return 3;
    }
    options.between = [&caller](bool heardFax) { return caller->Poll(heardFax); };
    std::uint64_t droppedInAudio = 0;
    if (!answered->t38) {
      auto link = kestrel::CRtpAudioLink::Open(localPort, answered->media, answered->codec);
      if (!link) return Usage(link.Describe().c_str());
      outcome = kestrel::SendFax(**link, options);
      droppedInAudio = outcome.dropped;
    }
    if (answered->t38 || outcome.switchedToT38) {
      outcome = SendOverUdptl(caller->T38Session(), sip.udptlPort, options);
      outcome.dropped += droppedInAudio;
      outcome.switchedToT38 = true;
    }
    reinvites = caller->Reinvites();
    if (const kestrel::Status bye = caller->Bye(); !bye)
      std::fprintf(stderr, "sip-faxsim: %s\n", bye.Describe().c_str());
  }
  const bool t38 = outcome.switchedToT38 || udptl.remote.port != 0;
  std::printf("pages=%d rate=%d dropped=%llu transport=%s reinvites=%s recovered=%llu result=%s\n", outcome.pages,
              outcome.bitRate, static_cast<unsigned long long>(outcome.dropped), t38 ? "t38" : "audio",
              reinvites.c_str(), static_cast<unsigned long long>(outcome.recovered), outcome.text.c_str());
  return outcome.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing here throws but a failed allocation: say so rather than abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sip-faxsim: %s\n", e.what());
    return 1;
  }
}
