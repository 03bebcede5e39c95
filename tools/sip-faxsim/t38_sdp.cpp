#include "t38_sdp.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kestrel::faxsim {

namespace {

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SameWord(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// A decimal number within [low, high]; nothing otherwise.
std::optional<long> Number(const std::string& text, long low, long high) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return std::nullopt;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string AddressOf(const std::string& connection) {
  // "IN IP4 192.0.2.1" (a multicast TTL suffix is not for us)
  if (connection.size() < 7 || !connection.starts_with("IN IP")) return "";
  const std::string address = Trim(connection.substr(7));
  return address.substr(0, address.find('/'));
}

}  // namespace

std::vector<SdpMedia> ReadSdp(const std::string& body) {
  std::vector<SdpMedia> media;
  std::string sessionAddress;
  std::size_t at = 0;
  while (at < body.size()) {
    std::size_t newline = body.find('\n', at);
    if (newline == std::string::npos) newline = body.size();
    const std::string line = Trim(body.substr(at, newline - at));
    at = newline + 1;
    if (line.size() < 2 || line[1] != '=') continue;
    const std::string value = line.substr(2);
    if (line[0] == 'm') {
      SdpMedia m;
      const std::size_t space1 = value.find(' ');
      const std::size_t space2 = value.find(' ', space1 == std::string::npos ? value.size() : space1 + 1);
      if (space1 == std::string::npos || space2 == std::string::npos) continue;
      m.kind = value.substr(0, space1);
      const std::string port = value.substr(space1 + 1, space2 - space1 - 1);
      m.port = static_cast<int>(Number(port.substr(0, port.find('/')), 0, 65535).value_or(-1));
      const std::size_t space3 = value.find(' ', space2 + 1);
      m.proto = value.substr(space2 + 1, space3 == std::string::npos ? std::string::npos : space3 - space2 - 1);
      m.formats = space3 == std::string::npos ? "" : Trim(value.substr(space3 + 1));
      m.address = sessionAddress;
      media.push_back(std::move(m));
    } else if (line[0] == 'c') {
      const std::string address = AddressOf(value);
      (media.empty() ? sessionAddress : media.back().address) = address;
    } else if (line[0] == 'a' && !media.empty()) {
      const std::size_t colon = value.find(':');
      media.back().attributes.emplace_back(value.substr(0, colon),
                                           colon == std::string::npos ? "" : Trim(value.substr(colon + 1)));
    }
  }
  return media;
}

std::optional<T38Session> FindT38(const std::vector<SdpMedia>& media) {
  for (const SdpMedia& m : media) {
    if (m.kind != "image" || !SameWord(m.proto, "udptl") || m.port <= 0 || m.address.empty()) continue;
    if (m.formats.find("t38") == std::string::npos) continue;
    T38Session session;
    session.remote.address = m.address;
    session.remote.port = static_cast<std::uint16_t>(m.port);
    T38Parameters& p = session.parameters;
    for (const auto& [name, value] : m.attributes) {
      if (SameWord(name, "T38FaxVersion")) {
        p.version = static_cast<int>(Number(value, 0, 255).value_or(0));
      } else if (SameWord(name, "T38MaxBitRate")) {
        p.maxBitRate = static_cast<int>(Number(value, 2400, 33600).value_or(p.maxBitRate));
      } else if (SameWord(name, "T38FaxRateManagement")) {
        p.transferredTcf = !SameWord(value, "localTCF");
      } else if (SameWord(name, "T38FaxMaxBuffer")) {
        p.maxBuffer = static_cast<int>(Number(value, 1, 100000000).value_or(0));
      } else if (SameWord(name, "T38FaxMaxDatagram")) {
        p.maxDatagram = static_cast<int>(Number(value, 1, 65507).value_or(0));
      } else if (SameWord(name, "T38FaxUdpEC")) {
        p.errorCorrection = SameWord(value, "t38UDPFEC")    ? T38ErrorCorrection::kFec
                            : SameWord(value, "t38UDPNoEC") ? T38ErrorCorrection::kNone
                                                            : T38ErrorCorrection::kRedundancy;
      }
    }
    return session;
  }
  return std::nullopt;
}

T38Parameters OwnT38Parameters(T38SdpStyle style) {
  // version, fastest rate, largest buffer and datagram, by style
  static constexpr int kStated[][4] = {{0, 14400, 2000, 400}, {3, 33600, 262144, 1472}, {3, 9600, 200, 160}};
  const int* stated = kStated[static_cast<int>(style)];
  T38Parameters p;
  p.version = stated[0];
  p.maxBitRate = stated[1];
  p.maxBuffer = stated[2];
  p.maxDatagram = stated[3];
  return p;
}

T38Parameters AnswerT38(const T38Parameters& own, const T38Parameters& offered) {
  T38Parameters answer = own;
  answer.version = std::min(own.version, offered.version);
  answer.maxBitRate = std::min(own.maxBitRate, offered.maxBitRate);
  answer.transferredTcf = true;
  answer.errorCorrection = offered.errorCorrection == T38ErrorCorrection::kNone ? T38ErrorCorrection::kNone
                                                                                : T38ErrorCorrection::kRedundancy;
  return answer;
}

T38Parameters AgreeT38(const T38Parameters& own, const T38Parameters& peer) {
  T38Parameters session = peer;
  session.version = std::min(own.version, peer.version);
  session.maxBitRate = std::min(own.maxBitRate, peer.maxBitRate);
  return session;
}

std::string SdpBody(T38SdpStyle style, const std::string& address, int version, const std::string& media) {
  const std::string network = address.find(':') != std::string::npos ? "IN IP6 " : "IN IP4 ";
  std::string body =
      "v=0\r\no=sip-faxsim 1 " + std::to_string(version) + " " + network + address + "\r\ns=sip-faxsim\r\n";
  // The unusual styles give each stream its own c= instead.
  if (style == T38SdpStyle::kPlain) body += "c=" + network + address + "\r\n";
  return body + "t=0 0\r\n" + media;
}

std::string ImageMedia(T38SdpStyle style, const std::string& address, int port, const T38Parameters& stated) {
  const std::string ec = stated.errorCorrection == T38ErrorCorrection::kNone ? "t38UDPNoEC" : "t38UDPRedundancy";
  std::string media = "m=image " + std::to_string(port) + " udptl t38\r\n";
  const std::vector<std::string> values = {
      "a=T38FaxVersion:" + std::to_string(stated.version),
      "a=T38MaxBitRate:" + std::to_string(stated.maxBitRate),
      std::string("a=T38FaxRateManagement:") + (stated.transferredTcf ? "transferredTCF" : "localTCF"),
      "a=T38FaxMaxBuffer:" + std::to_string(stated.maxBuffer),
      "a=T38FaxMaxDatagram:" + std::to_string(stated.maxDatagram),
      "a=T38FaxUdpEC:" + ec,
  };
  if (style == T38SdpStyle::kPlain) {
    for (const std::string& value : values) media += value + "\r\n";
    return media;
  }
  const std::string network = address.find(':') != std::string::npos ? "IN IP6 " : "IN IP4 ";
  media += "c=" + network + address + "\r\n";
  media += "a=X-sip-faxsim-note:" + std::string(style == T38SdpStyle::kOdd ? "large" : "small") + "\r\n";
  media += values[5] + "\r\na=T38FaxTranscodingJBIG\r\n" + values[4] + "\r\n" + values[2] +
           "\r\na=T38FaxFillBitRemoval\r\n" + values[3] + "\r\n" + values[1] + "\r\na=T38FaxTranscodingMMR\r\n" +
           values[0] + "\r\na=T38VendorInfo:0 0 0\r\na=sendrecv\r\n";
  return media;
}

std::string RefusedMedia(const SdpMedia& media) {
  return "m=" + media.kind + " 0 " + media.proto + (media.formats.empty() ? "" : " " + media.formats) + "\r\n";
}

}  // namespace kestrel::faxsim
