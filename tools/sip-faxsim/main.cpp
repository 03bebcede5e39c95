// sip-faxsim: a fax caller for the tests of Kestrel's audio fax reception.
// Sends a TIFF (every page, or up to --hangup-after-page) with SpanDSP's
// T.30 sender over G.711 RTP, optionally losing a seeded share of the page
// data, either straight to an RTP address (--rtp: the media alone) or in a
// SIP call (--sip: INVITE, the fax to the answer's media, BYE). Prints one
// line of outcome and exits 0 when the fax went as asked, 1 when it did not,
// 3 when the call was not answered (the line says "answered=<status>").
//
// usage: sip-faxsim --tiff FILE --local-port RTPPORT
//                   (--rtp ADDRESS:PORT | --sip sip:NUMBER@ADDRESS[:PORT] --sip-port PORT
//                    [--from USER] [--asserted USER] [--privacy on] [--local-address ADDRESS])
//                   [--codec pcma|pcmu] [--ident TSI] [--loss PERCENT --seed N]
//                   [--hangup-after-page N]
// Addresses are numeric; an IPv6 one in brackets ("[::1]:4000").
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "fax_sender.h"
#include "media/rtp_audio_link.h"
#include "sip_caller.h"

namespace {

constexpr char kUsage[] =
    "usage: sip-faxsim --tiff FILE --local-port RTPPORT (--rtp ADDRESS:PORT | --sip sip:NUMBER@ADDRESS[:PORT] "
    "--sip-port PORT [--from USER] [--asserted USER] [--privacy on] [--local-address ADDRESS]) [--codec pcma|pcmu] "
    "[--ident TSI] [--loss PERCENT --seed N] [--hangup-after-page N]\n";

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

int Run(int argc, char** argv) {
  kestrel::FaxSendOptions options;
  kestrel::AudioEndpoint remote;
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
  if (options.tiffPath.empty() || localPort <= 0 || (remote.port == 0) == sip.target.empty())
    return Usage("--tiff, --local-port and one of --rtp and --sip are needed");

  std::unique_ptr<kestrel::CSipCaller> caller;
  if (!sip.target.empty()) {
    if (sip.localPort <= 0) return Usage("--sip needs --sip-port");
    auto opened = kestrel::CSipCaller::Open(sip);
    if (!opened) return Usage(opened.Describe().c_str());
    caller = std::move(*opened);
    const auto answered = caller->Invite(codec, localPort);
    if (!answered) {
      std::printf("answered=%d result=%s\n", answered.Error().code, answered.Describe().c_str());
      return 3;
    }
    remote = answered->media;
    codec = answered->codec;
    options.peerHungUp = [&caller] { return caller->PeerHungUp(); };
  }

  auto link = kestrel::CRtpAudioLink::Open(localPort, remote, codec);
  if (!link) return Usage(link.Describe().c_str());
  const kestrel::FaxSendOutcome outcome = kestrel::SendFax(**link, options);
  if (caller) {
    if (const kestrel::Status bye = caller->Bye(); !bye)
      std::fprintf(stderr, "sip-faxsim: %s\n", bye.Describe().c_str());
  }
  std::printf("pages=%d rate=%d dropped=%llu result=%s\n", outcome.pages, outcome.bitRate,
              static_cast<unsigned long long>(outcome.dropped), outcome.text.c_str());
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
