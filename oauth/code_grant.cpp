// The authorization code grant's redirect: a listener on 127.0.0.1 that takes
// the browser's one request to "/", checks its state and hands on its code.
// The request comes from whatever reaches the port (a browser, an ssh -L
// tunnel, anyone on this host): it is read up to kMaxRequestBytes, only its
// request line is looked at, and a code is taken only with the state this
// sign-in made.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>

#include "oauth/oauth_client.h"

namespace kestrel {
namespace {

constexpr std::size_t kMaxRequestBytes = 8 * 1024;
constexpr int kRequestMs = 5000;

class CFd {
 public:
  explicit CFd(int fd = -1) : fd_(fd) {}
  ~CFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::map<std::string, std::string> QueryFields(std::string_view query) {
  std::map<std::string, std::string> fields;
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos) fields[Unescape(pair.substr(0, eq))] = Unescape(pair.substr(eq + 1));
  }
  return fields;
}

// Reads the request head ("GET /?code=... HTTP/1.1 ... CR LF CR LF"); its
// target, or empty when it is not a GET or does not come in time.
std::string ReadTarget(int fd) {
  std::string head;
  char buffer[1024];
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestMs);
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestBytes) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return {};
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return {};
    head.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string_view line = std::string_view(head).substr(0, head.find("\r\n"));
  if (line.substr(0, 4) != "GET ") return {};
  const std::string_view rest = line.substr(4);
  return std::string(rest.substr(0, rest.find(' ')));
}

void Answer(int fd, std::string_view status, std::string_view text) {
  const std::string body = "<!DOCTYPE html><html><body><p>" + std::string(text) + "</p></body></html>\n";
  const std::string reply = "HTTP/1.1 " + std::string(status) +
                            "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body;
  (void)::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

}  // namespace

Result<TokenGrant> COAuthClient::CodeSignIn(const ShowLine& show, int port, int timeoutSeconds) const {
  CFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.Get() < 0) return Failure{"OAuth", std::string("no socket for the redirect: ") + std::strerror(errno)};
  const int on = 1;
  ::setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t length = sizeof address;
  if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Get(), 4) != 0 ||
      ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return Failure{"OAuth", "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno)};
  const std::string redirect = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  const std::string verifier = NewPkceVerifier();
  const std::string state = NewState();
  std::string url = config_.authorizeUrl + (config_.authorizeUrl.find('?') == std::string::npos ? "?" : "&") +
                    CHttpClient::Encode({{"response_type", "code"},
                                         {"client_id", config_.clientId},
                                         {"redirect_uri", redirect},
                                         {"scope", config_.scope},
                                         {"state", state},
                                         {"code_challenge", PkceChallenge(verifier)},
                                         {"code_challenge_method", "S256"}});
  if (!config_.authorizeExtra.empty()) url += "&" + config_.authorizeExtra;
  show(std::string(kOpenUrlPrompt) + url);

  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    if (stop_ && stop_->load()) return Failure{"OAuth", "the sign-in was stopped"};
    if (std::chrono::steady_clock::now() >= until) return Failure{"OAuth", "no sign-in came back in time"};
    pollfd p{listener.Get(), POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    CFd peer(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (peer.Get() < 0) continue;
    const std::string target = ReadTarget(peer.Get());
    const std::size_t mark = target.find('?');
    if (target.substr(0, mark) != "/") {
      Answer(peer.Get(), "404 Not Found", "Not here.");  // a browser's favicon, a stray request
      continue;
    }
    std::map<std::string, std::string> fields =
        QueryFields(mark == std::string::npos ? std::string_view() : std::string_view(target).substr(mark + 1));
    if (fields["state"] != state) {
      // Not this sign-in's answer: someone else's, or forged. Keep waiting.
      Answer(peer.Get(), "400 Bad Request", "This answer does not belong to the sign-in that is waiting.");
      continue;
    }
    if (!fields["error"].empty()) {
      Answer(peer.Get(), "200 OK", "The sign-in was not completed. You may close this window.");
      std::string word = fields["error"].substr(0, 64);
      for (char& c : word)
        if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) c = '_';
      return Failure{"token endpoint", word};
    }
    if (fields["code"].empty() || fields["code"].size() > kMaxTokenLength) {
      Answer(peer.Get(), "400 Bad Request", "The answer holds no code.");
      return Failure{"OAuth", "the redirect held no code"};
    }
    Result<TokenGrant> grant = Token({{"grant_type", "authorization_code"},
                                      {"code", fields["code"]},
                                      {"redirect_uri", redirect},
                                      {"code_verifier", verifier}});
    Answer(peer.Get(), "200 OK",
           grant ? "Kestrel is signed in. You may close this window."
                 : "Kestrel could not complete the sign-in; kestrel-admin says why.");
    return grant;
  }
}

}  // namespace kestrel
