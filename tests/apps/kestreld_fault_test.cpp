// kestreld killed or stopped at the bad moments, with misbehaving mail
// servers: a fax recorded when its call ended is mailed after a restart, once
// (the only repeat allowed is a kill between the server's 250 and recording
// it) and journaled once, also when the kill comes the instant the call is
// cleared; a call cut off by a kill is mailed as incomplete after the
// restart; a stalled server neither keeps the line from answering nor a stop
// from ending; two services never share one application folder; --test-mail
// ends at a stop signal however long the server keeps silent. Started by
// root on a folder of another user, kestreld runs as that user: an entry it
// cannot read waits, never set aside, until it can.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "forward/fax_inbox.h"
#include "tests/apps/kestreld_process.h"

namespace kestrel::test {
namespace {

// A mail server that misbehaves on purpose on a port of the test's choice:
// it accepts connections and says nothing, or trickles an endless greeting
// one byte at a time.
class CBadMailServer {
 public:
  enum class Kind { kSilent, kTrickle };

  CBadMailServer(int port, Kind kind) : kind_(kind) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0)
      ADD_FAILURE() << "cannot listen on port " << port;
    thread_ = std::thread([this] { Serve(); });
  }
  ~CBadMailServer() {
    stop_ = true;
    thread_.join();
    for (int fd : clients_) ::close(fd);
    ::close(listenFd_);
  }

  bool WaitForConnection(std::chrono::milliseconds timeout = 30s) const {
    return Eventually([&] { return connections_ > 0; }, timeout);
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 200) == 1) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          clients_.push_back(fd);
          ++connections_;
        }
      }
      if (kind_ == Kind::kTrickle)
        for (int fd : clients_) ::send(fd, "2", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
  }

  Kind kind_;
  int listenFd_ = -1;
  std::vector<int> clients_;
  std::atomic<int> connections_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class KestreldFault : public Kestreld {
 protected:
  // A complete configuration mailing through 127.0.0.1:port_, and kestreld
  // listening on the simulated line.
  void StartKestreld() {
    WriteSettings(BaseSettings(port_));
    Start();
    ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ", ++listens_));
  }

  // Restarts kestreld with a healthy server on the same port and waits until
  // every recorded fax is done.
  void RestartWithAHealthyServer() {
    StartMailServer(port_);
    Start();
    ASSERT_TRUE(Eventually([&] { return InboxEntries().empty() && !Journal().empty(); }, 60s))
        << ReadFileBytes(home_.File("stderr"));
  }

  int port_ = FreePort();
  int listens_ = 0;
};

