// Two kestreld behind Kamailio's dispatcher, each with its own application
// folder and inbox, sharing one PostgreSQL journal: the dispatcher's OPTIONS
// find both, calls are spread over them, each fax is mailed and journaled
// once with the node that took it; a node killed during a call loses nothing
// (the other takes the calls meanwhile, and its own fax is delivered, as
// incomplete as it came, once it returns); kestrel-admin status on either
// folder names both nodes' last fax.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <map>
#include <set>

#include "convert/tiff_capture.h"
#include "tests/apps/kestreld_process.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/sip/sip_test_peers.h"
#include "tests/store/test_database.h"

namespace kestrel::test {
namespace {

// Where a SIP line without a registrar listens: the address this host sends
// from on its default route (no packet leaves); loopback without one.
std::string DefaultSourceAddress() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in far{};
  far.sin_family = AF_INET;
  far.sin_port = htons(5060);
  ::inet_pton(AF_INET, "198.51.100.1", &far.sin_addr);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  char text[INET_ADDRSTRLEN] = "127.0.0.1";
  if (::connect(fd, reinterpret_cast<sockaddr*>(&far), sizeof far) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
  ::close(fd);
  return text;
}

struct Node {
  std::string name;
  std::string folder;  // with its trailing "/"
  int sipPort = 0;
  std::string rtpPorts;
  pid_t pid = -1;
};

class KestreldNodes : public Kestreld {
 protected:
  void SetUp() override {
    database_.DefineKestrelDataSource();
    StartMailServer();
    const std::string address = DefaultSourceAddress();
    nodes_[0] = {"fax-a", app_.Path(), FreeUdpPort(address), "32200-32249"};
    nodes_[1] = {"fax-b", second_.Path(), FreeUdpPort(address), "32300-32349"};
    KamailioSetup setup;
    setup.config = "kamailio-dispatcher.cfg";
    for (const Node& node : nodes_)
      setup.dispatcherList += "1 sip:" + address + ":" + std::to_string(node.sipPort) + "\n";
    kamailio_ = std::make_unique<CKamailioPeer>(home_.Path(), setup);
    for (Node& node : nodes_) {
      ServiceSettings s = BaseSettings(MailPort());
      s.ReceivedDir = node.folder + "received/";
      s.SipEnabled = true;
      s.SipPeers = "127.0.0.2";
      s.SipPort = node.sipPort;
      s.SipRtpPorts = node.rtpPorts;
      s.NodeName = node.name;
      ASSERT_TRUE(ExportSettings(SettingsFilePath(node.folder), s, log_));
      StartNode(node);
    }
  }
  void TearDown() override {
    for (Node& node : nodes_) StopNode(node);
    if (caller_ > 0) ::kill(caller_, SIGKILL), WaitProcess(caller_);
  }

  void StartNode(Node& node) { SpawnIn(node.pid, KESTRELD, node.folder, node.name + "-", {}); }
  void StopNode(Node& node) {
    if (node.pid <= 0) return;
    ::kill(node.pid, SIGKILL);
    WaitProcess(node.pid);
  }

