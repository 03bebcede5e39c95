// Test peers for the mail client: Python programs (aiosmtpd as a real SMTP
// server, Python's email package as a real message parser) run as child
// processes, and a scripted SMTP server of our own in a thread, for split
// replies, silence, dropped connections and odd prompts. Every wait is bounded
// so that a broken client fails its test instead of hanging it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kestrel::test {

// Runs /usr/bin/python3 with `script` (a file in the peers folder) and `args`;
// the exit code, or -1 when it had to be killed after `timeoutMs`.
int RunPythonPeer(const std::string& script, const std::vector<std::string>& args, int timeoutMs = 30000);

// A Python server peer: started with `script` and `args`, it prints one line
// when it is ready (read here, waiting up to `startMs`) and stops when its
// standard input closes, which the destructor does.
class CPeerProcess {
 public:
  CPeerProcess(const std::string& script, const std::vector<std::string>& args, int startMs = 15000);
  ~CPeerProcess();
  CPeerProcess(const CPeerProcess&) = delete;
  CPeerProcess& operator=(const CPeerProcess&) = delete;
  // The ready line without its line end ("PORT 4711").
  const std::string& ReadyLine() const { return line_; }

 private:
  int pid_ = -1;
  int stdinFd_ = -1;
  std::string line_;
};

// aiosmtpd on a free loopback port, storing each message in `outFolder`
// (<n>.content, <n>.from, <n>.rcpt). `auth` is none, login, login-user-name, cram,
// plain or login-plain.
class CSmtpServerPeer {
 public:
  // `extra` adds options of smtp_server.py (--port N, --refuse-rcpt [CODE],
  // --refuse-data, --drop-first-data, --tls starttls|implicit with --cert and
  // --key).
  CSmtpServerPeer(const std::string& outFolder, const std::string& auth, const std::string& user = "",
                  const std::string& password = "", const std::vector<std::string>& extra = {});
  ~CSmtpServerPeer();
  CSmtpServerPeer(const CSmtpServerPeer&) = delete;
  CSmtpServerPeer& operator=(const CSmtpServerPeer&) = delete;

  int Port() const { return port_; }
  // The stored bytes of message `n` (1-based), waiting up to 5 s for it.
  std::string Content(int n) const;
  std::string From(int n) const;
  std::vector<std::string> Recipients(int n) const;

 private:
  std::string out_;
  CPeerProcess process_;
  int port_ = 0;
};

// A test PKI made by peers/test_pki.py in `folder`: root.pem (the CA a client
// must trust) and leaf keys and chains good, wrong (a certificate for
// mail.example.invalid) and expired, for localhost and 127.0.0.1.
void MakeTestPki(const std::string& folder);

// Postfix with Dovecot SASL (peers/postfix_server.py) in `folder`, which it
// fills with its PKI (folder + "pki/"), configs, queue, Maildir and log. Mail
// for fax@, anna@ and dora@kestrel.test lands in MaildirFiles(); bea@ is
// refused at RCPT with 550, carl@ with 450, and a mail with the subject
// "Refused for good" with 550 at the end of its data. Listeners by name:
// "submission" (STARTTLS required, AUTH only after it), "smtps" (implicit
// TLS), "expired", "wrongname" (bad certificates, STARTTLS) and "plain" (no
// STARTTLS). Throws when the servers do not come up.
class CPostfixPeer {
 public:
  // With `introspectionUrl`, Dovecot takes OAuth 2.0 tokens too (XOAUTH2,
  // OAUTHBEARER; listener "oauthbearer" offers only that), checked there.
  CPostfixPeer(const std::string& folder, const std::string& user, const std::string& password,
               const std::string& introspectionUrl = "");
  int Port(const std::string& listener) const;
  std::string RootCaFile() const { return folder_ + "pki/root.pem"; }
  // The Postfix log so far.
  std::string Log() const;
  // The "disconnect from" line of the last connection to `listener`, waiting
  // up to 10 s for it ("" when none came): it counts the client's commands.
  std::string DisconnectLine(const std::string& listener) const;
  // The mail files delivered to `mailbox` (a local part of kestrel.test),
  // waiting up to 10 s until there are `count`.
  std::vector<std::string> MaildirFiles(size_t count, const std::string& mailbox = "fax") const;

 private:
  std::string folder_;
  CPeerProcess process_;
  std::map<std::string, int> ports_;
};

// What Python's email package makes of a mail file: the decoded headers, each
// leaf part's description and decoded bytes, and the number of defects.
struct ParsedMail {
  std::map<std::string, std::string> headers;
  // "<content-type> <filename or -> <charset or -> <transfer-encoding or ->"
  std::vector<std::string> partInfo;
  std::vector<std::string> partBytes;
  int defects = -1;
  std::vector<std::string> defectKinds;
  std::string summary;
  // True when the parser found nothing to complain about in any part.
  bool HasNoDefects() const { return defects == 0; }
};
ParsedMail ParseWithPython(const std::string& mailFile, const std::string& workFolder);

// One accepted connection of the scripted server.
class CScriptPeer {
 public:
  explicit CScriptPeer(int fd) : fd_(fd) {}
  void Send(std::string_view bytes);
  // Sends `bytes` in pieces of `pieceSize`, pausing `pauseMs` after each.
  void SendInPieces(std::string_view bytes, size_t pieceSize, int pauseMs);
  // The next line without its CR LF; "" when the client closed or was silent
  // for `timeoutMs`.
  std::string ReadLine(int timeoutMs = 5000);
  // Everything up to and including `end`, or what came before a close/timeout.
  std::string ReadUntil(std::string_view end, int timeoutMs = 5000);
  // Reads and drops whatever comes until the client closes: true when it
  // closed within `timeoutMs`.
  bool WaitForClose(int timeoutMs);
  void Close();
  const std::string& Received() const { return received_; }

 private:
  bool Fill(int timeoutMs);
  int fd_;
  std::string buffer_;
  std::string received_;
};

// Listens on a free loopback port and runs `script` on the first connection
// in a thread of its own. Received() holds every byte the client sent.
class CScriptServer {
 public:
  using Script = std::function<void(CScriptPeer&)>;
  explicit CScriptServer(Script script);
  ~CScriptServer();
  int Port() const { return port_; }
  // Waits for the script to end.
  void Join();
  const std::string& Received();

 private:
  int listenFd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string received_;
};

// The usual opening: greeting, then the HELO or EHLO reply.
void ServeGreetingAndHello(CScriptPeer& peer, std::string_view helloReply = "250 kestrel.test\r\n");
// Reads QUIT and answers 221.
void ServeQuit(CScriptPeer& peer);

}  // namespace kestrel::test