TEST_F(KestreldFault, KilledWhileTheServerStallsTheFaxIsMailedAndJournaledOnceAfterRestart) {
  StartSim();
  auto silent = std::make_unique<CBadMailServer>(port_, CBadMailServer::Kind::kSilent);
  StartKestreld();
  Call("fax", "0301234567", MakeFax(2), 2);
  ASSERT_TRUE(silent->WaitForConnection());
  EXPECT_EQ(InboxEntries().size(), 1u) << "recorded before it is mailed";
  Kill();
  silent.reset();

  RestartWithAHealthyServer();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(StoredMessages(), 1);
  EXPECT_EQ(Parsed(1).partBytes.size(), 3u) << "body and both pages";
  EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(KestreldFault, KilledWhilePagesAreWrittenTheFaxIsConvertedAgainAfterRestart) {
  StartSim();
  auto silent = std::make_unique<CBadMailServer>(port_, CBadMailServer::Kind::kSilent);
  StartKestreld();
  const int pages = 12;
  Call("fax", "0301234567", MakeFax(pages), pages);
  ASSERT_TRUE(Eventually([&] { return !FilesEndingIn(ReceivedDir(), "_1.png").empty(); }, 30s));
  Kill();
  silent.reset();

  RestartWithAHealthyServer();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(StoredMessages(), 1);
  EXPECT_EQ(Parsed(1).partBytes.size(), static_cast<std::size_t>(pages + 1)) << "every page attached";
  EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(KestreldFault, KilledBetweenTheServersAcceptanceAndItsRecordTheFaxIsJournaledOnce) {
  StartSim();
  std::atomic<pid_t> victim{0};
  auto accepting = std::make_unique<CScriptServer>([&](CScriptPeer& peer) {
    ServeGreetingAndHello(peer);
    peer.ReadLine();  // MAIL
    peer.Send("250 OK\r\n");
    peer.ReadLine();  // RCPT
    peer.Send("250 OK\r\n");
    peer.ReadLine();  // DATA
    peer.Send("354 go ahead\r\n");
    peer.ReadUntil("\r\n.\r\n");
    peer.Send("250 OK queued\r\n");
    ::kill(victim, SIGKILL);
  });
  port_ = accepting->Port();
  StartKestreld();
  victim = pid_;
  Call("fax", "0301234567", MakeFax(1), 1);
  accepting->Join();
  EXPECT_EQ(WaitProcess(pid_), 128 + SIGKILL);
  accepting.reset();

  RestartWithAHealthyServer();
  // The one window in which a fax may go out twice: the server took it, the
  // record of that did not make it to disk.
  EXPECT_LE(StoredMessages(), 1);
  EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(KestreldFault, KilledTheInstantTheCallIsClearedTheFaxIsMailedAndJournaledOnceAfterRestart) {
  StartSim();
  auto silent = std::make_unique<CBadMailServer>(port_, CBadMailServer::Kind::kSilent);
  StartKestreld();
  Call("fax", "0301234567", MakeFax(2), 2);
  // The network clears the call only once DISCONNECT_B3_IND is answered.
  ASSERT_TRUE(sim_->WaitFor("SEND DISCONNECT_IND"));
  Kill();
  silent.reset();
  EXPECT_EQ(InboxEntries().size(), 1u) << "recorded before the tear-down";

  RestartWithAHealthyServer();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(StoredMessages(), 1);
  EXPECT_EQ(Parsed(1).partBytes.size(), 3u) << "body and both pages";
  EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(KestreldFault, KilledDuringTheCallTheCaptureIsForwardedAsIncompleteAfterRestart) {
  StartSim();
  StartMailServer(port_);
  StartKestreld();
  Call("cut", "0301111111", MakeFax(2), 2, "1234567", "hangup=never");
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP"));
  Kill();
  EXPECT_EQ(FilesEndingIn(ReceivedDir(), ".sff").size(), 1u) << "the partial capture stays";
  EXPECT_TRUE(InboxEntries().empty());
  EXPECT_EQ(FilesEndingIn(app_.Path() + "FaxInbox/", ".rcv").size(), 1u) << "the call is on record";
  sim_->Command("hangup cut");

  Start();
  ASSERT_TRUE(WaitForMessages(1));
  ASSERT_TRUE(Eventually([&] { return InboxEntries().empty() && Journal().size() == 1; }, 30s));
  EXPECT_EQ(StoredMessages(), 1);
  EXPECT_TRUE(FilesEndingIn(app_.Path() + "FaxInbox/", ".rcv").empty());
  const ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers.at("Subject"), "Fax from 0301111111");
  const std::string line = "\r\nIncomplete: the service ended during the call, pages after ";
  EXPECT_NE(mail.partBytes.at(0).find(line), std::string::npos) << mail.partBytes.at(0);
  EXPECT_EQ(Journal()[0].status.rfind("Incomplete: the service ended during the call, pages after ", 0), 0u)
      << Journal()[0].status;
}

// A user id without a name: becoming it changes nothing but the ids, so the
// test's HOME (libcapi20's and unixODBC's files) stays.
uid_t UnnamedUserId() {
  uid_t uid = 4242;
  while (::getpwuid(uid) != nullptr) ++uid;
  return uid;
}

TEST_F(KestreldFault, EntryTheFolderOwnerCannotReadWaitsUntilItCanNeverSetAside) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start kestreld as root";
  const uid_t owner = UnnamedUserId();
  StartSim();
  StartMailServer(port_);
  WriteSettings(BaseSettings(port_));
  ::mkdir(ReceivedDir().c_str(), 0700);
  const std::string capture = ReceivedDir() + "0301234567_recorded.sff";
  WriteFileBytes(capture, ReadFileBytes(MakeFax(1)));
  FaxCallRecord call;
  call.captureFilePath = capture;
  call.callerNumber = "0301234567";
  call.pages = 1;
  call.startTime = call.endTime = std::time(nullptr);
  call.recipients = "office@kestrel.test;";
  std::optional<FaxEntry> entry = CFaxInbox(app_.Path(), log_).Record(call);
  ASSERT_TRUE(entry.has_value());
  const std::string entryPath = app_.Path() + "FaxInbox/" + entry->name;
  namespace fs = std::filesystem;
  for (const auto& file : fs::recursive_directory_iterator(app_.Path())) {
    if (file.path() == entryPath) continue;
    ASSERT_EQ(::lchown(file.path().c_str(), owner, owner), 0) << file.path();
  }
  ASSERT_EQ(::chown(app_.Path().c_str(), owner, owner), 0);
  ::chmod(home_.Path().c_str(), 0755);
  for (const char* name : {".capi20rc", "odbc.ini"}) ::chmod(home_.File(name).c_str(), 0644);

  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ", ++listens_)) << ReadFileBytes(home_.File("stderr"));
  ASSERT_TRUE(WaitForEvent("Fax entry cannot be read now, it is tried again: " + entryPath + ": Permission denied"));
  EXPECT_TRUE(FilesEndingIn(app_.Path() + "FaxInbox/", ".bad").empty());

  ASSERT_EQ(::chown(entryPath.c_str(), owner, owner), 0);
  Call("second", "0302222222", MakeFax(1, "second.sff"), 1);  // the fax it hands over wakes the forwarding
  ASSERT_TRUE(WaitForMessages(2));
  ASSERT_TRUE(Eventually([&] { return InboxEntries().empty() && Journal().size() == 2; }, 30s));
  EXPECT_TRUE(FilesEndingIn(app_.Path() + "FaxInbox/", ".bad").empty());
  for (const auto& file : fs::recursive_directory_iterator(app_.Path())) {
    struct stat st;
    ASSERT_EQ(::lstat(file.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, owner) << file.path() << " is not the folder owner's";
  }
}

TEST_F(KestreldFault, SecondCallIsAnsweredWhileTheServerStalls) {
  StartSim();
  CBadMailServer silent(port_, CBadMailServer::Kind::kSilent);
  StartKestreld();
  Call("first", "0301111111", MakeFax(1), 1);
  ASSERT_TRUE(silent.WaitForConnection());
  Call("second", "0302222222", MakeFax(1, "second.sff"), 1);
  // The server stays silent for a minute; the line must not wait for it.
  ASSERT_TRUE(sim_->WaitFor("RECV CONNECT_RESP", 2, 20s));
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV CONNECT_RESP").at(1), "Reject"), "0x0000");
}

TEST_F(KestreldFault, SigtermWithATricklingServerEndsWithinTenSecondsAndKeepsTheFax) {
  StartSim();
  CBadMailServer trickling(port_, CBadMailServer::Kind::kTrickle);
  StartKestreld();
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(trickling.WaitForConnection());
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(10s), 0);
  EXPECT_EQ(InboxEntries().size(), 1u) << "forwarded after the next start";
}

TEST_F(KestreldFault, TestMailToASilentServerEndsAtSigint) {
  CBadMailServer silent(port_, CBadMailServer::Kind::kSilent);
  WriteSettings(BaseSettings(port_));
  Start({"--test-mail", "someone@example.org"});
  ASSERT_TRUE(silent.WaitForConnection());
  ::kill(pid_, SIGINT);
  const int status = Wait(3s);  // 2 s promised, with a margin for a loaded machine
  EXPECT_NE(status, -1) << "still waiting for the greeting";
  EXPECT_NE(status, 0);
}

TEST_F(KestreldFault, SecondServiceOnOneFolderExitsNamingTheFirst) {
  StartSim();
  StartMailServer(port_);
  StartKestreld();
  pid_t second = -1;
  StartProcess(second, "second-");
  EXPECT_EQ(WaitProcess(second), 1);
  EXPECT_NE(ReadFileBytes(home_.File("second-stderr"))
                .find("Kestrel already runs for " + app_.Path() + " (process " + std::to_string(pid_) + ")"),
            std::string::npos)
      << ReadFileBytes(home_.File("second-stderr"));
}

}  // namespace
}  // namespace kestrel::test
