#include "sip_caller.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kT1{500};
constexpr std::chrono::milliseconds kT2{4000};
// How long an INVITE may ring, and any other transaction take.
constexpr std::chrono::seconds kInviteTimeout{60};
constexpr std::chrono::seconds kTransactionTimeout{32};

Failure SipFailure(const std::string& text, int code = 0) { return Failure{"SIP", text, code}; }

std::string Token() {
  static std::mt19937_64 random{std::random_device{}()};
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The full names of the compact header forms SIP allows.
std::string FullName(const std::string& name) {
  static const std::pair<const char*, const char*> compact[] = {
      {"v", "via"},     {"f", "from"},           {"t", "to"},          {"i", "call-id"},
      {"m", "contact"}, {"l", "content-length"}, {"c", "content-type"}};
  std::string lower = Lower(name);
  for (const auto& [shortName, full] : compact)
    if (lower == shortName) return full;
  return lower;
}

// Splits a header value at the commas between its entries (not those inside <>).
std::vector<std::string> Entries(const std::string& value) {
  std::vector<std::string> entries;
  std::string entry;
  bool inAngle = false;
  for (char c : value) {
    if (c == '<') inAngle = true;
    if (c == '>') inAngle = false;
    if (c == ',' && !inAngle) {
      entries.push_back(Trim(entry));
      entry.clear();
    } else {
      entry += c;
    }
  }
  if (!Trim(entry).empty()) entries.push_back(Trim(entry));
  return entries;
}

// "<sip:x@y>;tag=1" or "sip:x@y" -> "sip:x@y".
std::string UriOf(const std::string& value) {
  const std::size_t open = value.find('<');
  if (open == std::string::npos) return Trim(value.substr(0, value.find(';')));
  const std::size_t close = value.find('>', open);
  return close == std::string::npos ? "" : value.substr(open + 1, close - open - 1);
}

}  // namespace

struct CSipCaller::CMessage {
  bool response = false;
  int status = 0;
  std::string method;
  std::vector<std::pair<std::string, std::string>> headers;  // full lower-case name, value
  std::string body;

  std::string Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
      if (key == name) return value;
    return "";
  }
  std::vector<std::string> All(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers)
      if (key == name)
        for (std::string& entry : Entries(value)) values.push_back(std::move(entry));
    return values;
  }
  int CSeqNumber() const { return std::atoi(Header("cseq").c_str()); }

  static std::unique_ptr<CMessage> Parse(const std::string& text) {
    auto message = std::make_unique<CMessage>();
    std::size_t end = text.find("\r\n\r\n");
    std::size_t bodyAt = end + 4;
    if (end == std::string::npos) {
      end = text.find("\n\n");
      bodyAt = end + 2;
    }
    if (end == std::string::npos) return nullptr;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < end;) {
      const std::size_t newline = std::min(text.find('\n', at), end);
      std::string line = text.substr(at, newline - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if ((line.starts_with(" ") || line.starts_with("\t")) && !lines.empty())
        lines.back() += " " + Trim(line);
      else
        lines.push_back(line);
      at = newline + 1;
    }
    if (lines.empty()) return nullptr;
    if (lines[0].starts_with("SIP/2.0 ")) {
      message->response = true;
      if (lines[0].size() < 11 || !std::isdigit(static_cast<unsigned char>(lines[0][8]))) return nullptr;
      message->status = std::atoi(lines[0].c_str() + 8);
      if (message->status < 100 || message->status > 699) return nullptr;
    } else {
      const std::size_t space = lines[0].find(' ');
      if (space == std::string::npos || !lines[0].ends_with(" SIP/2.0")) return nullptr;
      message->method = lines[0].substr(0, space);
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::size_t colon = lines[i].find(':');
      if (colon == std::string::npos) return nullptr;
      message->headers.emplace_back(FullName(Trim(lines[i].substr(0, colon))), Trim(lines[i].substr(colon + 1)));
    }
    message->body = bodyAt <= text.size() ? text.substr(bodyAt) : "";
    const std::string length = message->Header("content-length");
    if (!length.empty()) {
      const unsigned long declared = std::strtoul(length.c_str(), nullptr, 10);
      if (declared < message->body.size()) message->body.resize(declared);
    }
    return message;
  }
};

