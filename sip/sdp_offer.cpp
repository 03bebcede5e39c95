#include "sip/sdp_offer.h"

#include <re.h>

#include <memory>

namespace kestrel {
namespace {

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

struct Decoded {
  Held<sdp_session> session;
  sdp_media* audio = nullptr;
  sdp_media* image = nullptr;
};

// `body` decoded as an offer against our audio (and, to see it, image) line;
// `codecs` are our audio formats, in the order they are to be answered.
// An answer leaves an image line to the stack, which declines what it does not hold.
Result<Decoded> Decode(std::string_view body, const sa& local, std::uint16_t port,
                       const std::vector<AudioCodec>& codecs, bool withImage) {
  Decoded d;
  sdp_session* s = nullptr;
  if (sdp_session_alloc(&s, &local) != 0) return Failure{"SDP", "no memory"};
  d.session.reset(s);
  if (sdp_media_add(&d.audio, s, "audio", port, "RTP/AVP") != 0 ||
      (withImage && sdp_media_add(&d.image, s, "image", 0, "udptl") != 0))
    return Failure{"SDP", "no memory"};
  for (AudioCodec c : codecs) {
    const bool pcma = c == AudioCodec::kPcma;
    if (sdp_format_add(nullptr, d.audio, false, pcma ? "8" : "0", pcma ? "PCMA" : "PCMU", 8000, 1, nullptr, nullptr,
                       nullptr, false, nullptr) != 0)
      return Failure{"SDP", "no memory"};
  }
  Held<mbuf> mb = Buffer(body);
  if (!mb) return Failure{"SDP", "no memory"};
  if (int err = sdp_decode(s, mb.get(), true); err != 0) return Failure{"SDP", "the offer does not parse", err};
  return d;
}

std::string Numeric(const sa* address) {
  char text[64] = {};
  if (!address || !sa_isset(address, SA_ADDR) || sa_ntop(address, text, sizeof text) != 0) return {};
  return text;
}

}  // namespace

Result<SdpOffer> ReadSdpOffer(std::string_view body) {
  sa any{};
  sa_init(&any, AF_INET);
  auto decoded = Decode(body, any, 0, {}, true);
  if (!decoded) return decoded.Error();
  SdpOffer offer;
  if (const std::uint16_t port = sdp_media_rport(decoded->audio); port != 0) {
    offer.media = {Numeric(sdp_media_raddr(decoded->audio)), port};
    for (le* e = list_head(sdp_media_format_lst(decoded->audio, false)); e; e = e->next) {
      // By the id's text: the stack reads an id that is no number as 0.
      const auto* f = static_cast<const sdp_format*>(e->data);
      const std::string_view id = f->id ? f->id : "";
      if (id == "0" || id == "8") offer.codecs.push_back(id == "0" ? AudioCodec::kPcmu : AudioCodec::kPcma);
    }
  }
  offer.image = sdp_media_rport(decoded->image) != 0;
  return offer;
}

Result<SdpAnswer> WriteSdpAnswer(std::string_view body, const std::string& localAddress, std::uint16_t rtpPort) {
  auto offer = ReadSdpOffer(body);
  if (!offer) return offer.Error();
  if (offer->codecs.empty() || offer->media.address.empty()) return Failure{"SDP", "no G.711 audio offered"};
  sa local{};
  if (sa_set_str(&local, localAddress.c_str(), 0) != 0) return Failure{"SDP", "not a numeric local address"};
  auto decoded = Decode(body, local, rtpPort, offer->codecs, false);
  if (!decoded) return decoded.Error();
  if (!sdp_media_rformat(decoded->audio, nullptr)) return Failure{"SDP", "no G.711 audio in common"};
  mbuf* out = nullptr;
  if (sdp_encode(&out, decoded->session.get(), false) != 0) return Failure{"SDP", "the answer does not encode"};
  Held<mbuf> held(out);
  return SdpAnswer{std::string(reinterpret_cast<const char*>(out->buf), out->end), offer->codecs.front()};
}

}  // namespace kestrel
