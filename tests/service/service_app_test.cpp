// The application object's start-up and settings flows: first run through the
// settings editor, Cancel and OK of the Settings command, and a database that
// cannot be opened.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/settings_file.h"
#include "core/string_table.h"
#include "mail/smtp_message.h"
#include "service/settings_editor.h"
#include "tests/service/service_fixture.h"
#include <sys/stat.h>

namespace kestrel::test {
namespace {

// Answers the sheet as an administrator would: with `values`, or Cancel.
class CScriptedEditor final : public ISettingsEditor {
 public:
  bool EditSettings(ServiceSettings& values) override {
    ++shown;
    seen = values;
    if (!confirm) return false;
    values = answer;
    return true;
  }
  bool confirm = true;
  ServiceSettings answer;
  ServiceSettings seen;
  int shown = 0;
};

int Count(const std::vector<std::string>& events, const std::string& text) {
  return static_cast<int>(std::count(events.begin(), events.end(), LoggedForm(text)));
}

TEST_F(ServiceTest, FirstRunShowsNoticeAndSheetThenStartsReceptionOnce) {
  StartSim();
  StartMailServer();
  CScriptedEditor editor;
  editor.answer = BaseSettings(MailPort());
  service_ = std::make_unique<CServiceApp>(log_, notices_, &editor);
  ASSERT_TRUE(service_->InitInstance());
  ASSERT_EQ(editor.shown, 1);
  EXPECT_EQ(editor.seen, ServiceSettings{}) << "nothing stored yet";
  ASSERT_FALSE(notices_.texts.empty());
  EXPECT_EQ(notices_.texts[0], LoadString(IDS_NOT_CONFIGURED));
  EXPECT_EQ(notices_.icons[0], NoticeIcon::kInformation);
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  EXPECT_EQ(sim_->RecordsStartingWith("REGISTER").size(), 1u) << "reception starts once";
  EXPECT_TRUE(service_->ReceptionRunning());

  ServiceSettings stored;
  ASSERT_TRUE(ImportSettings(SettingsFilePath(app_.Path()), stored, log_));
  EXPECT_EQ(stored.SMTPPort, MailPort()) << "the confirmed sheet is saved";

  Call("fax", "0301234567", MakeFax(1), 1);
  EXPECT_TRUE(WaitForMessages(1));
}

TEST_F(ServiceTest, CancelledSheetKeepsTheWorkerAndRestartsTheMonitor) {
  StartSim();
  StartMailServer();
  CScriptedEditor editor;
  editor.confirm = false;
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), BaseSettings(MailPort()), log_));
  service_ = std::make_unique<CServiceApp>(log_, notices_, &editor);
  service_->SetMailQueuePause(200);
  ASSERT_TRUE(service_->InitInstance());
  EXPECT_EQ(editor.shown, 0) << "complete settings: no first-run sheet";
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));

  service_->SettingsCommand();
  EXPECT_EQ(editor.shown, 1);
  EXPECT_EQ(editor.seen.SMTPPort, MailPort());
  EXPECT_EQ(Count(Events(), "Init Session"), 1);
  EXPECT_EQ(Count(Events(), "End Session"), 0);

  // A mail queued meanwhile is still delivered: the monitor runs again.
  CSMTPMessage queued(log_);
  queued.SetSender(CMailAddress("x", "x@kestrel.test"));
  queued.AddRecipients("office@kestrel.test");
  queued.AddTextBody("queued while the sheet was open\n");
  ::mkdir((app_.Path() + "MailQueue").c_str(), 0700);
  ASSERT_TRUE(queued.SaveToDisk(app_.Path() + "MailQueue/waiting.eml"));
  EXPECT_TRUE(WaitForMessages(1));
  EXPECT_TRUE(Eventually([&] { return QueueFiles().empty(); }));

  Call("fax", "0301234567", MakeFax(1), 1);
  EXPECT_TRUE(WaitForMessages(2)) << "the old worker still takes calls";
}

TEST_F(ServiceTest, ConfirmedSheetGivesTheRunningWorkerTheNewSettings) {
  StartSim();
  StartMailServer();
  CScriptedEditor editor;
  ServiceSettings before = BaseSettings(MailPort());
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), before, log_));
  service_ = std::make_unique<CServiceApp>(log_, notices_, &editor);
  ASSERT_TRUE(service_->InitInstance());
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));

  editor.answer = before;
  editor.answer.Header = "New subject %TSID%";
  service_->SettingsCommand();
  ASSERT_TRUE(WaitForEvent("The reception uses the new settings from the next call on."));
  EXPECT_EQ(Count(Events(), "End Session"), 0) << "the worker is not replaced";
  EXPECT_EQ(Count(Events(), "Init Session"), 1);

  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(Parsed(1).headers["Subject"], "New subject 0301234567");
}

TEST_F(ServiceTest, SheetValuesThatDoNotFitKeepTheRunningSettingsAndTheFile) {
  ServiceSettings before = BaseSettings(FreePort());
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), before, log_));
  const std::string file = ReadFileBytes(SettingsFilePath(app_.Path()));
  service_ = std::make_unique<CServiceApp>(log_, notices_, nullptr);
  ASSERT_TRUE(service_->InitInstance());
  ServiceSettings spoiled = before;
  spoiled.SMTPSecurity = static_cast<SmtpSecurity>(3);
  const Status applied = service_->ApplySettings(spoiled);
  ASSERT_FALSE(applied);
  EXPECT_EQ(applied.Error().text, "SmtpSecurity holds \"3\"; it takes 0 (None), 1 (STARTTLS) or 2 (SSL/TLS).");
  EXPECT_EQ(service_->Settings(), before);
  EXPECT_EQ(ReadFileBytes(SettingsFilePath(app_.Path())), file);
  EXPECT_TRUE(WaitForEvent("The settings were not taken; the running settings stay. " + applied.Error().text));
}

TEST_F(ServiceTest, DatabaseThatCannotBeOpenedIsReportedAndReceptionStaysOff) {
  StartSim();
  // A data source named Kestrel on a PostgreSQL port where nobody listens.
  WriteFileBytes(home_.File("odbc.ini"), "[Kestrel]\nDriver = PostgreSQL Unicode\nServername = 127.0.0.1\nPort = " +
                                             std::to_string(FreePort()) + "\nDatabase = kestrel\n");
  ASSERT_TRUE(ExportSettings(SettingsFilePath(app_.Path()), BaseSettings(FreePort()), log_));
  service_ = std::make_unique<CServiceApp>(log_, notices_, nullptr);
  ASSERT_TRUE(service_->InitInstance());
  ASSERT_GE(notices_.texts.size(), 2u);
  const std::string& last = notices_.texts.back();
  const std::string prefix = std::string(LoadString(IDS_DATABASE_OPEN_FAILED)) + "\nUrsache:\n";
  EXPECT_EQ(last.rfind(prefix, 0), 0u) << last;
  EXPECT_GT(last.size(), prefix.size()) << "the driver's reason follows";
  EXPECT_EQ(notices_.icons.back(), NoticeIcon::kError);
  EXPECT_FALSE(service_->ReceptionRunning());
  EXPECT_TRUE(sim_->RecordsStartingWith("REGISTER").empty()) << "no CAPI registration";
}

}  // namespace
}  // namespace kestrel::test
