#include "sip/sip_line.h"

#include <netinet/in.h>
#include <re.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <thread>

#include "core/sip_setting_text.h"
#include "sip/call_parties.h"
#include "sip/sdp_offer.h"
#include "sip/source_filter.h"

namespace kestrel {
namespace {

// What other threads ask of the line's thread.
enum Command : int { kHangup = 1, kRelease, kRequestT38, kStop };
// Debian's bundle of the authorities ca-certificates trusts.
constexpr char kSystemCertificates[] = "/etc/ssl/certs/ca-certificates.crt";

// The requests the line answers; said in OPTIONS answers.
constexpr char kAllowedMethods[] = "INVITE, ACK, BYE, CANCEL, OPTIONS";

// RequestT38 acts this long after the answer only: a caller's fax tones come
// at once, and later the call is well into audio fax.
constexpr auto kT38Window = std::chrono::seconds(20);
// A peer answering 491 again and again is not tried for ever.
constexpr int kGlareRetries = 3;

// A stop that waits longer for the unregistration and the BYEs than this
// closes the stack without them.
constexpr std::uint64_t kClosingGraceMs = 2000;

std::string Text(const pl& p) { return p.p ? std::string(p.p, p.l) : std::string(); }

std::string HeaderValue(const sip_msg* msg, const char* name) {
  const sip_hdr* h = sip_msg_xhdr(msg, name);
  return h ? Text(h->val) : std::string();
}

std::string Numeric(const sa& address) {
  char text[64] = {};
  if (sa_ntop(&address, text, sizeof text) != 0) return {};
  return text;
}

std::string ErrorText(int err) {
  char text[128] = {};
  return str_error(err, text, sizeof text);
}

// The address this host sends from towards `remote`, or the default route's.
std::optional<std::string> SourceAddressTowards(const std::string& remote) {
  sa dst{};
  if (!remote.empty() && sa_set_str(&dst, remote.c_str(), 5060) == 0) {
    const int fd = ::socket(sa_af(&dst), SOCK_DGRAM, 0);
    if (fd >= 0) {
      sa local{};
      local.len = sizeof local.u;
      const bool known = ::connect(fd, &dst.u.sa, dst.len) == 0 && ::getsockname(fd, &local.u.sa, &local.len) == 0;
      ::close(fd);
      if (known) return Numeric(local);
    }
  }
  sa local{};
  if (net_default_source_addr_get(AF_INET, &local) == 0) return Numeric(local);
  return std::nullopt;
}

// Whether a UDP port of `address` is free now (the fax receiver binds it a moment later).
bool PortIsFree(const std::string& address, std::uint16_t port) {
  sa local{};
  if (sa_set_str(&local, address.c_str(), port) != 0) return false;
  const int fd = ::socket(sa_af(&local), SOCK_DGRAM, 0);
  if (fd < 0) return false;
  const bool free = ::bind(fd, &local.u.sa, local.len) == 0;
  ::close(fd);
  return free;
}

}  // namespace

struct CSipLine::Impl {
  struct Call {
    Impl* line = nullptr;
    int id = 0;
    sipsess* session = nullptr;
    std::uint16_t rtpPort = 0;    // 0 until the call has audio
    std::uint16_t udptlPort = 0;  // 0 until it has T.38
    SdpOrigin origin;
    SipMedia media;  // what the handler was last told
    std::chrono::steady_clock::time_point answeredAt;
    bool asked = false;                      // our re-INVITE went out: once per call
    struct sip_request* reinvite = nullptr;  // ours, while it waits for its answer (the name alone is a function)
    std::uint32_t ackedCseq = 0;             // ours that was answered 2xx: a retransmission is ACKed again
    tmr glare{};
    int glareRetries = 0;

    ~Call() {
      tmr_cancel(&glare);
      mem_deref(reinvite);  // the stack drops the transaction without calling back
    }
  };