Result<std::unique_ptr<CSipCaller>> CSipCaller::Open(const SipCallOptions& options) {
  // sip:<user>@<host>[:port], the host numeric, IPv6 in brackets.
  if (!options.target.starts_with("sip:")) return SipFailure("the target is not a sip: URI");
  std::string hostPort = options.target.substr(4);
  hostPort = hostPort.substr(hostPort.find('@') + 1);
  hostPort = hostPort.substr(0, hostPort.find(';'));
  std::string host = hostPort;
  long port = 5060;
  if (hostPort.starts_with("[")) {
    const std::size_t close = hostPort.find(']');
    if (close == std::string::npos) return SipFailure("the target's address is cut short");
    host = hostPort.substr(1, close - 1);
    if (close + 1 < hostPort.size() && hostPort[close + 1] == ':') port = std::atol(hostPort.c_str() + close + 2);
  } else if (const std::size_t colon = hostPort.rfind(':'); colon != std::string::npos) {
    host = hostPort.substr(0, colon);
    port = std::atol(hostPort.c_str() + colon + 1);
  }
  if (port <= 0 || port > 65535) return SipFailure("the target's port is not a port");
  in6_addr probe;
  const int family = inet_pton(AF_INET6, host.c_str(), &probe) == 1 ? AF_INET6 : AF_INET;
  const int sock = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return SipFailure(std::string("socket: ") + std::strerror(errno));
  sockaddr_storage local{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&local);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(options.localPort));
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&local);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<std::uint16_t>(options.localPort));
    length = sizeof *a;
  }
  if (::bind(sock, reinterpret_cast<sockaddr*>(&local), length) != 0) {
    const std::string text = std::string("port ") + std::to_string(options.localPort) + ": " + std::strerror(errno);
    ::close(sock);
    return SipFailure(text);
  }
  return std::unique_ptr<CSipCaller>(new CSipCaller(sock, options, host, static_cast<std::uint16_t>(port)));
}

CSipCaller::CSipCaller(int socket, SipCallOptions options, std::string host, std::uint16_t port)
    : socket_(socket),
      options_(std::move(options)),
      host_(std::move(host)),
      port_(port),
      callId_(Token()),
      fromTag_(Token()),
      toHeader_("<" + options_.target + ">"),
      requestUri_(options_.target) {}

CSipCaller::~CSipCaller() { ::close(socket_); }

void CSipCaller::SendText(const std::string& text) {
  sockaddr_storage to{};
  socklen_t length = 0;
  if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&to); inet_pton(AF_INET6, host_.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port_);
    length = sizeof *v6;
  } else if (auto* v4 = reinterpret_cast<sockaddr_in*>(&to); inet_pton(AF_INET, host_.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port_);
    length = sizeof *v4;
  }
  (void)::sendto(socket_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), length);
}

std::unique_ptr<CSipCaller::CMessage> CSipCaller::Next(std::chrono::steady_clock::time_point until) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    pollfd fd{socket_, POLLIN, 0};
    if (::poll(&fd, 1, std::max<int>(0, static_cast<int>(left.count()))) <= 0) return nullptr;
    char buffer[65536];
    const ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got <= 0) continue;
    auto message = CMessage::Parse(std::string(buffer, static_cast<std::size_t>(got)));
    if (message && message->Header("call-id") == callId_) return message;
  }
}

