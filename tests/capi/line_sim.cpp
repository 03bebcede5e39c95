#include "tests/capi/line_sim.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <stdexcept>

#include "tests/support/file_util.h"

extern char** environ;

namespace kestrel::test {

int ReservedApplIdBase() {
  static int base = [] {
    for (int n = 1; n <= 100; ++n) {
      std::string lock = "/tmp/kestrel-capi-applid-" + std::to_string(n) + ".lock";
      int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (fd < 0) continue;
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return n * 10;  // fd stays open: the lock lives with the process
      ::close(fd);
    }
    throw std::runtime_error("no free ApplID range");
  }();
  return base;
}

CLineSim::CLineSim(const std::string& folder, const std::vector<std::string>& args) {
  recordFile_ = folder + "linesim.record";
  std::string portFile = folder + "linesim.port";
  std::vector<std::string> argv = {
      KESTREL_LINESIM, "--port-file",   portFile,        "--record",
      recordFile_,     "--exit-on-eof", "--applid-base", std::to_string(ReservedApplIdBase())};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
  int rc = posix_spawn(&pid_, KESTREL_LINESIM, &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[0]);
  input_ = pipeFds[1];
  if (rc != 0) throw std::runtime_error("cannot start capi-linesim");

  bool up = Eventually([&] {
    std::istringstream in(ReadFileBytes(portFile));
    return static_cast<bool>(in >> port_) && port_ > 0;
  });
  if (!up) throw std::runtime_error("capi-linesim did not come up");
}

CLineSim::~CLineSim() {
  if (input_ >= 0) ::close(input_);
  if (pid_ <= 0) return;
  int status = 0;
  bool ended = Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 5s);
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
}

void CLineSim::UseAsCapi(const std::string& home) const {
  // Every line ends in a newline: libcapi20 cuts the last character of a last
  // line without one.
  WriteFileBytes(home + ".capi20rc", "REMOTE fritzbox 127.0.0.1 " + std::to_string(port_) + "\nTRACELEVEL 0\n");
  ::setenv("HOME", home.c_str(), 1);
}

void CLineSim::Command(const std::string& lines) {
  std::string text = lines;
  if (text.empty() || text.back() != '\n') text += '\n';
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(input_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("capi-linesim input closed");
    done += static_cast<std::size_t>(n);
  }
}

std::vector<std::string> CLineSim::Records() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFileBytes(recordFile_));
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> CLineSim::RecordsStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : Records())
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

bool CLineSim::WaitFor(const std::string& text, int count, std::chrono::milliseconds timeout) const {
  return Eventually(
      [&] {
        int n = 0;
        for (const auto& line : Records())
          if (line.find(text) != std::string::npos) ++n;
        return n >= count;
      },
      timeout);
}

std::string RecordField(const std::string& line, const std::string& name) {
  std::string key = " " + name + "=";
  auto pos = line.find(key);
  if (pos == std::string::npos) return "";
  pos += key.size();
  auto end = line.find(' ', pos);
  return line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

}  // namespace kestrel::test