  // Set by Start, read by the line's thread only.
  ServiceSettings settings;
  ISipCallHandler* handler = nullptr;
  SipLineTiming timing;
  std::optional<CSourceFilter> filter;
  HostPort registrar;
  PortRange rtpPorts;
  std::string localAddress;
  std::string contactUser;

  // The line's thread's own.
  sip* stack = nullptr;
  sipsess_sock* sessions = nullptr;
  sip_lsnr* requests = nullptr;   // ours, ahead of the sessions' own
  sip_lsnr* responses = nullptr;  // likewise
  sipreg* registration = nullptr;
  dnsc* resolver = nullptr;
  mqueue* commands = nullptr;
  tls* tlsContext = nullptr;
  tmr retry{};
  tmr closing{};
  int failures = 0;
  int nextCallId = 0;
  std::map<int, std::unique_ptr<Call>> calls;
  std::thread thread;

  // Shared with other threads.
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  RegistrationState state;
  std::chrono::steady_clock::time_point grantedAt;
  int held = 0;
  bool running = false;
  std::optional<Status> started;

  // --- the thread -------------------------------------------------------

  void Run() {
    re_thread_init();
    Status ready = Open();
    {
      std::lock_guard lock(mutex);
      started = ready;
    }
    changed.notify_all();
    if (ready) re_main(nullptr);
    Close();
    re_thread_close();
  }

  Status Open() {
    tmr_init(&retry);
    tmr_init(&closing);
    if (mqueue_alloc(&commands, &Impl::OnCommand, this) != 0) return Status::Failed("SIP", "no memory");
    sa servers[4];
    std::uint32_t count = 4;
    char domain[64] = {};
    if (dns_srv_get(domain, sizeof domain, servers, &count) != 0) count = 0;
    if (dnsc_alloc(&resolver, nullptr, servers, count) != 0) return Status::Failed("SIP", "no resolver");
    if (int err = sip_alloc(&stack, resolver, 32, 32, 32, "Kestrel", &Impl::OnStackClosed, this); err != 0)
      return Status::Failed("SIP", ErrorText(err));
    sa local{};
    if (sa_set_str(&local, localAddress.c_str(), static_cast<std::uint16_t>(settings.SipPort)) != 0)
      return Status::Failed("SIP", "no local address");
    int err = 0;
    switch (settings.SipTransport) {
      case SipTransport::Udp: err = sip_transp_add(stack, SIP_TRANSP_UDP, &local); break;
      case SipTransport::Tcp: err = sip_transp_add(stack, SIP_TRANSP_TCP, &local); break;
      case SipTransport::Tls:
        err = tls_alloc(&tlsContext, TLS_METHOD_SSLV23, nullptr, nullptr);
        // The registrar's certificate is checked against the system's authorities.
        if (err == 0 && tls_add_ca(tlsContext, kSystemCertificates) != 0)
          return Status::Failed(
              "SIP", std::string("the certificate authorities in ") + kSystemCertificates + " could not be read");
        if (err == 0) err = sip_transp_add(stack, SIP_TRANSP_TLS, &local, tlsContext);
        break;
    }
    if (err != 0) return Status::Failed("SIP", "port " + std::to_string(settings.SipPort) + ": " + ErrorText(err), err);
    // Registered before the sessions' listener, so that it sees requests first.
    if (int e = sip_listen(&requests, stack, true, &Impl::OnRequest, this); e != 0)
      return Status::Failed("SIP", ErrorText(e));
    if (int e = sip_listen(&responses, stack, false, &Impl::OnResponse, this); e != 0)
      return Status::Failed("SIP", ErrorText(e));
    if (int e = sipsess_listen(&sessions, stack, 32, &Impl::OnInvite, this); e != 0)
      return Status::Failed("SIP", ErrorText(e));
    if (!registrar.host.empty()) Register();
    return {};
  }

