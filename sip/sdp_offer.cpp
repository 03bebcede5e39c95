#include "sip/sdp_offer.h"

#include <re.h>

#include <algorithm>
#include <charconv>
#include <memory>

namespace kestrel {
namespace {

// What our UDPTL receiver takes: a datagram within one Ethernet frame.
constexpr int kOurMaxBuffer = 1800;
constexpr int kOurMaxDatagram = 1400;
constexpr int kOurMaxBitRate = 14400;
constexpr int kOurVersion = 0;

// libre's objects are reference counted; one reference per holder.
struct Deref {
  void operator()(void* p) const { mem_deref(p); }
};
template <class T>
using Held = std::unique_ptr<T, Deref>;

Held<mbuf> Buffer(std::string_view body) {
  Held<mbuf> mb(mbuf_alloc(body.size() + 1));
  if (!mb || mbuf_write_mem(mb.get(), reinterpret_cast<const std::uint8_t*>(body.data()), body.size()) != 0)
    return nullptr;
  mbuf_set_pos(mb.get(), 0);
  return mb;
}

std::string Numeric(const sa* address) {
  char text[64] = {};
  if (!address || !sa_isset(address, SA_ADDR) || sa_ntop(address, text, sizeof text) != 0) return {};
  return text;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

std::string_view Trimmed(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

// `text` as a decimal number within [low, high]; otherwise `fallback`.
int Bounded(std::string_view text, int low, int high, int fallback) {
  text = Trimmed(text);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return fallback;
  return value;
}

// One attribute of the image line; names compared without case, as peers
// write them either way. Unknown names and flags (T38FaxFillBitRemoval...)
// are passed over.
bool ReadT38Attribute(const char* name, const char* value, void* arg) {
  auto& t = *static_cast<T38Parameters*>(arg);
  const std::string_view n = name ? name : "", v = Trimmed(value ? value : "");
  if (SameWord(n, "T38FaxVersion")) {
    t.version = Bounded(v, 0, 255, t.version);
  } else if (SameWord(n, "T38MaxBitRate")) {
    t.maxBitRate = Bounded(v, 300, 1000000, t.maxBitRate);
  } else if (SameWord(n, "T38FaxRateManagement")) {
    if (SameWord(v, "localTCF")) t.transferredTcf = false;
    if (SameWord(v, "transferredTCF")) t.transferredTcf = true;
  } else if (SameWord(n, "T38FaxMaxBuffer")) {
    t.maxBuffer = Bounded(v, 1, 65535, 0);
  } else if (SameWord(n, "T38FaxMaxDatagram")) {
    t.maxDatagram = Bounded(v, 1, 65535, 0);
  } else if (SameWord(n, "T38FaxUdpEC")) {
    if (SameWord(v, "t38UDPNoEC")) t.errorCorrection = T38ErrorCorrection::kNone;
    if (SameWord(v, "t38UDPRedundancy")) t.errorCorrection = T38ErrorCorrection::kRedundancy;
    if (SameWord(v, "t38UDPFEC")) t.errorCorrection = T38ErrorCorrection::kFec;
  }
  return false;  // on to the next attribute
}

bool HasFormat(const sdp_media* m, std::string_view wanted) {
  for (le* e = list_head(sdp_media_format_lst(m, false)); e; e = e->next) {
    const auto* f = static_cast<const sdp_format*>(e->data);
    if (f->id && SameWord(f->id, wanted)) return true;
  }
  return false;
}

std::string FirstFormat(const sdp_media* m) {
  const le* e = list_head(sdp_media_format_lst(m, false));
  const auto* f = e ? static_cast<const sdp_format*>(e->data) : nullptr;
  return f && f->id ? f->id : "0";
}

// The lines every body of ours opens with.
std::string Head(const std::string& localAddress, SdpOrigin& origin) {
  const char* family = localAddress.find(':') == std::string::npos ? "IP4" : "IP6";
  return "v=0\r\no=- " + std::to_string(origin.id) + " " + std::to_string(origin.version++) + " IN " + family + " " +
         localAddress + "\r\ns=-\r\nc=IN " + family + " " + localAddress + "\r\nt=0 0\r\n";
}

std::string ImageLine(std::uint16_t port, const T38Parameters& t) {
  static constexpr const char* kCorrection[] = {"t38UDPNoEC", "t38UDPRedundancy", "t38UDPFEC"};
  return "m=image " + std::to_string(port) + " udptl t38\r\n" + "a=T38FaxVersion:" + std::to_string(t.version) +
         "\r\n" + "a=T38MaxBitRate:" + std::to_string(t.maxBitRate) + "\r\n" +
         "a=T38FaxRateManagement:" + (t.transferredTcf ? "transferredTCF" : "localTCF") + "\r\n" +
         "a=T38FaxMaxBuffer:" + std::to_string(t.maxBuffer) + "\r\n" +
         "a=T38FaxMaxDatagram:" + std::to_string(t.maxDatagram) + "\r\n" +
         "a=T38FaxUdpEC:" + kCorrection[static_cast<int>(t.errorCorrection)] + "\r\n";
}

// The offer's lines in order: `chosen` (its name) written by `write`, every other declined.
template <class Write>
std::string Lines(const SdpOffer& offer, std::string_view chosen, Write write) {
  std::string out;
  bool written = false;
  for (const SdpMediaLine& line : offer.lines) {
    if (!written && line.name == chosen) {
      out += write();
      written = true;
    } else {
      out += "m=" + line.name + " 0 " + line.proto + " " + line.format + "\r\n";
    }
  }
  return out;
}

}  // namespace

Result<SdpOffer> ReadSdpOffer(std::string_view body) {
  sa any{};
  sa_init(&any, AF_INET);
  sdp_session* s = nullptr;
  if (sdp_session_alloc(&s, &any) != 0) return Failure{"SDP", "no memory"};
  Held<sdp_session> session(s);
  // Our lines, for the stack to match the peer's against; any other line it keeps as it came.
  sdp_media* audio = nullptr;
  sdp_media* image = nullptr;
  if (sdp_media_add(&audio, s, "audio", 0, "RTP/AVP") != 0 || sdp_media_add(&image, s, "image", 0, "udptl") != 0)
    return Failure{"SDP", "no memory"};
  Held<mbuf> mb = Buffer(body);
  if (!mb) return Failure{"SDP", "no memory"};
  if (int err = sdp_decode(s, mb.get(), true); err != 0) return Failure{"SDP", "the body does not parse", err};

  SdpOffer offer;
  for (le* e = list_head(sdp_session_medial(s, false)); e; e = e->next) {
    const auto* m = static_cast<const sdp_media*>(e->data);
    offer.lines.push_back({sdp_media_name(m), sdp_media_proto(m), FirstFormat(m)});
  }
  if (const std::uint16_t port = sdp_media_rport(audio); port != 0) {
    offer.media = {Numeric(sdp_media_raddr(audio)), port};
    for (le* e = list_head(sdp_media_format_lst(audio, false)); e; e = e->next) {
      // By the id's text: the stack reads an id that is no number as 0.
      const auto* f = static_cast<const sdp_format*>(e->data);
      const std::string_view id = f->id ? f->id : "";
      if (id == "0" || id == "8") offer.codecs.push_back(id == "0" ? AudioCodec::kPcmu : AudioCodec::kPcma);
    }
  }
  if (const std::uint16_t port = sdp_media_rport(image);
      port != 0 && HasFormat(image, "t38") && !Numeric(sdp_media_raddr(image)).empty()) {
    offer.image = {Numeric(sdp_media_raddr(image)), port};
    T38Parameters stated;
    (void)sdp_media_rattr_apply(image, nullptr, &ReadT38Attribute, &stated);
    offer.t38 = stated;
  }
  return offer;
}

T38Parameters OurT38Parameters(const std::optional<T38Parameters>& peer) {
  T38Parameters ours;
  ours.version = peer ? std::min(peer->version, kOurVersion) : kOurVersion;
  ours.maxBitRate = kOurMaxBitRate;
  ours.transferredTcf = true;
  ours.maxBuffer = kOurMaxBuffer;
  ours.maxDatagram = kOurMaxDatagram;
  ours.errorCorrection = peer && peer->errorCorrection == T38ErrorCorrection::kNone ? T38ErrorCorrection::kNone
                                                                                    : T38ErrorCorrection::kRedundancy;
  return ours;
}

T38Parameters AgreedT38Parameters(const T38Parameters& peer) {
  T38Parameters agreed = OurT38Parameters(peer);
  agreed.maxBitRate = std::min(peer.maxBitRate, agreed.maxBitRate);
  agreed.maxBuffer = peer.maxBuffer;
  agreed.maxDatagram = peer.maxDatagram;
  return agreed;
}

Result<SdpAnswer> WriteAudioAnswer(const SdpOffer& offer, const std::string& localAddress, std::uint16_t rtpPort,
                                   SdpOrigin& origin) {
  if (offer.codecs.empty() || offer.media.address.empty()) return Failure{"SDP", "no G.711 audio offered"};
  std::string body = Head(localAddress, origin) + Lines(offer, "audio", [&] {
                       std::string m = "m=audio " + std::to_string(rtpPort) + " RTP/AVP", maps;
                       for (AudioCodec c : offer.codecs) {
                         const bool pcma = c == AudioCodec::kPcma;
                         m += pcma ? " 8" : " 0";
                         maps += pcma ? "a=rtpmap:8 PCMA/8000\r\n" : "a=rtpmap:0 PCMU/8000\r\n";
                       }
                       return m + "\r\n" + maps + "a=sendrecv\r\n";
                     });
  return SdpAnswer{std::move(body), offer.codecs.front()};
}

Result<std::string> WriteT38Answer(const SdpOffer& offer, const std::string& localAddress, std::uint16_t udptlPort,
                                   SdpOrigin& origin) {
  if (!offer.t38) return Failure{"SDP", "no T.38 offered"};
  return Head(localAddress, origin) +
         Lines(offer, "image", [&] { return ImageLine(udptlPort, OurT38Parameters(offer.t38)); });
}

std::string WriteT38Offer(const std::string& localAddress, std::uint16_t udptlPort, SdpOrigin& origin) {
  return Head(localAddress, origin) + ImageLine(udptlPort, OurT38Parameters());
}

}  // namespace kestrel
