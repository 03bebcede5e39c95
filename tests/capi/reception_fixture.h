// The reception worker end to end: the real libcapi20 against capi-linesim,
// the real recipient resolver over a fresh SQLite store, a real event log in a
// temporary folder, and a hand-off that records what it is handed.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capi/fax_hand_off.h"
#include "capi/fax_receive_thread.h"
#include "core/event_log.h"
#include "forward/recipient_resolution.h"
#include "store/odbc_connection.h"
#include "tests/capi/line_sim.h"
#include "tests/store/recording_notice_sink.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel::test {

// Keeps a copy of every record it is handed, and the capture paths of the
// calls answered and dropped; called on the worker thread.
class CRecordingHandOff final : public IFaxHandOff {
 public:
  void CallAnswered(FaxCallRecord& call) override;
  void HandOver(const FaxCallRecord& call) override;
  void CallDropped(const FaxCallRecord& call) override;
  bool WaitForCalls(std::size_t n, std::chrono::milliseconds timeout = 15s);
  std::vector<FaxCallRecord> Calls();
  std::vector<std::string> Answered();
  std::vector<std::string> Dropped();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FaxCallRecord> calls_;
  std::vector<std::string> answered_;
  std::vector<std::string> dropped_;
};

class ReceptionTest : public ::testing::Test {
 protected:
  ReceptionTest();
  ~ReceptionTest() override;

  // Starts the simulator (with extra arguments) and points libcapi20 at it.
  void StartSim(const std::vector<std::string>& args = {});
  // Creates the worker with settings_ and posts its start request.
  void StartWorker(std::chrono::milliseconds reregisterInterval = std::chrono::milliseconds(500));
  // Halts and destroys the worker ("End Session", release).
  void StopWorker();
  void AddMsn(const std::string& msn, const std::string& address);

  std::vector<std::string> Events() const { return EventDescriptions(home_.Path()); }
  bool WaitForEvent(const std::string& text, int count = 1, std::chrono::milliseconds timeout = 10s) const;
  // Index of the first event equal to LoggedForm(text) at or after `from`, or -1.
  int EventIndex(const std::string& text, int from = 0) const;
  // The SFF-like bytes of a test fax, written to a file the simulator sends.
  std::string WriteFaxFile(const std::string& name, std::size_t size);
  std::vector<std::string> FilesIn(const std::string& folder) const;

  CTempDir home_;  // HOME and application folder
  CTestDatabase db_{Engine::kSQLite};
  CEventLog log_{home_.Path()};
  CRecordingNoticeSink notices_;
  CRecordingHandOff forwarding_;
  ServiceSettings settings_;
  std::unique_ptr<CLineSim> sim_;
  std::unique_ptr<COdbcConnection> reception_;
  std::unique_ptr<CRecipientResolver> resolver_;
  std::unique_ptr<CFaxReceiveThread> worker_;
};

}  // namespace kestrel::test