  void Close() {
    tmr_cancel(&retry);
    tmr_cancel(&closing);
    sessions = static_cast<sipsess_sock*>(mem_deref(sessions));
    requests = static_cast<sip_lsnr*>(mem_deref(requests));
    responses = static_cast<sip_lsnr*>(mem_deref(responses));
    stack = static_cast<sip*>(mem_deref(stack));
    resolver = static_cast<dnsc*>(mem_deref(resolver));
    commands = static_cast<mqueue*>(mem_deref(commands));
    tlsContext = static_cast<tls*>(mem_deref(tlsContext));
  }

  // Ends the calls and the registration, then lets the stack finish its
  // transactions for a moment before the loop ends.
  void BeginClosing() {
    for (auto& [id, call] : calls) mem_deref(call->session);
    calls.clear();
    SetHeld();
    tmr_cancel(&retry);
    registration = static_cast<sipreg*>(mem_deref(registration));
    sip_close(stack, false);
    tmr_start(&closing, kClosingGraceMs, &Impl::OnClosingTimeout, this);
  }

  static void OnStackClosed(void*) { re_cancel(); }
  static void OnClosingTimeout(void* arg) {
    sip_close(static_cast<Impl*>(arg)->stack, true);
    re_cancel();
  }

  static void OnCommand(int id, void* data, void* arg) {
    auto* self = static_cast<Impl*>(arg);
    const int callId = static_cast<int>(reinterpret_cast<std::intptr_t>(data));
    switch (id) {
      case kHangup:
      case kRelease: self->EndCall(callId); break;
      case kRequestT38: self->RequestT38(callId); break;
      case kStop: self->BeginClosing(); break;
      default: break;
    }
  }

  // --- registration -----------------------------------------------------

  std::string RegistrarUri() const {
    std::string host = registrar.host.find(':') != std::string::npos ? "[" + registrar.host + "]" : registrar.host;
    if (registrar.port != 0) host += ":" + std::to_string(registrar.port);
    static constexpr const char* kParameter[] = {"", ";transport=tcp", ";transport=tls"};
    return "sip:" + host + kParameter[static_cast<int>(settings.SipTransport)];
  }

  void Register() {
    const std::string uri = RegistrarUri();
    const std::string aor = "sip:" + settings.SipUser + "@" + registrar.host;
    const int err = sipreg_register(&registration, stack, uri.c_str(), aor.c_str(), nullptr, aor.c_str(),
                                    timing.askedExpiry, settings.SipUser.c_str(), nullptr, 0, 0, &Impl::OnCredentials,
                                    this, false, &Impl::OnRegistered, this, nullptr, nullptr);
    if (err != 0) Failed(ErrorText(err));
  }

  static int OnCredentials(char** user, char** password, const char*, void* arg) {
    const auto& s = static_cast<Impl*>(arg)->settings;
    const std::string& login = s.SipAuthUser.empty() ? s.SipUser : s.SipAuthUser;
    return str_dup(user, login.c_str()) | str_dup(password, s.SipPassword.c_str());
  }

  static void OnRegistered(int err, const sip_msg* msg, void* arg) {
    auto* self = static_cast<Impl*>(arg);
    if (err != 0) return self->Failed(ErrorText(err));
    if (!msg || msg->scode >= 300)
      return self->Failed(msg ? std::to_string(msg->scode) + " " + Text(msg->reason) : "no answer");
    self->failures = 0;
    {
      std::lock_guard lock(self->mutex);
      self->state.registered = true;
      self->state.failure.clear();
      self->state.expiresIn = static_cast<int>(sipreg_proxy_expires(self->registration));
      self->grantedAt = std::chrono::steady_clock::now();
      self->state.expiresAt = static_cast<std::int64_t>(std::time(nullptr)) + self->state.expiresIn;
      ++self->state.registrations;
    }
    self->changed.notify_all();
  }

  // libre's own retry waits up to half an hour; the line drops the failed
  // registration and starts a new one after its own, shorter back-off.
  void Failed(const std::string& why) {
    {
      std::lock_guard lock(mutex);
      state.registered = false;
      state.failure = why;
      ++state.failures;
    }
    changed.notify_all();
    ++failures;
    tmr_start(&retry, 0, &Impl::OnDropRegistration, this);
  }

