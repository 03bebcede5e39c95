// fuzz_smtp_session: any bytes as the server's side of a whole SMTP session.
// The first byte picks the login (its two low bits: none, CRAM-MD5, AUTH
// LOGIN, "AUTH LOGIN PLAIN"; bit 5 makes it AUTH PLAIN), the message form
// (bit 2: a queue file or a composed message with an attachment) and the
// channel (bit 3: TLS from the first byte, the server's certificate trusted
// through the CA file; bit 4 then cuts the bytes into TLS records of 3 bytes);
// the rest is what an in-process loopback server sends, all at once, before it
// closes its side (with close_notify over TLS), while it reads whatever the
// client sends. The client runs Connect, SendMessage and Disconnect. Besides
// the sanitizers it checks that the reply text handed out never holds a
// control character and that the reply code has three digits.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "core/event_log.h"
#include "mail/smtp_message.h"
#include "mail/smtp_session.h"

namespace {

class CQuietLog final : public kestrel::IEventLog {
 public:
  void WriteEventText(std::string_view) override {}
};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_smtp_session: %s\n", what);
    std::abort();
  }
}

const std::string& Folder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_smtp_session.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Check(::mkdtemp(name.data()) != nullptr, "no temporary folder");
    static std::string made(name.data());
    std::atexit([] {
      ::unlink((made + "/queued.eml").c_str());
      ::unlink((made + "/server.pem").c_str());
      ::rmdir(made.c_str());
    });
    return made + "/";
  }();
  return folder;
}

// A queue file as the forwarding step leaves it, made once.
const std::string& QueueFile() {
  static const std::string path = [] {
    CQuietLog log;
    kestrel::CSMTPMessage message(log);
    message.SetSender(kestrel::CMailAddress("Kestrel", "fax@kestrel.test"));
    message.AddRecipients("anna@example.com;Bea <bea@example.com>");
    message.SetSubject("Fax");
    message.AddTextBody("A fax.\n.\n");
    std::string p = Folder() + "queued.eml";
    Check(message.SaveToDisk(p), "queue file not written");
    return p;
  }();
  return path;
}

// The listening socket, made once; each input is one connection to it.
int Listener(int& port) {
  static int fd = -1;
  static int listenPort = 0;
  if (fd < 0) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Check(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && ::listen(fd, 8) == 0,
          "no listener");
    socklen_t len = sizeof(addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    listenPort = ntohs(addr.sin_port);
  }
  port = listenPort;
  return fd;
}

