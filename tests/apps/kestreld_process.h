// kestreld as a child process for tests: started with --home on the test's
// application folder, its standard output and error kept in files, its end
// awaited with a bound.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "core/settings_file.h"
#include "tests/service/service_fixture.h"

extern char** environ;

namespace kestrel::test {

using Clock = std::chrono::steady_clock;

class Kestreld : public ServiceTest {
 protected:
  ~Kestreld() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Starts kestreld --home app_ with standard error going to a file.
  void Start(const std::vector<std::string>& extra = {}) { StartProcess(pid_, "", extra); }
  // The same for another process, its output in files named after `tag`.
  void StartProcess(pid_t& pid, const std::string& tag, const std::vector<std::string>& extra = {}) {
    Spawn(pid, KESTRELD, tag, extra);
  }
  // Starts `program` --home app_ `extra`, its output in files named after `tag`.
  void Spawn(pid_t& pid, const std::string& program, const std::string& tag, const std::vector<std::string>& extra) {
    SpawnIn(pid, program, app_.Path(), tag, extra);
  }
  // The same on the application folder `folder`.
  void SpawnIn(pid_t& pid, const std::string& program, const std::string& folder, const std::string& tag,
               const std::vector<std::string>& extra) {
    std::vector<std::string> args = {program, "--home", folder};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, home_.File(tag + "stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, home_.File(tag + "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  // Runs `program` --home app_ `extra` to its end (bounded by `timeout`):
  // its exit status and its standard output followed by its standard error.
  std::pair<int, std::string> RunProgram(const std::string& program, const std::vector<std::string>& extra,
                                         std::chrono::milliseconds timeout = 30s) {
    return RunProgramIn(program, app_.Path(), extra, timeout);
  }
  std::pair<int, std::string> RunProgramIn(const std::string& program, const std::string& folder,
                                           const std::vector<std::string>& extra,
                                           std::chrono::milliseconds timeout = 30s) {
    pid_t pid = -1;
    SpawnIn(pid, program, folder, "program-", extra);
    const int status = WaitProcess(pid, timeout);
    if (pid > 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    return {status, ReadFileBytes(home_.File("program-stdout")) + ReadFileBytes(home_.File("program-stderr"))};
  }

  // Waits for the process to end; its exit status, or -1 after `timeout`.
  int Wait(std::chrono::milliseconds timeout = 10s) { return WaitProcess(pid_, timeout); }
  int WaitProcess(pid_t& pid, std::chrono::milliseconds timeout = 10s) {
    int status = 0;
    bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
    if (!ended) return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Kills kestreld at once, as a power cut or systemd's SIGKILL would.
  void Kill() {
    ::kill(pid_, SIGKILL);
    WaitProcess(pid_);
  }

  // Runs kestreld to the end and returns (status, standard output).
  std::pair<int, std::string> Run(const std::vector<std::string>& extra) {
    Start(extra);
    int status = Wait();
    return {status, ReadFileBytes(home_.File("stdout"))};
  }

  void WriteSettings(const ServiceSettings& s) { ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), s, log_)); }

  pid_t pid_ = -1;
};

}  // namespace kestrel::test