  static void OnDropRegistration(void* arg) {
    auto* self = static_cast<Impl*>(arg);
    self->registration = static_cast<sipreg*>(mem_deref(self->registration));
    const std::uint64_t seconds =
        std::min<std::uint64_t>(self->timing.longestBackoff, 1ull << std::min(self->failures, 16));
    tmr_start(&self->retry, seconds * 1000, &Impl::OnRetry, self);
  }

  static void OnRetry(void* arg) { static_cast<Impl*>(arg)->Register(); }

  // --- requests outside the sessions ----------------------------------

  // OPTIONS (a proxy's health check, in or out of a dialog) is answered
  // here; everything else goes on to the sessions' listener.
  static bool OnRequest(const sip_msg* msg, void* arg) {
    auto* self = static_cast<Impl*>(arg);
    if (pl_strcmp(&msg->met, "OPTIONS") == 0) {
      self->Options(msg);
      return true;
    }
    // A caller's re-INVITE crossing ours: the stack would hand it on, as it
    // does not see ours (sent past it, so that its answer reaches us).
    if (pl_strcmp(&msg->met, "INVITE") == 0 && pl_isset(&msg->to.tag)) {
      Call* call = self->CallOf(msg);
      if (call && call->reinvite) {
        self->Reply(msg, 491, "Request Pending");
        return true;
      }
    }
    return false;
  }

  // A 2xx to our re-INVITE once more: its ACK once more.
  static bool OnResponse(const sip_msg* msg, void* arg) {
    auto* self = static_cast<Impl*>(arg);
    if (msg->scode < 200 || msg->scode > 299 || pl_strcmp(&msg->cseq.met, "INVITE") != 0) return false;
    Call* call = self->CallOf(msg);
    if (!call || call->ackedCseq == 0 || call->ackedCseq != msg->cseq.num) return false;
    self->SendAck(*call);
    return true;
  }

  Call* CallOf(const sip_msg* msg) const {
    for (const auto& [id, call] : calls) {
      const sip_dialog* dialog = call->session ? sipsess_dialog(call->session) : nullptr;
      if (dialog && pl_strcmp(&msg->callid, sip_dialog_callid(dialog)) == 0) return call.get();
    }
    return nullptr;
  }

  void Options(const sip_msg* msg) {
    if (!filter->Allows(&msg->src.u.sa)) return Reply(msg, 403, "Forbidden");
    (void)sip_treplyf(nullptr, nullptr, stack, msg, false, 200, "OK",
                      "Allow: %s\r\n"
                      "Accept: application/sdp\r\n"
                      "Content-Length: 0\r\n"
                      "\r\n",
                      kAllowedMethods);
  }

  // --- calls ------------------------------------------------------------

  static void OnInvite(const sip_msg* msg, void* arg) { static_cast<Impl*>(arg)->Invite(msg); }

  void Reply(const sip_msg* msg, std::uint16_t code, const char* reason) {
    (void)sip_treply(nullptr, stack, msg, code, reason);
  }

  // A port of SipRtpPorts for RTP or UDPTL.
  std::uint16_t TakePort() const {
    std::set<std::uint16_t> taken;
    for (const auto& [id, call] : calls) taken.insert({call->rtpPort, call->udptlPort});
    // RTP on even ports, RTCP beside it; UDPTL on even ports too.
    for (std::uint32_t port = rtpPorts.first + (rtpPorts.first % 2); port <= rtpPorts.last; port += 2)
      if (!taken.count(static_cast<std::uint16_t>(port)) && PortIsFree(localAddress, static_cast<std::uint16_t>(port)))
        return static_cast<std::uint16_t>(port);
    return 0;
  }

