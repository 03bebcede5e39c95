// fuzz_smtp_session: any bytes as the server's side of a whole SMTP session.
// The first byte picks the login (its two low bits: none, CRAM-MD5, AUTH
// LOGIN, "AUTH LOGIN PLAIN") and the message form (bit 2: a queue file or a
// composed message with an attachment); the rest is what an in-process
// loopback server sends, all at once, before it closes its side, while it
// reads whatever the client sends. The client runs Connect, SendMessage and
// Disconnect. Besides the sanitizers it checks that the reply text handed out
// never holds a control character and that the reply code has three digits.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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
      if (n > 0) sent += size_t(n);
      else if (n < 0 && errno != EAGAIN && errno != EINTR) writing = false;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[65536];
      ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
  }
  ::close(fd);
}

void CheckReply(const kestrel::CSMTPSession& session) {
  for (char c : session.LastReplyText())
    Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control character in the reply text");
  Check(session.LastReplyCode() >= 0 && session.LastReplyCode() <= 999, "reply code out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int method = data[0] & 3;
  const bool queueFile = (data[0] & 4) != 0;
  const std::string& queued = QueueFile();
  int port = 0;
  int listener = Listener(port);
  std::thread server(Serve, listener, std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

  CQuietLog log;
  {
    kestrel::CSMTPSession session(log);
    session.SetHeloName("fuzz.test");
    // The server closes its side after its last byte, so no wait is long.
    session.SetReplyTimeout(5000);
    session.SetEndOfDataTimeout(5000);
    if (session.Connect("127.0.0.1", method, "fax-user", "pa ss:w0rd", port)) {
      CheckReply(session);
      if (queueFile) {
        session.SendMessage(queued, kestrel::CMailAddress("", "fax@kestrel.test"), 512);
      } else {
        kestrel::CSMTPMessage message(log);
        message.SetSender(kestrel::CMailAddress("Kestrel", "fax@kestrel.test"));
        message.AddRecipients("anna@example.com, Bea <bea@example.com>");
        message.SetSubject("Fax");
        message.AddTextBody("A fax.");
        message.AddAttachment(queued);
        session.SendMessage(message);
      }
      CheckReply(session);
      if (session.IsConnected()) session.Disconnect();
    }
    CheckReply(session);
  }
  server.join();
  return 0;
}
