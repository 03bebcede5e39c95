#include "tests/capi/reception_fixture.h"

#include <capi20.h>

#include <filesystem>

#include <algorithm>
#include <cstdio>

#include "store/forwarding_table.h"
#include "store/schema.h"

namespace kestrel::test {

void CRecordingHandOff::CallAnswered(FaxCallRecord& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  call.receptionEntry = call.captureFilePath;
  answered_.push_back(call.captureFilePath);
}

void CRecordingHandOff::HandOver(const FaxCallRecord& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(call);
  changed_.notify_all();
}

void CRecordingHandOff::CallDropped(const FaxCallRecord& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  dropped_.push_back(call.captureFilePath);
}

std::vector<std::string> CRecordingHandOff::Answered() {
  std::lock_guard<std::mutex> lock(mutex_);
  return answered_;
}

std::vector<std::string> CRecordingHandOff::Dropped() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

bool CRecordingHandOff::WaitForCalls(std::size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return calls_.size() >= n; });
}

std::vector<FaxCallRecord> CRecordingHandOff::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

ReceptionTest::ReceptionTest() {
  settings_.Number = "+49 30 1234567";
  settings_.ReceivedDir = home_.Path() + "faxes/";
  settings_.ODBCConnect = "DSN=Kestrel";
  settings_.All = 0;
  COdbcConnection administration(db_.ConnectString());
  EnsureMsnTable(administration, notices_);
  EXPECT_TRUE(notices_.texts.empty());
  std::filesystem::create_directory(settings_.ReceivedDir);
}

ReceptionTest::~ReceptionTest() {
  StopWorker();
  // libcapi20 reads its configuration only while it has no connection open,
  // and a release is what closes it: so that a further case in this process
  // reaches its own simulator, register and release once more.
  unsigned applId = 0;
  if (sim_ && capi20_register(1, 1, 128, &applId) == 0 && applId != 0) capi20_release(applId);
  if (!HasFailure()) return;
  // The whole exchange and log, to read a failure without rerunning it.
  if (sim_)
    for (const auto& line : sim_->Records()) std::fprintf(stderr, "linesim: %s\n", line.c_str());
  for (const auto& e : Events()) std::fprintf(stderr, "event: %s\n", e.c_str());
}

void ReceptionTest::StartSim(const std::vector<std::string>& args) {
  sim_ = std::make_unique<CLineSim>(home_.Path(), args);
  sim_->UseAsCapi(home_.Path());
}

void ReceptionTest::StartWorker(std::chrono::milliseconds reregisterInterval) {
  reception_ = std::make_unique<COdbcConnection>(db_.ConnectString());
  resolver_ = std::make_unique<CRecipientResolver>(settings_.All, settings_.EmailAll, *reception_, log_);
  worker_ = std::make_unique<CFaxReceiveThread>(log_, notices_, *resolver_, forwarding_, settings_);
  worker_->SetReregisterInterval(reregisterInterval);
  worker_->PostStartRequest();
}

void ReceptionTest::StopWorker() {
  worker_.reset();
  resolver_.reset();
  reception_.reset();
}

void ReceptionTest::AddMsn(const std::string& msn, const std::string& address) {
  COdbcConnection administration(db_.ConnectString());
  AddForwardingRow(administration, ForwardingTable::kMsn, {msn, address});
}

bool ReceptionTest::WaitForEvent(const std::string& text, int count, std::chrono::milliseconds timeout) const {
  std::string logged = LoggedForm(text);
  return Eventually(
      [&] {
        auto events = Events();
        return std::count(events.begin(), events.end(), logged) >= count;
      },
      timeout);
}

int ReceptionTest::EventIndex(const std::string& text, int from) const {
  auto events = Events();
  std::string logged = LoggedForm(text);
  for (std::size_t i = static_cast<std::size_t>(from); i < events.size(); ++i)
    if (events[i] == logged) return static_cast<int>(i);
  return -1;
}

std::string ReceptionTest::WriteFaxFile(const std::string& name, std::size_t size) {
  // An SFF header followed by bytes of every value, zeros included.
  std::string bytes = "Sfff";
  bytes += std::string("\x01\x00\x00\x00\x14\x00", 6);
  for (std::size_t i = bytes.size(); i < size; ++i) bytes += static_cast<char>((i * 131 + i / 7) & 0xff);
  bytes.resize(size);
  std::string path = home_.File(name);
  WriteFileBytes(path, bytes);
  return path;
}

std::vector<std::string> ReceptionTest::FilesIn(const std::string& folder) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kestrel::test