  void Invite(const sip_msg* msg) {
    if (!filter->Allows(&msg->src.u.sa)) return Reply(msg, 403, "Forbidden");
    if (static_cast<int>(calls.size()) >= settings.SipChannels) return Reply(msg, 486, "Busy Here");
    Reply(msg, 100, "Trying");
    const std::string body(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    auto offer = ReadSdpOffer(body);
    if (!offer) return Reply(msg, 488, "Not Acceptable Here");
    // Audio when offered; T.38 may come by re-INVITE.
    const bool audio = !offer->codecs.empty() && !offer->media.address.empty();
    if (!audio && !(offer->t38 && settings.SipT38)) return Reply(msg, 488, "Not Acceptable Here");
    const std::uint16_t port = TakePort();
    if (port == 0) return Reply(msg, 503, "Service Unavailable");
    SdpOrigin origin{rand_u32() >> 1, 1};
    SipMedia media;
    std::string answer;
    if (audio) {
      auto written = WriteAudioAnswer(*offer, localAddress, port, origin);
      if (!written) return Reply(msg, 488, "Not Acceptable Here");
      answer = std::move(written->body);
      media = {SipMediaKind::kAudio, port, offer->media, written->codec, {}};
    } else {
      auto written = WriteT38Answer(*offer, localAddress, port, origin);
      if (!written) return Reply(msg, 488, "Not Acceptable Here");
      answer = std::move(*written);
      media = {SipMediaKind::kT38, port, offer->image, AudioCodec::kPcma, AgreedT38Parameters(*offer->t38)};
    }

    const std::string requestUser = Text(msg->uri.user), toUser = Text(msg->to.uri.user),
                      fromUser = Text(msg->from.uri.user), calledParty = HeaderValue(msg, "P-Called-Party-ID"),
                      asserted = HeaderValue(msg, "P-Asserted-Identity"), privacy = HeaderValue(msg, "Privacy");
    const SipCallParties parties =
        ReadCallParties({requestUser, settings.SipUser, calledParty, toUser, asserted, fromUser, privacy});
    SipCallOffer callOffer{parties.dialled, parties.caller, parties.callerWithheld, Numeric(msg->src), offer->media,
                           offer->codecs,   offer->t38};
    const int id = ++nextCallId;
    switch (handler->Offer(callOffer, id)) {
      case SipAnswer::kAccept: break;
      case SipAnswer::kNotServed: return Reply(msg, 404, "Not Found");
      case SipAnswer::kCallerRequired: return Reply(msg, 603, "Decline");
      case SipAnswer::kBusy: return Reply(msg, 486, "Busy Here");
    }

    auto call = std::make_unique<Call>();
    call->line = this;
    call->id = id;
    (audio ? call->rtpPort : call->udptlPort) = port;
    call->origin = origin;
    call->media = media;
    tmr_init(&call->glare);
    if (sipsess_accept(&call->session, sessions, msg, 180, "Ringing", contactUser.c_str(), "application/sdp", nullptr,
                       nullptr, nullptr, false, &Impl::OnReoffer, &Impl::OnLateAnswer, &Impl::OnEstablished, nullptr,
                       nullptr, &Impl::OnClosed, call.get(), nullptr) != 0)
      return Reply(msg, 500, "Server Internal Error");
    mbuf* sdp = mbuf_alloc(answer.size());
    if (!sdp) return Reply(msg, 500, "Server Internal Error");
    (void)mbuf_write_str(sdp, answer.c_str());
    mbuf_set_pos(sdp, 0);
    const int err = sipsess_answer(call->session, 200, "OK", sdp, nullptr);
    mem_deref(sdp);
    if (err != 0) {
      mem_deref(call->session);
      return;
    }
    call->answeredAt = std::chrono::steady_clock::now();
    calls.emplace(id, std::move(call));
    SetHeld();
    handler->Answered(id, media);
  }

  // The caller's re-INVITE (ours is not pending: see OnRequest). T.38 is
  // answered once the handler agrees; audio as at the start. An error makes
  // the stack answer 488 and the call goes on as it was.
  static int OnReoffer(mbuf** desc, const sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    auto text = call->line->Reoffered(
        *call, std::string(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb)));
    if (!text) return text.Error().code != 0 ? text.Error().code : EPROTO;
    *desc = mbuf_alloc(text->size());
    if (!*desc) return ENOMEM;
    (void)mbuf_write_str(*desc, text->c_str());
    mbuf_set_pos(*desc, 0);
    return 0;
  }

