// The whole service end to end, in this test process: the application object
// with the real libcapi20 against capi-linesim, the embedded SQLite store in
// a temporary application folder, and aiosmtpd as the mail server. Faxes are
// rendered letters turned into SFF files by the test-data tool.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/service_settings.h"
#include "forward/forwarded_fax_listener.h"
#include "service/service_app.h"
#include "store/journal.h"
#include "tests/capi/line_sim.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel::test {

// A free loopback TCP port (nobody listens on it when this returns).
int FreePort();

// The names in `folder` that end in `suffix`, sorted.
std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& suffix);

// Keeps what the forwarding side reports as done.
class CRecordingListener final : public IForwardedFaxListener {
 public:
  void FaxForwarded(const ForwardedFax& fax) override {
    std::lock_guard<std::mutex> lock(mutex_);
    faxes_.push_back(fax);
  }
  std::vector<ForwardedFax> Faxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return faxes_;
  }

 private:
  std::mutex mutex_;
  std::vector<ForwardedFax> faxes_;
};

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest();
  ~ServiceTest() override;

  // The simulated line, with libcapi20 pointed at it.
  void StartSim(const std::vector<std::string>& args = {});
  // aiosmtpd on `port` (0: a free one), with options of smtp_server.py.
  void StartMailServer(int port = 0, const std::vector<std::string>& extra = {});
  void StopMailServer() { mail_.reset(); }
  int MailPort() const { return mail_ ? mail_->Port() : 0; }

  // Settings that make a complete configuration: every call accepted and
  // mailed to office@kestrel.test through 127.0.0.1:`smtpPort`.
  ServiceSettings BaseSettings(int smtpPort) const;
  // Writes kestrel.xml with `settings` and starts the application object.
  void StartService(const ServiceSettings& settings, int queuePauseMs = 200);
  void StopService();

  // An SFF file of `pages` rendered letter pages; returns its path.
  std::string MakeFax(int pages, const std::string& name = "letter.sff");
  // One scripted fax call carrying `sffPath`.
  void Call(const std::string& name, const std::string& caller, const std::string& sffPath, int pages,
            const std::string& called = "1234567", const std::string& extra = "");

  // Messages the server stored so far, and waiting for the n-th.
  int StoredMessages() const;
  bool WaitForMessages(int n, std::chrono::milliseconds timeout = 30s) const;
  // What Python's email package makes of stored message `n`.
  ParsedMail Parsed(int n);

  std::vector<std::string> QueueFiles() const;
  // The faxes recorded and not yet done (entries of the fax inbox).
  std::vector<std::string> InboxEntries() const;
  std::vector<std::string> Events() const { return EventDescriptions(app_.Path()); }
  bool WaitForEvent(const std::string& text, std::chrono::milliseconds timeout = 30s) const;
  std::vector<JournalEntry> Journal() const;
  std::string ReceivedDir() const { return app_.Path() + "received/"; }

  CTempDir app_;   // application folder (KESTREL_HOME)
  CTempDir home_;  // HOME, XDG_CONFIG_HOME, odbc.ini
  CTempDir mailOut_;
  CEventLog log_{app_.Path()};
  CRecordingNoticeSink notices_;
  CRecordingListener forwarded_;
  std::unique_ptr<CLineSim> sim_;
  std::unique_ptr<CSmtpServerPeer> mail_;
  std::unique_ptr<CServiceApp> service_;
};

}  // namespace kestrel::test
