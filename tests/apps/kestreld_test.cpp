// kestreld as a process: its options, its exit codes, and its signals
// (SIGHUP replaces the worker, SIGTERM ends it cleanly and keeps the queue).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <sstream>

#include "core/settings_file.h"
#include "tests/support/local_time.h"
#include "tests/service/service_fixture.h"

extern char** environ;

namespace kestrel::test {
namespace {

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
  void Start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {KESTRELD, "--home", app_.Path()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, home_.File("stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, home_.File("stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(posix_spawn(&pid_, KESTRELD, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }

  // Waits for the process to end; its exit status, or -1 after `timeout`.
  int Wait(std::chrono::milliseconds timeout = 10s) {
    int status = 0;
    bool ended = Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Runs kestreld to the end and returns (status, standard output).
  std::pair<int, std::string> Run(const std::vector<std::string>& extra) {
    Start(extra);
    int status = Wait();
    return {status, ReadFileBytes(home_.File("stdout"))};
  }

  void WriteSettings(const ServiceSettings& s) {
    ASSERT_EQ(ExportSettings(SettingsFilePath(app_.Path()), s, log_), 0);
  }

  pid_t pid_ = -1;
};

TEST_F(Kestreld, VersionAndIncompleteConfiguration) {
  auto [status, out] = Run({"--version"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "Kestrel 1.3.3.3\n");

  auto [incomplete, ignored] = Run({});
  EXPECT_EQ(incomplete, 2);
  EXPECT_NE(ReadFileBytes(home_.File("stderr")).find("Configuration imcomplete. The program cannot be startet."),
            std::string::npos);
}

TEST_F(Kestreld, JournalListsRowsNewestFirst) {
  CEventLog log(app_.Path());
  InsertJournalEntry(log, "0301111", LocalTime("07/12/2026 09:05:03"), 2, "/fax/a.png");
  InsertJournalEntry(log, "0302222", LocalTime("08/12/2026 10:11:12"), 1, "/fax/b.png");
  auto [status, out] = Run({"--journal"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
            "2\t0302222\t08.12.2026 10:11:12\t1\t/fax/b.png\n"
            "1\t0301111\t07.12.2026 09:05:03\t2\t/fax/a.png\n");
}

TEST_F(Kestreld, TestMailIsAcceptedByTheServer) {
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  auto [status, out] = Run({"--test-mail", "admin@kestrel.test"});
  EXPECT_EQ(status, 0) << ReadFileBytes(home_.File("stderr"));
  EXPECT_EQ(out.substr(0, 3), "250") << out;
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"admin@kestrel.test"});
}

TEST_F(Kestreld, SighupDuringACallReplacesTheWorkerWhichTakesTheNextCall) {
  StartSim();
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  // A call whose sender never hangs up: it is still connected when SIGHUP comes.
  Call("first", "0301111111", MakeFax(1), 1, "1234567", "hangup=never");
  ASSERT_TRUE(sim_->WaitFor("RECV CONNECT_B3_ACTIVE_RESP"));
  ::kill(pid_, SIGHUP);
  ASSERT_TRUE(WaitForEvent("End Session"));
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ", 2)) << "the new worker listens";
  Call("second", "0302222222", MakeFax(1, "second.sff"), 1);
  ASSERT_TRUE(WaitForMessages(1));
  ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers["Subject"], "Fax from 0302222222");
  auto events = Events();
  int end = -1, init = -1;
  for (int i = 0; i < static_cast<int>(events.size()); ++i) {
    if (events[i] == "End_Session" && end < 0) end = i;
    if (events[i] == "Init_Session") init = i;
  }
  EXPECT_LT(end, init) << "the old worker ends before the new one starts";
  EXPECT_EQ(StoredMessages(), 1) << "the interrupted fax is not forwarded";
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(), 0);
}

TEST_F(Kestreld, SigtermWithQueuedMailEndsCleanlyAndKeepsTheFile) {
  StartSim();
  WriteSettings(BaseSettings(FreePort()));  // nobody listens: the mail is queued
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1; }, 30s));
  auto start = Clock::now();
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(5s), 0);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_EQ(QueueFiles().size(), 1u);
  EXPECT_EQ(Events().back(), "End_Session");
}

}  // namespace
}  // namespace kestrel::test