  Result<std::string> Reoffered(Call& call, const std::string& body) {
    auto offer = ReadSdpOffer(body);
    if (!offer) return offer.Error();
    SipMedia next = call.media;
    std::string answer;
    if (offer->t38 && settings.SipT38) {
      if (call.udptlPort == 0) call.udptlPort = TakePort();
      if (call.udptlPort == 0) return Failure{"SDP", "no UDPTL port free", EBUSY};
      auto written = WriteT38Answer(*offer, localAddress, call.udptlPort, call.origin);
      if (!written) return written.Error();
      answer = std::move(*written);
      next = {SipMediaKind::kT38, call.udptlPort, offer->image, call.media.codec, AgreedT38Parameters(*offer->t38)};
    } else {
      if (call.rtpPort == 0) call.rtpPort = TakePort();
      if (call.rtpPort == 0) return Failure{"SDP", "no RTP port free", EBUSY};
      auto written = WriteAudioAnswer(*offer, localAddress, call.rtpPort, call.origin);
      if (!written) return written.Error();
      answer = std::move(written->body);
      next = {SipMediaKind::kAudio, call.rtpPort, offer->media, written->codec, {}};
    }
    // Audio that stays audio (a refresh, a new address) goes on as it did.
    const bool told = next.kind == SipMediaKind::kAudio && call.media.kind == SipMediaKind::kAudio;
    if (!told && !SameMedia(next, call.media) && !handler->MediaChanged(call.id, next))
      return Failure{"SIP", "the handler keeps the call as it is", EPROTO};
    call.media = next;
    // The caller's own re-INVITE came first: ours is not sent again.
    if (next.kind == SipMediaKind::kT38) {
      tmr_cancel(&call.glare);
      call.asked = true;
    }
    return answer;
  }

  static bool SameMedia(const SipMedia& a, const SipMedia& b) {
    return a.kind == b.kind && a.localPort == b.localPort && a.remote.address == b.remote.address &&
           a.remote.port == b.remote.port && a.codec == b.codec && a.t38.version == b.t38.version &&
           a.t38.maxBitRate == b.t38.maxBitRate && a.t38.transferredTcf == b.t38.transferredTcf &&
           a.t38.maxBuffer == b.t38.maxBuffer && a.t38.maxDatagram == b.t38.maxDatagram &&
           a.t38.errorCorrection == b.t38.errorCorrection;
  }

  // --- our re-INVITE ----------------------------------------------------

  void RequestT38(int id) {
    auto found = calls.find(id);
    if (found == calls.end() || !settings.SipT38) return;
    Call& call = *found->second;
    if (call.asked || call.reinvite || call.media.kind != SipMediaKind::kAudio ||
        std::chrono::steady_clock::now() - call.answeredAt >= kT38Window)
      return;
    call.asked = true;
    SendReinvite(call);
  }

  void SendReinvite(Call& call) {
    if (call.udptlPort == 0) call.udptlPort = TakePort();
    if (call.udptlPort == 0) return;  // no port: the call stays in audio
    const std::string body = WriteT38Offer(localAddress, call.udptlPort, call.origin);
    (void)sip_drequestf(&call.reinvite, stack, true, "INVITE", sipsess_dialog(call.session), 0, nullptr,
                        &Impl::SendContact, &Impl::OnReinviteAnswer, &call,
                        "Content-Type: application/sdp\r\n"
                        "Content-Length: %zu\r\n"
                        "\r\n"
                        "%s",
                        body.size(), body.c_str());
  }