std::string CSipCaller::Response(const CMessage& request, int status, const std::string& body) {
  static const std::pair<int, const char*> reasons[] = {{200, "OK"},
                                                        {415, "Unsupported Media Type"},
                                                        {488, "Not Acceptable Here"},
                                                        {491, "Request Pending"},
                                                        {501, "Not Implemented"},
                                                        {606, "Not Acceptable"}};
  const char* reason = "Failed";
  for (const auto& [code, text] : reasons)
    if (code == status) reason = text;
  std::string answer = "SIP/2.0 " + std::to_string(status) + " " + reason + "\r\n";
  for (const std::string& via : request.All("via")) answer += "Via: " + via + "\r\n";
  answer += "From: " + request.Header("from") + "\r\nTo: " + request.Header("to") + "\r\nCall-ID: " + callId_ +
            "\r\nCSeq: " + request.Header("cseq") + "\r\n";
  if (request.method == "INVITE" && status < 300) {
    const std::string local = options_.localAddress.find(':') != std::string::npos ? "[" + options_.localAddress + "]"
                                                                                   : options_.localAddress;
    answer += "Contact: <sip:" + options_.fromUser + "@" + local + ":" + std::to_string(options_.localPort) + ">\r\n";
  }
  if (!body.empty()) answer += "Content-Type: application/sdp\r\n";
  return answer + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void CSipCaller::AnswerRequest(const CMessage& request) {
  if (request.method == "ACK") {
    if (ourAnswer_ && request.CSeqNumber() == ourAnswer_->cseq) ourAnswer_.reset();
    return;
  }
  if (request.method == "INVITE") {
    AnswerReinvite(request);
    return;
  }
  const bool bye = request.method == "BYE";
  SendText(Response(request, bye ? 200 : 501));
  if (bye) peerHungUp_ = true;
}

std::string CSipCaller::ImageSdp(const T38Parameters& stated, const std::string& before) {
  return faxsim::SdpBody(
      options_.sdpStyle, options_.localAddress, ++sdpVersion_,
      before + faxsim::ImageMedia(options_.sdpStyle, options_.localAddress, options_.udptlPort, stated));
}

void CSipCaller::AnswerReinvite(const CMessage& request) {
  const int cseq = request.CSeqNumber();
  if (cseq == peerInviteCseq_) {  // the peer did not hear our answer
    SendText(peerInviteAnswer_);
    return;
  }
  peerInviteCseq_ = cseq;
  const std::vector<faxsim::SdpMedia> offer = faxsim::ReadSdp(request.body);
  const std::optional<faxsim::T38Session> t38 = faxsim::FindT38(offer);
  int status = 200;
  if (!t38)
    status = 488;  // this caller moves to T.38 only
  else if (ourReinvite_)
    status = 491;
  else if (!inT38_ && options_.onT38Offer.glare)
    status = 491;
  else if (!inT38_)
    status = options_.onT38Offer.status;
  reinvites_.push_back("theirs:" + std::to_string(status));
  if (status != 200) {
    peerInviteAnswer_ = Response(request, status);
    SendText(peerInviteAnswer_);
    if (status == 491 && !ourReinvite_ && options_.onT38Offer.glare) reinviteAt_ = std::chrono::steady_clock::now();
    return;
  }
  const T38Parameters own = faxsim::OwnT38Parameters(options_.sdpStyle);
  const T38Parameters answer = faxsim::AnswerT38(own, t38->parameters);
  // The answer keeps the offer's streams in their order, refusing all but T.38.
  std::string media;
  bool imageDone = false;
  for (const faxsim::SdpMedia& m : offer) {
    if (!imageDone && m.kind == "image" && m.port > 0 && faxsim::FindT38({m})) {
      media += faxsim::ImageMedia(options_.sdpStyle, options_.localAddress, options_.udptlPort, answer);
      imageDone = true;
    } else {
      media += faxsim::RefusedMedia(m);
    }
  }
  peerInviteAnswer_ =
      Response(request, 200, faxsim::SdpBody(options_.sdpStyle, options_.localAddress, ++sdpVersion_, media));
  SendText(peerInviteAnswer_);
  const auto now = std::chrono::steady_clock::now();
  ourAnswer_ = CPending{peerInviteAnswer_, cseq, "", now + kT1, kT1, now + 64 * kT1};
  if (!inT38_) {
    session_ = {t38->remote, faxsim::AgreeT38(own, t38->parameters)};
    inT38_ = true;
    switchDue_ = true;
  }
}

void CSipCaller::SendReinvite() {
  reinviteAt_.reset();
  ++reinviteTries_;
  const std::string declinedAudio =
      options_.sdpStyle == faxsim::T38SdpStyle::kOddSmall ? "m=audio 0 RTP/AVP 8\r\n" : "";
  const std::string branch = Token();
  const int cseq = cseq_++;
  const auto now = std::chrono::steady_clock::now();
  ourReinvite_ =
      CPending{Request("INVITE", branch, cseq, ImageSdp(faxsim::OwnT38Parameters(options_.sdpStyle), declinedAudio)),
               cseq,
               branch,
               now + kT1,
               kT1,
               now + kTransactionTimeout};
  ourReinviteAnswered_ = false;
  SendText(ourReinvite_->text);
}

void CSipCaller::TakeReinviteAnswer(const CMessage& response) {
  if (response.status < 200) {
    ourReinviteAnswered_ = true;
    return;
  }
  const int cseq = ourReinvite_->cseq;
  reinvites_.push_back("ours:" + std::to_string(response.status));
  if (response.status >= 300) {
    SendText(Request("ACK", ourReinvite_->branch, cseq));
    ourReinvite_.reset();
    // RFC 3261 14.1: the owner of the Call-ID tries again after 2.1 to 4 s,
    // unless the peer's own re-INVITE comes first.
    if (response.status == 491 && reinviteTries_ < 3 && !inT38_) {
      static std::mt19937 random{std::random_device{}()};
      reinviteAt_ = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(std::uniform_int_distribution<int>(2100, 4000)(random));
    }
    return;
  }
  SendText(Request("ACK", Token(), cseq));
  ourReinvite_.reset();
  const std::optional<faxsim::T38Session> t38 = faxsim::FindT38(faxsim::ReadSdp(response.body));
  if (!t38 || inT38_) return;
  session_ = {t38->remote, faxsim::AgreeT38(faxsim::OwnT38Parameters(options_.sdpStyle), t38->parameters)};
  inT38_ = true;
  switchDue_ = true;
}

void CSipCaller::Resend(CPending& pending) {
  const auto now = std::chrono::steady_clock::now();
  if (now < pending.resend) return;
  SendText(pending.text);
  pending.interval = std::min<std::chrono::steady_clock::duration>(pending.interval * 2, kT2);
  pending.resend = now + pending.interval;
}

std::string CSipCaller::Request(const std::string& method, const std::string& branch, int cseq,
                                const std::string& body) {
  const std::string local =
      options_.localAddress.find(':') != std::string::npos ? "[" + options_.localAddress + "]" : options_.localAddress;
  std::string text = method + " " + requestUri_ + " SIP/2.0\r\n";
  text += "Via: SIP/2.0/UDP " + local + ":" + std::to_string(options_.localPort) + ";branch=z9hG4bK" + branch +
          ";rport\r\nMax-Forwards: 70\r\n";
  for (const std::string& route : routes_) text += "Route: " + route + "\r\n";
  text += options_.fromUser == "anonymous" ? "From: \"Anonymous\" <sip:anonymous@anonymous.invalid>"
                                           : "From: <sip:" + options_.fromUser + "@" + local + ">";
  text += ";tag=" + fromTag_ + "\r\nTo: " + toHeader_ + "\r\nCall-ID: " + callId_ +
          "\r\nCSeq: " + std::to_string(cseq) + " " + method + "\r\nContact: <sip:" + options_.fromUser + "@" + local +
          ":" + std::to_string(options_.localPort) + ">\r\nUser-Agent: sip-faxsim\r\n";
  if (method == "INVITE" && !options_.assertedUser.empty())
    text += "P-Asserted-Identity: <sip:" + options_.assertedUser + "@" + local + ">\r\n";
  if (method == "INVITE" && options_.privacy) text += "Privacy: id\r\n";
  if (!body.empty()) text += "Content-Type: application/sdp\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  return text;
}

std::unique_ptr<CSipCaller::CMessage> CSipCaller::Transact(const std::string& request, int cseq,
                                                           const std::string& method) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + (method == "INVITE" ? kInviteTimeout : kTransactionTimeout);
  auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kT1);
  auto resend = start + interval;
  bool retransmit = true;
  SendText(request);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return nullptr;
    std::unique_ptr<CMessage> message = Next(retransmit ? std::min(resend, deadline) : deadline);
    if (!message) {
      if (retransmit && std::chrono::steady_clock::now() >= resend) {
        SendText(request);
        interval = std::min<std::chrono::steady_clock::duration>(interval * 2, kT2);
        resend = std::chrono::steady_clock::now() + interval;
      }
      continue;
    }
    if (!message->response) {
      AnswerRequest(*message);
      continue;
    }
    if (message->CSeqNumber() != cseq || !message->Header("cseq").ends_with(method)) continue;
    if (message->status >= 200) return message;
    if (method == "INVITE") retransmit = false;
  }
}