  // The dispatcher's own view: how many destinations its OPTIONS found
  // answering ("AP") and how many it took out ("IP").
  bool WaitForDispatcher(int active, int inactive) {
    std::string list;
    const bool reached = Eventually(
        [&] {
          list = kamailio_->Control({"dispatcher.list"});
          return Count(list, "FLAGS: AP") == active && Count(list, "FLAGS: IP") == inactive;
        },
        30s);
    if (!reached) {
      ADD_FAILURE() << list << ReadFileBytes(home_.File("kamailio.log"));
      for (const Node& node : nodes_)
        ADD_FAILURE() << node.name << ": " << ReadFileBytes(home_.File(node.name + "-stderr"))
                      << testing::PrintToString(EventDescriptions(node.folder));
    }
    return reached;
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  // sip-faxsim calling through Kamailio, its output in a file named after `tag`.
  void StartCall(pid_t& pid, const std::string& tag, const std::string& tiff, const std::string& from) {
    const std::string program = SIP_FAXSIM_PROGRAM;
    SpawnArgs(pid, tag,
              {program, "--tiff", tiff, "--sip", "sip:4930555@" + kamailio_->HostPort(), "--sip-port",
               std::to_string(FreeUdpPort("127.0.0.1")), "--local-port", std::to_string(FreeUdpPort("127.0.0.1")),
               "--from", from});
  }
  void SpawnArgs(pid_t& pid, const std::string& tag, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, home_.File(tag).c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    ASSERT_EQ(posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  // Runs a whole call; its exit status.
  int Call(const std::string& tag, const std::string& tiff, const std::string& from) {
    pid_t pid = -1;
    StartCall(pid, tag, tiff, from);
    const int status = WaitProcess(pid, 120s);
    EXPECT_EQ(status, 0) << ReadFileBytes(home_.File(tag));
    return status;
  }

  std::vector<JournalEntry> SharedJournal() {
    JournalListing listing = ListJournalEntries(database_.ConnectString());
    EXPECT_TRUE(listing.status.Ok()) << listing.status.Describe();
    return listing.entries;
  }
  // The journal's rows per node.
  std::map<std::string, int> RowsByNode() {
    std::map<std::string, int> rows;
    for (const JournalEntry& e : SharedJournal()) ++rows[e.node];
    return rows;
  }

  CTestDatabase database_{Engine::kPostgreSQL};
  CTempDir second_;
  Node nodes_[2];
  std::unique_ptr<CKamailioPeer> kamailio_;
  pid_t caller_ = -1;
};

TEST_F(KestreldNodes, CallsSpreadOverBothAndAKilledNodeDeliversItsFaxWhenItReturns) {
  ASSERT_TRUE(WriteFaxTiff(home_.File("one.tif"), {BlockPage(400, 5)}, FaxTiffCoding::kGroup4));
  ASSERT_TRUE(WriteFaxTiff(home_.File("two.tif"), {BlockPage(400, 5), BlockPage(400, 9)}, FaxTiffCoding::kGroup4));
  ASSERT_TRUE(WaitForDispatcher(2, 0)) << "both nodes answer the dispatcher's OPTIONS";

  // Round robin: two calls at once, one on each node.
  pid_t first = -1, second = -1;
  StartCall(first, "call-1", home_.File("one.tif"), "4989001");
  StartCall(second, "call-2", home_.File("one.tif"), "4989002");
  EXPECT_EQ(WaitProcess(first, 120s), 0) << ReadFileBytes(home_.File("call-1"));
  EXPECT_EQ(WaitProcess(second, 120s), 0) << ReadFileBytes(home_.File("call-2"));
  ASSERT_TRUE(WaitForMessages(2, 60s));
  ASSERT_TRUE(Eventually([&] { return SharedJournal().size() == 2; }, 30s));
  EXPECT_EQ(RowsByNode(), (std::map<std::string, int>{{"fax-a", 1}, {"fax-b", 1}}));

  // A two-page call killed at its node once the first page is in.
  StartCall(caller_, "call-3", home_.File("two.tif"), "4989003");
  Node* taken = nullptr;
  ASSERT_TRUE(Eventually(
      [&] {
        for (Node& node : nodes_)
          if (!FilesEndingIn(node.folder + "FaxInbox/", ".rcv").empty()) taken = &node;
        return taken != nullptr;
      },
      30s));
  ASSERT_TRUE(Eventually(
      [&] {
        // The node's capture of this call, named after its caller.
        for (const std::string& name : FilesEndingIn(taken->folder + "received/", ".tif"))
          if (name.rfind("4989003_", 0) == 0)
            if (Result<CTiffCapture> tiff = CTiffCapture::Open(taken->folder + "received/" + name);
                tiff && tiff->PageCount() >= 1)
              return true;
        return false;
      },
      60s));
  StopNode(*taken);
  Node& other = taken == &nodes_[0] ? nodes_[1] : nodes_[0];

  // Meanwhile the dispatcher takes it out and the other node takes the calls.
  ASSERT_TRUE(WaitForDispatcher(1, 1));
  Call("call-4", home_.File("one.tif"), "4989004");
  ASSERT_TRUE(WaitForMessages(3, 60s));
  ASSERT_TRUE(Eventually([&] { return RowsByNode()[other.name] == 2; }, 30s)) << "the call went to " << other.name;

  // Back again: its inbox is delivered, the cut call as incomplete.
  ::kill(caller_, SIGKILL), WaitProcess(caller_);
  StartNode(*taken);
  ASSERT_TRUE(WaitForMessages(4, 60s)) << testing::PrintToString(EventDescriptions(taken->folder))
                                       << ReadFileBytes(home_.File(taken->name + "-stderr"));
  ASSERT_TRUE(Eventually([&] { return SharedJournal().size() == 4; }, 30s));
  EXPECT_TRUE(WaitForDispatcher(2, 0));
  EXPECT_EQ(RowsByNode(), (std::map<std::string, int>{{taken->name, 2}, {other.name, 2}}));
  std::set<std::string> files;
  for (const JournalEntry& e : SharedJournal()) {
    files.insert(e.node + " " + e.faxFile);
    if (e.senderNr == "4989003") {
      EXPECT_EQ(e.node, taken->name);
      EXPECT_EQ(e.status.rfind("Incomplete: ", 0), 0u) << e.status;
    }
  }
  EXPECT_EQ(files.size(), 4u) << "each fax once";
  EXPECT_EQ(StoredMessages(), 4);

  // Either node's status names both.
  for (const Node& node : nodes_) {
    const auto [status, out] = RunProgramIn(KESTREL_ADMIN, node.folder, {"status"});
    for (const Node& named : nodes_)
      EXPECT_NE(out.find("\nlast fax on " + named.name + ": "), std::string::npos) << node.name << ":\n" << out;
  }
}

}  // namespace
}  // namespace kestrel::test