  static int SendContact(enum sip_transp tp, const sa* src, const sa*, mbuf* mb, void* arg) {
    sip_contact contact{};
    sip_contact_set(&contact, static_cast<Call*>(arg)->line->contactUser.c_str(), src, tp);
    return mbuf_printf(mb, "%H", sip_contact_print, &contact);
  }

  void SendAck(Call& call) {
    (void)sip_drequestf(nullptr, stack, false, "ACK", sipsess_dialog(call.session), call.ackedCseq, nullptr, nullptr,
                        nullptr, nullptr, "Content-Length: 0\r\n\r\n");
  }

  static void OnReinviteAnswer(int err, const sip_msg* msg, void* arg) {
    auto* call = static_cast<Call*>(arg);
    if (!err && msg && msg->scode < 200) return;
    call->reinvite = nullptr;  // the stack lets go of it after this
    call->line->ReinviteAnswered(*call, err, msg);
  }

  void ReinviteAnswered(Call& call, int err, const sip_msg* msg) {
    if (err != 0 || !msg) return;  // no answer: the call stays in audio
    if (msg->scode >= 300) {
      if (msg->scode == 491 && ++call.glareRetries <= kGlareRetries) {
        const std::uint32_t span =
            timing.longestGlareWait - std::min(timing.longestGlareWait, timing.shortestGlareWait);
        tmr_start(&call.glare, timing.shortestGlareWait + (span ? rand_u32() % (span + 1) : 0), &Impl::OnGlareWait,
                  &call);
      } else if (msg->scode == 408 || msg->scode == 481) {
        // The dialog is gone at the other end.
        handler->Ended(call.id);
        (void)mqueue_push(commands, kRelease, reinterpret_cast<void*>(static_cast<std::intptr_t>(call.id)));
      }
      return;  // any other refusal: the call stays in audio
    }
    call.ackedCseq = msg->cseq.num;
    (void)sip_dialog_update(sipsess_dialog(call.session), msg);
    SendAck(call);
    auto answer = ReadSdpOffer(std::string(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb)));
    if (!answer || !answer->t38) return;  // T.38 declined in a 200: the audio goes on
    const SipMedia next{SipMediaKind::kT38, call.udptlPort, answer->image, call.media.codec,
                        AgreedT38Parameters(*answer->t38)};
    if (handler->MediaChanged(call.id, next)) {
      call.media = next;
      return;
    }
    (void)mqueue_push(commands, kHangup, reinterpret_cast<void*>(static_cast<std::intptr_t>(call.id)));
  }

  // The wait after a 491 is over: ours again, unless the call moved meanwhile.
  static void OnGlareWait(void* arg) {
    auto* call = static_cast<Call*>(arg);
    if (call->media.kind == SipMediaKind::kAudio && !call->reinvite) call->line->SendReinvite(*call);
  }

  static int OnLateAnswer(const sip_msg*, void*) { return 0; }
  static void OnEstablished(const sip_msg*, void*) {}

  // The peer's BYE or CANCEL, or a dialog that failed: the session is let go
  // on the next turn of the loop, not inside the stack's own callback.
  static void OnClosed(int, const sip_msg*, void* arg) {
    auto* call = static_cast<Call*>(arg);
    call->line->handler->Ended(call->id);
    (void)mqueue_push(call->line->commands, kRelease, reinterpret_cast<void*>(static_cast<std::intptr_t>(call->id)));
  }

  void EndCall(int id) {
    auto found = calls.find(id);
    if (found == calls.end()) return;
    sipsess* session = found->second->session;
    calls.erase(found);
    SetHeld();
    mem_deref(session);  // a BYE when the session is still up
  }

  void SetHeld() {
    std::lock_guard lock(mutex);
    held = static_cast<int>(calls.size());
  }
};

CSipLine::CSipLine() : impl_(std::make_unique<Impl>()) {}

CSipLine::~CSipLine() { Stop(); }

