#include "tests/service/service_fixture.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "core/settings_file.h"
#include "tests/convert/page_render.h"
#include "tests/service/bench_support.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {}  // namespace

ServiceTest::ServiceTest() {
  ::setenv("KESTREL_HOME", app_.Path().c_str(), 1);
  ::setenv("HOME", home_.Path().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home_.Path() + ".config").c_str(), 1);
  // No data source named Kestrel: the embedded SQLite database in app_.
  WriteFileBytes(home_.File("odbc.ini"), "");
  ::setenv("ODBCINI", home_.File("odbc.ini").c_str(), 1);
}

ServiceTest::~ServiceTest() { StopService(); }

void ServiceTest::StartSim(const std::vector<std::string>& args) {
  sim_ = std::make_unique<CLineSim>(home_.Path(), args);
  sim_->UseAsCapi(home_.Path());
}

void ServiceTest::StartMailServer(int port, const std::vector<std::string>& extra) {
  std::vector<std::string> args = extra;
  if (port) {
    args.push_back("--port");
    args.push_back(std::to_string(port));
  }
  mail_ = std::make_unique<CSmtpServerPeer>(mailOut_.Path(), "none", "", "", args);
}

ServiceSettings ServiceTest::BaseSettings(int smtpPort) const {
  ServiceSettings s = BenchSettings(app_, smtpPort);
  s.Number = "+49 30 1234567";
  s.ImageScaleX = 750;
  return s;
}

void ServiceTest::StartService(const ServiceSettings& settings, int queuePauseMs) {
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), settings, log_));
  service_ = std::make_unique<CServiceApp>(log_, notices_, nullptr);
  service_->SetMailQueuePause(queuePauseMs);
  service_->SetForwardedFaxListener(&forwarded_);
  ASSERT_TRUE(service_->InitInstance());
  ASSERT_TRUE(sim_ == nullptr || sim_->WaitFor("LISTEN_REQ")) << "the worker listens";
}

void ServiceTest::StopService() {
  if (!service_) return;
  service_->ExitInstance();
  service_.reset();
}

std::string ServiceTest::MakeFax(int pages, const std::string& name) {
  std::vector<tools::SffMakePage> sffPages;
  for (int p = 0; p < pages; ++p) {
    tools::SffMakePage page;
    page.image = RenderLetterPage(1728, 2286, 7 + p);
    sffPages.push_back(std::move(page));
  }
  std::string path = home_.File(name);
  WriteFileBytes(path, tools::MakeSffFile(sffPages, tools::SffMakeOptions{}));
  return path;
}

void ServiceTest::Call(const std::string& name, const std::string& caller, const std::string& sffPath, int pages,
                       const std::string& called, const std::string& extra) {
  std::string line = "call " + name + " called=" + called;
  if (!caller.empty()) line += " caller=" + caller;
  line += " sff=" + sffPath + " pages=" + std::to_string(pages) + " rate=14400 id=+4930999";
  if (!extra.empty()) line += " " + extra;
  sim_->Command(line);
}

int ServiceTest::StoredMessages() const { return static_cast<int>(FilesEndingIn(mailOut_.Path(), ".content").size()); }

bool ServiceTest::WaitForMessages(int n, std::chrono::milliseconds timeout) const {
  return Eventually([&] { return StoredMessages() >= n; }, timeout);
}

ParsedMail ServiceTest::Parsed(int n) {
  std::string work = mailOut_.Path() + "parsed" + std::to_string(n) + "/";
  ::mkdir(work.c_str(), 0700);
  return ParseWithPython(mailOut_.Path() + std::to_string(n) + ".content", work);
}

std::vector<std::string> ServiceTest::InboxEntries() const { return FilesEndingIn(app_.Path() + "FaxInbox/", ".fax"); }

std::vector<std::string> ServiceTest::QueueFiles() const { return FilesEndingIn(app_.Path() + "MailQueue/", ".eml"); }

bool ServiceTest::WaitForEvent(const std::string& text, std::chrono::milliseconds timeout) const {
  const std::string logged = LoggedForm(text);
  return Eventually(
      [&] {
        auto events = Events();
        return std::find(events.begin(), events.end(), logged) != events.end();
      },
      timeout);
}

std::vector<JournalEntry> ServiceTest::Journal() const {
  JournalListing listing = ListJournalEntries();
  EXPECT_TRUE(listing.status.Ok());
  return listing.entries;
}

}  // namespace kestrel::test