Result<SipAnsweredCall> CSipCaller::Invite(AudioCodec codec, int rtpPort) {
  const int type = static_cast<int>(codec);
  const bool v6 = options_.localAddress.find(':') != std::string::npos;
  const std::string sdp =
      options_.t38 == T38Mode::kStart
          ? ImageSdp(faxsim::OwnT38Parameters(options_.sdpStyle))
          : "v=0\r\no=sip-faxsim 1 1 IN " + std::string(v6 ? "IP6 " : "IP4 ") + options_.localAddress +
                "\r\ns=sip-faxsim\r\nc=IN " + (v6 ? "IP6 " : "IP4 ") + options_.localAddress + "\r\nt=0 0\r\nm=audio " +
                std::to_string(rtpPort) + " RTP/AVP " + std::to_string(type) + "\r\na=rtpmap:" + std::to_string(type) +
                (codec == AudioCodec::kPcma ? " PCMA" : " PCMU") + "/8000\r\na=ptime:20\r\na=sendrecv\r\n";
  const std::string branch = Token();
  const int cseq = cseq_++;
  std::unique_ptr<CMessage> answer = Transact(Request("INVITE", branch, cseq, sdp), cseq, "INVITE");
  if (!answer) return SipFailure("no final answer to the INVITE");
  toHeader_ = answer->Header("to");
  if (answer->status >= 300) {
    SendText(Request("ACK", branch, cseq));
    return SipFailure("the INVITE was answered " + std::to_string(answer->status), answer->status);
  }
  const std::vector<std::string> contacts = answer->All("contact");
  if (!contacts.empty()) requestUri_ = UriOf(contacts.front());
  routes_ = answer->All("record-route");
  std::reverse(routes_.begin(), routes_.end());
  SendText(Request("ACK", Token(), cseq));

  SipAnsweredCall call;
  call.codec = codec;
  const std::vector<faxsim::SdpMedia> media = faxsim::ReadSdp(answer->body);
  if (options_.t38 == T38Mode::kStart) {
    const std::optional<faxsim::T38Session> t38 = faxsim::FindT38(media);
    if (!t38) {
      (void)Bye();
      return SipFailure("the answer has no T.38 to send to");
    }
    session_ = {t38->remote, faxsim::AgreeT38(faxsim::OwnT38Parameters(options_.sdpStyle), t38->parameters)};
    inT38_ = true;
    call.t38 = session_;
    return call;
  }
  bool haveMedia = false;
  for (const faxsim::SdpMedia& m : media) {
    if (m.kind != "audio" || m.port <= 0 || m.proto != "RTP/AVP" || haveMedia) continue;
    call.media = {m.address, static_cast<std::uint16_t>(m.port)};
    haveMedia = true;
    const std::string formats = " " + m.formats + " ";
    if (formats.find(" " + std::to_string(type) + " ") == std::string::npos)
      call.codec = formats.find(" 8 ") != std::string::npos ? AudioCodec::kPcma : AudioCodec::kPcmu;
  }
  if (!haveMedia || call.media.address.empty()) {
    (void)Bye();
    return SipFailure("the answer has no audio to send to");
  }
  if (options_.t38 == T38Mode::kReinvite) reinviteAt_ = std::chrono::steady_clock::now() + options_.reinviteAfter;
  return call;
}

