#include "tests/sip/sip_test_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrel::test {
namespace {

constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr int kCallerLimitMs = 30000;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Replace(std::string& text, const std::string& name, const std::string& value) {
  for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
    text.replace(at, name.size(), value);
}

// Starts `argv` with `prepare` done in the child first; the child's pid.
template <class Prepare>
pid_t Spawn(std::vector<std::string> argv, Prepare prepare) {
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    prepare();
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  return pid;
}

std::vector<std::string> CallerArgv(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/python3", std::string(KESTREL_SIP_PEERS_DIR) + "sip_ua.py"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Runs `argv` with its standard output read into `out` (and its standard
// error into `errorFile` when given), killed after `limitMs`; the exit code
// or -1.
int Run(std::vector<std::string> argv, std::string* out, int limitMs, const std::string& errorFile = "") {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = Spawn(std::move(argv), [&] {
    ::dup2(pipeFds[1], 1);
    if (!errorFile.empty()) {
      const int fd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (fd >= 0) ::dup2(fd, 2);
    }
  });
  ::close(pipeFds[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{pipeFds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    if (out) out->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int FreeUdpPort(const std::string& address) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("no free port");
  ::close(fd);
  return ntohs(a.sin_port);
}

CKamailioPeer::CKamailioPeer(const std::string& folder, KamailioSetup setup)
    : folder_(folder), setup_(std::move(setup)), port_(setup_.port ? setup_.port : FreeUdpPort(setup_.address)) {
  std::string config = ReadAll(std::string(KESTREL_SIP_PEERS_DIR) + setup_.config);
  std::ofstream(folder_ + "dispatcher.list") << setup_.dispatcherList;
  Replace(config, "@DISPATCHER_LIST@", folder_ + "dispatcher.list");
  Replace(config, "@LISTEN@", HostPort());
  Replace(config, "@CTL_SOCKET@", folder_ + "kamailio.ctl");
  Replace(config, "@MIN_EXPIRES@", std::to_string(setup_.minExpires));
  Replace(config, "@MAX_EXPIRES@", std::to_string(setup_.maxExpires));
  Replace(config, "@PASSWORD@", setup_.password);
  Replace(config, "@AUTH_USER@", setup_.authUser);
  std::ofstream(folder_ + "kamailio.cfg") << config;
  Start();
}

CKamailioPeer::~CKamailioPeer() { Stop(); }

std::string CKamailioPeer::HostPort() const { return setup_.address + ":" + std::to_string(port_); }

void CKamailioPeer::Start() {
  std::vector<std::string> argv = {"/usr/sbin/kamailio",
                                   "-f",
                                   folder_ + "kamailio.cfg",
                                   "-DD",
                                   "-E",
                                   "-Y",
                                   folder_,
                                   "-P",
                                   folder_ + "kamailio.pid",
                                   "-m",
                                   "32",
                                   "-M",
                                   "8"};
  pid_ = Spawn(std::move(argv), [this] {
    ::setpgid(0, 0);
    const int fd = ::open((folder_ + "kamailio.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
  });
  // Ready once its control socket answers.
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Run({"/usr/sbin/kamcmd", "-s", "unix:" + folder_ + "kamailio.ctl", "core.version"}, nullptr, 5000,
            "/dev/null") == 0)
      return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_)
      throw std::runtime_error("kamailio ended: " + ReadAll(folder_ + "kamailio.log"));
    ::usleep(50000);
  }
  throw std::runtime_error("kamailio did not start: " + ReadAll(folder_ + "kamailio.log"));
}

void CKamailioPeer::Stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

void CKamailioPeer::Restart() {
  Stop();
  Start();
}

std::string CKamailioPeer::Bindings(const std::string& user) const {
  std::string out;
  Run({"/usr/sbin/kamcmd", "-s", "unix:" + folder_ + "kamailio.ctl", "ul.lookup", "location", user}, &out, 5000);
  return out.find("Contact") == std::string::npos && out.find("contact") == std::string::npos ? std::string() : out;
}

std::string CKamailioPeer::Control(const std::vector<std::string>& command) const {
  std::vector<std::string> argv = {"/usr/sbin/kamcmd", "-s", "unix:" + folder_ + "kamailio.ctl"};
  argv.insert(argv.end(), command.begin(), command.end());
  std::string out;
  Run(argv, &out, 5000);
  return out;
}

int CKamailioPeer::Statistic(const std::string& name) const {
  const std::string out = Control({"stats.get_statistics", name});
  const auto equals = out.rfind('=');
  return equals == std::string::npos ? -1 : std::atoi(out.c_str() + equals + 1);
}

CSipCaller::CSipCaller(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = Spawn(CallerArgv(args), [&] { ::dup2(pipeFds[1], 1); });
  ::close(pipeFds[1]);
  out_ = pipeFds[0];
}

CSipCaller::~CSipCaller() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

// False at the end of its output or after `timeoutMs` without any.
bool CSipCaller::ReadSome(int timeoutMs) {
  pollfd p{out_, POLLIN, 0};
  if (out_ < 0 || ::poll(&p, 1, timeoutMs) <= 0) return false;
  char buffer[4096];
  const ssize_t n = ::read(out_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool CSipCaller::WaitFor(const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (output_.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !ReadSome(static_cast<int>(left))) return false;
  }
  return true;
}

std::string CSipCaller::Finish() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCallerLimitMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !ReadSome(static_cast<int>(left))) break;
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return output_;
}

std::string RunSipCaller(const std::vector<std::string>& args) {
  std::string out;
  Run(CallerArgv(args), &out, kCallerLimitMs);
  return out;
}

}  // namespace kestrel::test