Status CSipLine::Start(const ServiceSettings& settings, ISipCallHandler& handler, SipLineTiming timing) {
  if (impl_->thread.joinable()) return Status::Failed("SIP", "the line is running");
  static std::once_flag initialised;
  static int initError = 0;
  std::call_once(initialised, [] { initError = libre_init(); });
  if (initError != 0) return Status::Failed("SIP", ErrorText(initError));

  {
    // Readers of the state (a status thread) never meet the line being replaced.
    std::unique_lock replacing(replacing_);
    impl_ = std::make_unique<Impl>();
  }
  Impl& line = *impl_;
  line.settings = settings;
  line.handler = &handler;
  line.timing = timing;
  if (!settings.SipRegistrar.empty()) {
    auto hp = ParseHostPort(settings.SipRegistrar);
    if (!hp) return Status::Failed("SipRegistrar", hp.Error().text);
    line.registrar = *hp;
  }
  auto range = ParsePortRange(settings.SipRtpPorts);
  if (!range) return Status::Failed("SipRtpPorts", range.Error().text);
  line.rtpPorts = *range;
  auto filter = CSourceFilter::Build(line.registrar.host, settings.SipPeers);
  if (!filter) return filter.Error();
  line.filter = std::move(*filter);
  const auto& registrarAddresses = line.filter->RegistrarAddresses();
  auto local = SourceAddressTowards(registrarAddresses.empty() ? std::string() : registrarAddresses.front());
  if (!local) return Status::Failed("SIP", "no local address");
  line.localAddress = *local;
  line.contactUser = settings.SipUser.empty() ? std::string("kestrel") : settings.SipUser;
  line.state.registrar = settings.SipRegistrar;
  line.state.user = settings.SipUser;

  line.thread = std::thread([&line] { line.Run(); });
  std::unique_lock lock(line.mutex);
  line.changed.wait(lock, [&line] { return line.started.has_value(); });
  Status ready = *line.started;
  lock.unlock();
  if (!ready) line.thread.join();
  return ready;
}

void CSipLine::Stop() {
  std::shared_lock reading(replacing_);
  if (!impl_->thread.joinable()) return;
  (void)mqueue_push(impl_->commands, kStop, nullptr);
  impl_->thread.join();
}

void CSipLine::Hangup(int callId) {
  std::shared_lock reading(replacing_);
  if (!impl_->thread.joinable()) return;
  (void)mqueue_push(impl_->commands, kHangup, reinterpret_cast<void*>(static_cast<std::intptr_t>(callId)));
}

void CSipLine::RequestT38(int callId) {
  std::shared_lock reading(replacing_);
  if (!impl_->thread.joinable()) return;
  (void)mqueue_push(impl_->commands, kRequestT38, reinterpret_cast<void*>(static_cast<std::intptr_t>(callId)));
}

// With impl_->mutex held.
RegistrationState CSipLine::StateNow() const {
  RegistrationState s = impl_->state;
  if (s.registered) {
    const auto passed =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - impl_->grantedAt);
    s.expiresIn = std::max(0, s.expiresIn - static_cast<int>(passed.count()));
  }
  return s;
}

RegistrationState CSipLine::Registration() const {
  std::shared_lock reading(replacing_);
  std::lock_guard lock(impl_->mutex);
  return StateNow();
}

RegistrationState CSipLine::WaitForRegistration(std::uint64_t seen, std::chrono::milliseconds timeout) const {
  std::shared_lock reading(replacing_);
  std::unique_lock lock(impl_->mutex);
  const std::uint64_t failed = impl_->state.failures;
  impl_->changed.wait_for(lock, timeout, [this, seen, failed] {
    return impl_->state.registrations > seen || impl_->state.failures > failed;
  });
  return StateNow();
}

int CSipLine::HeldChannels() const {
  std::shared_lock reading(replacing_);
  std::lock_guard lock(impl_->mutex);
  return impl_->held;
}

}  // namespace kestrel