SendStep CSipCaller::Poll(bool heardFax) {
  const auto now = std::chrono::steady_clock::now();
  if (heardFax && options_.t38 == T38Mode::kReinvite && reinviteTries_ == 0 && reinviteAt_) reinviteAt_ = now;
  if (reinviteAt_ && now >= *reinviteAt_ && !ourReinvite_ && !inT38_) SendReinvite();
  if (ourReinvite_) {
    if (now >= ourReinvite_->deadline) {
      reinvites_.push_back("ours:timeout");
      ourReinvite_.reset();
    } else if (!ourReinviteAnswered_) {
      Resend(*ourReinvite_);
    }
  }
  if (ourAnswer_) {
    if (now >= ourAnswer_->deadline)
      ourAnswer_.reset();
    else
      Resend(*ourAnswer_);
  }
  while (!peerHungUp_) {
    std::unique_ptr<CMessage> message = Next(now);
    if (!message) break;
    if (!message->response) {
      AnswerRequest(*message);
    } else if (message->Header("cseq").ends_with("INVITE")) {
      if (ourReinvite_ && message->CSeqNumber() == ourReinvite_->cseq)
        TakeReinviteAnswer(*message);
      else if (message->status >= 200 && message->status < 300)  // a repeated 200: its ACK was lost
        SendText(Request("ACK", Token(), message->CSeqNumber()));
    }
  }
  if (peerHungUp_) return SendStep::kPeerHungUp;
  if (switchDue_) {
    switchDue_ = false;
    return SendStep::kSwitchToT38;
  }
  return SendStep::kGoOn;
}

std::string CSipCaller::Reinvites() const {
  std::string text;
  for (const std::string& outcome : reinvites_) text += (text.empty() ? "" : ",") + outcome;
  return text.empty() ? "none" : text;
}

Status CSipCaller::Bye() {
  if (peerHungUp_) return Status();
  const int cseq = cseq_++;
  std::unique_ptr<CMessage> answer = Transact(Request("BYE", Token(), cseq), cseq, "BYE");
  if (!answer) return SipFailure("no answer to the BYE");
  if (answer->status >= 300)
    return SipFailure("the BYE was answered " + std::to_string(answer->status), answer->status);
  return Status();
}

}  // namespace kestrel
