// The SIP line's test peers: Debian's Kamailio as registrar (digest
// authentication, bindings in memory) and proxy, or as a dispatcher spreading
// calls over several services, started on a loopback
// address of its own so that a call from anywhere else is a stranger, and a
// Python caller (peers/sip_ua.py) speaking SIP over a plain socket. Every
// wait is bounded so that a broken line fails its test instead of hanging it;
// a peer that does not start throws std::runtime_error with its log.
#pragma once

#include <string>
#include <vector>

namespace kestrel::test {

// A free UDP port of `address` (bound and released).
int FreeUdpPort(const std::string& address);

struct KamailioSetup {
  std::string address = "127.0.0.2";
  std::string authUser = "faxuser";
  std::string password = "s3cret-pw";
  int minExpires = 1;
  int maxExpires = 3600;
  int port = 0;  // 0: a free one
  // The configuration, a file of the peers folder; the dispatcher's also
  // takes the list of destinations (its lines, written beside it).
  std::string config = "kamailio.cfg";
  std::string dispatcherList{};
};

class CKamailioPeer {
 public:
  CKamailioPeer(const std::string& folder, KamailioSetup setup);
  ~CKamailioPeer();
  CKamailioPeer(const CKamailioPeer&) = delete;
  CKamailioPeer& operator=(const CKamailioPeer&) = delete;

  // "127.0.0.2:5071", as SipRegistrar takes it.
  std::string HostPort() const;
  // Stops and starts again: every binding is forgotten.
  void Restart();
  // Kamailio's own answer to looking `user` up in its location table (empty
  // when it has no binding).
  std::string Bindings(const std::string& user) const;
  // One of Kamailio's counters, by its name alone ("rejected_regs"); -1 if unknown.
  int Statistic(const std::string& name) const;
  // Kamailio's answer to the control command `command` ("dispatcher.list").
  std::string Control(const std::vector<std::string>& command) const;

 private:
  void Start();
  void Stop();
  std::string folder_;
  KamailioSetup setup_;
  int port_ = 0;
  int pid_ = -1;
};

// Runs peers/sip_ua.py with `args`; its standard output.
std::string RunSipCaller(const std::vector<std::string>& args);

// peers/sip_ua.py running beside the test, its output read as it comes.
class CSipCaller {
 public:
  explicit CSipCaller(const std::vector<std::string>& args);
  ~CSipCaller();  // kills it if it still runs
  CSipCaller(const CSipCaller&) = delete;
  CSipCaller& operator=(const CSipCaller&) = delete;

  // Whether its output holds `text` within ten seconds.
  bool WaitFor(const std::string& text);
  // Its whole output once it has ended (killed after thirty seconds).
  std::string Finish();

 private:
  bool ReadSome(int timeoutMs);
  int pid_ = -1;
  int out_ = -1;
  std::string output_;
};

}  // namespace kestrel::test
