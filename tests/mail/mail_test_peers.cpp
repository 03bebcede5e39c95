#include "tests/mail/mail_test_peers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/file_util.h"

namespace kestrel::test {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Starts the peer with optional pipes for its standard input and output.
int Spawn(const std::string& script, const std::vector<std::string>& args, int* stdinFd, int* stdoutFd) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (stdinFd && ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (stdoutFd && ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // A script of another test folder comes with its absolute path.
  std::string path = script.starts_with("/") ? script : std::string(KESTREL_MAIL_PEERS_DIR) + script;
  std::vector<std::string> argv = {kPython, path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (stdinFd) ::dup2(in[0], 0);
    if (stdoutFd) ::dup2(out[1], 1);
    ::execv(kPython, cargv.data());
    ::_exit(127);
  }
  if (stdinFd) {
    ::close(in[0]);
    *stdinFd = in[1];
  }
  if (stdoutFd) {
    ::close(out[1]);
    *stdoutFd = out[0];
  }
  return pid;
}

// Waits for `pid` up to `timeoutMs`, then kills it; its exit code or -1.
int WaitFor(int pid, int timeoutMs) {
  int64_t deadline = NowMs() + timeoutMs;
  int status = 0;
  for (;;) {
    pid_t rc = ::waitpid(pid, &status, WNOHANG);
    if (rc == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (rc < 0) return -1;
    if (NowMs() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    ::usleep(10000);
  }
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

int RunPythonPeer(const std::string& script, const std::vector<std::string>& args, int timeoutMs) {
  return WaitFor(Spawn(script, args, nullptr, nullptr), timeoutMs);
}

CPeerProcess::CPeerProcess(const std::string& script, const std::vector<std::string>& args, int startMs) {
  int stdoutFd = -1;
  pid_ = Spawn(script, args, &stdinFd_, &stdoutFd);
  int64_t deadline = NowMs() + startMs;
  while (line_.find('\n') == std::string::npos && NowMs() < deadline) {
    if (!WaitReadable(stdoutFd, 100)) continue;
    char buf[256];
    ssize_t n = ::read(stdoutFd, buf, sizeof(buf));
    if (n <= 0) break;
    line_.append(buf, size_t(n));
  }
  ::close(stdoutFd);
  if (line_.find('\n') != std::string::npos) line_.resize(line_.find('\n'));
}

CPeerProcess::~CPeerProcess() {
  ::close(stdinFd_);
  WaitFor(pid_, 15000);
}

namespace {
std::vector<std::string> SmtpServerArgs(const std::string& outFolder, const std::string& auth, const std::string& user,
                                        const std::string& password, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"--out", outFolder, "--auth", auth, "--user", user, "--password", password};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}
}  // namespace

CSmtpServerPeer::CSmtpServerPeer(const std::string& outFolder, const std::string& auth, const std::string& user,
                                 const std::string& password, const std::vector<std::string>& extra)
    : out_(outFolder), process_("smtp_server.py", SmtpServerArgs(outFolder, auth, user, password, extra)) {
  const std::string& line = process_.ReadyLine();
  if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  if (port_ <= 0) throw std::runtime_error("aiosmtpd peer did not start: " + line);
}

CSmtpServerPeer::~CSmtpServerPeer() = default;

void MakeTestPki(const std::string& folder) {
  if (RunPythonPeer("test_pki.py", {folder}) != 0) throw std::runtime_error("no test PKI in " + folder);
}

CPostfixPeer::CPostfixPeer(const std::string& folder, const std::string& user, const std::string& password,
                           const std::string& introspectionUrl)
    : folder_(folder),
      process_("postfix_server.py",
               {"--dir", folder, "--user", user, "--password", password, "--oauth-introspect", introspectionUrl},
               60000) {
  std::istringstream in(process_.ReadyLine());
  std::string word;
  in >> word;
  if (word != "READY") throw std::runtime_error("Postfix peer did not start: " + process_.ReadyLine());
  while (in >> word) {
    size_t eq = word.find('=');
    if (eq != std::string::npos) ports_[word.substr(0, eq)] = std::atoi(word.c_str() + eq + 1);
  }
}

int CPostfixPeer::Port(const std::string& listener) const {
  auto it = ports_.find(listener);
  return it == ports_.end() ? 0 : it->second;
}

std::string CPostfixPeer::Log() const { return ReadFileBytes(folder_ + "maillog"); }

std::string CPostfixPeer::DisconnectLine(const std::string& listener) const {
  const std::string tag = "postfix/" + listener + "/smtpd[";
  for (int64_t deadline = NowMs() + 10000; NowMs() < deadline; ::usleep(20000)) {
    std::istringstream in(Log());
    std::string found;
    for (std::string line; std::getline(in, line);)
      if (line.find(tag) != std::string::npos && line.find("]: disconnect from ") != std::string::npos) found = line;
    if (!found.empty()) return found;
  }
  return {};
}

std::vector<std::string> CPostfixPeer::MaildirFiles(size_t count, const std::string& mailbox) const {
  const std::string dir = folder_ + "mail/kestrel.test/" + mailbox + "/new/";
  std::vector<std::string> files;
  for (int64_t deadline = NowMs() + 10000; NowMs() < deadline; ::usleep(20000)) {
    files.clear();
    if (DIR* d = ::opendir(dir.c_str())) {
      while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') files.push_back(dir + e->d_name);
      ::closedir(d);
    }
    if (files.size() >= count) break;
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string CSmtpServerPeer::Content(int n) const {
  std::string path = out_ + std::to_string(n) + ".content";
  for (int64_t deadline = NowMs() + 5000; !FileExists(path) && NowMs() < deadline;) ::usleep(10000);
  return ReadFileBytes(path);
}

std::string CSmtpServerPeer::From(int n) const {
  Content(n);
  return ReadFileBytes(out_ + std::to_string(n) + ".from");
}

std::vector<std::string> CSmtpServerPeer::Recipients(int n) const {
  Content(n);
  std::vector<std::string> out;
  std::istringstream in(ReadFileBytes(out_ + std::to_string(n) + ".rcpt"));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

ParsedMail ParseWithPython(const std::string& mailFile, const std::string& workFolder) {
  ParsedMail mail;
  if (RunPythonPeer("parse_mail.py", {mailFile, workFolder}) != 0) return mail;
  mail.summary = ReadFileBytes(workFolder + "summary.txt");
  std::istringstream in(mail.summary);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("header ", 0) == 0) {
      size_t colon = line.find(": ");
      mail.headers[line.substr(7, colon - 7)] = line.substr(colon + 2);
    } else if (line.rfind("part ", 0) == 0) {
      size_t index = std::stoul(line.substr(5));
      mail.partInfo.push_back(line.substr(line.find(' ', 5) + 1));
      mail.partBytes.push_back(ReadFileBytes(workFolder + "part" + std::to_string(index) + ".bin"));
    } else if (line.rfind("defects ", 0) == 0) {
      mail.defects = std::stoi(line.substr(8));
    } else if (line.rfind("defect ", 0) == 0) {
      mail.defectKinds.push_back(line.substr(7));
    }
  }
  return mail;
}

// ---- scripted server ----

void CScriptPeer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(size_t(n));
  }
}

void CScriptPeer::SendInPieces(std::string_view bytes, size_t pieceSize, int pauseMs) {
  while (!bytes.empty()) {
    size_t n = std::min(pieceSize, bytes.size());
    Send(bytes.substr(0, n));
    bytes.remove_prefix(n);
    ::usleep(useconds_t(pauseMs) * 1000);
  }
}

bool CScriptPeer::Fill(int timeoutMs) {
  if (fd_ < 0 || !WaitReadable(fd_, timeoutMs)) return false;
  char buf[65536];
  ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
  if (n <= 0) return false;
  buffer_.append(buf, size_t(n));
  received_.append(buf, size_t(n));
  return true;
}

std::string CScriptPeer::ReadUntil(std::string_view end, int timeoutMs) {
  int64_t deadline = NowMs() + timeoutMs;
  size_t pos;
  while ((pos = buffer_.find(end)) == std::string::npos) {
    int64_t left = deadline - NowMs();
    if (left <= 0 || !Fill(int(left))) {
      std::string rest = std::move(buffer_);
      buffer_.clear();
      return rest;
    }
  }
  std::string out = buffer_.substr(0, pos + end.size());
  buffer_.erase(0, pos + end.size());
  return out;
}

bool CScriptPeer::WaitForClose(int timeoutMs) {
  int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    int64_t left = deadline - NowMs();
    if (fd_ < 0 || left <= 0 || !WaitReadable(fd_, int(left))) return false;
    char buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
    received_.append(buf, size_t(n));
  }
}

std::string CScriptPeer::ReadLine(int timeoutMs) {
  std::string line = ReadUntil("\r\n", timeoutMs);
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
    line.resize(line.size() - 2);
  else
    line.clear();
  return line;
}

void CScriptPeer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

CScriptServer::CScriptServer(Script script) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listenFd_, 4) != 0)
    throw std::runtime_error("scripted server cannot listen");
  socklen_t len = sizeof(addr);
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this, script = std::move(script)] {
    if (!WaitReadable(listenFd_, 15000)) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    CScriptPeer peer(fd);
    script(peer);
    // Whatever the client still sends before it closes belongs to the record.
    peer.ReadUntil(std::string_view("\0never\0", 7), 200);
    peer.Close();
    received_ = peer.Received();
  });
}

CScriptServer::~CScriptServer() {
  Join();
  ::close(listenFd_);
}

void CScriptServer::Join() {
  if (thread_.joinable()) thread_.join();
}

const std::string& CScriptServer::Received() {
  Join();
  return received_;
}

void ServeGreetingAndHello(CScriptPeer& peer, std::string_view helloReply) {
  peer.Send("220 kestrel.test ESMTP\r\n");
  peer.ReadLine();
  peer.Send(helloReply);
}

void ServeQuit(CScriptPeer& peer) {
  if (peer.ReadLine() == "QUIT") peer.Send("221 bye\r\n");
}

}  // namespace kestrel::test