// The server's side: sends `replies` as fast as the client takes them, then
// closes its sending side, and drains the client until it closes.
void Serve(int listener, std::string replies) {
  pollfd waitAccept{listener, POLLIN, 0};
  if (::poll(&waitAccept, 1, 10000) <= 0) return;
  int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  size_t sent = 0;
  bool writing = true;
  for (;;) {
    if (writing && sent == replies.size()) {
      ::shutdown(fd, SHUT_WR);
      writing = false;
    }
    pollfd p{fd, short(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    if (writing && (p.revents & POLLOUT)) {
      ssize_t n = ::send(fd, replies.data() + sent, replies.size() - sent, MSG_NOSIGNAL);
      if (n > 0)
        sent += size_t(n);
      else if (n < 0 && errno != EAGAIN && errno != EINTR)
        writing = false;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[65536];
      ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
  }
  ::close(fd);
}

// The TLS server's context: a self-signed certificate for 127.0.0.1, made
// once, whose PEM form is the client's CA file.
SSL_CTX* ServerContext() {
  static SSL_CTX* ctx = [] {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3650L * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("fuzz.test"), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(cert, san, -1);
    X509_EXTENSION_free(san);
    Check(X509_sign(cert, key, EVP_sha256()) > 0, "certificate not signed");
    std::FILE* pem = std::fopen((Folder() + "server.pem").c_str(), "w");
    Check(pem && PEM_write_X509(pem, cert) == 1, "certificate not written");
    std::fclose(pem);
    // The system's trust store would be parsed again for every input; the
    // fuzzed bytes come after the verification, which needs only this file.
    ::setenv("SSL_CERT_FILE", (Folder() + "server.pem").c_str(), 1);
    ::setenv("SSL_CERT_DIR", Folder().c_str(), 1);
    SSL_CTX* c = SSL_CTX_new(TLS_server_method());
    Check(c && SSL_CTX_use_certificate(c, cert) == 1 && SSL_CTX_use_PrivateKey(c, key) == 1, "no server context");
    X509_free(cert);
    EVP_PKEY_free(key);
    return c;
  }();
  return ctx;
}

// The server's side over TLS: the handshake, `replies` in records of
// `recordSize` bytes (0: as few as possible), close_notify, and then whatever
// the client still sends until it closes.
void ServeTls(int listener, std::string replies, size_t recordSize) {
  pollfd waitAccept{listener, POLLIN, 0};
  if (::poll(&waitAccept, 1, 10000) <= 0) return;
  int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  timeval bound{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound));
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof(bound));
  // Small records one after another would each wait for the client's
  // delayed acknowledgement.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  SSL* ssl = SSL_new(ServerContext());
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) == 1) {
    const size_t step = recordSize ? recordSize : 16384;
    bool ok = true;
    for (size_t at = 0; ok && at < replies.size(); at += step)
      ok = SSL_write(ssl, replies.data() + at, int(std::min(step, replies.size() - at))) > 0;
    if (ok) SSL_shutdown(ssl);
    char buf[16384];
    while (SSL_read(ssl, buf, sizeof(buf)) > 0) {
    }
  }
  SSL_free(ssl);
  ::close(fd);
}

void CheckReply(const kestrel::CSMTPSession& session) {
  for (char c : session.LastReplyText())
    Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control character in the reply text");
  Check(session.LastReplyCode() >= 0 && session.LastReplyCode() <= 999, "reply code out of range");
}

}  // namespace

// The fake server's TLS writes go to a client that may have hung up; as in
// the service, which ignores SIGPIPE, a write to a closed socket is an error
// value, not the end of the process.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::signal(SIGPIPE, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto method =
      (data[0] & 0x20) ? kestrel::SmtpAuthentication::Plain : static_cast<kestrel::SmtpAuthentication>(data[0] & 3);
  const bool queueFile = (data[0] & 4) != 0;
  const bool tls = (data[0] & 8) != 0;
  const std::string& queued = QueueFile();
  if (tls) ServerContext();
  int port = 0;
  int listener = Listener(port);
  std::string replies(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::thread server = tls ? std::thread(ServeTls, listener, std::move(replies), (data[0] & 0x10) ? 3 : 0)
                           : std::thread(Serve, listener, std::move(replies));

  CQuietLog log;
  {
    kestrel::CSMTPSession session(log);
    session.SetHeloName("fuzz.test");
    // The server closes its side after its last byte, so no wait is long.
    session.SetReplyTimeout(5000);
    session.SetEndOfDataTimeout(5000);
    if (tls) session.SetConnectionSecurity(kestrel::SmtpSecurity::Tls, Folder() + "server.pem");
    if (session.Connect("127.0.0.1", method, "fax-user", "pa ss:w0rd", port)) {
      CheckReply(session);
      if (queueFile) {
        (void)session.SendMessage(queued, kestrel::CMailAddress("", "fax@kestrel.test"), 512);
      } else {
        kestrel::CSMTPMessage message(log);
        message.SetSender(kestrel::CMailAddress("Kestrel", "fax@kestrel.test"));
        message.AddRecipients("anna@example.com, Bea <bea@example.com>");
        message.SetSubject("Fax");
        message.AddTextBody("A fax.");
        message.AddAttachment(queued);
        (void)session.SendMessage(message);
      }
      CheckReply(session);
      if (session.IsConnected()) (void)session.Disconnect();
    }
    CheckReply(session);
  }
  server.join();
  return 0;
}
